// The SafeBox container file: an 8 KiB header of two 4 KiB slots, then a payload sealed to the
// box's public key in a chunked AEAD stream.
//
// Why two slots: a pass-phrase change or a resize writes the slot that is not in use with the
// next sequence number and syncs it, so a crash in the middle leaves the older slot valid; the
// reader takes the valid slot with the highest sequence. Once that slot has been written whole
// (its digest holds) it is the box's current one, and the other is wiped: by the change itself,
// or, when that was killed first, by the next attach or seal. Each slot holds the scrypt parameters
// and salt, the capacity and an X25519 key pair whose private half is wrapped (AES-256-GCM) by
// the key scrypt derives from the pass phrase, with the slot's fields as associated data.
//
// Why a public key: the sealer writes the container again after every change while the box is
// open, and it must do so without the pass phrase. Each seal draws a fresh data key, wraps it
// with HKDF over an ephemeral X25519 agreement with the box's public key, and encrypts the
// payload in 64 KiB chunks whose nonce and associated data carry the chunk index and a final
// flag, so truncation, reordering and tampering all fail the tag.
//
// The layout is frozen once shipped: a new layout gets a new version number, and this reader
// says "newer format" for versions it does not know instead of guessing.
#pragma once

#include "Platform/DiskImage/SbxCrypto.h"
#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <array>
#include <optional>

namespace platform::sbx {

inline constexpr int kSlotSize = 4096;
inline constexpr int kHeaderSize = 2 * kSlotSize;
inline constexpr qsizetype kChunkSize = 64 * 1024;
inline constexpr quint32 kFormatVersion = 1;

struct Slot {
    quint64 sequence = 0;
    QByteArray uuid; // 16 bytes
    quint64 capacity = 0;
    QByteArray volumeName;
    QByteArray encryptionName;
    ScryptParams kdf;
    QByteArray salt;       // 32 bytes
    QByteArray publicKey;  // 32 bytes
    QByteArray wrapNonce;  // 12 bytes
    QByteArray wrappedKey; // 32 bytes + 16-byte tag
};

struct Header {
    std::array<std::optional<Slot>, 2> slots;
    int active = 0;
    QByteArray raw; // the 8 KiB as read, copied unchanged into every seal

    const Slot& current() const { return *slots[size_t(active)]; }
    // Whether the slot beside the current one still opens with the pass phrase it was made for
    // (a change or resize killed before it wiped it).
    bool hasStaleSlot() const { return slots[0] && slots[1]; }
    // raw with the stale slot, if any, turned to zeros.
    QByteArray currentOnly() const;
};

// The error texts callers look for.
inline const QString kAuthenticationError = QStringLiteral("Authentication error");

Result<Header> parseHeader(const QByteArray& raw);
QByteArray encodeSlot(const Slot& slot);

// A slot for the given private key, wrapped under a key derived from passphrase with a new salt.
Result<Slot> makeSlot(const QByteArray& passphrase, const ScryptParams& kdf, const Slot& base,
                      const QByteArray& privateKey);
// The slot's private key, or "Authentication error" when passphrase is not the box's.
Result<SecretBytes> unlock(const Slot& slot, const QByteArray& passphrase);

// Writes a sealed payload to a device positioned just after the header.
class SealWriter {
public:
    SealWriter(QIODevice* out, const QByteArray& uuid, const QByteArray& publicKey);
    Result<void> begin();
    Result<void> write(const char* data, qsizetype size);
    Result<void> finish();

private:
    Result<void> flush(bool final);

    QIODevice* m_out;
    QByteArray m_uuid;
    QByteArray m_publicKey;
    SecretBytes m_dataKey;
    QByteArray m_noncePrefix;
    QByteArray m_buffer;
    quint64 m_index = 0;
};

// Reads a sealed payload from a device positioned just after the header. Every byte handed out
// has passed its chunk's tag; the end of the stream is only reported after the final chunk.
class OpenReader {
public:
    OpenReader(QIODevice* in, const QByteArray& uuid, const QByteArray& privateKey);
    Result<void> begin();
    // Exactly size bytes, or an error (damaged container, or the payload ended early).
    Result<void> read(char* data, qsizetype size);
    // Whether the final chunk has been read and consumed whole.
    bool atEnd() const { return m_final && m_pos == m_plain.size(); }

private:
    Result<void> nextChunk();

    QIODevice* m_in;
    QByteArray m_uuid;
    QByteArray m_privateKey;
    SecretBytes m_dataKey;
    QByteArray m_noncePrefix;
    QByteArray m_plain;
    qsizetype m_pos = 0;
    quint64 m_index = 0;
    bool m_final = false;
};

Error containerError(const QString& message);

} // namespace platform::sbx
