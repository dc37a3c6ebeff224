#include "Platform/DiskImage/SbxContainer.h"

#include <QDataStream>
#include <QtEndian>

namespace platform::sbx {

namespace {

const QByteArray kSlotMagic = QByteArrayLiteral("FOLSBX01");
const QByteArray kPayloadMagic = QByteArrayLiteral("FOLSBXP1");
const QByteArray kSealInfo = QByteArrayLiteral("folivo-sbx seal v1");
constexpr quint8 kKdfScrypt = 1;
constexpr int kMaxVolumeName = 255;
constexpr int kMaxEncryptionName = 64;
constexpr int kDescriptorSize = 8 + 32 + kGcmNonceSize + 32 + kGcmTagSize + 8;

// The slot's fields in their stored order, up to (not including) the wrapped key; also the
// wrapped key's associated data, so no field can be changed without the pass phrase.
QByteArray slotFields(const Slot& slot)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::BigEndian);
    s.writeRawData(kSlotMagic.constData(), 8);
    s << kFormatVersion << slot.sequence;
    s.writeRawData(slot.uuid.constData(), 16);
    s << slot.capacity << kKdfScrypt << slot.kdf.logN << slot.kdf.r << slot.kdf.p;
    s.writeRawData(slot.salt.constData(), 32);
    s.writeRawData(slot.publicKey.constData(), 32);
    s << quint16(slot.volumeName.size());
    s.writeRawData(slot.volumeName.constData(), int(slot.volumeName.size()));
    s << quint16(slot.encryptionName.size());
    s.writeRawData(slot.encryptionName.constData(), int(slot.encryptionName.size()));
    return out;
}

std::optional<Slot> parseSlot(const QByteArray& raw, bool* newer)
{
    QDataStream s(raw);
    s.setByteOrder(QDataStream::BigEndian);
    QByteArray magic(8, '\0');
    if (s.readRawData(magic.data(), 8) != 8 || magic != kSlotMagic)
        return std::nullopt;
    quint32 version = 0;
    s >> version;
    if (version != kFormatVersion) {
        if (version > kFormatVersion)
            *newer = true;
        return std::nullopt;
    }
    Slot slot;
    slot.uuid.resize(16);
    slot.salt.resize(32);
    slot.publicKey.resize(32);
    quint8 kdfId = 0;
    s >> slot.sequence;
    s.readRawData(slot.uuid.data(), 16);
    s >> slot.capacity >> kdfId >> slot.kdf.logN >> slot.kdf.r >> slot.kdf.p;
    s.readRawData(slot.salt.data(), 32);
    s.readRawData(slot.publicKey.data(), 32);
    quint16 nameLength = 0;
    s >> nameLength;
    if (s.status() != QDataStream::Ok || nameLength > kMaxVolumeName)
        return std::nullopt;
    slot.volumeName.resize(nameLength);
    s.readRawData(slot.volumeName.data(), nameLength);
    quint16 encLength = 0;
    s >> encLength;
    if (s.status() != QDataStream::Ok || encLength > kMaxEncryptionName)
        return std::nullopt;
    slot.encryptionName.resize(encLength);
    s.readRawData(slot.encryptionName.data(), encLength);
    slot.wrapNonce.resize(kGcmNonceSize);
    slot.wrappedKey.resize(32 + kGcmTagSize);
    s.readRawData(slot.wrapNonce.data(), kGcmNonceSize);
    s.readRawData(slot.wrappedKey.data(), int(slot.wrappedKey.size()));
    QByteArray digest(32, '\0');
    s.readRawData(digest.data(), 32);
    if (s.status() != QDataStream::Ok || kdfId != kKdfScrypt)
        return std::nullopt;
    const qsizetype covered = slotFields(slot).size() + kGcmNonceSize + slot.wrappedKey.size();
    if (sha256(raw.left(covered)) != digest)
        return std::nullopt;
    return slot;
}

QByteArray be64(quint64 value)
{
    QByteArray out(8, '\0');
    qToBigEndian(value, out.data());
    return out;
}

QByteArray chunkNonce(const QByteArray& prefix, quint64 index)
{
    QByteArray out = prefix;
    out.resize(kGcmNonceSize);
    qToBigEndian(quint32(index), out.data() + 8);
    return out;
}

QByteArray chunkAad(const QByteArray& uuid, quint64 index, bool final)
{
    return uuid + be64(index) + QByteArray(1, final ? '\1' : '\0');
}

QByteArray sealKeySalt(const QByteArray& ephemeralPublic, const QByteArray& boxPublic)
{
    return ephemeralPublic + boxPublic;
}

} // namespace

