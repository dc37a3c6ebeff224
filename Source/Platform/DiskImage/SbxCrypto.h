// The few OpenSSL 3 primitives the SafeBox container is built from, with the key material kept
// in buffers that are wiped when they go.
//
// Every call answers an empty value (or false) on failure instead of throwing: the container
// code turns that into the tool's own failure text.
#pragma once

#include <QByteArray>
#include <optional>

namespace platform::sbx {

// A byte buffer that is cleansed on destruction; for keys and pass phrases.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    ~SecretBytes();
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    SecretBytes(SecretBytes&& other) noexcept : m_bytes(std::move(other.m_bytes)) {}
    SecretBytes& operator=(SecretBytes&& other) noexcept;

    const QByteArray& bytes() const { return m_bytes; }
    bool isEmpty() const { return m_bytes.isEmpty(); }

private:
    QByteArray m_bytes;
};

QByteArray randomBytes(int count);

// The cost of one scrypt run; the reader refuses anything above kMaxScryptMemory so that a
// hostile header cannot make an attach allocate without bound.
struct ScryptParams {
    quint8 logN = 16;
    quint32 r = 8;
    quint32 p = 1;
};
inline constexpr quint64 kMaxScryptMemory = 256ull * 1024 * 1024;
bool scryptParamsAcceptable(const ScryptParams& params);
std::optional<SecretBytes> scrypt(const QByteArray& passphrase, const QByteArray& salt, const ScryptParams& params);

struct X25519KeyPair {
    SecretBytes privateKey; // 32 raw bytes
    QByteArray publicKey;   // 32 raw bytes
};
std::optional<X25519KeyPair> x25519Generate();
// The shared secret of our private key and a peer's public key.
std::optional<SecretBytes> x25519Agree(const QByteArray& privateKey, const QByteArray& peerPublicKey);
// The public key belonging to a raw private key.
QByteArray x25519PublicOf(const QByteArray& privateKey);

std::optional<SecretBytes> hkdfSha256(const QByteArray& secret, const QByteArray& salt, const QByteArray& info,
                                      int length);

inline constexpr int kGcmNonceSize = 12;
inline constexpr int kGcmTagSize = 16;
// Ciphertext followed by the 16-byte tag.
std::optional<QByteArray> gcmSeal(const QByteArray& key, const QByteArray& nonce, const QByteArray& aad,
                                  const char* plain, qsizetype size);
// Empty when the tag does not match (wrong key, tampering, wrong associated data).
std::optional<QByteArray> gcmOpen(const QByteArray& key, const QByteArray& nonce, const QByteArray& aad,
                                  const char* sealed, qsizetype size);

QByteArray sha256(const QByteArray& bytes);

} // namespace platform::sbx
