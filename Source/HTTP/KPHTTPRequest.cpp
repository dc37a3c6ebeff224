// A request's life: making and copying it, the class's request thread and shared queue,
// starting (on a queue or synchronously), cancelling, the first step of each attempt (main),
// and finishing or failing.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/HTTPStream/HTTPRunLoop.h"
#include "Platform/HTTPStream/HTTPStream.h"
#include "HTTP/KPDataDecompressor.h"
#include "HTTP/KPDownloadCache.h"
#include "HTTP/KPHTTPBandwidth.h"
#include "HTTP/KPInputStream.h"

#include <QFile>
#include <csignal>
#include <exception>
#include <pthread.h>
#include <thread>

using platform::Error;

namespace {

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

Error KPHTTPRequest::sharedErrorFor(int code)
{
    return sharedError(code);
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
        dropConnection();
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
