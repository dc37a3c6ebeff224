// A request's redirects: whether a response redirects and how the next hop is sent, the
// delegate's confirmation, and the hop itself, which leaves another origin's credentials behind.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/HTTPStream/HTTPRunLoop.h"

// Scheme, host and port: what credentials and a caller's cookies are given for.
bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto port = [](const QUrl& u) { return u.port(u.scheme().toLower() == QLatin1String("https") ? 443 : 80); };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
        && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && port(a) == port(b);
}

void KPHTTPRequest::redirectToURL(const QUrl& url)
{
    std::lock_guard lock(m_lock);
    m_redirectURL = url;
    auto me = self();
    if (m_loop && me)
        m_loop->post([me] {
            std::lock_guard inner(me->m_lock);
            me->performRedirect();
        });
}

bool KPHTTPRequest::willRedirect()
{
    const int status = m_responseStatusCode;
    if (!m_shouldRedirect || !m_responseHeaders.contains(QStringLiteral("Location"))
        || (status != 301 && status != 302 && status != 303 && status != 307))
        return false;
    const QUrl target = m_url.resolved(QUrl(m_responseHeaders.value(QStringLiteral("Location"))));
    const QString scheme = target.scheme().toLower();
    // Only the web's own schemes are followed; "file:" or "javascript:" ends with the answer.
    if (!target.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;

    reportRedirected();
    if (status == 303 || ((status == 301 || status == 302) && !m_shouldUseRFC2616RedirectBehaviour)) {
        m_requestMethod = "GET";
        m_postBody.clear();
        m_compressedPostBody.clear();
        m_hasPostBody = false;
        m_postLength = 0;
        m_postBodyFilePath.clear();
        m_compressedPostBodyFilePath.clear();
        const QString agent = m_requestHeaders.value(QStringLiteral("User-Agent"));
        const QString accept = m_requestHeaders.value(QStringLiteral("Accept"));
        m_requestHeaders.clear();
        if (!agent.isNull())
            m_requestHeaders.set(QStringLiteral("User-Agent"), agent);
        if (!accept.isNull())
            m_requestHeaders.set(QStringLiteral("Accept"), accept);
        m_haveBuiltRequestHeaders = false;
    }
    // Credentials meant for one server are not handed to another, and cookies are chosen
    // again for the new url when the next attempt starts.
    if (!sameOrigin(m_url, target))
        m_requestHeaders.remove(QStringLiteral("Authorization"));
    m_requestHeaders.remove(QStringLiteral("Cookie"));
    m_requestCookies.clear();
    m_redirectURL = target;
    m_needsRedirect = true;
    return true;
}

bool KPHTTPRequest::willAskDelegateToConfirmRedirect()
{
    const auto d = m_delegate.lock();
    const bool delegateAnswers = d && d->willRedirectToURL;
    const bool queueAnswers = m_queue && m_queue->delegate.willRedirectToURL;
    if (!delegateAnswers && !queueAnswers)
        return false;
    const QUrl target = std::exchange(m_redirectURL, QUrl());
    reportWillRedirect(target);
    return true;
}

void KPHTTPRequest::performRedirect()
{
    if (m_cancelled || (m_error && !m_needsRedirect))
        return;
    const QUrl from = std::exchange(m_url, m_redirectURL);
    m_redirectURL.clear();
    m_complete = true;
    m_needsRedirect = false;
    ++m_redirectCount;
    // Each hop is an exchange of its own: a kept connection that died under the last one does
    // not use up this one's retry on a new connection.
    m_retryCount = 0;
    if (!sameOrigin(from, m_url))
        forgetCredentialsOfPreviousOrigin();
    if (m_redirectCount < 6) {
        destroyReadStream();
        runMain();
    } else {
        failWithError(sharedErrorFor(kphttp::TooMuchRedirectionErrorType));
        m_complete = true;
    }
}
