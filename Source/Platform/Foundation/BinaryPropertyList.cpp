#include "Platform/Foundation/BinaryPropertyList.h"

#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/PropertyListValues.h"

#include <QHash>
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

namespace platform {

using namespace plist;

namespace {

constexpr qint64 kHeaderSize = 8;
constexpr qint64 kTrailerSize = 32;

// The high nibble of an object's first byte.
enum Type {
    kSimple = 0x0, // false 0x08, true 0x09; null 0x00 and fill 0x0F have no value here
    kInteger = 0x1,
    kReal = 0x2,
    kDate = 0x3,
    kData = 0x4,
    kAscii = 0x5,
    kUtf16 = 0x6,
    kUid = 0x8,
    kArray = 0xA,
    kOrderedSet = 0xB,
    kSet = 0xC,
    kDict = 0xD,
};

// The fewest of 1, 2, 4 or 8 bytes that hold v.
int widthFor(quint64 v)
{
    return v <= 0xFF ? 1 : v <= 0xFFFF ? 2 : v <= 0xFFFFFFFFULL ? 4 : 8;
}

void appendBigEndian(QByteArray& out, quint64 v, int width)
{
    for (int i = width - 1; i >= 0; --i)
        out += char((v >> (8 * i)) & 0xFF);
}

class Reader {
public:
    explicit Reader(const QByteArray& bytes)
        : m_data(reinterpret_cast<const uchar*>(bytes.constData()))
        , m_size(bytes.size())
        , m_budget(std::max<qint64>(kMaxValues, bytes.size()))
    {
    }

    Result<QVariant> read()
    {
        if (auto ok = readTrailer(); !ok)
            return std::unexpected(ok.error());
        auto value = readGraph();
        if (!value)
            return value;
        // Writers lay objects end to end; bytes read as two objects are a forgery.
        std::sort(m_extents.begin(), m_extents.end());
        for (size_t i = 1; i < m_extents.size(); ++i)
            if (m_extents[i].first < m_extents[i - 1].second)
                return bad(QStringLiteral("objects overlap"));
        return value;
    }

private:
    struct Object {
        quint64 index = 0;
        int type = 0;
        int info = 0;       // the low nibble of the marker
        quint64 count = 0;  // elements, bytes or characters, as the type counts them
        qint64 start = 0;
        qint64 contentAt = 0;
        qint64 end = 0;
    };
    struct Entry {
        QVariant value;
        qint64 size = 0; // values it unfolds to
        bool open = false; // a container not yet finished: meeting it again is a cycle
    };
    struct Frame {
        Object object;
        quint64 refs = 0;
        quint64 next = 0;
        qint64 size = 1;
        QVariantList items; // array elements, or a dictionary's keys then its values
    };

    static std::unexpected<Error> bad(const QString& why)
    {
        return malformed(QStringLiteral("binary property list: %1").arg(why));
    }

    quint64 uintAt(qint64 at, int width) const
    {
        quint64 v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | m_data[at + i];
        return v;
    }

    Result<void> readTrailer()
    {
        if (m_size < kHeaderSize + 1 + 1 + kTrailerSize)
            return bad(QStringLiteral("truncated"));
        const qint64 trailer = m_size - kTrailerSize;
        m_offsetSize = m_data[trailer + 6];
        m_refSize = m_data[trailer + 7];
        m_count = uintAt(trailer + 8, 8);
        m_top = uintAt(trailer + 16, 8);
        const quint64 tableAt = uintAt(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8)
            return bad(QStringLiteral("offset or reference width out of range"));
        if (tableAt <= quint64(kHeaderSize) || tableAt >= quint64(trailer)
            || m_count == 0 || m_count > (quint64(trailer) - tableAt) / quint64(m_offsetSize))
            return bad(QStringLiteral("offset table out of range"));
        if (m_top >= m_count)
            return bad(QStringLiteral("top object out of range"));
        m_tableAt = qint64(tableAt);
        return {};
    }

