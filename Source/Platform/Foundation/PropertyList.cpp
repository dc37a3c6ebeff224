#include "Platform/Foundation/PropertyList.h"

#include <QFile>
#include <QSaveFile>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <plist/plist.h>
#include <vector>

namespace platform {

namespace {

const QString kDomain = QStringLiteral("PropertyList");

// Far beyond any list the program keeps; bounds what a hostile file can make us allocate.
constexpr qint64 kMaxInputBytes = 256LL * 1024 * 1024;
// libplist parses containers recursively; deeper input would overflow the stack.
constexpr int kMaxNesting = 512;

enum ErrorCode { kMalformed = 1, kTooLarge = 2, kTooDeep = 3, kUnsupported = 4, kIo = 5 };

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

const QDateTime& referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}

// Checks the raw XML text before libplist sees it: nesting of <array>/<dict> elements (it
// parses them recursively) and NUL characters, which libplist 2.2 aborts on inside a key.
// Tags inside comments count too; that can only make the check stricter.
Result<void> checkXmlText(const QByteArray& bytes)
{
    if (bytes.contains('\0'))
        return fail(kDomain, kMalformed, QStringLiteral("XML property list contains a NUL byte"));
    int depth = 0;
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    for (; p < end; ++p) {
        if (*p == '&' && p + 2 < end && p[1] == '#') {
            // A character reference to NUL: "&#0;", "&#x00;", …
            const char* q = p + 2;
            if (*q == 'x' || *q == 'X')
                ++q;
            const char* digits = q;
            while (q < end && *q == '0')
                ++q;
            if (q > digits && q < end && *q == ';')
                return fail(kDomain, kMalformed,
                            QStringLiteral("XML property list contains a NUL character"));
            continue;
        }
        if (*p != '<')
            continue;
        const bool closing = p + 1 < end && p[1] == '/';
        const char* name = p + (closing ? 2 : 1);
        auto startsWith = [&](const char* word, int n) {
            return end - name > n && std::memcmp(name, word, n) == 0
                && (name[n] == '>' || name[n] == '/' || name[n] == ' ' || name[n] == '\t'
                    || name[n] == '\n' || name[n] == '\r');
        };
        if (!startsWith("array", 5) && !startsWith("dict", 4))
            continue;
        const char* close = static_cast<const char*>(std::memchr(p, '>', end - p));
        if (!close)
            return {}; // unterminated tag: the parser reports it
        if (closing)
            --depth;
        else if (close[-1] != '/' && ++depth > kMaxNesting)
            return fail(kDomain, kTooDeep, QStringLiteral("property list nested too deeply"));
        p = close;
    }
    return {};
}

// Walks the object graph of a binary list without recursion, checking every reference is in
// range, no container contains itself and nesting stays bounded. libplist 2.2 trusts these.
Result<void> checkBinaryStructure(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qint64 size = bytes.size();
    constexpr int kHeader = 8, kTrailer = 32;
    if (size < kHeader + kTrailer + 1)
        return fail(kDomain, kMalformed, QStringLiteral("binary property list is truncated"));
    auto readUInt = [&](qint64 at, int width) -> std::optional<quint64> {
        if (width < 1 || width > 8 || at < 0 || at + width > size)
            return std::nullopt;
        quint64 v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | data[at + i];
        return v;
    };
    const qint64 trailer = size - kTrailer;
    const int offsetSize = data[trailer + 6];
    const int refSize = data[trailer + 7];
    const quint64 objectCount = *readUInt(trailer + 8, 8);
    const quint64 top = *readUInt(trailer + 16, 8);
    const quint64 tableAt = *readUInt(trailer + 24, 8);
    auto bad = [](const QString& why) {
        return fail(kDomain, kMalformed, QStringLiteral("binary property list: %1").arg(why));
    };
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8)
        return bad(QStringLiteral("bad trailer"));
    if (objectCount == 0 || top >= objectCount || tableAt < kHeader
        || tableAt >= quint64(trailer) || objectCount > (quint64(trailer) - tableAt) / offsetSize)
        return bad(QStringLiteral("bad offset table"));

