#include "Utilities/KPLogger/KPLogRecord.h"

#include "Utilities/KPLogger/KPLogThreadName.h"

#include <QtEndian>
#include <sys/time.h>
#include <ctime>

namespace {

// Header: 4-byte length of the rest, 2-byte part count.
constexpr qsizetype kHeaderSize = 6;

void putBigEndian16(char* out, uint16_t v)
{
    qToBigEndian(v, out);
}

void putBigEndian32(char* out, uint32_t v)
{
    qToBigEndian(v, out);
}

// Text as UTF-8 where every unpaired surrogate (the only thing UTF-8 cannot carry) is a "?".
QByteArray utf8WithQuestionMarks(const QString& text)
{
    if (text.isValidUtf16())
        return text.toUtf8();
    QString cleaned;
    cleaned.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            cleaned.append(c);
            cleaned.append(text.at(++i));
        } else if (c.isSurrogate()) {
            cleaned.append(QLatin1Char('?'));
        } else {
            cleaned.append(c);
        }
    }
    return cleaned.toUtf8();
}

void addCommon(KPLogRecord& r, const KPLogRecord::Stamp& stamp, int32_t type, int32_t sequence)
{
    r.addTimestamp(stamp);
    r.addThread(stamp);
    r.addInt32(KPLogRecord::KeyType, type);
    r.addInt32(KPLogRecord::KeySequence, sequence);
}

} // namespace

KPLogRecord::Stamp KPLogRecord::Stamp::now()
{
    Stamp stamp;
    timeval tv{};
    if (::gettimeofday(&tv, nullptr) == 0) {
        stamp.seconds = tv.tv_sec;
        stamp.micros = tv.tv_usec;
    } else {
        stamp.seconds = static_cast<int64_t>(::time(nullptr));
        stamp.hasMicros = false;
    }
    stamp.thread = KPLogThreadName::current();
    return stamp;
}

KPLogRecord::KPLogRecord()
{
    m_bytes.resize(kHeaderSize);
    putBigEndian32(m_bytes.data(), 2);
    putBigEndian16(m_bytes.data() + 4, 0);
}

void KPLogRecord::appendPart(uint8_t key, uint8_t type, const char* value, qsizetype size,
                             bool withLength)
{
    char head[6];
    head[0] = static_cast<char>(key);
    head[1] = static_cast<char>(type);
    m_bytes.append(head, 2);
    if (withLength) {
        putBigEndian32(head, static_cast<uint32_t>(size));
        m_bytes.append(head, 4);
    }
    if (size > 0)
        m_bytes.append(value, size);
    char* h = m_bytes.data();
    putBigEndian32(h, static_cast<uint32_t>(m_bytes.size() - 4));
    putBigEndian16(h + 4, static_cast<uint16_t>(qFromBigEndian<uint16_t>(h + 4) + 1));
}

void KPLogRecord::addString(uint8_t key, const QString& text)
{
    const QByteArray utf8 = utf8WithQuestionMarks(text);
    appendPart(key, PartString, utf8.constData(), utf8.size(), true);
}

void KPLogRecord::addLatin1(uint8_t key, const char* text)
{
    if (!text || !*text)
        return;
    // Source names come from the compiler as bytes; each byte is one Latin-1 character.
    QByteArray utf8;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x80) {
            utf8.append(static_cast<char>(*p));
        } else {
            utf8.append(static_cast<char>(0xC0 | (*p >> 6)));
            utf8.append(static_cast<char>(0x80 | (*p & 0x3F)));
        }
    }
    appendPart(key, PartString, utf8.constData(), utf8.size(), true);
}

void KPLogRecord::addInt16(uint8_t key, int16_t value)
{
    char v[2];
    putBigEndian16(v, static_cast<uint16_t>(value));
    appendPart(key, PartInt16, v, 2, false);
}

void KPLogRecord::addInt32(uint8_t key, int32_t value)
{
    char v[4];
    putBigEndian32(v, static_cast<uint32_t>(value));
    appendPart(key, PartInt32, v, 4, false);
}

void KPLogRecord::addInt64(uint8_t key, int64_t value)
{
    char v[8];
    qToBigEndian(static_cast<uint64_t>(value), v);
    appendPart(key, PartInt64, v, 8, false);
}

void KPLogRecord::addData(uint8_t key, PartType type, const QByteArray& data)
{
    if (data.isNull())
        return;
    appendPart(key, type, data.constData(), data.size(), true);
}

void KPLogRecord::addTimestamp(const Stamp& stamp)
{
    addInt64(KeyTimestampSeconds, stamp.seconds);
    if (stamp.hasMicros)
        addInt64(KeyTimestampMicros, stamp.micros);
}

void KPLogRecord::addThread(const Stamp& stamp)
{
    if (const auto* name = std::get_if<QString>(&stamp.thread))
        addString(KeyThreadId, *name);
    else
        addInt64(KeyThreadId, std::get<int64_t>(stamp.thread));
}