    // Reads an element count (or byte count) that follows a marker whose low nibble is 0xF.
    Result<quint64> extendedCount(Object& o) const
    {
        if (o.contentAt >= m_tableAt)
            return bad(QStringLiteral("object runs past the objects"));
        const uchar marker = m_data[o.contentAt];
        if ((marker >> 4) != kInteger || (marker & 0x0F) > 3)
            return bad(QStringLiteral("malformed count"));
        const int width = 1 << (marker & 0x0F);
        if (o.contentAt + 1 + width > m_tableAt)
            return bad(QStringLiteral("object runs past the objects"));
        const quint64 count = uintAt(o.contentAt + 1, width);
        if (width == 8 && count > quint64(std::numeric_limits<qint64>::max()))
            return bad(QStringLiteral("negative count"));
        o.contentAt += 1 + width;
        return count;
    }

    // Locates the object and checks that it lies wholly among the objects.
    Result<Object> objectAt(quint64 index) const
    {
        const quint64 at = uintAt(m_tableAt + qint64(index) * m_offsetSize, m_offsetSize);
        if (at < quint64(kHeaderSize) || at >= quint64(m_tableAt))
            return bad(QStringLiteral("object offset out of range"));
        Object o;
        o.index = index;
        o.start = qint64(at);
        o.contentAt = o.start + 1;
        o.type = m_data[at] >> 4;
        o.info = m_data[at] & 0x0F;
        qint64 unit = 0; // bytes per counted element; 0 for fixed-size objects
        qint64 fixed = 0;
        switch (o.type) {
        case kSimple:
            if (o.info == 0x8 || o.info == 0x9)
                break;
            if (o.info == 0x0)
                return unsupported(QStringLiteral("binary property list holds a null, which has no value here"));
            return bad(QStringLiteral("unknown object 0x%1").arg(m_data[at], 2, 16, QLatin1Char('0')));
        case kInteger:
            if (o.info > 4)
                return bad(QStringLiteral("integer wider than 16 bytes"));
            fixed = 1LL << o.info;
            break;
        case kReal:
            if (o.info != 2 && o.info != 3)
                return bad(QStringLiteral("real neither 4 nor 8 bytes wide"));
            fixed = 1LL << o.info;
            break;
        case kDate:
            if (o.info != 3)
                return bad(QStringLiteral("malformed date"));
            fixed = 8;
            break;
        case kUid:
            fixed = o.info + 1;
            break;
        case kData:
        case kAscii:
            unit = 1;
            break;
        case kUtf16:
            unit = 2;
            break;
        case kArray:
            unit = m_refSize;
            break;
        case kDict:
            unit = 2 * qint64(m_refSize);
            break;
        case kOrderedSet:
        case kSet:
            return unsupported(QStringLiteral("binary property list holds a set, which has no value here"));
        default:
            return bad(QStringLiteral("unknown object 0x%1").arg(m_data[at], 2, 16, QLatin1Char('0')));
        }
        if (unit) {
            o.count = quint64(o.info);
            if (o.info == 0x0F) {
                auto count = extendedCount(o);
                if (!count)
                    return std::unexpected(count.error());
                o.count = *count;
            }
            if (o.count > quint64(m_tableAt - o.contentAt) / quint64(unit))
                return bad(QStringLiteral("count beyond the objects"));
            fixed = qint64(o.count) * unit;
        }
        o.end = o.contentAt + fixed;
        if (o.end > m_tableAt)
            return bad(QStringLiteral("object runs past the objects"));
        return o;
    }

