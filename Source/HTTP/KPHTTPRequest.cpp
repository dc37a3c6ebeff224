#include "HTTP/KPHTTPRequest.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/HTTPStream/HTTPRunLoop.h"
#include "Platform/HTTPStream/HTTPStream.h"
#include "HTTP/ByteArrayGrowth.h"
#include "HTTP/KPDataCompressor.h"
#include "HTTP/KPDataDecompressor.h"
#include "HTTP/KPDownloadCache.h"
#include "HTTP/KPHTTPBandwidth.h"
#include "HTTP/KPInputStream.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using platform::Error;
using platform::HTTPHeaders;
using platform::HTTPStream;

// One server connection that requests to the same scheme, host and port take turns on.
struct KPConnectionRecord {
    quint64 id = 0;
    QString host;
    int port = 0;
    QString scheme;
    quint32 request = 0; // the request using it now; 0 while idle
    std::shared_ptr<platform::HTTPConnection> connection;
    double expires = 0;
};

namespace {

// The connections lock guards the pool and both serial counters.
std::recursive_mutex g_connectionsLock;
std::vector<std::shared_ptr<KPConnectionRecord>> g_connectionPool;
quint64 g_nextConnectionID = 0;
quint32 g_nextRequestID = 0;

// Inside the connections lock.
void expirePersistentConnections()
{
    const double now = KPHTTPBandwidth::now();
    std::erase_if(g_connectionPool, [now](const std::shared_ptr<KPConnectionRecord>& r) {
        return r->request == 0 && r->expires <= now;
    });
}

void dropRecord(const std::shared_ptr<KPConnectionRecord>& record)
{
    std::lock_guard lock(g_connectionsLock);
    if (!record)
        return;
    record->request = 0;
    record->connection.reset();
    std::erase(g_connectionPool, record);
}

// The class's shared state, made on first use and ended by shutDown().
struct RequestThread {
    platform::HTTPRunLoop loop;
    std::thread thread;
};

std::mutex g_classLock;
RequestThread* g_requestThread = nullptr;
platform::OperationQueue* g_sharedQueue = nullptr;
double g_defaultTimeOut = 10.0;

platform::HTTPRunLoop& requestThreadLoop()
{
    std::lock_guard lock(g_classLock);
    if (!g_requestThread) {
        g_requestThread = new RequestThread;
        platform::HTTPRunLoop* loop = &g_requestThread->loop;
        g_requestThread->thread = std::thread([loop] {
            platform::Dispatch::setCurrentThreadName(QStringLiteral("KPHTTPRequest"));
            // A peer that closes while a body is written must give EPIPE, not end the process.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            loop->run();
        });
    }
    return g_requestThread->loop;
}

Error sharedError(int code)
{
    switch (code) {
    case kphttp::RequestTimedOutErrorType: return kphttp::error(code, QStringLiteral("The request timed out"));
    case kphttp::AuthenticationErrorType: return kphttp::error(code, QStringLiteral("Authentication needed"));
    case kphttp::RequestCancelledErrorType: return kphttp::error(code, QStringLiteral("The request was cancelled"));
    case kphttp::UnableToCreateRequestErrorType:
        return kphttp::error(code, QStringLiteral("Unable to create request (bad url?)"));
    case kphttp::TooMuchRedirectionErrorType:
        return kphttp::error(code, QStringLiteral("The request failed because it redirected too many times"));
    default: return kphttp::error(code, QString());
    }
}

} // namespace

quint64 KPHTTPRequest::connectionID() const
{
    std::lock_guard lock(m_lock);
    return m_connectionInfo ? m_connectionInfo->id : 0;
}

int KPHTTPRequest::connectionPoolSize()
{
    std::lock_guard lock(g_connectionsLock);
    return int(g_connectionPool.size());
}

Error KPHTTPRequest::sharedErrorFor(int code)
{
    return sharedError(code);
}

namespace {

bool isDroppedConnection(const Error& e)
{
    if (e.domain == QLatin1String("POSIX"))
        return e.code == ENOTCONN || e.code == EPIPE || e.code == ECONNRESET;
    return e.domain == HTTPStream::ErrorDomain && e.code == HTTPStream::ConnectionLostBeforeResponse;
}

} // namespace

void storeBasicSessionCredentials(const QUrl& url, const KPCredentials& credentials);

// Scheme, host and port: what credentials and a caller's cookies are given for.
bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto port = [](const QUrl& u) { return u.port(u.scheme().toLower() == QLatin1String("https") ? 443 : 80); };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
        && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && port(a) == port(b);
}

// --- creation

KPHTTPRequest::KPHTTPRequest(const QUrl& url) : m_url(url), m_downloadCache(defaultCache()) {}

KPHTTPRequest::~KPHTTPRequest()
{
    // The stream and the timer belong to the request thread's loop: the last owner may let go
    // of the request on any thread, so they are ended there.
    if (!m_isSynchronous && (m_readStream || m_statusTimer)) {
        std::lock_guard lock(g_classLock);
        if (g_requestThread && m_loop == &g_requestThread->loop) {
            std::shared_ptr<platform::HTTPStream> stream(std::move(m_readStream));
            const int timer = m_statusTimer;
            platform::HTTPRunLoop* loop = m_loop;
            loop->post([stream, timer, loop]() mutable {
                if (timer)
                    loop->removeTimer(timer);
                stream.reset();
            });
        }
    }
    m_readStream.reset();
    // Blocks end with the request; a temporary body the request made goes too.
    if (m_didCreateTemporaryPostDataFile) {
        m_postBodyWriteStream.reset();
        if (!m_postBodyFilePath.isEmpty())
            QFile::remove(m_postBodyFilePath);
        if (!m_compressedPostBodyFilePath.isEmpty())
            QFile::remove(m_compressedPostBodyFilePath);
    }
}

std::shared_ptr<KPHTTPRequest> KPHTTPRequest::requestWithURL(const QUrl& url)
{
    return std::make_shared<KPHTTPRequest>(url);
}

std::shared_ptr<KPHTTPRequest> KPHTTPRequest::self()
{
    return std::static_pointer_cast<KPHTTPRequest>(weak_from_this().lock());
}

