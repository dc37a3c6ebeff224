// Choosing a request's proxy: its own settings, its own proxy script, else the system's through
// libproxy (which may name a script in turn).
#include "HTTP/KPHTTPRequest.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/RegularFile.h"
#include "Platform/HTTPStream/HTTPRunLoop.h"
#include "Platform/HTTPStream/ProxyAutoConfig.h"
#include "Platform/HTTPStream/SystemProxies.h"
#include "HTTP/KPProxyScriptMemory.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QHostAddress>
#include <QStringDecoder>

namespace {

// Loopback addresses never go through a proxy, whatever the environment says.
bool isLoopback(const QUrl& url)
{
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

QString KPHTTPRequest::proxyHost() const
{
    std::lock_guard lock(m_lock);
    return m_proxyHost;
}

void KPHTTPRequest::setProxyHost(const QString& host)
{
    std::lock_guard lock(m_lock);
    m_proxyHost = host;
}

int KPHTTPRequest::proxyPort() const
{
    std::lock_guard lock(m_lock);
    return m_proxyPort;
}

void KPHTTPRequest::setProxyPort(int port)
{
    std::lock_guard lock(m_lock);
    m_proxyPort = port;
}

QString KPHTTPRequest::proxyType() const
{
    std::lock_guard lock(m_lock);
    return m_proxyType;
}

void KPHTTPRequest::setProxyType(const QString& type)
{
    std::lock_guard lock(m_lock);
    m_proxyType = type;
}

bool KPHTTPRequest::configureProxies()
{
    if (m_isPACFileRequest || !m_proxyHost.isEmpty() || m_proxyPort != 0)
        return true;
    if (!m_PACurl.isEmpty())
        return fetchPACFile();
    if (isLoopback(m_url))
        return true;
    if (const QUrl script = platform::SystemProxies::desktopScriptURL(); !script.isEmpty()) {
        m_PACurl = script;
        return fetchPACFile();
    }
    const auto answers = platform::SystemProxies::proxiesForURL(m_url);
    if (!answers) {
        cancelLoad();
        failWithError(kphttp::error(kphttp::InternalErrorWhileBuildingRequestType,
                                    QStringLiteral("Unable to obtain information on proxy servers needed for request")));
        return false;
    }
    // libproxy names the desktop's script as "pac+<url>" when it does not run it itself.
    if (!answers->isEmpty() && answers->first().startsWith(QLatin1String("pac+"), Qt::CaseInsensitive)) {
        m_PACurl = QUrl(answers->first().mid(4));
        return fetchPACFile();
    }
    for (const QString& answer : *answers) {
        const auto settings = platform::SystemProxies::settingsFromAnswer(answer);
        if (!settings)
            continue;
        if (settings->type != platform::HTTPProxySettings::Type::None) {
            m_proxyHost = settings->host;
            m_proxyPort = settings->port;
            m_proxyType = settings->type == platform::HTTPProxySettings::Type::SOCKS ? QStringLiteral("SOCKS")
                                                                                     : QStringLiteral("HTTP");
        }
        break;
    }
    return true;
}

namespace {

constexpr qint64 kMaxPACFile = 1024 * 1024;

void logPAC(const QString& text)
{
    KPLogLogDomainMessage(QStringLiteral("HTTP"), 0, text);
}

// UTF-8 when the bytes are UTF-8, else ISO Latin 1, which every byte string is.
QString decodeScript(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

} // namespace

bool KPHTTPRequest::fetchPACFile()
{
    const QString scheme = m_PACurl.scheme().toLower();
    if (m_PACurl.isLocalFile()) {
        // Read whole at once: a regular file of bounded size, so nothing waits on a pipe.
        auto bytes = platform::RegularFile::readAll(m_PACurl.toLocalFile(), kMaxPACFile);
        if (!bytes) {
            logPAC(QStringLiteral("The proxy script %1 cannot be read (%2); going without a proxy")
                       .arg(m_PACurl.toString(), bytes.error().message));
            return true;
        }
        return runPACScript(decodeScript(*bytes));
    }
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        logPAC(QStringLiteral("The proxy script %1 is neither a file nor on the web; going without a proxy")
                   .arg(m_PACurl.toString()));
        return true;
    }
    auto script = std::make_shared<KPHTTPRequest>(m_PACurl);
    script->m_isPACFileRequest = true;
    script->m_timeOutSeconds = m_timeOutSeconds;
    script->m_maxResponseBodySize = kMaxPACFile;
    script->m_validatesSecureCertificate = m_validatesSecureCertificate;
    if (m_isSynchronous) {
        script->startSynchronous();
        return finishedDownloadingPACFile(script);
    }
    auto me = self();
    std::weak_ptr<KPHTTPRequest> weak = me;
    auto delegate = std::make_shared<KPHTTPRequestDelegate>();
    // Both ends come on the main thread; the script runs and the request starts on its own.
    auto done = [weak](KPHTTPRequest& finished) {
        auto request = weak.lock();
        if (!request)
            return;
        auto fetched = finished.self();
        std::lock_guard lock(request->m_lock);
        if (!request->m_loop)
            return;
        request->m_loop->post([request, fetched] {
            std::lock_guard inner(request->m_lock);
            if (request->finishedDownloadingPACFile(fetched))
                request->startAfterProxyScript();
        });
    };
    delegate->requestFinished = done;
    delegate->requestFailed = done;
    script->setDelegate(delegate);
    m_PACFileRequest = script;
    m_PACFileDelegate = delegate;
    // The script's request gets a slot of its own, so a full queue cannot starve it.
    changeSharedQueueLimit(+1);
    script->setQueuePriority(platform::OperationPriority::High);
    script->startAsynchronous();
    return false;
}

bool KPHTTPRequest::finishedDownloadingPACFile(const std::shared_ptr<KPHTTPRequest>& script)
{
    if (!m_isSynchronous && m_PACFileRequest)
        changeSharedQueueLimit(-1);
    m_PACFileRequest.reset();
    m_PACFileDelegate.reset();
    if (script->error())
        logPAC(QStringLiteral("The proxy script %1 could not be fetched (%2); going without a proxy")
                   .arg(m_PACurl.toString(), script->error()->message));
    else if (script->responseStatusCode() / 100 != 2)
        logPAC(QStringLiteral("The proxy script %1 could not be fetched (status %2); going without a proxy")
                   .arg(m_PACurl.toString())
                   .arg(script->responseStatusCode()));
    else if (script->responseData().size() > kMaxPACFile)
        logPAC(QStringLiteral("The proxy script %1 is larger than %2 bytes; going without a proxy")
                   .arg(m_PACurl.toString())
                   .arg(kMaxPACFile));
    else
        return runPACScript(decodeScript(script->responseData()));
    return true;
}

void KPHTTPRequest::startAfterProxyScript()
{
    if (m_cancelled || m_complete || m_error)
        return;
    startRequest();
}

bool KPHTTPRequest::runPACScript(const QString& script)
{
    if (script.isEmpty())
        return true;
    const std::weak_ptr<KPHTTPRequest> weak = self();
    KPProxyScriptMemory::Waiter waiter;
    if (!m_isSynchronous) {
        waiter = [weak](bool ranOut) {
            postOnRequestThread([weak, ranOut] {
                if (auto request = weak.lock()) {
                    std::lock_guard lock(request->m_lock);
                    request->proxyScriptRunEnded(ranOut);
                }
            });
        };
    }
    switch (KPProxyScriptMemory::begin(m_PACurl, script, std::move(waiter))) {
    case KPProxyScriptMemory::Verdict::GoWithoutProxy:
        logPAC(QStringLiteral("The proxy script %1 used up its time or memory a short while ago; going without a proxy")
                   .arg(m_PACurl.toString()));
        return true;
    case KPProxyScriptMemory::Verdict::Wait:
        m_proxyScript = script;
        return false;
    case KPProxyScriptMemory::Verdict::Run: break;
    }
    const auto ranOut = [](const platform::Result<QString>& answer) {
        return !answer && platform::ProxyAutoConfig::ranOutOfTimeOrMemory(answer.error());
    };
    if (m_isSynchronous) {
        // The caller's thread serves this request alone, and waits for it anyway.
        const auto answer = platform::ProxyAutoConfig::evaluateInHelper(script, m_url);
        KPProxyScriptMemory::finished(m_PACurl, script, ranOut(answer));
        applyProxyScriptAnswer(answer);
        return true;
    }
    // In the helper process: what the script allocates or however it hangs, this one is not
    // held; and off the request thread, which serves every other request meanwhile.
    platform::DispatchQueue::global().async([weak, script, ranOut, pac = m_PACurl, url = m_url] {
        const auto answer = platform::ProxyAutoConfig::evaluateInHelper(script, url);
        KPProxyScriptMemory::finished(pac, script, ranOut(answer));
        postOnRequestThread([weak, answer] {
            if (auto request = weak.lock()) {
                std::lock_guard lock(request->m_lock);
                request->applyProxyScriptAnswer(answer);
                request->startAfterProxyScript();
            }
        });
    });
    return false;
}

void KPHTTPRequest::proxyScriptRunEnded(bool ranOut)
{
    const QString script = std::exchange(m_proxyScript, QString());
    if (m_cancelled || m_complete || m_error)
        return;
    if (ranOut) {
        logPAC(QStringLiteral("The proxy script %1 used up its time or memory for another request; going without a proxy")
                   .arg(m_PACurl.toString()));
        startAfterProxyScript();
    } else if (runPACScript(script)) {
        startAfterProxyScript();
    }
}

void KPHTTPRequest::applyProxyScriptAnswer(const platform::Result<QString>& answer)
{
    if (!answer) {
        logPAC(QStringLiteral("The proxy script %1 gave no answer: %2; going without a proxy")
                   .arg(m_PACurl.toString(), answer.error().message));
        return;
    }
    const auto entries = platform::ProxyAutoConfig::parseAnswer(*answer);
    if (entries.isEmpty()) {
        logPAC(QStringLiteral("The proxy script %1 named no proxy this client can use; going without a proxy")
                   .arg(m_PACurl.toString()));
        return;
    }
    const platform::HTTPProxySettings& first = entries.first();
    if (first.type == platform::HTTPProxySettings::Type::None)
        return;
    m_proxyHost = first.host;
    m_proxyPort = first.port;
    m_proxyType = first.type == platform::HTTPProxySettings::Type::SOCKS ? QStringLiteral("SOCKS") : QStringLiteral("HTTP");
}
