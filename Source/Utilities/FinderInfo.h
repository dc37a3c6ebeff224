// The Finder information of an item: the 32 bytes macOS keeps with every file and folder
// (type, creator, Finder flags, icon position and a reserved word, then 16 extended bytes).
//
// Linux has no such record, but file servers and archivers that carry Mac files over (Samba,
// netatalk, the zip and tar tools) keep it in the extended attribute "com.apple.FinderInfo",
// which XAttr stores as "user.com.apple.FinderInfo". The program reads its flags from there, so
// labels, alias and bundle bits of copied Mac files survive, and an item without the attribute
// simply reads as all zero. Multi-byte fields are big-endian, as on the Mac.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

class FinderInfo {
public:
    static constexpr int kSize = 32;
    static inline const QString kAttributeName = QStringLiteral("com.apple.FinderInfo");

    // Bits of the Finder-flags word.
    static constexpr quint16 kColorMask = 0x000E;
    static constexpr quint16 kHasBeenInited = 0x0100;
    static constexpr quint16 kHasCustomIcon = 0x0400;
    static constexpr quint16 kHasBundle = 0x2000;
    static constexpr quint16 kIsInvisible = 0x4000;
    static constexpr quint16 kIsAlias = 0x8000;

    FinderInfo() : m_bytes(kSize, '\0') {}
    explicit FinderInfo(const QByteArray& bytes);

    // The item's Finder information (the link itself, never its target): all zero when it has
    // none or its file system keeps no user attributes; nothing when the item is missing or its
    // attributes cannot be read.
    static std::optional<FinderInfo> read(const QString& path);
    // Stores the record; an all-zero record removes the attribute instead.
    platform::Result<void> write(const QString& path) const;

    QByteArray fileType() const { return m_bytes.left(4); }
    QByteArray fileCreator() const { return m_bytes.mid(4, 4); }
    void setFileType(const QByteArray& fourChars);
    void setFileCreator(const QByteArray& fourChars);

    quint16 flags() const { return word(8); }
    void setFlags(quint16 flags) { setWord(8, flags); }
    bool hasFlag(quint16 bit) const { return (flags() & bit) != 0; }
    // The colour label 0-7 of the flags.
    int label() const { return (flags() >> 1) & 7; }

    void setLocation(qint16 vertical, qint16 horizontal);
    // The word at the end of the first 16 bytes.
    quint16 reservedWord() const { return word(14); }
    void setReservedWord(quint16 value) { setWord(14, value); }

    const QByteArray& bytes() const { return m_bytes; }
    bool isZero() const { return m_bytes.count('\0') == kSize; }

private:
    quint16 word(int offset) const;
    void setWord(int offset, quint16 value);

    QByteArray m_bytes;
};