Error containerError(const QString& message)
{
    return Error{QStringLiteral("SafeBoxContainer"), 1, message};
}

QByteArray encodeSlot(const Slot& slot)
{
    QByteArray out = slotFields(slot) + slot.wrapNonce + slot.wrappedKey;
    out += sha256(out);
    out.resize(kSlotSize, '\0');
    return out;
}

Result<Header> parseHeader(const QByteArray& raw)
{
    if (raw.size() < kHeaderSize)
        return std::unexpected(containerError(QStringLiteral("not a SafeBox container")));
    Header header;
    header.raw = raw.left(kHeaderSize);
    bool newer = false;
    for (int i = 0; i < 2; ++i)
        header.slots[size_t(i)] = parseSlot(raw.mid(i * kSlotSize, kSlotSize), &newer);
    if (!header.slots[0] && !header.slots[1]) {
        if (newer)
            return std::unexpected(containerError(QStringLiteral("the container has a newer format")));
        const bool looksOurs = raw.startsWith(kSlotMagic) || raw.mid(kSlotSize).startsWith(kSlotMagic);
        return std::unexpected(containerError(looksOurs ? QStringLiteral("the container header is damaged")
                                                        : QStringLiteral("not a SafeBox container")));
    }
    if (header.slots[0] && header.slots[1])
        header.active = header.slots[1]->sequence > header.slots[0]->sequence ? 1 : 0;
    else
        header.active = header.slots[0] ? 0 : 1;
    return header;
}

QByteArray Header::currentOnly() const
{
    QByteArray out = raw;
    if (hasStaleSlot())
        out.replace((1 - active) * kSlotSize, kSlotSize, QByteArray(kSlotSize, '\0'));
    return out;
}

Result<Slot> makeSlot(const QByteArray& passphrase, const ScryptParams& kdf, const Slot& base,
                      const QByteArray& privateKey)
{
    Slot slot = base;
    slot.kdf = kdf;
    slot.salt = randomBytes(32);
    slot.wrapNonce = randomBytes(kGcmNonceSize);
    slot.publicKey = x25519PublicOf(privateKey);
    if (slot.salt.isEmpty() || slot.wrapNonce.isEmpty() || slot.publicKey.isEmpty())
        return std::unexpected(containerError(QStringLiteral("no random numbers or key")));
    const auto kek = scrypt(passphrase, slot.salt, kdf);
    if (!kek)
        return std::unexpected(containerError(QStringLiteral("the key derivation failed")));
    const auto wrapped = gcmSeal(kek->bytes(), slot.wrapNonce, slotFields(slot), privateKey.constData(),
                                 privateKey.size());
    if (!wrapped)
        return std::unexpected(containerError(QStringLiteral("the key could not be wrapped")));
    slot.wrappedKey = *wrapped;
    return slot;
}

Result<SecretBytes> unlock(const Slot& slot, const QByteArray& passphrase)
{
    const auto kek = scrypt(passphrase, slot.salt, slot.kdf);
    if (!kek)
        return std::unexpected(containerError(QStringLiteral("the container asks for a key derivation beyond limits")));
    auto key = gcmOpen(kek->bytes(), slot.wrapNonce, slotFields(slot), slot.wrappedKey.constData(),
                       slot.wrappedKey.size());
    if (!key || x25519PublicOf(*key) != slot.publicKey)
        return std::unexpected(containerError(kAuthenticationError));
    return SecretBytes(std::move(*key));
}

SealWriter::SealWriter(QIODevice* out, const QByteArray& uuid, const QByteArray& publicKey)
    : m_out(out), m_uuid(uuid), m_publicKey(publicKey)
{
}

Result<void> SealWriter::begin()
{
    auto ephemeral = x25519Generate();
    if (!ephemeral)
        return std::unexpected(containerError(QStringLiteral("no key for the seal")));
    const auto shared = x25519Agree(ephemeral->privateKey.bytes(), m_publicKey);
    if (!shared)
        return std::unexpected(containerError(QStringLiteral("the container's public key is unusable")));
    const auto wrapKey = hkdfSha256(shared->bytes(), sealKeySalt(ephemeral->publicKey, m_publicKey), kSealInfo, 32);
    m_dataKey = SecretBytes(randomBytes(32));
    m_noncePrefix = randomBytes(8);
    const QByteArray dekNonce = randomBytes(kGcmNonceSize);
    if (!wrapKey || m_dataKey.bytes().size() != 32 || m_noncePrefix.size() != 8 || dekNonce.isEmpty())
        return std::unexpected(containerError(QStringLiteral("no key for the seal")));
    const auto wrapped = gcmSeal(wrapKey->bytes(), dekNonce, m_uuid + kPayloadMagic, m_dataKey.bytes().constData(), 32);
    if (!wrapped)
        return std::unexpected(containerError(QStringLiteral("no key for the seal")));
    const QByteArray descriptor = kPayloadMagic + ephemeral->publicKey + dekNonce + *wrapped + m_noncePrefix;
    if (m_out->write(descriptor) != descriptor.size())
        return std::unexpected(containerError(m_out->errorString()));
    m_buffer.reserve(kChunkSize);
    return {};
}

