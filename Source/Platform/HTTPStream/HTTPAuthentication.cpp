#include "Platform/HTTPStream/HTTPAuthentication.h"

#include <QRandomGenerator>
#include <mutex>
#include <openssl/evp.h>

namespace platform {

namespace {

std::mutex g_nonceLock;
QString g_fixedNonce;

bool isTokenChar(QChar c)
{
    return c.unicode() > 32 && c.unicode() < 127 && !QStringLiteral("()<>@,;:\\\"/[]?={} \t").contains(c);
}

QByteArray digest(const QByteArray& data, bool sha256)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(data.constData(), size_t(data.size()), out, &len, sha256 ? EVP_sha256() : EVP_md5(), nullptr);
    return QByteArray(reinterpret_cast<const char*>(out), int(len)).toHex();
}

// A value inside quotes: quotes and backslashes escaped; line breaks never reach the header.
QString quoted(QString value)
{
    value.remove(u'\r');
    value.remove(u'\n');
    value.replace(u'\\', QStringLiteral("\\\\"));
    value.replace(u'"', QStringLiteral("\\\""));
    return u'"' + value + u'"';
}

} // namespace

QList<HTTPChallenge> HTTPAuthentication::parseChallenges(const QStringList& headerValues)
{
    QList<HTTPChallenge> out;
    for (const QString& value : headerValues) {
        const QString text = value.left(8192);
        qsizetype i = 0;
        const auto skipSpace = [&] {
            while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
                ++i;
        };
        const auto token = [&] {
            const qsizetype start = i;
            while (i < text.size() && isTokenChar(text[i]))
                ++i;
            return text.mid(start, i - start);
        };
        while (i < text.size() && out.size() < 32) {
            skipSpace();
            while (i < text.size() && text[i] == u',') {
                ++i;
                skipSpace();
            }
            const QString scheme = token();
            if (scheme.isEmpty()) {
                ++i; // not a token: skip the character
                continue;
            }
            HTTPChallenge challenge{scheme, {}};
            // Parameters until a token that is not followed by "=" starts the next challenge.
            for (;;) {
                skipSpace();
                const qsizetype mark = i;
                const QString name = token();
                skipSpace();
                if (name.isEmpty() || i >= text.size() || text[i] != u'=') {
                    if (name.isEmpty() && i < text.size() && text[i] == u',') {
                        ++i;
                        continue;
                    }
                    i = mark; // the next challenge's scheme
                    break;
                }
                ++i; // "="
                skipSpace();
                QString v;
                if (i < text.size() && text[i] == u'"') {
                    ++i;
                    while (i < text.size() && text[i] != u'"') {
                        if (text[i] == u'\\' && i + 1 < text.size())
                            ++i;
                        v += text[i++];
                    }
                    ++i;
                } else {
                    v = token();
                }
                if (challenge.parameters.size() < 32)
                    challenge.parameters.insert(name.toLower(), v);
                skipSpace();
                if (i < text.size() && text[i] == u',')
                    ++i;
                else
                    break;
            }
            out.append(challenge);
        }
    }
    return out;
}

std::shared_ptr<HTTPAuthentication> HTTPAuthentication::fromChallenges(const QStringList& headerValues)
{
    const auto challenges = parseChallenges(headerValues);
    const auto rank = [](const HTTPChallenge& c) {
        const QString scheme = c.scheme.toLower();
        if (scheme == QLatin1String("digest")) {
            const QString algorithm = c.parameters.value(QStringLiteral("algorithm"), QStringLiteral("MD5")).toUpper();
            const QString qop = c.parameters.value(QStringLiteral("qop"));
            const bool qopOK = qop.isEmpty() || qop.split(u',').contains(QStringLiteral("auth"), Qt::CaseInsensitive)
                               || qop.split(u',').contains(QStringLiteral(" auth"), Qt::CaseInsensitive);
            if (!c.parameters.contains(QStringLiteral("nonce")) || !qopOK)
                return 0;
            if (algorithm == QLatin1String("SHA-256") || algorithm == QLatin1String("SHA-256-SESS"))
                return 5;
            if (algorithm == QLatin1String("MD5") || algorithm == QLatin1String("MD5-SESS"))
                return 4;
            return 0;
        }
        if (scheme == QLatin1String("basic"))
            return 3;
        if (scheme == QLatin1String("ntlm"))
            return 0;
        return 1;
    };
    const HTTPChallenge* best = nullptr;
    int bestRank = 0;
    for (const auto& c : challenges) {
        const int r = rank(c);
        if (r > bestRank) {
            best = &c;
            bestRank = r;
        }
    }
    if (!best)
        return nullptr;
    return std::shared_ptr<HTTPAuthentication>(new HTTPAuthentication(*best));
}

