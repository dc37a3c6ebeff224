// Credentials of a request: the header sent before a challenge, the answer to a 401, the
// session store of credentials that worked, the credentials kept for the run, and asking the
// delegate or the queue.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/HTTPStream/HTTPAuthentication.h"
#include "Platform/HTTPStream/HTTPRunLoop.h"
#include "HTTP/KPDownloadCache.h"

using platform::HTTPAuthentication;

namespace {

struct SessionRecord {
    std::shared_ptr<HTTPAuthentication> authentication; // none for a plain Basic success
    KPCredentials credentials;
    QUrl url;
    QString scheme;
    QString realm;
};

// The session-credential lock guards the store; the delegate-authentication lock keeps two
// requests from looking for or asking for credentials at the same time.
std::recursive_mutex g_sessionCredentialLock;
std::vector<SessionRecord> g_sessionCredentials;
std::recursive_mutex g_delegateAuthenticationLock;

struct SavedKey {
    QString host;
    int port;
    QString protocol;
    QString realm;
    bool operator==(const SavedKey&) const = default;
};
std::mutex g_savedLock;
std::vector<std::pair<SavedKey, KPCredentials>> g_saved;

void storeRecord(SessionRecord record)
{
    std::lock_guard lock(g_sessionCredentialLock);
    std::erase_if(g_sessionCredentials, [&](const SessionRecord& r) { return r.credentials == record.credentials; });
    g_sessionCredentials.push_back(std::move(record));
}

void removeRecord(const KPCredentials& credentials)
{
    std::lock_guard lock(g_sessionCredentialLock);
    const auto it = std::find_if(g_sessionCredentials.begin(), g_sessionCredentials.end(),
                                 [&](const SessionRecord& r) { return r.credentials == credentials; });
    if (it != g_sessionCredentials.end())
        g_sessionCredentials.erase(it);
}

QByteArray requestTarget(const QUrl& url)
{
    QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    return target.isEmpty() ? QByteArray("/") : target;
}

} // namespace

bool sameOrigin(const QUrl& a, const QUrl& b);

void storeBasicSessionCredentials(const QUrl& url, const KPCredentials& credentials)
{
    storeRecord(SessionRecord{nullptr, credentials, url, QStringLiteral("Basic"), QString()});
}

void KPHTTPRequest::clearSession()
{
    {
        std::lock_guard lock(g_sessionCredentialLock);
        g_sessionCredentials.clear();
    }
    setSessionCookies({});
    if (const auto cache = defaultCache())
        (void)cache->clearCachedResponsesForStoragePolicy(KPCacheForSessionDurationCacheStoragePolicy);
}

int KPHTTPRequest::sessionCredentialsCount()
{
    std::lock_guard lock(g_sessionCredentialLock);
    return int(g_sessionCredentials.size());
}

void KPHTTPRequest::saveCredentials(const KPCredentials& credentials, const QString& host, int port,
                                    const QString& protocol, const QString& realm)
{
    std::lock_guard lock(g_savedLock);
    const SavedKey key{host, port, protocol, realm};
    std::erase_if(g_saved, [&](const auto& e) { return e.first == key; });
    g_saved.emplace_back(key, credentials);
}

std::optional<KPCredentials> KPHTTPRequest::savedCredentialsForHost(const QString& host, int port,
                                                                    const QString& protocol, const QString& realm)
{
    std::lock_guard lock(g_savedLock);
    for (const auto& [key, credentials] : g_saved)
        if (key == SavedKey{host, port, protocol, realm})
            return credentials;
    return std::nullopt;
}

void KPHTTPRequest::removeCredentialsForHost(const QString& host, int port, const QString& protocol, const QString& realm)
{
    std::lock_guard lock(g_savedLock);
    std::erase_if(g_saved, [&](const auto& e) { return e.first == SavedKey{host, port, protocol, realm}; });
}

QString KPHTTPRequest::authenticationScheme() const
{
    std::lock_guard lock(m_lock);
    return m_authenticationScheme;
}

void KPHTTPRequest::setAuthenticationScheme(const QString& scheme)
{
    std::lock_guard lock(m_lock);
    m_authenticationScheme = scheme;
}

QString KPHTTPRequest::authenticationRealm() const
{
    std::lock_guard lock(m_lock);
    return m_authenticationRealm;
}

int KPHTTPRequest::authenticationRetryCount() const
{
    std::lock_guard lock(m_lock);
    return m_authenticationRetryCount;
}