    Result<QVariant> scalar(const Object& o) const
    {
        const uchar* p = m_data + o.contentAt;
        switch (o.type) {
        case kSimple:
            return QVariant(o.info == 0x9);
        case kInteger: {
            const int width = 1 << o.info;
            if (width < 8)
                return QVariant(qint64(uintAt(o.contentAt, width)));
            if (width == 8)
                return QVariant(qint64(uintAt(o.contentAt, 8)));
            // Sixteen bytes, signed: writers use them for unsigned values past INT64_MAX.
            const quint64 high = uintAt(o.contentAt, 8);
            const quint64 low = uintAt(o.contentAt + 8, 8);
            if (high == 0)
                return low <= quint64(std::numeric_limits<qint64>::max()) ? QVariant(qint64(low))
                                                                          : QVariant(low);
            if (high == ~quint64(0) && (low >> 63))
                return QVariant(qint64(low));
            return unsupported(QStringLiteral("binary property list holds an integer beyond 64 bits"));
        }
        case kReal:
            if (o.info == 2)
                return QVariant(double(std::bit_cast<float>(quint32(uintAt(o.contentAt, 4)))));
            return QVariant(std::bit_cast<double>(uintAt(o.contentAt, 8)));
        case kDate: {
            const double seconds = std::bit_cast<double>(uintAt(o.contentAt, 8));
            const auto date = dateFromReferenceSeconds(seconds);
            if (!date)
                return unsupported(QStringLiteral("binary property list holds a date (%1 s from 2001) "
                                                  "beyond the dates a QDateTime holds")
                                       .arg(seconds));
            return QVariant(*date);
        }
        case kUid: {
            quint64 v = 0;
            for (int i = 0; i <= o.info; ++i) {
                v = (v << 8) | p[i];
                if (v >= kUidLimit)
                    return unsupported(QStringLiteral("binary property list holds a UID from 2^32 on"));
            }
            return QVariant::fromValue(PlistUID{v});
        }
        case kData:
            return QVariant(QByteArray(reinterpret_cast<const char*>(p), qsizetype(o.count)));
        case kAscii:
            for (quint64 i = 0; i < o.count; ++i)
                if (p[i] >= 0x80)
                    return bad(QStringLiteral("ASCII string with a byte over 0x7F"));
            return QVariant(QString::fromLatin1(reinterpret_cast<const char*>(p), qsizetype(o.count)));
        case kUtf16: {
            QString s(qsizetype(o.count), Qt::Uninitialized);
            char16_t* out = reinterpret_cast<char16_t*>(s.data());
            for (quint64 i = 0; i < o.count; ++i)
                out[i] = char16_t((p[2 * i] << 8) | p[2 * i + 1]);
            if (!isWellFormed(s))
                return bad(QStringLiteral("UTF-16 string with a lone surrogate"));
            return QVariant(s);
        }
        default:
            return bad(QStringLiteral("not a value"));
        }
    }

    // Either finishes at once (a scalar, or an object met before: m_last*) and returns false,
    // or opens a frame for a container and returns true.
    Result<bool> visit(quint64 index)
    {
        if (index >= m_count)
            return bad(QStringLiteral("object reference out of range"));
        if (auto it = m_entries.find(index); it != m_entries.end()) {
            if (it->second.open)
                return bad(QStringLiteral("an object contains itself"));
            m_last = it->second.value;
            m_lastSize = it->second.size;
            return false;
        }
        auto object = objectAt(index);
        if (!object)
            return std::unexpected(object.error());
        m_extents.emplace_back(object->start, object->end);
        if (object->type == kArray || object->type == kDict) {
            if (m_stack.size() >= size_t(kMaxNesting))
                return tooDeep();
            m_entries[index].open = true;
            Frame frame;
            frame.object = *object;
            frame.refs = object->type == kDict ? 2 * object->count : object->count;
            frame.items.reserve(qsizetype(std::min<quint64>(frame.refs, 4096)));
            m_stack.push_back(std::move(frame));
            return true;
        }
        auto value = scalar(*object);
        if (!value)
            return std::unexpected(value.error());
        m_entries[index] = Entry{*value, 1, false};
        m_last = *value;
        m_lastSize = 1;
        return false;
    }

    // Adds a finished child to the innermost open container, charging its unfolded size.
    Result<void> accept(Frame& frame, const QVariant& value, qint64 size)
    {
        frame.size += size;
        if (frame.size > m_budget)
            return fail(kDomain, kTooManyValues,
                        QStringLiteral("binary property list unfolds to more than %1 values "
                                       "through shared references")
                            .arg(m_budget));
        if (frame.object.type == kDict && quint64(frame.items.size()) < frame.object.count
            && value.metaType().id() != QMetaType::QString)
            return bad(QStringLiteral("dictionary key is not a string"));
        frame.items.append(value);
        return {};
    }

    static Result<QVariant> finish(Frame& frame)
    {
        if (frame.object.type == kArray)
            return QVariant(std::move(frame.items));
        QVariantMap map;
        const qsizetype n = qsizetype(frame.object.count);
        for (qsizetype i = 0; i < n; ++i) {
            const QString key = frame.items.at(i).toString();
            if (map.contains(key))
                return bad(QStringLiteral("dictionary key \"%1\" appears twice").arg(key));
            map.insert(key, frame.items.at(n + i));
        }
        return QVariant(map);
    }

