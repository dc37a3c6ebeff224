// What a server's (or a proxy's) challenge asks for, and the header that answers it: Basic, and
// Digest (MD5, MD5-sess, SHA-256 and SHA-256-sess with qop "auth"). NTLM is not offered: a
// challenge that offers nothing else gives no object. A scheme that needs no user name and
// password (Negotiate, an unknown one) gives an object that says so.
//
// Threads: an object belongs to one request at a time; apply() counts its uses (Digest "nc").
#pragma once

#include "Platform/HTTPStream/HTTPHeaders.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <memory>
#include <optional>

namespace platform {

struct HTTPChallenge {
    QString scheme;
    QMap<QString, QString> parameters; // names in lower case
};

class HTTPAuthentication {
public:
    // Every challenge in the header values ("WWW-Authenticate" or "Proxy-Authenticate"),
    // at most 32, each with at most 32 parameters; malformed parts are skipped.
    static QList<HTTPChallenge> parseChallenges(const QStringList& headerValues);
    // The strongest challenge offered: Digest (SHA-256 first), then Basic, then any other that
    // is not NTLM. None when nothing usable is offered.
    static std::shared_ptr<HTTPAuthentication> fromChallenges(const QStringList& headerValues);

    QString scheme() const { return m_challenge.scheme; }
    QString realm() const { return m_challenge.parameters.value(QStringLiteral("realm")); }
    bool requiresUsernameAndPassword() const;
    bool requiresAccountDomain() const { return false; }
    // A Digest challenge that only says the nonce went stale.
    bool isStale() const;
    bool hasBeenApplied() const { return m_uses > 0; }

    // The value of the Authorization (or Proxy-Authorization) field for these credentials, or
    // none for a scheme that cannot take them. method and target are the request line's.
    std::optional<QString> apply(const QString& username, const QString& password, const QByteArray& method,
                                 const QByteArray& target);

    static QString basicValue(const QString& username, const QString& password);
    // Tests fix the client nonce.
    static void setClientNonceForTesting(const QString& cnonce);

private:
    explicit HTTPAuthentication(HTTPChallenge challenge) : m_challenge(std::move(challenge)) {}
    HTTPChallenge m_challenge;
    quint32 m_uses = 0;
};

} // namespace platform