// A remembered record for this request: the exact url wins, else the first of the same
// scheme, host and port.
static std::optional<SessionRecord> matchingRecord(const QUrl& url, const QString& realm, const QString& username,
                                                   const QString& password)
{
    std::lock_guard lock(g_sessionCredentialLock);
    std::optional<SessionRecord> sameServer;
    for (const SessionRecord& r : g_sessionCredentials) {
        if (!realm.isEmpty() && !r.realm.isEmpty() && r.realm != realm)
            continue;
        if (!username.isEmpty() && !password.isEmpty()
            && (r.credentials.username != username || r.credentials.password != password))
            continue;
        if (r.url == url)
            return r;
        if (!sameServer && r.url.host() == url.host() && r.url.scheme() == url.scheme() && r.url.port() == url.port())
            sameServer = r;
    }
    return sameServer;
}

void KPHTTPRequest::applyAuthorizationHeader()
{
    if (!m_shouldPresentCredentialsBeforeChallenge || m_requestHeaders.contains(QStringLiteral("Authorization")))
        return;
    if (!m_username.isEmpty() && !m_password.isEmpty()
        && m_authenticationScheme.compare(QLatin1String("Basic"), Qt::CaseInsensitive) == 0) {
        m_requestHeaders.set(QStringLiteral("Authorization"), HTTPAuthentication::basicValue(m_username, m_password));
        return;
    }
    if (!m_useSessionPersistence)
        return;
    const auto record = matchingRecord(m_url, m_authenticationRealm, m_username, m_password);
    if (!record)
        return;
    if (!record->authentication) {
        m_requestHeaders.set(QStringLiteral("Authorization"),
                             HTTPAuthentication::basicValue(record->credentials.username, record->credentials.password));
        m_authenticationScheme = QStringLiteral("Basic");
        return;
    }
    const auto value = record->authentication->apply(record->credentials.username, record->credentials.password,
                                                     m_requestMethod, requestTarget(m_url));
    if (!value) {
        removeRecord(record->credentials);
        return;
    }
    m_requestHeaders.set(QStringLiteral("Authorization"), *value);
    m_authenticationScheme = record->scheme;
}

std::optional<KPCredentials> KPHTTPRequest::findCredentials() const
{
    KPCredentials c;
    if (!m_url.userName().isEmpty() && !m_url.password().isEmpty()) {
        c.username = m_url.userName();
        c.password = m_url.password();
    } else if (auto main = m_mainRequest.lock(); main && !main->m_username.isEmpty() && !main->m_password.isEmpty()
                                                 && sameOrigin(main->m_url, m_url)) {
        c.username = main->m_username;
        c.password = main->m_password;
    } else if (!m_username.isEmpty() && !m_password.isEmpty()) {
        c.username = m_username;
        c.password = m_password;
    }
    if ((c.username.isEmpty() || c.password.isEmpty()) && m_useKeychainPersistence) {
        if (const auto saved = savedCredentialsForHost(m_url.host(), m_url.port(), m_url.scheme(), m_authenticationRealm))
            c = *saved;
    }
    if (c.username.isEmpty() || c.password.isEmpty())
        return std::nullopt;
    return c;
}

bool KPHTTPRequest::applyCredentials(const KPCredentials& credentials)
{
    ++m_authenticationRetryCount;
    if (!m_requestAuthentication)
        return false;
    const auto value = m_requestAuthentication->apply(credentials.username, credentials.password, m_requestMethod,
                                                      requestTarget(m_url));
    if (!value) {
        removeRecord(credentials);
        return false;
    }
    m_requestHeaders.set(QStringLiteral("Authorization"), *value);
    if (m_useKeychainPersistence)
        saveCredentials(credentials, m_url.host(), m_url.port(), m_url.scheme(), m_authenticationRealm);
    if (m_useSessionPersistence)
        storeRecord(SessionRecord{m_requestAuthentication, credentials, m_url, m_requestAuthentication->scheme(),
                                  m_authenticationRealm});
    m_requestCredentials = credentials;
    return true;
}

bool KPHTTPRequest::applySessionCredentials()
{
    if (!m_useSessionPersistence)
        return false;
    const auto record = matchingRecord(m_url, m_authenticationRealm, m_username, m_password);
    return record && applyCredentials(record->credentials);
}

bool KPHTTPRequest::willAskDelegateForCredentials()
{
    return willAskDelegate(&KPHTTPRequestDelegate::authenticationNeededForRequest, &KPHTTPRequest::m_authenticationNeededBlock);
}

