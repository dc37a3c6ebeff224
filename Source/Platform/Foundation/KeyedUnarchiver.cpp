#include "Platform/Foundation/KeyedUnarchiver.h"

#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/PropertyListValues.h"

#include <vector>

namespace platform {

namespace {

const QString kDomain = QStringLiteral("KeyedArchive");

enum Code {
    kNotAnArchive = 10,
    kTooLarge = 11,
    kBadReference = 12,
    kCycle = 13,
    kTooDeep = 14,
    kUnknownClass = 15,
    kWrongType = 16,
    kTooManyValues = 17,
};

bool isUid(const QVariant& v) { return v.metaType().id() == qMetaTypeId<PlistUID>(); }
bool isString(const QVariant& v) { return v.metaType().id() == QMetaType::QString; }

bool isNumber(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::Bool: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

// Decodes one archive. Each object is decoded once and remembered; a shared object then
// costs its size again wherever it reappears, which is what bounds "billion laughs" graphs.
class Decoder {
public:
    explicit Decoder(QVariantList objects)
        : m_objects(std::move(objects)), m_state(m_objects.size(), kUnvisited),
          m_values(m_objects.size()), m_sizes(m_objects.size(), 0)
    {
    }

    Result<QVariant> decodeRef(const QVariant& ref, int depth)
    {
        if (!isUid(ref))
            return fail(kDomain, kWrongType, QStringLiteral("expected an object reference"));
        const quint64 index = ref.value<PlistUID>().value;
        if (index == 0)
            return QVariant();
        if (index >= quint64(m_objects.size()))
            return fail(kDomain, kBadReference,
                        QStringLiteral("reference %1 is beyond the %2 archived objects")
                            .arg(index).arg(m_objects.size()));
        if (depth > KeyedUnarchiver::kMaxDepth)
            return fail(kDomain, kTooDeep, QStringLiteral("archive nested too deeply"));
        switch (m_state[index]) {
        case kInProgress:
            return fail(kDomain, kCycle, QStringLiteral("object %1 contains itself").arg(index));
        case kDone:
            if (!count(m_sizes[index]))
                return tooMany();
            return m_values[index];
        default:
            break;
        }
        m_state[index] = kInProgress;
        const qint64 before = m_total;
        auto value = decodeObject(m_objects.at(qsizetype(index)), depth);
        if (!value)
            return value;
        m_state[index] = kDone;
        m_values[index] = *value;
        m_sizes[index] = m_total - before;
        return value;
    }

private:
    enum State : char { kUnvisited, kInProgress, kDone };

    bool count(qint64 n)
    {
        m_total += n;
        return m_total <= KeyedUnarchiver::kMaxValues;
    }

    static std::unexpected<Error> tooMany()
    {
        return fail(kDomain, kTooManyValues, QStringLiteral("archive unfolds to too many values"));
    }

    Result<QVariant> decodeObject(const QVariant& object, int depth)
    {
        if (!count(1))
            return tooMany();
        const int type = object.metaType().id();
        if (type == QMetaType::QString || type == QMetaType::QByteArray || isNumber(object))
            return object;
        if (type != QMetaType::QVariantMap)
            return fail(kDomain, kWrongType, QStringLiteral("unexpected %1 among the objects")
                                                 .arg(QString::fromLatin1(object.typeName())));
        const QVariantMap fields = object.toMap();
        auto className = classNameOf(fields);
        if (!className)
            return std::unexpected(className.error());
        const QString& name = *className;

        if (name == QLatin1String("NSDictionary") || name == QLatin1String("NSMutableDictionary")) {
            const QVariant keys = fields.value(QStringLiteral("NS.keys"));
            const QVariant values = fields.value(QStringLiteral("NS.objects"));
            if (keys.metaType().id() != QMetaType::QVariantList
                || values.metaType().id() != QMetaType::QVariantList
                || keys.toList().size() != values.toList().size())
                return fail(kDomain, kWrongType, QStringLiteral("malformed %1").arg(name));
            const QVariantList keyRefs = keys.toList();
            const QVariantList valueRefs = values.toList();
            QVariantMap map;
            for (int i = 0; i < keyRefs.size(); ++i) {
                auto key = decodeRef(keyRefs.at(i), depth + 1);
                if (!key)
                    return key;
                if (!isString(*key))
                    return fail(kDomain, kWrongType, QStringLiteral("dictionary key is not a string"));
                auto value = decodeRef(valueRefs.at(i), depth + 1);
                if (!value)
                    return value;
                map.insert(key->toString(), *value);
            }
            return map;
        }
        if (name == QLatin1String("NSArray") || name == QLatin1String("NSMutableArray")) {
            const QVariant items = fields.value(QStringLiteral("NS.objects"));
            if (items.metaType().id() != QMetaType::QVariantList)
                return fail(kDomain, kWrongType, QStringLiteral("malformed %1").arg(name));
            QVariantList list;
            const QVariantList refs = items.toList();
            list.reserve(refs.size());
            for (const QVariant& ref : refs) {
                auto value = decodeRef(ref, depth + 1);
                if (!value)
                    return value;
                list.append(*value);
            }
            return list;
        }
        if (name == QLatin1String("NSString") || name == QLatin1String("NSMutableString")) {
            const QVariant s = fields.value(QStringLiteral("NS.string"));
            if (!isString(s))
                return fail(kDomain, kWrongType, QStringLiteral("malformed %1").arg(name));
            return s;
        }
        if (name == QLatin1String("NSData") || name == QLatin1String("NSMutableData")) {
            const QVariant bytes = fields.value(QStringLiteral("NS.data"));
            if (bytes.metaType().id() != QMetaType::QByteArray)
                return fail(kDomain, kWrongType, QStringLiteral("malformed %1").arg(name));
            return bytes;
        }
        if (name == QLatin1String("NSDate")) {
            const QVariant time = fields.value(QStringLiteral("NS.time"));
            if (!isNumber(time) || time.metaType().id() == QMetaType::Bool)
                return fail(kDomain, kWrongType, QStringLiteral("malformed NSDate"));
            const QDateTime date = PropertyList::dateFromReferenceSeconds(time.toDouble());
            if (!date.isValid())
                return fail(kDomain, kWrongType,
                            QStringLiteral("NSDate of %1 s from 2001 lies beyond the dates that can be held")
                                .arg(time.toDouble()));
            return date;
        }
        if (name == QLatin1String("NSNull"))
            return QVariant();
        return fail(kDomain, kUnknownClass, QStringLiteral("cannot unarchive class %1").arg(name));
    }

    Result<QString> classNameOf(const QVariantMap& fields) const
    {
        const QVariant ref = fields.value(QStringLiteral("$class"));
        if (!isUid(ref))
            return fail(kDomain, kWrongType, QStringLiteral("object without a class"));
        const quint64 index = ref.value<PlistUID>().value;
        if (index == 0 || index >= quint64(m_objects.size()))
            return fail(kDomain, kBadReference, QStringLiteral("class reference out of range"));
        const QVariant entry = m_objects.at(qsizetype(index));
        const QVariant name = entry.toMap().value(QStringLiteral("$classname"));
        if (entry.metaType().id() != QMetaType::QVariantMap || !isString(name))
            return fail(kDomain, kWrongType, QStringLiteral("malformed class entry"));
        return name.toString();
    }

    const QVariantList m_objects;
    std::vector<State> m_state;
    std::vector<QVariant> m_values;
    std::vector<qint64> m_sizes;
    qint64 m_total = 0;
};

} // namespace

Result<QVariant> KeyedUnarchiver::unarchiveObject(const QByteArray& data)
{
    if (data.size() > kMaxArchiveBytes)
        return fail(kDomain, kTooLarge,
                    QStringLiteral("archive of %1 bytes is too large").arg(data.size()));
    auto plist = PropertyList::read(data);
    if (!plist)
        return fail(kDomain,
                    plist.error().code == plist::kTooManyValues ? kTooManyValues : kNotAnArchive,
                    QStringLiteral("not a keyed archive: %1").arg(plist.error().message));
    const QVariantMap archive = plist->toMap();
    const QVariant archiver = archive.value(QStringLiteral("$archiver"));
    const QVariant version = archive.value(QStringLiteral("$version"));
    const QVariant objects = archive.value(QStringLiteral("$objects"));
    const QVariant top = archive.value(QStringLiteral("$top"));
    if (plist->metaType().id() != QMetaType::QVariantMap
        || archiver.toString() != QLatin1String("NSKeyedArchiver")
        || version.metaType().id() != QMetaType::LongLong || version.toLongLong() != 100000
        || objects.metaType().id() != QMetaType::QVariantList
        || top.metaType().id() != QMetaType::QVariantMap)
        return fail(kDomain, kNotAnArchive, QStringLiteral("not a keyed archive"));
    const QVariant root = top.toMap().value(QStringLiteral("root"));
    if (!isUid(root))
        return fail(kDomain, kNotAnArchive, QStringLiteral("keyed archive without a root object"));
    Decoder decoder(objects.toList());
    return decoder.decodeRef(root, 0);
}

} // namespace platform