    Result<QVariant> readGraph()
    {
        auto opened = visit(m_top);
        if (!opened)
            return std::unexpected(opened.error());
        if (!*opened)
            return m_last;
        for (;;) {
            Frame& frame = m_stack.back();
            if (frame.next < frame.refs) {
                const quint64 ref = uintAt(frame.object.contentAt + qint64(frame.next * m_refSize),
                                           m_refSize);
                ++frame.next;
                auto pushed = visit(ref);
                if (!pushed)
                    return std::unexpected(pushed.error());
                if (!*pushed)
                    if (auto ok = accept(frame, m_last, m_lastSize); !ok)
                        return std::unexpected(ok.error());
                continue;
            }
            auto value = finish(frame);
            if (!value)
                return value;
            const qint64 size = frame.size;
            m_entries[frame.object.index] = Entry{*value, size, false};
            m_stack.pop_back();
            if (m_stack.empty())
                return value;
            if (auto ok = accept(m_stack.back(), *value, size); !ok)
                return std::unexpected(ok.error());
        }
    }

    const uchar* m_data;
    const qint64 m_size;
    const qint64 m_budget;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_count = 0;
    quint64 m_top = 0;
    qint64 m_tableAt = 0;
    std::unordered_map<quint64, Entry> m_entries;
    std::vector<std::pair<qint64, qint64>> m_extents;
    std::vector<Frame> m_stack;
    QVariant m_last;
    qint64 m_lastSize = 0;
};

class Writer {
public:
    Result<quint64> add(const QVariant& value, const QString& path, int depth)
    {
        switch (kindOf(value)) {
        case Kind::Bool:
            return scalar(QByteArray(1, value.toBool() ? '\x09' : '\x08'));
        case Kind::Signed: {
            const qint64 v = value.toLongLong();
            if (v >= 0)
                return scalar(unsignedInteger(quint64(v)));
            QByteArray bytes(1, '\x13');
            appendBigEndian(bytes, quint64(v), 8);
            return scalar(bytes);
        }
        case Kind::Unsigned:
            return scalar(unsignedInteger(value.toULongLong()));
        case Kind::Real: {
            QByteArray bytes(1, '\x23');
            appendBigEndian(bytes, std::bit_cast<quint64>(value.toDouble()), 8);
            return scalar(bytes);
        }
        case Kind::Date: {
            const QDateTime date = value.toDateTime();
            if (!date.isValid())
                return unsupported(QStringLiteral("invalid date at %1").arg(path));
            const auto seconds = exactReferenceSeconds(date);
            if (!seconds)
                return unsupported(QStringLiteral("date at %1 is too far from 2001 to be stored "
                                                  "to the millisecond").arg(path));
            QByteArray bytes(1, '\x33');
            appendBigEndian(bytes, std::bit_cast<quint64>(*seconds), 8);
            return scalar(bytes);
        }
        case Kind::Data: {
            const QByteArray data = value.toByteArray();
            QByteArray bytes = countedMarker(kData, quint64(data.size()));
            bytes += data;
            return scalar(bytes);
        }
        case Kind::String:
            return string(value.toString(), path);
        case Kind::Uid: {
            const quint64 v = value.value<PlistUID>().value;
            if (v >= kUidLimit)
                return unsupported(QStringLiteral("UID %1 at %2 is beyond 32 bits").arg(v).arg(path));
            const int width = widthFor(v);
            QByteArray bytes(1, char((kUid << 4) | (width - 1)));
            appendBigEndian(bytes, v, width);
            return scalar(bytes);
        }
        case Kind::Array: {
            if (depth >= kMaxNesting)
                return tooDeep();
            const QVariantList list = value.toList();
            const quint64 self = container(kArray, quint64(list.size()));
            for (qsizetype i = 0; i < list.size(); ++i) {
                auto ref = add(list.at(i), indexPath(path, i), depth + 1);
                if (!ref)
                    return ref;
                m_objects[self].refs.push_back(*ref);
            }
            return self;
        }
        case Kind::Dict: {
            if (depth >= kMaxNesting)
                return tooDeep();
            const QVariantMap map = value.toMap();
            const quint64 self = container(kDict, quint64(map.size()));
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                auto ref = string(it.key(), keyPath(path, it.key()));
                if (!ref)
                    return ref;
                m_objects[self].refs.push_back(*ref);
            }
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                auto ref = add(it.value(), keyPath(path, it.key()), depth + 1);
                if (!ref)
                    return ref;
                m_objects[self].refs.push_back(*ref);
            }
            return self;
        }
        case Kind::None:
            break;
        }
        return noFormFor(value, path);
    }