void KPHTTPRequest::copySettingsTo(KPHTTPRequest& o, bool forHEAD) const
{
    std::lock_guard lock(m_lock);
    o.m_requestHeaders = m_requestHeaders;
    o.m_useCookiePersistence = m_useCookiePersistence;
    o.m_useKeychainPersistence = m_useKeychainPersistence;
    o.m_useSessionPersistence = m_useSessionPersistence;
    o.m_allowCompressedResponse = m_allowCompressedResponse;
    o.m_username = m_username;
    o.m_password = m_password;
    o.m_domain = m_domain;
    o.m_proxyUsername = m_proxyUsername;
    o.m_proxyPassword = m_proxyPassword;
    o.m_proxyDomain = m_proxyDomain;
    o.m_timeOutSeconds = m_timeOutSeconds;
    o.m_totalTimeOutSeconds = m_totalTimeOutSeconds;
    o.m_maxResponseBodySize = m_maxResponseBodySize;
    o.m_useHTTPVersionOne = m_useHTTPVersionOne;
    o.m_validatesSecureCertificate = m_validatesSecureCertificate;
    o.m_clientCertificateIdentity = m_clientCertificateIdentity;
    o.m_clientCertificatePassword = m_clientCertificatePassword;
    o.m_numberOfTimesToRetryOnTimeout = m_numberOfTimesToRetryOnTimeout;
    o.m_shouldUseRFC2616RedirectBehaviour = m_shouldUseRFC2616RedirectBehaviour;
    o.m_shouldAttemptPersistentConnection = m_shouldAttemptPersistentConnection;
    o.m_persistentConnectionTimeoutSeconds = m_persistentConnectionTimeoutSeconds;
    if (forHEAD)
        return;
    o.m_delegate = m_delegate;
    o.m_requestMethod = m_requestMethod;
    o.m_postBody = m_postBody;
    o.m_hasPostBody = m_hasPostBody;
    o.m_shouldStreamPostDataFromDisk = m_shouldStreamPostDataFromDisk;
    o.m_postBodyFilePath = m_postBodyFilePath;
    o.m_downloadDestinationPath = m_downloadDestinationPath;
    o.m_temporaryFileDownloadPath = m_temporaryFileDownloadPath;
    o.m_uploadProgressDelegate = m_uploadProgressDelegate;
    o.m_downloadProgressDelegate = m_downloadProgressDelegate;
    o.m_postLength = m_postLength;
    o.m_haveBuiltPostBody = m_haveBuiltPostBody;
    o.m_shouldResetUploadProgress = m_shouldResetUploadProgress;
    o.m_shouldResetDownloadProgress = m_shouldResetDownloadProgress;
    o.m_showAccurateProgress = m_showAccurateProgress;
    o.m_defaultResponseEncoding = m_defaultResponseEncoding;
    o.m_allowResumeForFileDownloads = m_allowResumeForFileDownloads;
    o.m_userInfo = m_userInfo;
    o.m_tag = m_tag;
    o.m_shouldRedirect = m_shouldRedirect;
    o.m_userAgentString = m_userAgentString;
}

std::shared_ptr<KPHTTPRequest> KPHTTPRequest::copy() const
{
    auto other = std::make_shared<KPHTTPRequest>(url());
    copySettingsTo(*other, false);
    return other;
}

std::shared_ptr<KPHTTPRequest> KPHTTPRequest::HEADRequest()
{
    auto head = std::make_shared<KPHTTPRequest>(url());
    copySettingsTo(*head, true);
    head->m_mainRequest = self();
    head->m_requestMethod = "HEAD";
    return head;
}

// --- class state

platform::OperationQueue& KPHTTPRequest::sharedQueue()
{
    std::lock_guard lock(g_classLock);
    if (!g_sharedQueue) {
        g_sharedQueue = new platform::OperationQueue(QStringLiteral("KPHTTPRequest"));
        g_sharedQueue->setMaxConcurrentOperationCount(4);
    }
    return *g_sharedQueue;
}

void KPHTTPRequest::changeSharedQueueLimit(int delta)
{
    std::lock_guard lock(g_connectionsLock);
    platform::OperationQueue& queue = sharedQueue();
    queue.setMaxConcurrentOperationCount(std::max(1, queue.maxConcurrentOperationCount() + delta));
}

void KPHTTPRequest::shutDown()
{
    platform::OperationQueue* queue = nullptr;
    {
        std::lock_guard lock(g_classLock);
        queue = std::exchange(g_sharedQueue, nullptr);
    }
    if (queue) {
        // Cancelled requests are finished on the request thread, which must still run.
        queue->cancelAllOperations();
        delete queue;
    }
    RequestThread* thread = nullptr;
    {
        std::lock_guard lock(g_classLock);
        thread = std::exchange(g_requestThread, nullptr);
    }
    if (thread) {
        thread->loop.stop();
        thread->thread.join();
        delete thread;
    }
}

bool KPHTTPRequest::postOnRequestThread(std::function<void()> task)
{
    std::lock_guard lock(g_classLock);
    if (!g_requestThread)
        return false;
    g_requestThread->loop.post(std::move(task));
    return true;
}

double KPHTTPRequest::defaultTimeOutSeconds()
{
    std::lock_guard lock(g_classLock);
    return g_defaultTimeOut;
}

void KPHTTPRequest::setDefaultTimeOutSeconds(double seconds)
{
    std::lock_guard lock(g_classLock);
    g_defaultTimeOut = seconds;
}

double KPHTTPRequest::totalTimeOutSeconds() const
{
    std::lock_guard lock(m_lock);
    return m_totalTimeOutSeconds;
}

void KPHTTPRequest::setTotalTimeOutSeconds(double seconds)
{
    std::lock_guard lock(m_lock);
    m_totalTimeOutSeconds = std::max(0.0, seconds);
}

quint64 KPHTTPRequest::maxResponseBodySize() const
{
    std::lock_guard lock(m_lock);
    return m_maxResponseBodySize;
}

void KPHTTPRequest::setMaxResponseBodySize(quint64 bytes)
{
    std::lock_guard lock(m_lock);
    m_maxResponseBodySize = std::clamp<quint64>(bytes, 1, MaxResponseBodySizeLimit);
}

// --- results

bool KPHTTPRequest::isResponseCompressed() const
{
    std::lock_guard lock(m_lock);
    return m_responseHeaders.value(QStringLiteral("Content-Encoding")).contains(QLatin1String("gzip"), Qt::CaseInsensitive);
}

QByteArray KPHTTPRequest::responseData() const
{
    std::lock_guard lock(m_lock);
    if (isResponseCompressed() && m_shouldWaitToInflateCompressedResponses) {
        if (m_inflatedResponseData)
            return *m_inflatedResponseData;
        auto inflated = KPDataDecompressor::uncompressData(m_rawResponseData, qsizetype(m_maxResponseBodySize));
        return inflated ? *inflated : QByteArray();
    }
    return m_rawResponseData;
}