// The server's question and the proxy's go the same way: to the delegate, or to the queue when
// there is no delegate, or else to the block; never for a synchronous request, which no one
// could answer while its caller waits.
bool KPHTTPRequest::willAskDelegate(Callback KPHTTPRequestDelegate::*question, Block KPHTTPRequest::*block)
{
    if (m_isSynchronous)
        return false;
    const auto d = m_delegate.lock();
    const bool delegateAnswers = d && d.get()->*question;
    const bool queueAnswers = !d && m_queue && m_queue->delegate.*question;
    if (!delegateAnswers && !queueAnswers && !(this->*block))
        return false;
    onMain([question, block](KPHTTPRequest& r) {
        std::shared_ptr<KPHTTPRequestDelegate> dd;
        std::shared_ptr<KPHTTPRequestQueueReceiver> q;
        Block answer;
        {
            std::lock_guard lock(r.m_lock);
            dd = r.m_delegate.lock();
            q = r.m_queue;
            answer = r.*block;
        }
        if (dd && dd.get()->*question)
            (dd.get()->*question)(r);
        else if (!dd && q && q->delegate.*question)
            (q->delegate.*question)(r);
        else if (answer)
            answer();
    });
    return true;
}

void KPHTTPRequest::attemptToApplyCredentialsAndResume()
{
    if (m_error || m_cancelled)
        return;
    if (m_authenticationNeeded == 2) {
        attemptToApplyProxyCredentialsAndResume();
        return;
    }
    const auto challenge = HTTPAuthentication::fromChallenges(m_responseHeaders.values(QStringLiteral("WWW-Authenticate")));
    bool valid = true;
    if (!m_requestAuthentication) {
        if (!challenge) {
            cancelLoad();
            failWithError(kphttp::error(kphttp::InternalErrorWhileApplyingCredentialsType,
                                        QStringLiteral("Failed to get authentication object from response headers")));
            return;
        }
        m_requestAuthentication = challenge;
        m_authenticationScheme = challenge->scheme();
    } else if (m_requestAuthentication->hasBeenApplied()) {
        // The server refused what was sent. A stale Digest nonce is no refusal: the new
        // challenge takes the same credentials again.
        valid = challenge && challenge->isStale();
        m_requestAuthentication = challenge;
    }
    m_authenticationRealm.clear();
    if (m_requestAuthentication && !m_requestAuthentication->requiresAccountDomain())
        m_authenticationRealm = m_requestAuthentication->realm();

    if (valid && m_requestAuthentication) {
        cancelLoad();
        if (m_requestCredentials) {
            if (applyCredentials(*m_requestCredentials)) {
                startRequest();
                return;
            }
            failWithError(kphttp::error(kphttp::InternalErrorWhileApplyingCredentialsType,
                                        QStringLiteral("Failed to apply credentials to request")));
            return;
        }
        if (!m_requestAuthentication->requiresUsernameAndPassword()) {
            // Nothing a user name and password can answer (Negotiate, an unknown scheme).
            failWithError(sharedErrorFor(kphttp::AuthenticationErrorType));
            return;
        }
        std::unique_lock lock(g_delegateAuthenticationLock);
        if (m_error || m_cancelled)
            return;
        if (applySessionCredentials()) {
            lock.unlock();
            startRequest();
            return;
        }
        if (const auto credentials = findCredentials()) {
            const bool applied = applyCredentials(*credentials);
            lock.unlock();
            if (applied)
                startRequest();
            else
                failWithError(kphttp::error(kphttp::InternalErrorWhileApplyingCredentialsType,
                                            QStringLiteral("Failed to apply credentials to request")));
            return;
        }
        if (willAskDelegateForCredentials())
            return;
        lock.unlock();
        failWithError(sharedErrorFor(kphttp::AuthenticationErrorType));
        return;
    }

    // Refused credentials: forget them, then try the session's, then ask.
    std::unique_lock lock(g_delegateAuthenticationLock);
    if (m_requestCredentials) {
        removeRecord(*m_requestCredentials);
        m_requestCredentials.reset();
    }
    if (m_error || m_cancelled)
        return;
    if (m_requestAuthentication && m_requestAuthentication->requiresUsernameAndPassword()) {
        // Credentials set on the request are the ones refused: only the session or the
        // delegate can give others.
        const QString username = std::exchange(m_username, QString());
        const QString password = std::exchange(m_password, QString());
        const bool fromSession = applySessionCredentials();
        m_username = username;
        m_password = password;
        if (fromSession) {
            lock.unlock();
            cancelLoad();
            startRequest();
            return;
        }
        m_lastActivityTime.reset();
        if (willAskDelegateForCredentials()) {
            cancelLoad();
            return;
        }
    }
    lock.unlock();
    cancelLoad();
    failWithError(sharedErrorFor(kphttp::AuthenticationErrorType));
}