    QByteArray finish() const
    {
        const int refSize = widthFor(m_objects.size());
        QByteArray out("bplist00");
        std::vector<quint64> offsets;
        offsets.reserve(m_objects.size());
        for (const Object& o : m_objects) {
            offsets.push_back(quint64(out.size()));
            out += o.bytes;
            for (quint64 ref : o.refs)
                appendBigEndian(out, ref, refSize);
        }
        const quint64 tableAt = quint64(out.size());
        const int offsetSize = widthFor(tableAt);
        for (quint64 offset : offsets)
            appendBigEndian(out, offset, offsetSize);
        out += QByteArray(6, '\0');
        out += char(offsetSize);
        out += char(refSize);
        appendBigEndian(out, m_objects.size(), 8);
        appendBigEndian(out, 0, 8); // the top object is the first
        appendBigEndian(out, tableAt, 8);
        return out;
    }

private:
    struct Object {
        QByteArray bytes;           // the whole object, or a container's marker and count
        std::vector<quint64> refs;  // a container's references, written at the end
    };

    static QByteArray countedMarker(int type, quint64 count)
    {
        if (count < 15)
            return QByteArray(1, char((type << 4) | int(count)));
        QByteArray bytes(1, char((type << 4) | 0x0F));
        bytes += unsignedInteger(count);
        return bytes;
    }

    static QByteArray unsignedInteger(quint64 v)
    {
        if (v > quint64(std::numeric_limits<qint64>::max())) {
            QByteArray bytes(1, '\x14');
            appendBigEndian(bytes, 0, 8);
            appendBigEndian(bytes, v, 8);
            return bytes;
        }
        const int width = widthFor(v);
        QByteArray bytes(1, char((kInteger << 4) | std::countr_zero(unsigned(width))));
        appendBigEndian(bytes, v, width);
        return bytes;
    }

    Result<quint64> string(const QString& s, const QString& path)
    {
        if (!isWellFormed(s))
            return unsupported(QStringLiteral("string at %1 holds a lone UTF-16 surrogate").arg(path));
        const bool ascii = std::all_of(s.cbegin(), s.cend(),
                                       [](QChar c) { return c.unicode() < 0x80; });
        QByteArray bytes = countedMarker(ascii ? kAscii : kUtf16, quint64(s.size()));
        if (ascii) {
            bytes += s.toLatin1();
        } else {
            for (QChar c : s)
                appendBigEndian(bytes, c.unicode(), 2);
        }
        return scalar(bytes);
    }

    quint64 scalar(const QByteArray& bytes)
    {
        auto it = m_scalars.constFind(bytes);
        if (it != m_scalars.cend())
            return *it;
        m_objects.push_back(Object{bytes, {}});
        const quint64 index = m_objects.size() - 1;
        m_scalars.insert(bytes, index);
        return index;
    }

    quint64 container(int type, quint64 count)
    {
        m_objects.push_back(Object{countedMarker(type, count), {}});
        return m_objects.size() - 1;
    }

    std::vector<Object> m_objects;
    QHash<QByteArray, quint64> m_scalars;
};

} // namespace

Result<QVariant> BinaryPropertyList::read(const QByteArray& bytes)
{
    if (!bytes.startsWith("bplist00"))
        return malformed(QStringLiteral("not a binary property list"));
    return Reader(bytes).read();
}

Result<QByteArray> BinaryPropertyList::write(const QVariant& value)
{
    Writer writer;
    auto top = writer.add(value, QStringLiteral("/"), 0);
    if (!top)
        return std::unexpected(top.error());
    return writer.finish();
}

} // namespace platform