QString KPHTTPRequest::responseString() const
{
    const QByteArray data = responseData();
    if (data.isEmpty())
        return {};
    return decode(data, responseEncoding());
}

double KPHTTPRequest::progressFraction(double progress, double total, bool complete)
{
    if (total <= 0)
        return complete ? 1.0 : 0.0;
    return progress / total;
}

// --- starting and stopping

void KPHTTPRequest::startAsynchronous()
{
    sharedQueue().addOperation(self());
}

void KPHTTPRequest::addDependency(const std::shared_ptr<KPHTTPRequest>& request)
{
    std::lock_guard lock(m_lock);
    m_dependencies.push_back(request);
}

void KPHTTPRequest::main()
{
    auto me = self();
    std::vector<std::weak_ptr<KPHTTPRequest>> dependencies;
    {
        std::lock_guard lock(m_lock);
        dependencies = m_dependencies;
    }
    for (const auto& weak : dependencies) {
        auto other = weak.lock();
        if (!other)
            continue;
        std::unique_lock otherLock(other->m_lock);
        // Looks at its own cancel now and then: a cancelled request stops waiting.
        while (!other->m_finished && !other->m_cancelled && !isCancelled())
            other->m_finishedChanged.wait_for(otherLock, std::chrono::milliseconds(50));
    }
    platform::HTTPRunLoop& loop = requestThreadLoop();
    std::unique_lock lock(m_lock);
    if (m_cancelled || m_finished)
        return;
    m_loop = &loop;
    m_inProgress = true;
    notifyState(QStringLiteral("isExecuting"));
    loop.post([me] {
        std::lock_guard inner(me->m_lock);
        me->runMain();
    });
    m_finishedChanged.wait(lock, [this] { return m_finished; });
}

void KPHTTPRequest::startSynchronous()
{
    auto me = self();
    platform::HTTPRunLoop loop;
    {
        std::lock_guard lock(m_lock);
        m_isSynchronous = true;
        m_loop = &loop;
        m_inProgress = true;
        if (!m_cancelled && !m_complete)
            runMain();
    }
    loop.run([this] {
        std::lock_guard lock(m_lock);
        return m_complete && !m_needsRedirect;
    });
    std::lock_guard lock(m_lock);
    stopStatusTimer();
    m_readStream.reset();
    m_loop = nullptr;
    m_inProgress = false;
}

void KPHTTPRequest::cancel()
{
    std::lock_guard lock(m_lock);
    platform::HTTPRunLoop* loop = m_loop ? m_loop : &requestThreadLoop();
    auto me = self();
    if (!me)
        return;
    loop->post([me] { me->cancelOnRequestThread(); });
}

void KPHTTPRequest::cancelOnRequestThread()
{
    auto me = self(); // alive through every step
    std::lock_guard lock(m_lock);
    if (m_cancelled || m_complete)
        return;
    failWithError(sharedError(kphttp::RequestCancelledErrorType));
    m_complete = true;
    cancelLoad();
    m_cancelled = true;
    Operation::cancel();
    notifyState(QStringLiteral("isCancelled"));
    if (!m_inProgress)
        m_finishedChanged.notify_all();
}

void KPHTTPRequest::clearDelegatesAndCancel()
{
    {
        std::lock_guard lock(m_lock);
        m_delegate.reset();
        m_queue.reset();
        m_uploadProgressDelegate.reset();
        m_downloadProgressDelegate.reset();
        releaseBlocksOnMainThread();
    }
    cancel();
}

void KPHTTPRequest::releaseBlocksOnMainThread()
{
    // The blocks may hold objects of the main thread: they are let go there.
    auto blocks = std::make_shared<std::vector<std::function<void()>>>();
    const auto take = [&](auto& block) {
        if (block)
            blocks->push_back([b = std::exchange(block, {})] { (void)b; });
    };
    take(m_startedBlock);
    take(m_headersReceivedBlock);
    take(m_completionBlock);
    take(m_failureBlock);
    take(m_bytesReceivedBlock);
    take(m_bytesSentBlock);
    take(m_downloadSizeIncrementedBlock);
    take(m_uploadSizeIncrementedBlock);
    take(m_dataReceivedBlock);
    take(m_authenticationNeededBlock);
    take(m_proxyAuthenticationNeededBlock);
    take(m_requestRedirectedBlock);
    if (!blocks->empty() && !platform::Dispatch::isMainThread())
        platform::Dispatch::main([blocks] {});
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

// --- main

void KPHTTPRequest::runMain()
{
    try {
        if (m_error) {
            // An error set before the start (a form file that does not exist) is reported now.
            m_complete = true;
            m_underlyingError.reset();
            reportFailure();
            markAsFinished();
            return;
        }
        m_complete = false;
        if (!m_startTime)
            m_startTime = KPHTTPBandwidth::now();
        if (m_url.isEmpty() || !m_url.isValid()) {
            failWithError(sharedError(kphttp::UnableToCreateRequestErrorType));
            return;
        }
        const QString scheme = m_url.scheme().toLower();
        if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || m_url.host().isEmpty()) {
            failWithError(sharedError(kphttp::UnableToCreateRequestErrorType));
            return;
        }
        m_didUseCachedResponse = false;
        if (!m_mainRequest.lock() && !buildPostBody())
            return;
        if (m_requestMethod != "GET")
            m_downloadCache.reset();
        if (auto main = m_mainRequest.lock()) {
            std::lock_guard mainLock(main->m_lock);
            main->buildRequestHeaders();
        }
        buildRequestHeaders();
        if (m_error)
            return;
        applyCookieHeader();
        if (m_downloadCache) {
            if (m_cachePolicy == 0)
                m_cachePolicy = m_downloadCache->defaultCachePolicy();
            if (m_downloadCache->canUseCachedDataForRequest(cacheInfo())) {
                useDataFromCache();
                return;
            }
            if (m_cachePolicy & (KPAskServerIfModifiedWhenStaleCachePolicy | KPAskServerIfModifiedCachePolicy)) {
                if (const auto cached = m_downloadCache->cachedResponseHeadersForURL(m_url)) {
                    if (const QString etag = cached->value(QStringLiteral("Etag")); !etag.isEmpty())
                        m_requestHeaders.set(QStringLiteral("If-None-Match"), etag);
                    if (const QString modified = cached->value(QStringLiteral("Last-Modified")); !modified.isEmpty())
                        m_requestHeaders.set(QStringLiteral("If-Modified-Since"), modified);
                }
            }
        }
        applyAuthorizationHeader();
        if (!configureProxies())
            return;
        startRequest();
    } catch (const std::exception& e) {
        failWithError(kphttp::error(kphttp::UnhandledExceptionError, QString::fromLocal8Bit(e.what())));
    } catch (...) {
        failWithError(kphttp::error(kphttp::UnhandledExceptionError, QStringLiteral("Unknown exception")));
    }
}