void KPHTTPRequest::forgetCredentialsOfPreviousOrigin()
{
    m_requestHeaders.remove(QStringLiteral("Authorization"));
    m_username.clear();
    m_password.clear();
    m_domain.clear();
    m_requestCredentials.reset();
    m_requestAuthentication.reset();
    m_authenticationScheme.clear();
    m_authenticationRealm.clear();
    m_authenticationRetryCount = 0;
}

void KPHTTPRequest::retryUsingSuppliedCredentials()
{
    std::lock_guard lock(m_lock);
    auto me = self();
    if (!m_loop || !me)
        return;
    m_loop->post([me] {
        std::lock_guard inner(me->m_lock);
        if (me->m_error || me->m_cancelled)
            return;
        // A delegate's credentials replace whatever was refused before.
        me->m_requestCredentials.reset();
        if (me->m_requestAuthentication && me->m_requestAuthentication->hasBeenApplied())
            me->m_requestAuthentication = platform::HTTPAuthentication::fromChallenges(
                me->m_responseHeaders.values(QStringLiteral("WWW-Authenticate")));
        if (me->m_requestAuthentication) {
            if (const auto credentials = me->findCredentials(); credentials && me->applyCredentials(*credentials)) {
                me->startRequest();
                return;
            }
            me->failAuthentication();
            return;
        }
        me->runMain();
    });
}

void KPHTTPRequest::cancelAuthentication()
{
    std::lock_guard lock(m_lock);
    auto me = self();
    if (!m_loop || !me)
        return;
    m_loop->post([me] {
        std::lock_guard inner(me->m_lock);
        me->failAuthentication();
    });
}

void KPHTTPRequest::failAuthentication()
{
    failWithError(sharedErrorFor(kphttp::AuthenticationErrorType));
}

// The proxy's challenge, answered the way the server's is: the credentials set for the proxy
// (or the main request's), else the delegate is asked and waited for.
void KPHTTPRequest::attemptToApplyProxyCredentialsAndResume()
{
    const auto challenge = HTTPAuthentication::fromChallenges(m_responseHeaders.values(QStringLiteral("Proxy-Authenticate")));
    if (!challenge) {
        cancelLoad();
        failWithError(kphttp::error(kphttp::InternalErrorWhileApplyingCredentialsType,
                                    QStringLiteral("Failed to get authentication object from response headers")));
        return;
    }
    const bool refused = m_proxyAuthentication && m_proxyAuthentication->hasBeenApplied() && !challenge->isStale();
    m_proxyAuthentication = challenge;
    cancelLoad();
    if (!challenge->requiresUsernameAndPassword()) {
        failWithError(sharedErrorFor(kphttp::AuthenticationErrorType));
        return;
    }
    std::unique_lock lock(g_delegateAuthenticationLock);
    if (m_error || m_cancelled)
        return;
    QString username = m_proxyUsername;
    QString password = m_proxyPassword;
    if (auto main = m_mainRequest.lock(); main && !main->m_proxyUsername.isEmpty() && !main->m_proxyPassword.isEmpty()) {
        username = main->m_proxyUsername;
        password = main->m_proxyPassword;
    }
    if (!refused && !username.isEmpty() && !password.isEmpty()) {
        ++m_proxyAuthenticationRetryCount;
        const QByteArray target = m_url.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
        if (const auto value = challenge->apply(username, password, m_requestMethod, target)) {
            m_proxyAuthorization = *value;
            lock.unlock();
            startRequest();
            return;
        }
        lock.unlock();
        failWithError(kphttp::error(kphttp::InternalErrorWhileApplyingCredentialsType,
                                    QStringLiteral("Failed to apply proxy credentials to request")));
        return;
    }
    if (willAskDelegate(&KPHTTPRequestDelegate::proxyAuthenticationNeededForRequest,
                        &KPHTTPRequest::m_proxyAuthenticationNeededBlock))
        return;
    lock.unlock();
    failWithError(sharedErrorFor(kphttp::AuthenticationErrorType));
}

void KPHTTPRequest::retryUsingSuppliedProxyCredentials()
{
    std::lock_guard lock(m_lock);
    auto me = self();
    if (!m_loop || !me)
        return;
    m_loop->post([me] {
        std::lock_guard inner(me->m_lock);
        if (me->m_error || me->m_cancelled)
            return;
        if (me->m_proxyAuthentication && !me->m_proxyUsername.isEmpty() && !me->m_proxyPassword.isEmpty()) {
            const QByteArray target = me->m_url.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
            if (const auto value = me->m_proxyAuthentication->apply(me->m_proxyUsername, me->m_proxyPassword,
                                                                    me->m_requestMethod, target)) {
                me->m_proxyAuthorization = *value;
                me->startRequest();
                return;
            }
        }
        me->failAuthentication();
    });
}
