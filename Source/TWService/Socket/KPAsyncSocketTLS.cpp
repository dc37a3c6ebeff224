// TLS on a connected socket, over OpenSSL: the marker in both queues, the handshake, reads and
// writes through the TLS layer, and the settings keys.
#include "TWService/Socket/KPAsyncSocketTLS.h"

#include "TWService/Socket/KPAsyncSocket.h"
#include "TWService/Socket/KPAsyncSocketFlags.h"
#include "TWService/Socket/KPAsyncSocketPackets.h"

#include <QVariantList>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kpsocket;
using platform::Error;

namespace {

constexpr int errSSLProtocol = -9800;
constexpr std::size_t kMaxTLSWrite = 32768;
int appDataIndex = -1;

KPAsyncSocketTLS* tlsOf(X509_STORE_CTX* store)
{
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    return ssl ? static_cast<KPAsyncSocketTLS*>(SSL_get_ex_data(ssl, appDataIndex)) : nullptr;
}

// The trust options loosen only the checks they name.
int verifyCallback(int ok, X509_STORE_CTX* store)
{
    if (ok)
        return 1;
    const KPAsyncSocketTLS* tls = tlsOf(store);
    if (!tls)
        return 0;
    switch (X509_STORE_CTX_get_error(store)) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return tls->allowsAnyRoot ? 1 : 0;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        if (X509_STORE_CTX_get_error_depth(store) == 0)
            return tls->allowsExpiredCertificates ? 1 : 0;
        return tls->allowsExpiredRoots ? 1 : 0;
    default:
        return 0;
    }
}

bool applyCertificates(SSL* ssl, const QVariantList& items)
{
    for (const QVariant& item : items) {
        const QByteArray bytes = item.toByteArray();
        if (bytes.isEmpty())
            return false;
        if (bytes.contains("-----BEGIN")) {
            BIO* mem = BIO_new_mem_buf(bytes.constData(), int(bytes.size()));
            bool first = true;
            while (X509* cert = PEM_read_bio_X509(mem, nullptr, nullptr, nullptr)) {
                const bool ok = first ? SSL_use_certificate(ssl, cert) == 1 : SSL_add1_chain_cert(ssl, cert) == 1;
                X509_free(cert);
                if (!ok) {
                    BIO_free(mem);
                    return false;
                }
                first = false;
            }
            ERR_clear_error();
            BIO_free(mem);
            mem = BIO_new_mem_buf(bytes.constData(), int(bytes.size()));
            EVP_PKEY* key = PEM_read_bio_PrivateKey(mem, nullptr, nullptr, nullptr);
            BIO_free(mem);
            ERR_clear_error();
            if (key) {
                const bool ok = SSL_use_PrivateKey(ssl, key) == 1;
                EVP_PKEY_free(key);
                if (!ok)
                    return false;
            }
            continue;
        }
        // PKCS#12 without a pass phrase.
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.constData());
        PKCS12* p12 = d2i_PKCS12(nullptr, &p, long(bytes.size()));
        if (!p12)
            return false;
        EVP_PKEY* key = nullptr;
        X509* cert = nullptr;
        STACK_OF(X509)* chain = nullptr;
        const bool parsed = PKCS12_parse(p12, "", &key, &cert, &chain) == 1;
        PKCS12_free(p12);
        bool ok = parsed && cert && key && SSL_use_certificate(ssl, cert) == 1 && SSL_use_PrivateKey(ssl, key) == 1;
        for (int i = 0; ok && chain && i < sk_X509_num(chain); ++i)
            ok = SSL_add1_chain_cert(ssl, sk_X509_value(chain, i)) == 1;
        X509_free(cert);
        EVP_PKEY_free(key);
        sk_X509_pop_free(chain, X509_free);
        if (!ok)
            return false;
    }
    return true;
}