    auto offsetOf = [&](quint64 index) -> std::optional<qint64> {
        const auto off = readUInt(qint64(tableAt + index * offsetSize), offsetSize);
        if (!off || *off < kHeader || *off >= tableAt)
            return std::nullopt;
        return qint64(*off);
    };
    // The element count of the object at "at" and where its contents start.
    auto countOf = [&](qint64 at, quint64& count, qint64& contentAt) -> bool {
        count = data[at] & 0x0F;
        contentAt = at + 1;
        if (count == 0x0F) {
            if (contentAt >= size || (data[contentAt] >> 4) != 0x1)
                return false;
            const int width = 1 << (data[contentAt] & 0x0F);
            const auto n = readUInt(contentAt + 1, width);
            if (!n)
                return false;
            count = *n;
            contentAt += 1 + width;
        }
        return count <= quint64(size);
    };
    // libplist 2.2 aborts on a dictionary key that is not a string or holds a NUL.
    auto isSafeKey = [&](quint64 index) -> bool {
        const auto at = offsetOf(index);
        if (!at)
            return false;
        const int marker = data[*at] >> 4;
        quint64 count = 0;
        qint64 contentAt = 0;
        if ((marker != 0x5 && marker != 0x6) || !countOf(*at, count, contentAt))
            return false;
        const quint64 bytesLong = marker == 0x6 ? count * 2 : count;
        if (contentAt + qint64(bytesLong) > qint64(tableAt))
            return false;
        for (quint64 i = 0; i < bytesLong; i += (marker == 0x6 ? 2 : 1)) {
            const bool nul = marker == 0x6 ? (data[contentAt + i] | data[contentAt + i + 1]) == 0
                                           : data[contentAt + i] == 0;
            if (nul)
                return false;
        }
        return true;
    };
    // Child references of a container object, or empty for scalars.
    auto children = [&](qint64 at, std::vector<quint64>& out) -> bool {
        out.clear();
        const int marker = data[at] >> 4;
        if (marker != 0xA && marker != 0xC && marker != 0xD)
            return true;
        quint64 count = 0;
        qint64 refsAt = 0;
        if (!countOf(at, count, refsAt))
            return false;
        const quint64 refs = marker == 0xD ? count * 2 : count;
        if (refsAt + qint64(refs * refSize) > qint64(tableAt))
            return false;
        out.reserve(refs);
        for (quint64 i = 0; i < refs; ++i) {
            const quint64 ref = *readUInt(refsAt + qint64(i * refSize), refSize);
            if (ref >= objectCount || (marker == 0xD && i < count && !isSafeKey(ref)))
                return false;
            out.push_back(ref);
        }
        return true;
    };

    // Depth-first with an explicit stack; onPath marks the containers currently open.
    struct Frame { std::vector<quint64> refs; size_t next = 0; quint64 index; };
    std::vector<char> onPath(objectCount, 0);
    std::vector<char> done(objectCount, 0);
    std::vector<Frame> stack;
    auto enter = [&](quint64 index) -> Result<void> {
        const auto at = offsetOf(index);
        if (!at)
            return bad(QStringLiteral("object offset out of range"));
        Frame f{{}, 0, index};
        if (!children(*at, f.refs))
            return bad(QStringLiteral("container out of range"));
        if (f.refs.empty()) {
            done[index] = 1;
            return {};
        }
        if (int(stack.size()) >= kMaxNesting)
            return fail(kDomain, kTooDeep, QStringLiteral("property list nested too deeply"));
        onPath[index] = 1;
        stack.push_back(std::move(f));
        return {};
    };
    if (auto r = enter(top); !r)
        return r;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.refs.size()) {
            onPath[f.index] = 0;
            done[f.index] = 1;
            stack.pop_back();
            continue;
        }
        const quint64 child = f.refs[f.next++];
        if (onPath[child])
            return bad(QStringLiteral("an object contains itself"));
        if (done[child])
            continue;
        if (auto r = enter(child); !r)
            return r;
    }
    return {};
}

