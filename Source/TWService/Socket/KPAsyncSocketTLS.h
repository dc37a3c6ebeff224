// The TLS state of one connection: an OpenSSL context and session whose transport is a BIO that
// pulls from and pushes to the socket's own descriptor (through the socket's TLS pre-buffer), so
// that TLS runs inside the socket's read and write steps on the socket queue.
#pragma once

#include <openssl/ssl.h>

class KPAsyncSocket;

struct KPAsyncSocketTLS {
    explicit KPAsyncSocketTLS(KPAsyncSocket* owner) : socket(owner) {}
    ~KPAsyncSocketTLS();
    KPAsyncSocketTLS(const KPAsyncSocketTLS&) = delete;
    KPAsyncSocketTLS& operator=(const KPAsyncSocketTLS&) = delete;

    KPAsyncSocket* socket;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    bool transportEnded = false; // the descriptor hit an error or the end of stream
    bool allowsAnyRoot = false;
    bool allowsExpiredRoots = false;
    bool allowsExpiredCertificates = false;

    // The TLS status of the last call's SSL_get_error.
    int statusFor(int sslResult) const;

    // The transport: pull and push on the socket queue, inside the socket's own TLS calls.
    static int bioRead(BIO* bio, char* into, int n);
    static int bioWrite(BIO* bio, const char* from, int n);
    static BIO_METHOD* bioMethod();
};
