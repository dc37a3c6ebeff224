#include "SocketTestSupport.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/ioctl.h>

using namespace sockettest;
using platform::DispatchQueue;

namespace {

// A self-signed certificate for "localhost" and its key, as one PEM text.
QByteArray makeIdentity()
{
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    BIO* mem = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(mem, cert);
    PEM_write_bio_PrivateKey(mem, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long len = BIO_get_mem_data(mem, &data);
    QByteArray pem(data, int(len));
    BIO_free(mem);
    X509_free(cert);
    EVP_PKEY_free(key);
    return pem;
}

int fdOf(const KPAsyncSocketPtr& s)
{
    int fd = -1;
    s->performBlock([&] { fd = s->socketFD(); });
    return fd;
}

} // namespace

TEST(KPAsyncSocketTLS, PlainBeforeTheMarkerTLSAfterItWithNothingLostOnTheWay)
{
    auto serverRec = std::make_shared<Recorder>();
    auto listener = KPAsyncSocket::create(serverRec, DispatchQueue::main());
    ASSERT_TRUE(listener->acceptOnInterface(QStringLiteral("localhost"), 0).has_value());
    auto clientRec = std::make_shared<Recorder>();
    auto client = KPAsyncSocket::create(clientRec, DispatchQueue::main());
    ASSERT_TRUE(client->connectToHost(QStringLiteral("localhost"), listener->localPort()).has_value());
    ASSERT_TRUE(testsupport::spinUntil([&] { return serverRec->accepted.size() == 1; }));
    const KPAsyncSocketPtr server = serverRec->accepted[0];

    const QByteArray big(100 * 1024, 'q');
    client->writeData("plain\n", -1, 1);
    const QVariantMap clientSettings{{KPAsyncSocket::SSLPeerName, QStringLiteral("localhost")},
                                     {KPAsyncSocket::SSLAllowsAnyRoot, true}};
    client->startTLS(clientSettings);
    client->startTLS(clientSettings); // a second start is dropped
    client->writeData(big, -1, 7);
    client->readDataToLength(6, -1, 8);

    // Wait until the client's first TLS record sits behind the plain line, so that the
    // server's read of the line takes both.
    const int serverFD = fdOf(server);
    ASSERT_TRUE(testsupport::spinUntil([&] {
        int n = 0;
        ::ioctl(serverFD, FIONREAD, &n);
        return n > 6;
    }));
    server->readDataToData(KPAsyncSocket::LFData(), -1, 1);
    server->startTLS({{KPAsyncSocket::SSLIsServer, true},
                      {KPAsyncSocket::SSLCertificates, QVariantList{makeIdentity()}},
                      {KPAsyncSocket::SSLCipherSuites, QVariantList{0xC02F}}});
    server->readDataToLength(std::uint64_t(big.size()), -1, 2);
    server->writeData("secret", -1, 3);

    ASSERT_TRUE(testsupport::spinUntil([&] { return serverRec->reads.size() == 2 && clientRec->reads.size() == 1; }));
    EXPECT_EQ(serverRec->reads[0], QByteArray("plain\n"));
    EXPECT_EQ(serverRec->reads[1], big);
    EXPECT_EQ(clientRec->reads[0], QByteArray("secret"));
    EXPECT_EQ(clientRec->writes, (std::vector<long>{1, 7}));
    EXPECT_EQ(serverRec->secured, 1);
    EXPECT_EQ(clientRec->secured, 1);
    EXPECT_TRUE(client->isSecure());

    unsigned cipher = 0;
    server->performBlock([&] {
        auto* ssl = static_cast<SSL*>(server->sslContext());
        cipher = ssl ? unsigned(SSL_CIPHER_get_id(SSL_get_current_cipher(ssl)) & 0xFFFF) : 0;
    });
    EXPECT_EQ(cipher, 0xC02Fu);
    EXPECT_TRUE(clientRec->disconnects.empty());
    client->disconnect();
    ASSERT_TRUE(testsupport::spinUntil([&] { return serverRec->disconnects.size() == 1; }));
    listener->disconnect();
}

TEST(KPAsyncSocketTLS, RefusedLevelsPeersThatCloseMidHandshakeAndGarbageEndInOneError)
{
    {
        ClientAndPeer c;
        c.socket->startTLS({{KPAsyncSocket::SSLLevel, QStringLiteral("kCFStreamSocketSecurityLevelSSLv3")}});
        ASSERT_TRUE(testsupport::spinUntil([&] { return !c.recorder->disconnects.empty(); }));
        ASSERT_TRUE(c.recorder->disconnects[0].has_value());
        EXPECT_EQ(c.recorder->disconnects[0]->code, KPAsyncSocket::OtherError);
        EXPECT_EQ(c.recorder->disconnects[0]->message, QStringLiteral("Error in SSLSetProtocolVersionEnabled"));
    }
    {
        ClientAndPeer c;
        c.socket->startTLS({{KPAsyncSocket::SSLValidatesCertificateChain, false}});
        EXPECT_GT(recvExactly(c.peer, 5).size(), 0); // the start of the client's hello
        ::close(c.peer);
        c.peer = -1;
        ASSERT_TRUE(testsupport::spinUntil([&] { return !c.recorder->disconnects.empty(); }));
        ASSERT_TRUE(c.recorder->disconnects[0].has_value());
        EXPECT_EQ(c.recorder->disconnects[0]->domain, KPAsyncSocket::SSLErrorDomain);
        EXPECT_EQ(c.recorder->disconnects[0]->code, -9806);
    }
    {
        ClientAndPeer c;
        c.socket->startTLS({{KPAsyncSocket::SSLValidatesCertificateChain, false}});
        sendAll(c.peer, QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n"));
        ASSERT_TRUE(testsupport::spinUntil([&] { return !c.recorder->disconnects.empty(); }));
        ASSERT_TRUE(c.recorder->disconnects[0].has_value());
        EXPECT_EQ(c.recorder->disconnects[0]->domain, KPAsyncSocket::SSLErrorDomain);
        settle();
        EXPECT_EQ(c.recorder->disconnects.size(), 1u);
    }
}
