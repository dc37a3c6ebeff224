// One binary log record: a big-endian byte string of keyed, typed parts.
//
// The same bytes are written to the log file, sent to a log viewer and decoded for console
// printing, so the layout is fixed: a 4-byte length of the rest, a 2-byte part count, then parts
// of key byte, type byte and value. Building appends each part whole and rewrites the header,
// so a record is valid after every step. Records are plain values (QByteArray) once built.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>
#include <variant>

class KPLogRecord {
public:
    enum PartType : uint8_t {
        PartString = 0,
        PartBinary = 1,
        PartInt16 = 2,
        PartInt32 = 3,
        PartInt64 = 4,
        PartImage = 5,
    };

    enum PartKey : uint8_t {
        KeyType = 0,
        KeyTimestampSeconds = 1,
        KeyTimestampMillis = 2,
        KeyTimestampMicros = 3,
        KeyThreadId = 4,
        KeyTag = 5,
        KeyLevel = 6,
        KeyMessage = 7,
        KeyImageWidth = 8,
        KeyImageHeight = 9,
        KeySequence = 10,
        KeyFileName = 11,
        KeyLineNumber = 12,
        KeyFunctionName = 13,
        KeyClientName = 20,
        KeyClientVersion = 21,
        KeyOSName = 22,
        KeyOSVersion = 23,
        KeyClientModel = 24,
    };

    enum RecordType : int32_t {
        TypeLog = 0,
        TypeBlockStart = 1,
        TypeBlockEnd = 2,
        TypeClientInfo = 3,
        TypeMarker = 5,
    };

    // When and on which thread a record was made. hasMicros is false when only whole seconds
    // could be read. The thread is its name or, where no name exists, its handle.
    struct Stamp {
        int64_t seconds = 0;
        int64_t micros = 0;
        bool hasMicros = true;
        std::variant<QString, int64_t> thread;

        // The wall clock and the calling thread.
        static Stamp now();
    };

    // Where a log call came from; null or empty names and line 0 add no part.
    struct Source {
        const char* file = nullptr;
        int line = 0;
        const char* function = nullptr;
    };

    // A decoded part. Strings, binary and image values are in bytes; numbers in number.
    struct Part {
        uint8_t key = 0;
        uint8_t type = 0;
        QByteArray bytes;
        int64_t number = 0;
    };

    KPLogRecord();

    void addString(uint8_t key, const QString& text);
    void addLatin1(uint8_t key, const char* text);
    void addInt16(uint8_t key, int16_t value);
    void addInt32(uint8_t key, int32_t value);
    void addInt64(uint8_t key, int64_t value);
    // Binary and image bodies; a null QByteArray adds nothing, an empty one a 0-length part.
    void addData(uint8_t key, PartType type, const QByteArray& data);
    void addTimestamp(const Stamp& stamp);
    void addThread(const Stamp& stamp);

    const QByteArray& bytes() const { return m_bytes; }

    // The record kinds, with their parts in the order viewers expect.
    enum class Body { Binary, Image };
    static QByteArray log(const Stamp& stamp, int32_t sequence, const Source& source,
                          const QString& domain, int level, const QString& text);
    static QByteArray data(const Stamp& stamp, int32_t sequence, const Source& source,
                           const QString& domain, int level, Body kind, const QByteArray& body,
                           int width = 0, int height = 0);
    static QByteArray blockStart(const Stamp& stamp, int32_t sequence, const QString& message);
    static QByteArray blockEnd(const Stamp& stamp, int32_t sequence);
    static QByteArray marker(const Stamp& stamp, int32_t sequence, const QString& text);
    static QByteArray clientInfo(const Stamp& stamp, const QString& clientName,
                                 const QString& clientVersion, const QString& osName,
                                 const QString& osVersion, const QString& machine);

    // Decodes a record; nullopt when it is truncated or its header disagrees with its parts.
    static std::optional<QList<Part>> parse(const QByteArray& record);
    // The sequence number of a record, 0 when it has none (client information).
    static int32_t sequenceOf(const QByteArray& record);

private:
    void appendPart(uint8_t key, uint8_t type, const char* value, qsizetype size,
                    bool withLength);

    QByteArray m_bytes;
};