// --- one attempt

void KPHTTPRequest::startRequest()
{
    if (m_cancelled)
        return;
    reportStarted();

    m_downloadComplete = false;
    m_complete = false;
    m_totalBytesRead = 0;
    m_lastBytesRead = 0;
    if (m_redirectCount == 0)
        m_originalURL = m_url;
    if (m_lastBytesSent > 0)
        removeUploadProgressSoFar();
    m_lastBytesSent = 0;
    m_totalBytesSent = 0;
    m_contentLength = 0;
    m_responseHeaders.clear();
    m_haveResponseHeaders = false;
    m_authenticationNeeded = 0;
    if (m_downloadDestinationPath.isEmpty())
        m_rawResponseData.clear();
    m_inflatedResponseData.reset();
    m_readStreamIsScheduled = false;
    m_dataDecompressor.reset();

    m_postBodyReadStream.reset();
    if (m_shouldStreamPostDataFromDisk && !m_postBodyFilePath.isEmpty() && QFileInfo::exists(m_postBodyFilePath)) {
        const QString path = !m_compressedPostBodyFilePath.isEmpty() && QFileInfo::exists(m_compressedPostBodyFilePath)
                                 ? m_compressedPostBodyFilePath
                                 : m_postBodyFilePath;
        m_postBodyReadStream = KPInputStream::inputStreamWithFileAtPath(path);
        if (!m_postBodyReadStream) {
            failWithError(kphttp::error(kphttp::InternalErrorWhileBuildingRequestType,
                                        QStringLiteral("Unable to create read stream")));
            return;
        }
    } else if (!m_postBody.isEmpty()) {
        m_postBodyReadStream = KPInputStream::inputStreamWithData(
            m_shouldCompressRequestBody && !m_compressedPostBody.isEmpty() ? m_compressedPostBody : m_postBody);
    }

    platform::HTTPRequestMessage message;
    message.method = m_requestMethod;
    message.url = m_url;
    message.httpVersionOne = m_useHTTPVersionOne;
    message.headers = m_requestHeaders;
    if (!m_proxyHost.isEmpty() && m_proxyPort != 0) {
        if (m_proxyType.isEmpty())
            m_proxyType = QStringLiteral("HTTP");
        message.proxy.type = m_proxyType.compare(QLatin1String("SOCKS"), Qt::CaseInsensitive) == 0
                                 ? platform::HTTPProxySettings::Type::SOCKS
                                 : platform::HTTPProxySettings::Type::HTTP;
        message.proxy.host = m_proxyHost;
        message.proxy.port = m_proxyPort;
        message.proxy.authorization = m_proxyAuthorization;
    }
    m_rangeSent = m_requestHeaders.contains(QStringLiteral("Range"));

    platform::HTTPStream::BodyReader reader;
    if (m_postBodyReadStream) {
        KPInputStream* body = m_postBodyReadStream.get();
        reader = [body](char* buffer, qint64 max) { return body->read(buffer, max); };
    }
    platform::HTTPStreamTLSSettings tls;
    if (m_url.scheme().toLower() == QLatin1String("https")) {
        tls.validatesCertificate = m_validatesSecureCertificate;
        tls.clientIdentityPath = m_clientCertificateIdentity;
        tls.clientIdentityPassword = m_clientCertificatePassword;
    }
    destroyReadStream();
    m_readStream = std::make_unique<HTTPStream>(*m_loop, message, reader, tls);

    {
        std::lock_guard lock(g_connectionsLock);
        expirePersistentConnections();
        const QString host = m_url.host();
        const QString scheme = m_url.scheme().toLower();
        const int port = m_url.port(0);
        if (host.isEmpty() || scheme.isEmpty() || !m_shouldAttemptPersistentConnection) {
            m_connectionInfo.reset();
        } else {
            const auto matches = [&](const KPConnectionRecord& r) { return r.host == host && r.scheme == scheme && r.port == port; };
            if (m_connectionInfo && !matches(*m_connectionInfo))
                m_connectionInfo.reset();
            if (m_connectionInfo && m_connectionInfo->expires <= KPHTTPBandwidth::now() && m_connectionInfo->request == 0) {
                std::erase(g_connectionPool, m_connectionInfo);
                m_connectionInfo.reset();
            } else if (m_connectionInfo && m_connectionInfo->request != 0) {
                m_connectionInfo.reset();
            }
            if (!m_connectionInfo) {
                for (auto it = g_connectionPool.rbegin(); it != g_connectionPool.rend(); ++it)
                    if ((*it)->request == 0 && matches(**it)) {
                        m_connectionInfo = *it;
                        break;
                    }
            }
            if (!m_connectionInfo) {
                m_connectionInfo = std::make_shared<KPConnectionRecord>();
                m_connectionInfo->id = ++g_nextConnectionID;
                m_connectionInfo->host = host;
                m_connectionInfo->port = port;
                m_connectionInfo->scheme = scheme;
                g_connectionPool.push_back(m_connectionInfo);
            }
            if (!m_requestID)
                m_requestID = ++g_nextRequestID;
            m_connectionInfo->request = m_requestID;
            m_readStream->setReusableConnection(std::exchange(m_connectionInfo->connection, nullptr));
        }
    }

    const std::weak_ptr<KPHTTPRequest> weak = self();
    m_readStream->setClient([weak](HTTPStream::Event event) {
        if (auto me = weak.lock())
            me->handleNetworkEvent(int(event));
    });
    // A throttled request whose wake-up time lies ahead waits for the status check.
    const auto wake = KPHTTPBandwidth::throttleWakeUpTime();
    if (!(KPHTTPBandwidth::isBandwidthThrottled() && wake && *wake > KPHTTPBandwidth::now()))
        scheduleReadStream();
    else
        m_readStream->setScheduled(false);

    if (!m_readStream->open()) {
        const Error streamError = m_readStream->error().value_or(Error{});
        m_connectionCanBeReused = false;
        destroyReadStream();
        if (streamError.domain == HTTPStream::ErrorDomain && streamError.code == HTTPStream::UnsupportedScheme)
            failWithError(kphttp::error(kphttp::InternalErrorWhileBuildingRequestType,
                                        QStringLiteral("Unable to start HTTP connection")),
                          streamError);
        else
            failWithError(kphttp::error(kphttp::ConnectionFailureErrorType, QStringLiteral("A connection failure occurred")),
                          streamError);
        return;
    }
    if (!m_mainRequest.lock())
        resetProgressAtStart();
    m_lastActivityTime = KPHTTPBandwidth::now();
    startStatusTimer();
}