bool applyCiphers(SSL* ssl, const QVariantList& numbers)
{
    QByteArray tls12, tls13;
    for (const QVariant& n : numbers) {
        bool ok = false;
        const qulonglong value = n.toULongLong(&ok);
        if (!ok || value > 0xFFFF)
            return false;
        // Two big-endian bytes, never a sign-extended value.
        const unsigned char code[2] = {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value & 0xFF)};
        const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, code);
        if (!cipher)
            return false;
        const bool isTLS13 = value >= 0x1301 && value <= 0x1305;
        QByteArray& list = isTLS13 ? tls13 : tls12;
        if (!list.isEmpty())
            list += ':';
        list += isTLS13 ? SSL_CIPHER_standard_name(cipher) : SSL_CIPHER_get_name(cipher);
    }
    if (!tls12.isEmpty() && SSL_set_cipher_list(ssl, tls12.constData()) != 1)
        return false;
    // The TLS 1.3 suites are a list of their own. Naming none of them leaves only TLS 1.2:
    // OpenSSL settles the version before the suite and would otherwise find no cipher.
    if (tls13.isEmpty())
        return SSL_set_max_proto_version(ssl, TLS1_2_VERSION) == 1;
    if (SSL_set_ciphersuites(ssl, tls13.constData()) != 1)
        return false;
    return !tls12.isEmpty() || SSL_set_min_proto_version(ssl, TLS1_3_VERSION) == 1;
}

bool applyDHParameters(SSL_CTX* ctx, const QByteArray& bytes)
{
    BIO* mem = BIO_new_mem_buf(bytes.constData(), int(bytes.size()));
    EVP_PKEY* params = PEM_read_bio_Parameters(mem, nullptr);
    BIO_free(mem);
    if (!params) {
        ERR_clear_error();
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.constData());
        params = d2i_KeyParams(EVP_PKEY_DH, nullptr, &p, long(bytes.size()));
    }
    if (!params)
        return false;
    if (SSL_CTX_set0_tmp_dh_pkey(ctx, params) != 1) {
        EVP_PKEY_free(params);
        return false;
    }
    return true;
}

long bioCtrl(BIO*, int cmd, long, void*)
{
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

} // namespace

KPAsyncSocketTLS::~KPAsyncSocketTLS()
{
    if (ssl)
        SSL_free(ssl); // frees the BIO it owns
    if (ctx)
        SSL_CTX_free(ctx);
}

int KPAsyncSocketTLS::statusFor(int result) const
{
    switch (SSL_get_error(ssl, result)) {
    case SSL_ERROR_NONE:
        return noErr;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return errSSLWouldBlock;
    case SSL_ERROR_ZERO_RETURN:
        return errSSLClosedGraceful;
    case SSL_ERROR_SYSCALL:
        return errSSLClosedAbort;
    default:
        // OpenSSL reports a peer that vanished without a close_notify as a protocol error.
        return transportEnded ? errSSLClosedAbort : errSSLProtocol;
    }
}

BIO_METHOD* KPAsyncSocketTLS::bioMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "KPAsyncSocket");
        BIO_meth_set_read(m, &KPAsyncSocketTLS::bioRead);
        BIO_meth_set_write(m, &KPAsyncSocketTLS::bioWrite);
        BIO_meth_set_ctrl(m, bioCtrl);
        BIO_meth_set_create(m, bioCreate);
        return m;
    }();
    return method;
}