QByteArray KPLogRecord::log(const Stamp& stamp, int32_t sequence, const Source& source,
                            const QString& domain, int level, const QString& text)
{
    KPLogRecord r;
    addCommon(r, stamp, TypeLog, sequence);
    if (!domain.isEmpty())
        r.addString(KeyTag, domain);
    if (level != 0)
        r.addInt32(KeyLevel, level);
    r.addLatin1(KeyFileName, source.file);
    if (source.line != 0)
        r.addInt32(KeyLineNumber, source.line);
    r.addLatin1(KeyFunctionName, source.function);
    r.addString(KeyMessage, text);
    return r.bytes();
}

QByteArray KPLogRecord::data(const Stamp& stamp, int32_t sequence, const Source& source,
                             const QString& domain, int level, Body kind,
                             const QByteArray& body, int width, int height)
{
    KPLogRecord r;
    addCommon(r, stamp, TypeLog, sequence);
    if (!domain.isEmpty())
        r.addString(KeyTag, domain);
    if (level != 0)
        r.addInt32(KeyLevel, level);
    if (kind == Body::Image && width != 0 && height != 0) {
        r.addInt32(KeyImageWidth, width);
        r.addInt32(KeyImageHeight, height);
    }
    r.addLatin1(KeyFileName, source.file);
    if (source.line != 0)
        r.addInt32(KeyLineNumber, source.line);
    r.addLatin1(KeyFunctionName, source.function);
    switch (kind) {
    case Body::Binary:
        r.addData(KeyMessage, PartBinary, body);
        break;
    case Body::Image:
        r.addData(KeyMessage, PartImage, body);
        break;
    }
    return r.bytes();
}

QByteArray KPLogRecord::blockStart(const Stamp& stamp, int32_t sequence, const QString& message)
{
    KPLogRecord r;
    addCommon(r, stamp, TypeBlockStart, sequence);
    if (!message.isNull())
        r.addString(KeyMessage, message);
    return r.bytes();
}

QByteArray KPLogRecord::blockEnd(const Stamp& stamp, int32_t sequence)
{
    KPLogRecord r;
    addCommon(r, stamp, TypeBlockEnd, sequence);
    return r.bytes();
}

QByteArray KPLogRecord::marker(const Stamp& stamp, int32_t sequence, const QString& text)
{
    // Viewers read the marker's sequence after its text, unlike every other record.
    KPLogRecord r;
    r.addTimestamp(stamp);
    r.addThread(stamp);
    r.addInt32(KeyType, TypeMarker);
    r.addString(KeyMessage, text);
    r.addInt32(KeySequence, sequence);
    return r.bytes();
}

QByteArray KPLogRecord::clientInfo(const Stamp& stamp, const QString& clientName,
                                   const QString& clientVersion, const QString& osName,
                                   const QString& osVersion, const QString& machine)
{
    KPLogRecord r;
    r.addTimestamp(stamp);
    r.addInt32(KeyType, TypeClientInfo);
    if (!clientVersion.isNull())
        r.addString(KeyClientVersion, clientVersion);
    r.addString(KeyClientName, clientName);
    r.addString(KeyOSVersion, osVersion);
    r.addString(KeyOSName, osName);
    r.addString(KeyClientModel, machine);
    return r.bytes();
}

std::optional<QList<KPLogRecord::Part>> KPLogRecord::parse(const QByteArray& record)
{
    if (record.size() < kHeaderSize)
        return std::nullopt;
    const char* d = record.constData();
    const uint32_t rest = qFromBigEndian<uint32_t>(d);
    const uint16_t count = qFromBigEndian<uint16_t>(d + 4);
    if (static_cast<qsizetype>(rest) != record.size() - 4)
        return std::nullopt;
    QList<Part> parts;
    parts.reserve(count);
    qsizetype pos = kHeaderSize;
    const qsizetype end = record.size();
    for (uint16_t i = 0; i < count; ++i) {
        if (end - pos < 2)
            return std::nullopt;
        Part p;
        p.key = static_cast<uint8_t>(d[pos]);
        p.type = static_cast<uint8_t>(d[pos + 1]);
        pos += 2;
        switch (p.type) {
        case PartInt16:
            if (end - pos < 2)
                return std::nullopt;
            p.number = static_cast<int16_t>(qFromBigEndian<uint16_t>(d + pos));
            pos += 2;
            break;
        case PartInt32:
            if (end - pos < 4)
                return std::nullopt;
            p.number = static_cast<int32_t>(qFromBigEndian<uint32_t>(d + pos));
            pos += 4;
            break;
        case PartInt64:
            if (end - pos < 8)
                return std::nullopt;
            p.number = static_cast<int64_t>(qFromBigEndian<uint64_t>(d + pos));
            pos += 8;
            break;
        default: {
            if (end - pos < 4)
                return std::nullopt;
            const uint32_t len = qFromBigEndian<uint32_t>(d + pos);
            pos += 4;
            if (static_cast<uint64_t>(end - pos) < len)
                return std::nullopt;
            p.bytes = record.mid(pos, len);
            pos += len;
            break;
        }
        }
        parts.append(std::move(p));
    }
    if (pos != end)
        return std::nullopt;
    return parts;
}

int32_t KPLogRecord::sequenceOf(const QByteArray& record)
{
    const auto parts = parse(record);
    if (!parts)
        return 0;
    for (const Part& p : *parts) {
        if (p.key == KeySequence)
            return static_cast<int32_t>(p.number);
    }
    return 0;
}