void KPHTTPRequest::startStatusTimer()
{
    stopStatusTimer();
    const std::weak_ptr<KPHTTPRequest> weak = self();
    m_statusTimer = m_loop->addTimer(std::chrono::milliseconds(250), true, [weak] {
        if (auto me = weak.lock()) {
            std::lock_guard lock(me->m_lock);
            if (!me->m_inProgress && !me->m_isSynchronous) {
                me->stopStatusTimer();
                return;
            }
            me->checkRequestStatus();
        }
    });
}

void KPHTTPRequest::stopStatusTimer()
{
    if (m_statusTimer && m_loop)
        m_loop->removeTimer(m_statusTimer);
    m_statusTimer = 0;
}

void KPHTTPRequest::scheduleReadStream()
{
    if (!m_readStream || m_readStreamIsScheduled)
        return;
    m_lastActivityTime = KPHTTPBandwidth::now();
    m_readStream->setScheduled(true);
    m_readStreamIsScheduled = true;
}

void KPHTTPRequest::unscheduleReadStream()
{
    if (!m_readStream || !m_readStreamIsScheduled)
        return;
    m_readStream->setScheduled(false);
    m_readStreamIsScheduled = false;
}

void KPHTTPRequest::destroyReadStream()
{
    if (!m_readStream)
        return;
    unscheduleReadStream();
    m_readStream.reset();
}

void KPHTTPRequest::handleNetworkEvent(int event)
{
    auto me = self();
    {
        std::lock_guard lock(m_lock);
        if (m_complete || m_cancelled)
            return;
        switch (HTTPStream::Event(event)) {
        case HTTPStream::Event::HasBytesAvailable: handleBytesAvailable(); break;
        case HTTPStream::Event::EndEncountered: handleStreamComplete(); break;
        case HTTPStream::Event::ErrorOccurred: handleStreamError(); break;
        }
        performThrottling();
    }
    std::lock_guard lock(m_lock);
    if (m_downloadComplete && m_needsRedirect) {
        if (!willAskDelegateToConfirmRedirect())
            performRedirect();
    } else if (m_downloadComplete && m_authenticationNeeded && !m_error) {
        attemptToApplyCredentialsAndResume();
    }
}

void KPHTTPRequest::readResponseHeaders()
{
    m_authenticationNeeded = 0;
    if (!m_readStream || !m_readStream->response().headersComplete())
        return;
    const auto& response = m_readStream->response();
    m_haveResponseHeaders = true;
    m_responseHeaders = response.headers();
    m_responseStatusCode = response.statusCode();
    m_responseStatusMessage = response.statusLine();
    if (m_downloadCache && m_downloadCache->canUseCachedDataForRequest(cacheInfo())) {
        m_downloadCache->updateExpiryForRequest(cacheInfo(), m_secondsToCache);
        destroyReadStream();
        useDataFromCache();
        return;
    }
    if (m_responseStatusCode == 401)
        m_authenticationNeeded = 1;
    else if (m_responseStatusCode == 407)
        m_authenticationNeeded = 2;

    if (!m_authenticationNeeded && !m_requestAuthentication
        && m_authenticationScheme.compare(QLatin1String("Basic"), Qt::CaseInsensitive) == 0 && !m_username.isEmpty()
        && !m_password.isEmpty() && m_useSessionPersistence)
        storeBasicSessionCredentials(m_url, KPCredentials{m_username, m_password, {}});

    m_responseEncoding = m_defaultResponseEncoding;
    parseMimeType(nullptr, &m_responseEncoding, m_responseHeaders.value(QStringLiteral("Content-Type")));

    const QDateTime now = QDateTime::currentDateTimeUtc();
    m_responseCookies = platform::HTTPCookieStorage::cookiesForResponse(
        m_responseHeaders.values(QStringLiteral("Set-Cookie")), m_url, now);
    if (m_useCookiePersistence && !m_responseCookies.isEmpty()) {
        platform::HTTPCookieStorage::shared().setCookies(m_responseCookies, now);
        for (const auto& cookie : m_responseCookies)
            addSessionCookie(cookie);
    }

    if (!willRedirect()) {
        auto main = m_mainRequest.lock();
        KPHTTPRequest* target = main ? main.get() : this;
        // A HEAD sub-request writes its sizes into its main request, under that one's lock.
        std::unique_lock<std::recursive_mutex> targetLock;
        if (main)
            targetLock = std::unique_lock(main->m_lock);
        const QString lengthText = m_responseHeaders.value(QStringLiteral("Content-Length"));
        if (!lengthText.isNull()) {
            const quint64 length = quint64(platform::HTTPResponseParser::parseContentLength(lengthText.toLatin1()).value_or(0));
            if (main && m_allowCompressedResponse && length == 20 && m_showAccurateProgress && m_shouldResetDownloadProgress) {
                // Twenty bytes is the size of an empty gzip body: the real size is unknown.
                target->m_showAccurateProgress = false;
                target->incrementDownloadSizeBy(1);
            } else {
                target->m_contentLength = length;
                // One allocation for a body of known size (a lying server gets no more than 64 MiB).
                if (!main && m_downloadDestinationPath.isEmpty()) {
                    m_rawResponseData.reserve(qsizetype(std::min({length, quint64(64) << 20, m_maxResponseBodySize})));
                    noteResponseBodyMemory();
                }
                if (m_showAccurateProgress && m_shouldResetDownloadProgress)
                    target->incrementDownloadSizeBy(qint64(target->m_contentLength + m_partialDownloadSize));
            }
        } else if (m_showAccurateProgress && m_shouldResetDownloadProgress) {
            target->m_showAccurateProgress = false;
            target->incrementDownloadSizeBy(1);
        }
    }

    if (m_shouldAttemptPersistentConnection) {
        const QString connection = m_responseHeaders.value(QStringLiteral("Connection")).toLower();
        if ((response.httpVersion() != QLatin1String("1.0") || connection == QLatin1String("keep-alive"))
            && connection != QLatin1String("close")) {
            const QString keepAlive = m_responseHeaders.value(QStringLiteral("Keep-Alive"));
            if (!keepAlive.isNull()) {
                const auto number = [&](const QString& key) {
                    const qsizetype at = keepAlive.indexOf(key);
                    if (at < 0)
                        return 0;
                    qsizetype i = at + key.size();
                    int v = 0;
                    while (i < keepAlive.size() && keepAlive[i].isDigit() && v < 100000)
                        v = v * 10 + (keepAlive[i++].unicode() - u'0');
                    return v;
                };
                const int timeout = number(QStringLiteral("timeout="));
                const int max = number(QStringLiteral("max="));
                if (max > 5) {
                    m_connectionCanBeReused = true;
                    m_persistentConnectionTimeoutSeconds = timeout;
                }
            } else {
                m_connectionCanBeReused = true;
            }
        }
    }
    reportHeaders(m_responseHeaders);
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
        failWithError(sharedError(kphttp::TooMuchRedirectionErrorType));
        m_complete = true;
    }
}