int KPAsyncSocketTLS::bioRead(BIO* bio, char* into, int n)
{
    BIO_clear_retry_flags(bio);
    auto* tls = static_cast<KPAsyncSocketTLS*>(BIO_get_data(bio));
    KPAsyncSocket* s = tls->socket;
    Q_ASSERT_X(s->isOnSocketQueue(), "KPAsyncSocket", "What the deuce?");
    if (n <= 0)
        return 0;
    const std::size_t wanted = std::size_t(n);
    KPAsyncSocketPreBuffer& pre = *s->m_sslPreBuffer;
    if (s->m_socketFDBytesAvailable == 0 && pre.availableBytes() == 0) {
        s->resumeReadSource();
        BIO_set_retry_read(bio);
        return -1;
    }
    std::size_t total = 0;
    if (pre.availableBytes() > 0) {
        const std::size_t take = std::min(wanted, pre.availableBytes());
        std::memcpy(into, pre.readBuffer(), take);
        pre.didRead(take);
        total = take;
        if (total == wanted)
            return int(total);
    }
    bool ended = false;
    if (s->m_socketFDBytesAvailable > 0) {
        const int fd = s->m_socket6FD >= 0 ? s->m_socket6FD : s->m_socket4FD;
        const std::size_t needed = wanted - total;
        ssize_t r;
        if (s->m_socketFDBytesAvailable > needed) {
            // Take everything waiting; what this call does not need waits in the pre-buffer.
            const std::size_t all = std::size_t(s->m_socketFDBytesAvailable);
            pre.ensureCapacityForWrite(all);
            do {
                r = ::recv(fd, pre.writeBuffer(), all, 0);
            } while (r < 0 && errno == EINTR);
            if (r > 0) {
                pre.didWrite(std::size_t(r));
                const std::size_t take = std::min(needed, pre.availableBytes());
                std::memcpy(into + total, pre.readBuffer(), take);
                pre.didRead(take);
                total += take;
            }
        } else {
            do {
                r = ::recv(fd, into + total, needed, 0);
            } while (r < 0 && errno == EINTR);
            if (r > 0)
                total += std::size_t(r);
        }
        if (r < 0) {
            s->m_socketFDBytesAvailable = 0;
            ended = errno != EWOULDBLOCK && errno != EAGAIN;
        } else if (r == 0) {
            s->m_socketFDBytesAvailable = 0;
            ended = true;
        } else {
            s->m_socketFDBytesAvailable -= std::min<std::uint64_t>(s->m_socketFDBytesAvailable, std::uint64_t(r));
        }
    }
    if (ended)
        tls->transportEnded = true;
    if (total > 0)
        return int(total);
    if (ended)
        return 0; // end of stream: OpenSSL reports the session as ended
    BIO_set_retry_read(bio);
    return -1;
}

