// The reading side of the zip format: the end record (with its 64-bit form), the central
// directory and the local headers, read by hand. The minizip that Debian ships cannot open an
// archive without entries, ignores the 64-bit sizes of members of 4 GiB and more, and does not
// tell where a member's bytes lie, which extraction needs to refuse members that share data.
//
// Archives come from the network: every length and offset is checked against the file before
// it is used, and anything that does not fit is an error, never a guess.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <vector>

struct ZipEntry {
    // Decoded (see decodeName) with "\" turned into "/"; may still be unsafe to write.
    QString name;
    quint16 versionMadeBy = 0;
    quint16 flags = 0;
    quint16 method = 0;
    // The 32-bit date-and-time field as stored.
    quint32 dateField = 0;
    quint32 crc = 0;
    quint32 externalAttributes = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    // Position of the local header in the file, bytes in front of the archive included.
    quint64 localHeaderOffset = 0;

    static constexpr quint16 kFlagEncrypted = 0x1;
    static constexpr quint16 kFlagDataDescriptor = 0x8;
    static constexpr quint16 kFlagUtf8 = 0x800;
    static constexpr quint16 kMethodStored = 0;
    static constexpr quint16 kMethodDeflated = 8;

    bool isFolder() const { return name.endsWith(QLatin1Char('/')); }
    bool isEncrypted() const { return (flags & kFlagEncrypted) != 0; }
    // A symbolic link stored by a Unix host.
    bool isLink() const;
};

class ZipCentralDirectory {
public:
    static platform::Result<ZipCentralDirectory> read(QIODevice& archive);

    const std::vector<ZipEntry>& entries() const { return m_entries; }
    // Where the central directory begins: every member's bytes end at or before it.
    quint64 centralDirectoryOffset() const { return m_centralDirectoryOffset; }

    // Where the entry's data begins, past its local header.
    static platform::Result<quint64> dataOffset(QIODevice& archive, const ZipEntry& entry);

    // A name with the UTF-8 flag is UTF-8. Without it: the Info-ZIP Unicode path field when
    // one matches the name; else the bytes as UTF-8 when they are valid UTF-8 (what Info-ZIP's
    // zip on Unix, macOS and earlier copies of this program write without setting the flag);
    // else code page 437, the format's original character set. A flagged name that is not
    // valid UTF-8 is an error.
    static platform::Result<QString> decodeName(const QByteArray& raw, quint16 flags, const QByteArray& extra);

private:
    std::vector<ZipEntry> m_entries;
    quint64 m_centralDirectoryOffset = 0;
};