void KPHTTPRequest::handleBytesAvailable()
{
    if (!m_haveResponseHeaders)
        readResponseHeaders();
    if (m_complete || !m_readStream || !m_readStream->hasBytesAvailable())
        return;
    // A body announced past the cap is refused before any of it is kept.
    if (keepsBodyInMemory() && !m_needsRedirect && !keepsWithinBodyCap(m_contentLength))
        return;
    qint64 size = m_contentLength <= 65536 ? 16384 : m_contentLength <= 262144 ? 65536 : 262144;
    if (KPHTTPBandwidth::isBandwidthThrottled())
        size = KPHTTPBandwidth::throttledReadLength(size);
    QByteArray data = m_readStream->read(size);
    if (data.isEmpty())
        return;

    QByteArray inflated;
    const bool inflateNow = !m_shouldWaitToInflateCompressedResponses
                            && m_responseHeaders.value(QStringLiteral("Content-Encoding")).contains(QLatin1String("gzip"), Qt::CaseInsensitive);
    const bool inMemory = keepsBodyInMemory();
    if (inflateNow) {
        if (!m_dataDecompressor)
            m_dataDecompressor = KPDataDecompressor::decompressor();
        // Kept in memory, the inflated bytes go straight onto the body: one buffer, within the cap.
        QByteArray& into = inMemory ? m_rawResponseData : inflated;
        const qsizetype most = inMemory ? qsizetype(m_maxResponseBodySize) : KPDataDecompressor::MaxOutputPerCall;
        auto result = m_dataDecompressor ? m_dataDecompressor->uncompressBytesInto(data.constData(), data.size(), into, most)
                                         : std::unexpected(KPDataDecompressor::inflateErrorWithCode(-4));
        if (inMemory)
            noteResponseBodyMemory();
        if (!result) {
            if (m_dataDecompressor && m_dataDecompressor->outputLimitReached() && inMemory) {
                keepsWithinBodyCap(m_maxResponseBodySize + 1);
                return;
            }
            cancelLoad();
            failWithError(result.error());
            return;
        }
    }
    m_totalBytesRead += quint64(data.size());
    KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(quint64(data.size()));
    m_lastActivityTime = KPHTTPBandwidth::now();

    if (m_needsRedirect && m_shouldRedirect && m_allowResumeForFileDownloads && !m_downloadDestinationPath.isEmpty())
        return;
    const QByteArray& delivered = inflateNow ? inflated : data;
    const auto d = m_delegate.lock();
    if (m_dataReceivedBlock || (d && d->didReceiveData)) {
        onMain([delivered](KPHTTPRequest& r) {
            std::shared_ptr<KPHTTPRequestDelegate> dd;
            DataBlock block;
            {
                std::lock_guard lock(r.m_lock);
                dd = r.m_delegate.lock();
                block = r.m_dataReceivedBlock;
            }
            if (dd && dd->didReceiveData)
                dd->didReceiveData(r, delivered);
            if (block)
                block(delivered);
        });
        return;
    }
    if (m_downloadDestinationPath.isEmpty()) {
        if (inflateNow)
            return; // already on the body
        const qsizetype size = m_rawResponseData.size() + delivered.size();
        if (!keepsWithinBodyCap(quint64(size)))
            return;
        kphttp::reserveWithin(m_rawResponseData, size, qsizetype(m_maxResponseBodySize));
        m_rawResponseData.append(delivered);
        noteResponseBodyMemory();
        return;
    }
    if (!m_fileDownloadOutputStream && !openDownloadFiles())
        return;
    if (m_fileDownloadOutputStream->write(data) != data.size()
        || (inflateNow && m_inflatedFileDownloadOutputStream
            && m_inflatedFileDownloadOutputStream->write(inflated) != inflated.size())) {
        const QString path = m_fileDownloadOutputStream->fileName();
        cancelLoad();
        failWithError(kphttp::error(kphttp::FileManagementError,
                                    QStringLiteral("Failed to get attributes for file at path '%1'").arg(path)),
                      Error::posix(ENOSPC, path));
    }
}

void KPHTTPRequest::noteResponseBodyMemory()
{
    m_peakResponseBodyMemory = std::max(m_peakResponseBodyMemory, quint64(m_rawResponseData.capacity()));
}

quint64 KPHTTPRequest::peakResponseBodyMemory() const
{
    std::lock_guard lock(m_lock);
    return m_peakResponseBodyMemory;
}

bool KPHTTPRequest::keepsBodyInMemory() const
{
    if (!m_downloadDestinationPath.isEmpty() || m_dataReceivedBlock)
        return false;
    const auto d = m_delegate.lock();
    return !(d && d->didReceiveData);
}

bool KPHTTPRequest::keepsWithinBodyCap(quint64 size)
{
    if (size <= m_maxResponseBodySize)
        return true;
    const quint64 cap = m_maxResponseBodySize;
    cancelLoad();
    m_rawResponseData.clear();
    m_inflatedResponseData.reset();
    failWithError(kphttp::error(kphttp::ResponseTooLargeErrorType,
                                QStringLiteral("The response is larger than %1 bytes, the most this request keeps in memory")
                                    .arg(cap)));
    return false;
}

