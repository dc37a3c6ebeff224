#include "Platform/Foundation/KeyedArchiver.h"

#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/PropertyListValues.h"

#include <QHash>
#include <QStringList>

namespace platform {

namespace {

const QString kDomain = QStringLiteral("KeyedArchive");
// Our own values are shallow; this only stops a runaway recursion on a self-made tree.
constexpr int kMaxEncodeDepth = 128;

class Encoder {
public:
    Result<PlistUID> encode(const QVariant& value, const QString& path, int depth)
    {
        if (depth > kMaxEncodeDepth)
            return fail(kDomain, 2, QStringLiteral("value nested too deeply at %1").arg(path));
        if (!value.isValid())
            return PlistUID{0};
        switch (value.metaType().id()) {
        case QMetaType::QString:
            return stringRef(value.toString());
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::QByteArray:
            return append(value);
        case QMetaType::QDateTime: {
            const auto seconds = plist::exactReferenceSeconds(value.toDateTime());
            if (!seconds)
                return fail(kDomain, 3, QStringLiteral("invalid date at %1, or one too far from "
                                                       "2001 to keep its milliseconds").arg(path));
            const PlistUID self = append({});
            m_objects[self.value] = QVariantMap{
                {QStringLiteral("$class"), QVariant::fromValue(classRef(QStringLiteral("NSDate")))},
                {QStringLiteral("NS.time"), *seconds}};
            return self;
        }
        case QMetaType::QStringList:
        case QMetaType::QVariantList: {
            const PlistUID self = append({});
            const QVariantList list = value.toList();
            QVariantList refs;
            refs.reserve(list.size());
            for (int i = 0; i < list.size(); ++i) {
                auto ref = encode(list.at(i), QStringLiteral("%1[%2]").arg(path).arg(i), depth + 1);
                if (!ref)
                    return ref;
                refs.append(QVariant::fromValue(*ref));
            }
            m_objects[self.value] = QVariantMap{
                {QStringLiteral("$class"), QVariant::fromValue(classRef(QStringLiteral("NSArray")))},
                {QStringLiteral("NS.objects"), refs}};
            return self;
        }
        case QMetaType::QVariantMap:
        case QMetaType::QVariantHash: {
            const PlistUID self = append({});
            const QVariantMap map = value.toMap();
            QVariantList keys, objects;
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                keys.append(QVariant::fromValue(stringRef(it.key())));
                auto ref = encode(it.value(), (path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/')) + it.key(), depth + 1);
                if (!ref)
                    return ref;
                objects.append(QVariant::fromValue(*ref));
            }
            m_objects[self.value] = QVariantMap{
                {QStringLiteral("$class"),
                 QVariant::fromValue(classRef(QStringLiteral("NSDictionary")))},
                {QStringLiteral("NS.keys"), keys},
                {QStringLiteral("NS.objects"), objects}};
            return self;
        }
        default:
            return fail(kDomain, 1,
                        QStringLiteral("cannot archive a value of type %1 at %2")
                            .arg(QString::fromLatin1(value.metaType().name()), path));
        }
    }

    QVariantList takeObjects() { return std::move(m_objects); }

private:
    PlistUID append(const QVariant& value)
    {
        m_objects.append(value);
        return PlistUID{quint64(m_objects.size() - 1)};
    }

    PlistUID stringRef(const QString& s)
    {
        auto it = m_strings.constFind(s);
        if (it != m_strings.cend())
            return *it;
        const PlistUID ref = append(s);
        m_strings.insert(s, ref);
        return ref;
    }

    PlistUID classRef(const QString& name)
    {
        auto it = m_classes.constFind(name);
        if (it != m_classes.cend())
            return *it;
        const PlistUID ref = append(QVariantMap{
            {QStringLiteral("$classname"), name},
            {QStringLiteral("$classes"), QStringList{name, QStringLiteral("NSObject")}}});
        m_classes.insert(name, ref);
        return ref;
    }

    QVariantList m_objects{QStringLiteral("$null")};
    QHash<QString, PlistUID> m_strings;
    QHash<QString, PlistUID> m_classes;
};

} // namespace

Result<QByteArray> KeyedArchiver::archivedData(const QVariant& root)
{
    Encoder encoder;
    auto rootRef = encoder.encode(root, QStringLiteral("/"), 0);
    if (!rootRef)
        return std::unexpected(rootRef.error());
    const QVariantMap archive{
        {QStringLiteral("$archiver"), QStringLiteral("NSKeyedArchiver")},
        {QStringLiteral("$version"), qint64(100000)},
        {QStringLiteral("$top"), QVariantMap{{QStringLiteral("root"), QVariant::fromValue(*rootRef)}}},
        {QStringLiteral("$objects"), encoder.takeObjects()}};
    return PropertyList::write(archive, PlistFormat::Binary);
}

} // namespace platform
