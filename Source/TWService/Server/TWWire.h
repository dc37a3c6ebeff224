// The bytes of the peer exchange: request types and replies, the archived request body, the
// upload record and the limits both ends keep. Every integer is little-endian; every value read
// from a peer is bounded here before anything is allocated for it or done with it.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <optional>

enum TWRequestType : quint32 {
    TWRequestTypeDataInfo = 1,
    TWRequestTypeFile = 2,
    TWRequestTypeFileUpload = 3,
};

enum TWConnectReply : quint32 {
    TWConnectAccepted = 0,
    TWConnectTooManyConnections = 1,
};

namespace TWWire {

// Socket tags: they never travel, but the time-out report names them.
enum Tag : long {
    TagRequestType = 1000,
    TagDataBody = 3000,
    TagDataReply = 3001,
    TagFileBody = 4000,
    TagFileHeader = 4001,
    TagFileChunk = 4002,
    TagUploadInfo = 5001,
    TagUploadChunkHeader = 5002,
    TagUploadChunk = 5003,
};

inline constexpr quint32 kChunkSize = 1048576;
inline constexpr char kAck = 0x0A;
// Sent by an upload's receiver in place of an acknowledgement when the upload gives way: it
// trickles, or arrives below the minimum rate while another sender waits for a slot or for room
// on the disk, or its address holds the most slots while another address waits for one. The
// receiver then drops what the sender still sends and closes; the document may be sent again.
inline constexpr char kUploadGaveWay = 0x15;
// A request body never needs more; a peer announcing more is refused before it is read.
inline constexpr quint32 kMaxBodyLength = 256 * 1024;
// The largest data answer a client takes (an icon is a few kilobytes).
inline constexpr quint32 kMaxDataAnswer = 4 * 1024 * 1024;
inline constexpr quint32 kBodyTooLong = 0xFFFFFFFF;
inline constexpr quint32 kBodyUnreadable = 0xFFFFFFFE;
inline constexpr qint64 kUploadAccepted = -2;
inline constexpr qint64 kUploadRefused = -3;
inline constexpr qint64 kFileBodyTooLong = -1;
// A download body that cannot be unarchived; no download answer is negative otherwise.
inline constexpr qint64 kFileBodyUnreadable = -2;
// An upload record that cannot be unarchived. Not -2: that is the upload's "accepted", and a
// sender told "accepted" would go on to send its file into a closing connection.
inline constexpr qint64 kUploadBodyUnreadable = -4;

QByteArray u32(quint32 value);
QByteArray i64(qint64 value);
// The first four or eight bytes; nullopt when fewer arrived.
std::optional<quint32> readU32(const QByteArray& bytes);
std::optional<qint64> readI64(const QByteArray& bytes);

// The archived body of a request: u32 length plus a keyed archive of a dictionary.
platform::Result<QByteArray> frameBody(const QVariantMap& body);
// The dictionary inside an archive; an archive whose root is anything else is an error.
platform::Result<QVariantMap> decodeBody(const QByteArray& archive);

// The upload record, with everything a peer put in it made safe to use as a file name and as
// tags (see TWUploadFileInfo::fromDictionary).
struct TWUploadFileInfo {
    QString name;      // "Name"
    QString extention; // "Extention"
    qint64 size = 0;   // "Size"
    QString from;      // "From"
    QStringList tags;  // "Tags", split at ",", each trimmed
    std::optional<bool> isFolder; // "IsFolder"

    // Nullopt when there is no "Size" (the one field the exchange cannot do without). Names
    // lose '/', '\\', NUL and control characters, "", "." and ".." become "Untitled", the
    // extension is at most 32 bytes without '/' or '.', and Name.Extention fits 255 bytes; tags
    // are at most 64 of at most 255 bytes each, empty ones and control characters dropped;
    // "From" is cut to 255 bytes.
    static std::optional<TWUploadFileInfo> fromDictionary(const QVariantMap& dictionary);
    // The file name the receiver gives the upload: Name, a dot and Extention (Name alone
    // without an extension).
    QString fileName() const;
};

// Text cut to at most maxBytes of UTF-8 at a character boundary.
QString cutToBytes(const QString& text, int maxBytes);

} // namespace TWWire