bool KPHTTPRequest::openDownloadFiles()
{
    const auto openFile = [&](QString* path, std::unique_ptr<QFile>* stream) {
        bool append = false;
        if (path->isEmpty()) {
            auto made = makeTemporaryFile();
            if (!made) {
                failWithError(kphttp::error(kphttp::FileManagementError,
                                            QStringLiteral("Failed to get attributes for file at path '%1'").arg(QString())),
                              made.error());
                return false;
            }
            *path = *made;
        } else if (m_allowResumeForFileDownloads && m_rangeSent) {
            if (m_responseHeaders.contains(QStringLiteral("Content-Range"))) {
                append = true;
            } else if (m_partialDownloadSize > 0) {
                // The server ignored the range: the whole body comes again.
                incrementDownloadSizeBy(-qint64(m_partialDownloadSize));
                m_partialDownloadSize = 0;
            }
        }
        *stream = std::make_unique<QFile>(*path);
        if (!(*stream)->open(append ? QIODevice::Append : (QIODevice::WriteOnly | QIODevice::Truncate))) {
            const QString failed = *path;
            stream->reset();
            failWithError(kphttp::error(kphttp::FileManagementError,
                                        QStringLiteral("Failed to get attributes for file at path '%1'").arg(failed)),
                          Error::posix(errno, failed));
            return false;
        }
        return true;
    };
    if (!openFile(&m_temporaryFileDownloadPath, &m_fileDownloadOutputStream))
        return false;
    const bool inflateNow = !m_shouldWaitToInflateCompressedResponses
                            && m_responseHeaders.value(QStringLiteral("Content-Encoding")).contains(QLatin1String("gzip"), Qt::CaseInsensitive);
    if (inflateNow && !openFile(&m_temporaryUncompressedDataDownloadPath, &m_inflatedFileDownloadOutputStream))
        return false;
    return true;
}

void KPHTTPRequest::handleStreamComplete()
{
    stopStatusTimer();
    m_downloadComplete = true;
    if (!m_haveResponseHeaders)
        readResponseHeaders();
    if (m_didUseCachedResponse)
        return; // answered from the cache while the headers were read
    // A body that stopped before the end of its gzip stream is not a whole response.
    const bool truncatedInflation = m_dataDecompressor && !m_dataDecompressor->streamEnded() && m_totalBytesRead > 0;
    m_lastBytesSent = m_totalBytesSent;
    if (m_readStream)
        m_totalBytesSent = quint64(m_readStream->bytesWritten());
    m_complete = true;
    if (m_contentLength == 0)
        m_contentLength = m_totalBytesRead;
    updateProgressIndicators();
    if (m_postBodyReadStream) {
        m_postBodyReadStream->close();
        m_postBodyReadStream.reset();
    }
    m_dataDecompressor.reset();
    if (m_didCreateTemporaryPostDataFile && !m_authenticationNeeded) {
        removeTemporaryUploadFile();
        removeTemporaryCompressedUploadFile();
    }

    std::optional<Error> fileError;
    std::optional<Error> fileUnderlying;
    if (truncatedInflation)
        fileError = KPDataDecompressor::inflateErrorWithCode(-5);
    // A compressed body kept in memory is inflated once, here, within the cap: a small body
    // that inflates past it fails the request instead of coming back empty later.
    if (!fileError && m_downloadDestinationPath.isEmpty() && m_shouldWaitToInflateCompressedResponses
        && !m_needsRedirect && !m_authenticationNeeded && isResponseCompressed()) {
        bool limitReached = false;
        QByteArray inflated;
        auto done = KPDataDecompressor::uncompressDataInto(m_rawResponseData, inflated, qsizetype(m_maxResponseBodySize),
                                                           &limitReached);
        m_peakResponseBodyMemory = std::max(m_peakResponseBodyMemory,
                                            quint64(m_rawResponseData.capacity()) + quint64(inflated.capacity()));
        if (done) {
            m_inflatedResponseData = std::move(inflated);
        } else if (limitReached) {
            m_rawResponseData.clear();
            fileError = kphttp::error(kphttp::ResponseTooLargeErrorType,
                                      QStringLiteral("The response is larger than %1 bytes, the most this request keeps in memory")
                                          .arg(m_maxResponseBodySize));
        }
    }
    if (!m_downloadDestinationPath.isEmpty()) {
        if (m_fileDownloadOutputStream)
            m_fileDownloadOutputStream->close();
        if (m_inflatedFileDownloadOutputStream)
            m_inflatedFileDownloadOutputStream->close();
        m_fileDownloadOutputStream.reset();
        m_inflatedFileDownloadOutputStream.reset();
        const bool pendingResumableRedirect = m_shouldRedirect && m_needsRedirect && m_allowResumeForFileDownloads;
        if (!pendingResumableRedirect && !m_needsRedirect && !fileError) {
            const bool compressed = m_responseHeaders.value(QStringLiteral("Content-Encoding")).contains(QLatin1String("gzip"), Qt::CaseInsensitive);
            Error removeError;
            if (m_temporaryFileDownloadPath.isEmpty()) {
                // An empty body never opened the file: the destination gets an empty one.
                auto made = makeTemporaryFile();
                if (made)
                    m_temporaryFileDownloadPath = *made;
            }
            if (compressed && m_shouldWaitToInflateCompressedResponses) {
                if (!removeFileAtPath(m_downloadDestinationPath, &removeError)) {
                    fileError = removeError;
                } else if (auto done = KPDataDecompressor::uncompressDataFromFile(m_temporaryFileDownloadPath, m_downloadDestinationPath); !done) {
                    fileError = done.error();
                }
                removeTemporaryDownloadFile();
            } else if (compressed) {
                if (!removeFileAtPath(m_downloadDestinationPath, &removeError)) {
                    fileError = removeError;
                } else if (auto moved = platform::FileManager::moveItem(m_temporaryUncompressedDataDownloadPath, m_downloadDestinationPath); !moved) {
                    fileError = kphttp::error(kphttp::FileManagementError,
                                              QStringLiteral("Failed to move file from '%1' to '%2'")
                                                  .arg(m_temporaryUncompressedDataDownloadPath, m_downloadDestinationPath));
                    fileUnderlying = moved.error();
                } else {
                    m_temporaryUncompressedDataDownloadPath.clear();
                }
                removeTemporaryUncompressedDownloadFile();
                removeTemporaryDownloadFile();
            } else {
                if (!removeFileAtPath(m_downloadDestinationPath, &removeError)) {
                    fileError = removeError;
                } else if (auto moved = platform::FileManager::moveItem(m_temporaryFileDownloadPath, m_downloadDestinationPath); !moved) {
                    fileError = kphttp::error(kphttp::FileManagementError,
                                              QStringLiteral("Failed to move file from '%1' to '%2'")
                                                  .arg(m_temporaryFileDownloadPath, m_downloadDestinationPath));
                    fileUnderlying = moved.error();
                    removeTemporaryDownloadFile();
                } else {
                    m_temporaryFileDownloadPath.clear();
                }
            }
        }
    }

    {
        std::lock_guard lock(g_connectionsLock);
        if (m_connectionInfo) {
            m_connectionInfo->connection = m_connectionCanBeReused && m_readStream ? m_readStream->detachConnection() : nullptr;
            m_connectionInfo->request = 0;
            m_connectionInfo->expires = KPHTTPBandwidth::now() + m_persistentConnectionTimeoutSeconds;
        }
    }
    if (m_downloadCache && !m_didUseCachedResponse && !fileError) {
        KPCacheRequestInfo info = cacheInfo();
        info.complete = true;
        m_downloadCache->storeResponseForRequest(info, m_secondsToCache);
    }
    if (!m_authenticationNeeded)
        destroyReadStream();
    if (!m_needsRedirect && !m_authenticationNeeded) {
        if (fileError)
            failWithError(*fileError, fileUnderlying);
        else
            requestFinished();
        markAsFinished();
    }
}