int KPAsyncSocketTLS::bioWrite(BIO* bio, const char* from, int n)
{
    BIO_clear_retry_flags(bio);
    auto* tls = static_cast<KPAsyncSocketTLS*>(BIO_get_data(bio));
    KPAsyncSocket* s = tls->socket;
    Q_ASSERT_X(s->isOnSocketQueue(), "KPAsyncSocket", "What the deuce?");
    if (!(s->m_flags & kSocketCanAcceptBytes)) {
        s->resumeWriteSource();
        BIO_set_retry_write(bio);
        return -1;
    }
    const int fd = s->m_socket4FD >= 0 ? s->m_socket4FD : s->m_socket6FD;
    ssize_t r;
    do {
        r = ::send(fd, from, std::size_t(n), MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    if (r > 0)
        return int(r);
    s->m_flags &= ~kSocketCanAcceptBytes;
    if (r < 0 && errno != EWOULDBLOCK && errno != EAGAIN) {
        tls->transportEnded = true;
        return -1;
    }
    s->resumeWriteSource();
    BIO_set_retry_write(bio);
    return -1;
}

// ---- on the socket

void KPAsyncSocket::maybeStartTLS()
{
    if ((m_flags & kStartingReadTLS) && (m_flags & kStartingWriteTLS))
        sslStartTLS();
}

void KPAsyncSocket::sslStartTLS()
{
    const auto marker = std::get<std::shared_ptr<KPAsyncSpecialPacket>>(*m_currentRead);
    const QVariantMap& settings = marker->tlsSettings;
    const bool isServer = settings.value(SSLIsServer).toBool();

    auto tls = std::make_unique<KPAsyncSocketTLS>(this);
    tls->ctx = SSL_CTX_new(isServer ? TLS_server_method() : TLS_client_method());
    if (!tls->ctx) {
        closeWithError(otherError(QStringLiteral("Error in SSLNewContext")));
        return;
    }
    tls->ssl = SSL_new(tls->ctx);
    BIO* bio = tls->ssl ? BIO_new(KPAsyncSocketTLS::bioMethod()) : nullptr;
    if (!bio) {
        closeWithError(otherError(QStringLiteral("Error in SSLSetIOFuncs")));
        return;
    }
    BIO_set_data(bio, tls.get());
    SSL_set_bio(tls->ssl, bio, bio);
    static std::once_flag indexOnce;
    std::call_once(indexOnce, [] { appDataIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
    if (SSL_set_ex_data(tls->ssl, appDataIndex, tls.get()) != 1) {
        closeWithError(otherError(QStringLiteral("Error in SSLSetConnection")));
        return;
    }
    SSL_set_mode(tls->ssl, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (isServer)
        SSL_set_accept_state(tls->ssl);
    else
        SSL_set_connect_state(tls->ssl);

    auto fail = [this](const char* message) { closeWithError(otherError(QString::fromLatin1(message))); };
    // A client checks the peer against the system's authorities unless told otherwise.
    bool validate = !isServer;
    if (settings.contains(SSLPeerName) && settings.value(SSLPeerName).typeId() == QMetaType::QString) {
        const QByteArray name = settings.value(SSLPeerName).toString().toUtf8();
        if (SSL_set_tlsext_host_name(tls->ssl, name.constData()) != 1 || SSL_set1_host(tls->ssl, name.constData()) != 1)
            return fail("Error in SSLSetPeerDomainName");
    }
    if (settings.contains(SSLAllowsAnyRoot))
        tls->allowsAnyRoot = settings.value(SSLAllowsAnyRoot).toBool();
    if (settings.contains(SSLAllowsExpiredRoots))
        tls->allowsExpiredRoots = settings.value(SSLAllowsExpiredRoots).toBool();
    if (settings.contains(SSLValidatesCertificateChain))
        validate = settings.value(SSLValidatesCertificateChain).toBool();
    if (settings.contains(SSLAllowsExpiredCertificates))
        tls->allowsExpiredCertificates = settings.value(SSLAllowsExpiredCertificates).toBool();
    if (validate) {
        if (SSL_CTX_set_default_verify_paths(tls->ctx) != 1)
            return fail("Error in SSLSetEnableCertVerify");
        SSL_set_verify(tls->ssl, SSL_VERIFY_PEER, verifyCallback);
    } else {
        SSL_set_verify(tls->ssl, SSL_VERIFY_NONE, nullptr);
    }
    if (settings.contains(SSLCertificates) && !applyCertificates(tls->ssl, settings.value(SSLCertificates).toList()))
        return fail("Error in SSLSetCertificate");
    if (settings.contains(SSLLevel)) {
        const QString level = settings.value(SSLLevel).toString();
        if (level == QLatin1String("kCFStreamSocketSecurityLevelSSLv2")
            || level == QLatin1String("kCFStreamSocketSecurityLevelSSLv3")) {
            return fail("Error in SSLSetProtocolVersionEnabled"); // gone from OpenSSL
        }
        if (level == QLatin1String("kCFStreamSocketSecurityLevelTLSv1")
            && SSL_set_min_proto_version(tls->ssl, TLS1_2_VERSION) != 1)
            return fail("Error in SSLSetProtocolVersionEnabled");
    }
    if (settings.contains(SSLCipherSuites) && !applyCiphers(tls->ssl, settings.value(SSLCipherSuites).toList()))
        return fail("Error in SSLSetEnabledCiphers");
    if (settings.contains(SSLDiffieHellmanParameters)
        && !applyDHParameters(tls->ctx, settings.value(SSLDiffieHellmanParameters).toByteArray()))
        return fail("Error in SSLSetDiffieHellmanParams");
    ERR_clear_error();

    // Bytes read ahead of the last plain read may already be the peer's first TLS record.
    m_sslPreBuffer = std::make_unique<KPAsyncSocketPreBuffer>(4096);
    const std::size_t waiting = m_preBuffer->availableBytes();
    if (waiting > 0) {
        m_sslPreBuffer->ensureCapacityForWrite(waiting);
        std::memcpy(m_sslPreBuffer->writeBuffer(), m_preBuffer->readBuffer(), waiting);
        m_sslPreBuffer->didWrite(waiting);
        m_preBuffer->didRead(waiting);
    }
    m_ssl = std::move(tls);
    m_sslErrCode = 0;
    m_sslWriteCachedLength = 0;
    sslContinueSSLHandshake();
}

void KPAsyncSocket::sslContinueSSLHandshake()
{
    if (!m_ssl)
        return;
    const int r = SSL_do_handshake(m_ssl->ssl);
    if (r == 1) {
        m_flags &= ~(kStartingReadTLS | kStartingWriteTLS);
        m_flags |= kSocketSecure;
        notifyDelegate([](KPAsyncSocketDelegate& d, const KPAsyncSocketPtr& s) { d.socketDidSecure(s); });
        endCurrentRead();
        endCurrentWrite();
        maybeDequeueRead();
        maybeDequeueWrite();
        return;
    }
    const int status = m_ssl->statusFor(r);
    if (status != errSSLWouldBlock) {
        char reason[256] = {};
        ERR_error_string_n(ERR_peek_error(), reason, sizeof reason);
        qWarning("KPAsyncSocket: TLS handshake failed (%d): %s", status, reason);
    }
    ERR_clear_error();
    if (status != errSSLWouldBlock)
        closeWithError(sslError(status));
}

void KPAsyncSocket::sslCloseContext()
{
    if (m_ssl) {
        SSL_shutdown(m_ssl->ssl); // a best-effort close_notify; the descriptor closes anyway
        ERR_clear_error();
        m_ssl.reset();
    }
}

void* KPAsyncSocket::sslContext() const
{
    return isOnSocketQueue() && m_ssl ? m_ssl->ssl : nullptr;
}

std::size_t KPAsyncSocket::sslBufferedReadCount() const
{
    return m_ssl ? std::size_t(std::max(0, SSL_pending(m_ssl->ssl))) : 0;
}

int KPAsyncSocket::sslRead(char* into, std::size_t n, std::size_t* got)
{
    *got = 0;
    if (!m_ssl)
        return errSSLClosedAbort;
    while (*got < n) {
        std::size_t read = 0;
        if (SSL_read_ex(m_ssl->ssl, into + *got, n - *got, &read) != 1) {
            const int status = m_ssl->statusFor(0);
            ERR_clear_error();
            return status;
        }
        *got += read;
    }
    return noErr;
}

int KPAsyncSocket::sslWrite(const char* from, std::size_t n, std::size_t* written)
{
    *written = 0;
    if (!m_ssl)
        return errSSLClosedAbort;
    if (m_sslWriteCachedLength > 0) {
        // OpenSSL holds that record: the retry names the same bytes again.
        std::size_t w = 0;
        if (SSL_write_ex(m_ssl->ssl, from, std::size_t(m_sslWriteCachedLength), &w) != 1) {
            const int status = m_ssl->statusFor(0);
            ERR_clear_error();
            return status;
        }
        *written = std::size_t(m_sslWriteCachedLength);
        m_sslWriteCachedLength = 0;
    }
    while (*written < n) {
        const std::size_t piece = std::min(kMaxTLSWrite, n - *written);
        std::size_t w = 0;
        if (SSL_write_ex(m_ssl->ssl, from + *written, piece, &w) != 1) {
            const int status = m_ssl->statusFor(0);
            ERR_clear_error();
            if (status == errSSLWouldBlock)
                m_sslWriteCachedLength = piece;
            return status;
        }
        *written += piece;
    }
    return noErr;
}

void KPAsyncSocket::flushSSLBuffers()
{
    Q_ASSERT_X(m_flags & kSocketSecure, "KPAsyncSocket", "Cannot flush ssl buffers on non-secure socket");
    if (m_preBuffer->availableBytes() > 0 || !m_ssl)
        return;
    auto estimate = [this] {
        return m_socketFDBytesAvailable + (m_sslPreBuffer ? m_sslPreBuffer->availableBytes() : 0) + sslBufferedReadCount();
    };
    for (std::uint64_t e = estimate(); e > 0; e = estimate()) {
        m_preBuffer->ensureCapacityForWrite(std::size_t(e));
        std::size_t got = 0;
        const int status = sslRead(m_preBuffer->writeBuffer(), std::size_t(e), &got);
        m_preBuffer->didWrite(got);
        if (status != noErr)
            break;
    }
}