Result<void> SealWriter::flush(bool final)
{
    if (m_index > 0xFFFFFFFFull)
        return std::unexpected(containerError(QStringLiteral("the payload is too large")));
    const auto sealed = gcmSeal(m_dataKey.bytes(), chunkNonce(m_noncePrefix, m_index),
                                chunkAad(m_uuid, m_index, final), m_buffer.constData(), m_buffer.size());
    if (!sealed)
        return std::unexpected(containerError(QStringLiteral("the payload could not be encrypted")));
    if (m_out->write(*sealed) != sealed->size())
        return std::unexpected(containerError(m_out->errorString()));
    ++m_index;
    m_buffer.clear();
    return {};
}

Result<void> SealWriter::write(const char* data, qsizetype size)
{
    while (size > 0) {
        // A full chunk is only written once more bytes follow: the last chunk must carry the
        // final flag, and it may be a full one.
        if (m_buffer.size() == kChunkSize)
            if (auto r = flush(false); !r)
                return r;
        const qsizetype take = std::min(size, kChunkSize - m_buffer.size());
        m_buffer.append(data, take);
        data += take;
        size -= take;
    }
    return {};
}

Result<void> SealWriter::finish()
{
    return flush(true);
}

OpenReader::OpenReader(QIODevice* in, const QByteArray& uuid, const QByteArray& privateKey)
    : m_in(in), m_uuid(uuid), m_privateKey(privateKey)
{
}

Result<void> OpenReader::begin()
{
    const QByteArray descriptor = m_in->read(kDescriptorSize);
    if (descriptor.size() != kDescriptorSize || !descriptor.startsWith(kPayloadMagic))
        return std::unexpected(containerError(QStringLiteral("the container's payload is damaged")));
    const QByteArray ephemeralPublic = descriptor.mid(8, 32);
    const QByteArray dekNonce = descriptor.mid(40, kGcmNonceSize);
    const QByteArray wrapped = descriptor.mid(40 + kGcmNonceSize, 32 + kGcmTagSize);
    m_noncePrefix = descriptor.right(8);
    const auto shared = x25519Agree(m_privateKey, ephemeralPublic);
    const QByteArray boxPublic = x25519PublicOf(m_privateKey);
    if (!shared)
        return std::unexpected(containerError(QStringLiteral("the container's payload is damaged")));
    const auto wrapKey = hkdfSha256(shared->bytes(), sealKeySalt(ephemeralPublic, boxPublic), kSealInfo, 32);
    const auto dek = wrapKey ? gcmOpen(wrapKey->bytes(), dekNonce, m_uuid + kPayloadMagic, wrapped.constData(),
                                       wrapped.size())
                             : std::nullopt;
    if (!dek)
        return std::unexpected(containerError(QStringLiteral("the container's payload is damaged")));
    m_dataKey = SecretBytes(*dek);
    return {};
}

Result<void> OpenReader::nextChunk()
{
    if (m_final)
        return std::unexpected(containerError(QStringLiteral("the container's payload ends early")));
    if (m_index > 0xFFFFFFFFull)
        return std::unexpected(containerError(QStringLiteral("the container's payload is damaged")));
    const QByteArray sealed = m_in->read(kChunkSize + kGcmTagSize);
    const bool final = m_in->atEnd();
    auto plain = gcmOpen(m_dataKey.bytes(), chunkNonce(m_noncePrefix, m_index), chunkAad(m_uuid, m_index, final),
                         sealed.constData(), sealed.size());
    if (!plain)
        return std::unexpected(containerError(QStringLiteral("the container's payload is damaged or truncated")));
    m_plain = std::move(*plain);
    m_pos = 0;
    m_final = final;
    ++m_index;
    return {};
}

Result<void> OpenReader::read(char* data, qsizetype size)
{
    while (size > 0) {
        if (m_pos == m_plain.size())
            if (auto r = nextChunk(); !r)
                return r;
        const qsizetype take = std::min(size, m_plain.size() - m_pos);
        memcpy(data, m_plain.constData() + m_pos, size_t(take));
        m_pos += take;
        data += take;
        size -= take;
    }
    return {};
}

} // namespace platform::sbx