bool integerNodeIsNegative(plist_t node)
{
    // libplist 2.2 keeps one 64-bit pattern for both signs; only its text form tells them apart.
    PlistPtr copy(plist_copy(node));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(copy.get(), &xml, &length);
    const bool negative = xml && QByteArray::fromRawData(xml, int(length)).contains("<integer>-");
    plist_to_xml_free(xml);
    return negative;
}

QVariant toVariant(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t v = 0;
        plist_get_bool_val(node, &v);
        return bool(v);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        if (v <= uint64_t(std::numeric_limits<qint64>::max()) || integerNodeIsNegative(node))
            return qint64(v);
        return quint64(v);
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return v;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return s ? QString::fromUtf8(s, qsizetype(length)) : QString();
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* p = plist_get_data_ptr(node, &length);
        return p ? QByteArray(p, qsizetype(length)) : QByteArray();
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return PropertyList::dateFromReferenceSeconds(double(sec) + double(usec) / 1e6);
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return QVariant::fromValue(PlistUID{v});
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(n);
        for (uint32_t i = 0; i < n; ++i)
            list.append(toVariant(plist_array_get_item(node, i)));
        return list;
    }
    case PLIST_DICT: {
        // XML has no UID element; object references are written as {"CF$UID": n}.
        if (plist_dict_get_size(node) == 1) {
            plist_t uid = plist_dict_get_item(node, "CF$UID");
            if (uid && plist_get_node_type(uid) == PLIST_UINT) {
                uint64_t v = 0;
                plist_get_uint_val(uid, &v);
                return QVariant::fromValue(PlistUID{v});
            }
        }
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            // Keys holding NUL, on which libplist asserts here, were refused before parsing.
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            map.insert(QString::fromUtf8(key), value ? toVariant(value) : QVariant());
            std::free(key);
        }
        std::free(it);
        return map;
    }
    default:
        return {};
    }
}

plist_t newBigUnsigned(quint64 v)
{
    // The only public way in libplist 2.2 to make a node that is written as unsigned.
    const QByteArray xml = "<plist><integer>" + QByteArray::number(v) + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    return node;
}

Result<plist_t> fromVariant(const QVariant& value, const QString& path, int depth)
{
    if (depth > kMaxNesting)
        return fail(kDomain, kTooDeep, QStringLiteral("value nested too deeply at %1").arg(path));
    const int type = value.metaType().id();
    if (type == qMetaTypeId<PlistUID>())
        return plist_new_uid(value.value<PlistUID>().value);
    switch (type) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const quint64 v = value.toULongLong();
        if (v <= quint64(std::numeric_limits<qint64>::max()))
            return plist_new_uint(v);
        if (plist_t node = newBigUnsigned(v))
            return node;
        return fail(kDomain, kUnsupported, QStringLiteral("cannot encode integer at %1").arg(path));
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid())
            return fail(kDomain, kUnsupported, QStringLiteral("invalid date at %1").arg(path));
        const double seconds = PropertyList::referenceSecondsFromDate(date);
        const double whole = std::floor(seconds);
        if (whole < double(std::numeric_limits<int32_t>::min())
            || whole > double(std::numeric_limits<int32_t>::max()))
            return fail(kDomain, kUnsupported,
                        QStringLiteral("date at %1 lies outside 1932-12-13 to 2069-01-19, the range stored").arg(path));
        return plist_new_date(int32_t(whole), int32_t(std::lround((seconds - whole) * 1e6)));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        PlistPtr array(plist_new_array());
        for (int i = 0; i < list.size(); ++i) {
            auto item = fromVariant(list.at(i), QStringLiteral("%1[%2]").arg(path).arg(i), depth + 1);
            if (!item)
                return std::unexpected(item.error());
            plist_array_append_item(array.get(), *item);
        }
        return array.release();
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        PlistPtr dict(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            auto item = fromVariant(it.value(), (path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/')) + it.key(), depth + 1);
            if (!item)
                return std::unexpected(item.error());
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), *item);
        }
        return dict.release();
    }
    default:
        return fail(kDomain, kUnsupported,
                    QStringLiteral("no property-list form for %1 at %2")
                        .arg(QString::fromLatin1(value.metaType().name() ? value.metaType().name()
                                                                         : "an empty value"),
                             path));
    }
}

} // namespace