bool HTTPAuthentication::requiresUsernameAndPassword() const
{
    const QString s = scheme().toLower();
    return s == QLatin1String("basic") || s == QLatin1String("digest");
}

bool HTTPAuthentication::isStale() const
{
    return scheme().compare(QLatin1String("digest"), Qt::CaseInsensitive) == 0
           && m_challenge.parameters.value(QStringLiteral("stale")).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

QString HTTPAuthentication::basicValue(const QString& username, const QString& password)
{
    return QStringLiteral("Basic %1").arg(QString::fromLatin1(QStringLiteral("%1:%2").arg(username, password).toUtf8().toBase64()));
}

void HTTPAuthentication::setClientNonceForTesting(const QString& cnonce)
{
    std::lock_guard lock(g_nonceLock);
    g_fixedNonce = cnonce;
}

std::optional<QString> HTTPAuthentication::apply(const QString& username, const QString& password,
                                                 const QByteArray& method, const QByteArray& target)
{
    const QString s = scheme().toLower();
    if (s == QLatin1String("basic")) {
        ++m_uses;
        return basicValue(username, password);
    }
    if (s != QLatin1String("digest"))
        return std::nullopt;
    const auto& p = m_challenge.parameters;
    const QString algorithm = p.value(QStringLiteral("algorithm"), QStringLiteral("MD5"));
    const bool sha = algorithm.startsWith(QLatin1String("SHA-256"), Qt::CaseInsensitive);
    const bool sess = algorithm.endsWith(QLatin1String("-sess"), Qt::CaseInsensitive);
    const QString nonce = p.value(QStringLiteral("nonce"));
    const QString realmText = realm();
    const bool withQop = p.contains(QStringLiteral("qop"));
    QString cnonce;
    {
        std::lock_guard lock(g_nonceLock);
        cnonce = g_fixedNonce;
    }
    if (cnonce.isEmpty())
        cnonce = QString::number(QRandomGenerator::global()->generate64(), 16);
    ++m_uses;
    const QString nc = QStringLiteral("%1").arg(m_uses, 8, 16, QLatin1Char('0'));
    QByteArray ha1 = digest(QStringLiteral("%1:%2:%3").arg(username, realmText, password).toUtf8(), sha);
    if (sess)
        ha1 = digest(ha1 + ':' + nonce.toUtf8() + ':' + cnonce.toUtf8(), sha);
    const QByteArray ha2 = digest(method + ':' + target, sha);
    const QByteArray response = withQop
        ? digest(ha1 + ':' + nonce.toUtf8() + ':' + nc.toLatin1() + ':' + cnonce.toUtf8() + ":auth:" + ha2, sha)
        : digest(ha1 + ':' + nonce.toUtf8() + ':' + ha2, sha);
    QString value = QStringLiteral("Digest username=%1, realm=%2, nonce=%3, uri=%4, algorithm=%5, response=\"%6\"")
                        .arg(quoted(username), quoted(realmText), quoted(nonce), quoted(QString::fromUtf8(target)),
                             algorithm, QString::fromLatin1(response));
    if (withQop)
        value += QStringLiteral(", qop=auth, nc=%1, cnonce=%2").arg(nc, quoted(cnonce));
    if (p.contains(QStringLiteral("opaque")))
        value += QStringLiteral(", opaque=%1").arg(quoted(p.value(QStringLiteral("opaque"))));
    return value;
}

} // namespace platform