void KPHTTPRequest::handleStreamError()
{
    const Error streamError = m_readStream && m_readStream->error() ? *m_readStream->error() : Error{};
    if (m_error) {
        cancelLoad();
        return;
    }
    if (isDroppedConnection(streamError) && retryUsingNewConnection())
        return;
    cancelLoad();
    QString text = QStringLiteral("A connection failure occurred");
    if (streamError.domain == HTTPStream::TLSErrorDomain && streamError.code >= -9818 && streamError.code <= -9800)
        text = QStringLiteral("%1: SSL problem (Possible causes may include a bad/expired/self-signed certificate, clock set to wrong date)")
                   .arg(streamError.message);
    failWithError(kphttp::error(kphttp::ConnectionFailureErrorType, text), streamError);
    checkRequestStatus();
}

bool KPHTTPRequest::retryUsingNewConnection()
{
    if (m_retryCount != 0)
        return false;
    m_willRetryRequest = true;
    cancelLoad();
    m_willRetryRequest = false;
    dropRecord(std::exchange(m_connectionInfo, nullptr));
    ++m_retryCount;
    startRequest();
    return true;
}

void KPHTTPRequest::cancelLoad()
{
    stopStatusTimer();
    destroyReadStream();
    if (m_postBodyReadStream) {
        m_postBodyReadStream->close();
        m_postBodyReadStream.reset();
    }
    m_dataDecompressor.reset();
    if (m_downloadDestinationPath.isEmpty()) {
        if (!m_complete)
            m_rawResponseData.clear();
    } else {
        m_fileDownloadOutputStream.reset();
        m_inflatedFileDownloadOutputStream.reset();
        if (!m_complete) {
            if (!m_allowResumeForFileDownloads)
                removeTemporaryDownloadFile();
            removeTemporaryUncompressedDownloadFile();
        }
    }
    if (!m_authenticationNeeded && !m_willRetryRequest && m_didCreateTemporaryPostDataFile) {
        removeTemporaryUploadFile();
        removeTemporaryCompressedUploadFile();
        m_didCreateTemporaryPostDataFile = false;
    }
}

// --- status check and time-outs

bool KPHTTPRequest::shouldTimeOut() const
{
    if (!m_readStream || !m_readStreamIsScheduled || !m_lastActivityTime || m_timeOutSeconds <= 0)
        return false;
    const double silent = KPHTTPBandwidth::now() - *m_lastActivityTime;
    if (silent <= m_timeOutSeconds)
        return false;
    if (m_postLength == 0)
        return true;
    // A body the stream took into its buffer may take longer to leave it.
    if (m_uploadBufferSize && m_totalBytesSent > m_uploadBufferSize)
        return true;
    return silent > m_timeOutSeconds * 1.5;
}

bool KPHTTPRequest::pastTotalDeadline() const
{
    return m_totalTimeOutSeconds > 0 && m_startTime && KPHTTPBandwidth::now() - *m_startTime > m_totalTimeOutSeconds;
}

void KPHTTPRequest::checkRequestStatus()
{
    auto me = self();
    if (m_cancelled || m_complete)
        return;
    performThrottling();
    if (pastTotalDeadline()) {
        failWithError(sharedError(kphttp::RequestTimedOutErrorType));
        cancelLoad();
        m_complete = true;
        return;
    }
    if (shouldTimeOut()) {
        if (m_retryCount >= m_numberOfTimesToRetryOnTimeout) {
            failWithError(sharedError(kphttp::RequestTimedOutErrorType));
            cancelLoad();
            m_complete = true;
            return;
        }
        updatePartialDownloadSize();
        if (m_partialDownloadSize > 0) {
            m_requestHeaders.set(QStringLiteral("Range"), QStringLiteral("bytes=%1-").arg(m_partialDownloadSize));
        }
        ++m_retryCount;
        m_willRetryRequest = true;
        cancelLoad();
        m_willRetryRequest = false;
        startRequest();
        return;
    }
    if (m_readStream) {
        if (m_postLength) {
            m_lastBytesSent = m_totalBytesSent;
            m_totalBytesSent = quint64(m_readStream->bytesWritten());
            if (m_totalBytesSent > m_lastBytesSent) {
                m_lastActivityTime = KPHTTPBandwidth::now();
                KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(m_totalBytesSent - m_lastBytesSent);
            }
        }
        updateProgressIndicators();
    }
}

// --- finishing and failing

void KPHTTPRequest::requestFinished()
{
    if (m_error || m_mainRequest.lock())
        return;
    reportFinished();
}

void KPHTTPRequest::failWithError(const Error& error, std::optional<Error> underlying)
{
    m_complete = true;
    if (error.code != kphttp::AuthenticationErrorType && error.code != kphttp::TooMuchRedirectionErrorType) {
        dropRecord(std::exchange(m_connectionInfo, nullptr));
        stopStatusTimer();
        destroyReadStream();
    }
    if (m_cancelled || m_error)
        return;
    if (m_downloadCache && (m_cachePolicy & KPFallbackToCacheIfLoadFailsCachePolicy)
        && m_downloadCache->canUseCachedDataForRequest(cacheInfo())) {
        useDataFromCache();
        return;
    }
    m_error = error;
    m_underlyingError = underlying;
    if (auto main = m_mainRequest.lock()) {
        std::lock_guard lock(main->m_lock);
        if (!main->m_error) {
            main->m_error = error;
            main->m_underlyingError = underlying;
        }
        main->reportFailure();
    } else {
        reportFailure();
    }
    if (m_inProgress)
        markAsFinished();
}

void KPHTTPRequest::markAsFinished()
{
    const bool wasFinished = m_finished;
    const bool wasInProgress = m_inProgress;
    m_inProgress = false;
    m_finished = true;
    stopStatusTimer();
    if (!wasFinished)
        notifyState(QStringLiteral("isFinished"));
    if (wasInProgress)
        notifyState(QStringLiteral("isExecuting"));
    m_finishedChanged.notify_all();
}

void KPHTTPRequest::notifyState(const QString& key)
{
    if (m_stateObserver)
        m_stateObserver(key);
}