std::optional<PlistFormat> PropertyList::detectFormat(const QByteArray& bytes)
{
    if (bytes.startsWith("bplist00"))
        return PlistFormat::Binary;
    // XML may start with a byte-order mark and white space before "<?xml" or "<plist".
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    view = view.trimmed();
    if (view.startsWith("<?xml") || view.startsWith("<!DOCTYPE plist") || view.startsWith("<plist"))
        return PlistFormat::Xml;
    return std::nullopt;
}

Result<QVariant> PropertyList::read(const QByteArray& bytes)
{
    if (bytes.size() > kMaxInputBytes)
        return fail(kDomain, kTooLarge, QStringLiteral("property list of %1 bytes is too large")
                                            .arg(bytes.size()));
    const auto format = detectFormat(bytes);
    if (!format)
        return fail(kDomain, kMalformed, QStringLiteral("not a property list"));
    plist_t root = nullptr;
    if (*format == PlistFormat::Binary) {
        if (auto ok = checkBinaryStructure(bytes); !ok)
            return std::unexpected(ok.error());
        plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
    } else {
        if (auto ok = checkXmlText(bytes); !ok)
            return std::unexpected(ok.error());
        plist_from_xml(bytes.constData(), uint32_t(bytes.size()), &root);
    }
    if (!root)
        return fail(kDomain, kMalformed, QStringLiteral("damaged %1 property list")
                                             .arg(*format == PlistFormat::Binary
                                                      ? QStringLiteral("binary")
                                                      : QStringLiteral("XML")));
    PlistPtr owner(root);
    return toVariant(root);
}

Result<QVariant> PropertyList::readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(kDomain, kIo, QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
    if (file.size() > kMaxInputBytes)
        return fail(kDomain, kTooLarge, QStringLiteral("%1 is too large for a property list").arg(path));
    const QByteArray bytes = file.readAll();
    auto value = read(bytes);
    if (!value)
        return fail(value.error().domain, value.error().code,
                    QStringLiteral("%1: %2").arg(path, value.error().message));
    return value;
}

Result<QByteArray> PropertyList::write(const QVariant& value, PlistFormat format)
{
    auto node = fromVariant(value, QStringLiteral("/"), 0);
    if (!node)
        return std::unexpected(node.error());
    PlistPtr owner(*node);
    char* out = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::Binary)
        plist_to_bin(*node, &out, &length);
    else
        plist_to_xml(*node, &out, &length);
    if (!out)
        return fail(kDomain, kUnsupported, QStringLiteral("libplist could not encode the value"));
    QByteArray bytes(out, qsizetype(length));
    if (format == PlistFormat::Binary)
        plist_to_bin_free(out);
    else
        plist_to_xml_free(out);
    return bytes;
}

Result<void> PropertyList::writeFile(const QVariant& value, const QString& path, PlistFormat format)
{
    auto bytes = write(value, format);
    if (!bytes)
        return std::unexpected(bytes.error());
    // QSaveFile writes beside the target, syncs, then renames over it.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(kDomain, kIo, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (file.write(*bytes) != bytes->size() || !file.commit())
        return fail(kDomain, kIo, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return {};
}

QDateTime PropertyList::dateFromReferenceSeconds(double seconds)
{
    if (!std::isfinite(seconds))
        return {};
    return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0)));
}

double PropertyList::referenceSecondsFromDate(const QDateTime& date)
{
    return double(referenceDate().msecsTo(date)) / 1000.0;
}

} // namespace platform
