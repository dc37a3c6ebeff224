#include "Platform/DiskImage/SbxCrypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <memory>

namespace platform::sbx {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

const unsigned char* u(const QByteArray& bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

} // namespace

SecretBytes::~SecretBytes()
{
    if (!m_bytes.isEmpty())
        OPENSSL_cleanse(m_bytes.data(), size_t(m_bytes.size()));
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept
{
    if (this != &other) {
        if (!m_bytes.isEmpty())
            OPENSSL_cleanse(m_bytes.data(), size_t(m_bytes.size()));
        m_bytes = std::move(other.m_bytes);
    }
    return *this;
}

QByteArray randomBytes(int count)
{
    QByteArray out(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), count) != 1)
        return {};
    return out;
}

bool scryptParamsAcceptable(const ScryptParams& params)
{
    if (params.logN < 1 || params.logN > 22 || params.r < 1 || params.r > 32 || params.p < 1 || params.p > 4)
        return false;
    const quint64 memory = 128ull * params.r * (1ull << params.logN);
    return memory <= kMaxScryptMemory;
}

std::optional<SecretBytes> scrypt(const QByteArray& passphrase, const QByteArray& salt, const ScryptParams& params)
{
    if (!scryptParamsAcceptable(params))
        return std::nullopt;
    QByteArray key(32, '\0');
    const quint64 maxMemory = kMaxScryptMemory + 1024 * 1024;
    if (EVP_PBE_scrypt(passphrase.constData(), size_t(passphrase.size()), u(salt), size_t(salt.size()),
                       1ull << params.logN, params.r, params.p, maxMemory, reinterpret_cast<unsigned char*>(key.data()),
                       size_t(key.size()))
        != 1)
        return std::nullopt;
    return SecretBytes(std::move(key));
}

std::optional<X25519KeyPair> x25519Generate()
{
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519"));
    if (!key)
        return std::nullopt;
    QByteArray priv(32, '\0');
    QByteArray pub(32, '\0');
    size_t privLen = 32;
    size_t pubLen = 32;
    if (EVP_PKEY_get_raw_private_key(key.get(), reinterpret_cast<unsigned char*>(priv.data()), &privLen) != 1
        || EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(pub.data()), &pubLen) != 1
        || privLen != 32 || pubLen != 32)
        return std::nullopt;
    return X25519KeyPair{SecretBytes(std::move(priv)), pub};
}

QByteArray x25519PublicOf(const QByteArray& privateKey)
{
    if (privateKey.size() != 32)
        return {};
    Pkey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, u(privateKey), 32));
    QByteArray pub(32, '\0');
    size_t len = 32;
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(pub.data()), &len) != 1)
        return {};
    return pub;
}

std::optional<SecretBytes> x25519Agree(const QByteArray& privateKey, const QByteArray& peerPublicKey)
{
    if (privateKey.size() != 32 || peerPublicKey.size() != 32)
        return std::nullopt;
    Pkey own(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, u(privateKey), 32));
    Pkey peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, u(peerPublicKey), 32));
    if (!own || !peer)
        return std::nullopt;
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new(own.get(), nullptr));
    size_t len = 32;
    QByteArray secret(32, '\0');
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 || EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) != 1
        || EVP_PKEY_derive(ctx.get(), reinterpret_cast<unsigned char*>(secret.data()), &len) != 1 || len != 32)
        return std::nullopt;
    return SecretBytes(std::move(secret));
}

std::optional<SecretBytes> hkdfSha256(const QByteArray& secret, const QByteArray& salt, const QByteArray& info,
                                      int length)
{
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    if (!kdf)
        return std::nullopt;
    EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
    EVP_KDF_free(kdf);
    if (!ctx)
        return std::nullopt;
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char*>(secret.constData()),
                                          size_t(secret.size())),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.constData()),
                                          size_t(salt.size())),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(info.constData()),
                                          size_t(info.size())),
        OSSL_PARAM_construct_end(),
    };
    QByteArray out(length, '\0');
    const bool ok = EVP_KDF_derive(ctx, reinterpret_cast<unsigned char*>(out.data()), size_t(length), params) == 1;
    EVP_KDF_CTX_free(ctx);
    if (!ok)
        return std::nullopt;
    return SecretBytes(std::move(out));
}

std::optional<QByteArray> gcmSeal(const QByteArray& key, const QByteArray& nonce, const QByteArray& aad,
                                  const char* plain, qsizetype size)
{
    if (key.size() != 32 || nonce.size() != kGcmNonceSize)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    QByteArray out(size + kGcmTagSize, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    int len = 0;
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, u(key), u(nonce)) != 1)
        return std::nullopt;
    if (!aad.isEmpty() && EVP_EncryptUpdate(ctx.get(), nullptr, &len, u(aad), int(aad.size())) != 1)
        return std::nullopt;
    int written = 0;
    if (size > 0) {
        if (EVP_EncryptUpdate(ctx.get(), o, &len, reinterpret_cast<const unsigned char*>(plain), int(size)) != 1)
            return std::nullopt;
        written = len;
    }
    if (EVP_EncryptFinal_ex(ctx.get(), o + written, &len) != 1)
        return std::nullopt;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kGcmTagSize, o + size) != 1)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> gcmOpen(const QByteArray& key, const QByteArray& nonce, const QByteArray& aad,
                                  const char* sealed, qsizetype size)
{
    if (key.size() != 32 || nonce.size() != kGcmNonceSize || size < kGcmTagSize)
        return std::nullopt;
    const qsizetype plainSize = size - kGcmTagSize;
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    QByteArray out(plainSize, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    int len = 0;
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, u(key), u(nonce)) != 1)
        return std::nullopt;
    if (!aad.isEmpty() && EVP_DecryptUpdate(ctx.get(), nullptr, &len, u(aad), int(aad.size())) != 1)
        return std::nullopt;
    if (plainSize > 0
        && EVP_DecryptUpdate(ctx.get(), o, &len, reinterpret_cast<const unsigned char*>(sealed), int(plainSize)) != 1)
        return std::nullopt;
    QByteArray tag(sealed + plainSize, kGcmTagSize);
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kGcmTagSize, tag.data()) != 1)
        return std::nullopt;
    if (EVP_DecryptFinal_ex(ctx.get(), o + len, &len) != 1) {
        OPENSSL_cleanse(out.data(), size_t(out.size()));
        return std::nullopt;
    }
    return out;
}

QByteArray sha256(const QByteArray& bytes)
{
    QByteArray out(SHA256_DIGEST_LENGTH, '\0');
    SHA256(u(bytes), size_t(bytes.size()), reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

} // namespace platform::sbx
