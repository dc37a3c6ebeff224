// One attempt of a request on the wire: the class's pool of kept connections, opening the
// stream, its scheduling and events, the retry on a new connection when a kept one was
// dropped, tearing an attempt down, and the status check with its time-outs.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/HTTPStream/HTTPRunLoop.h"
#include "Platform/HTTPStream/HTTPStream.h"
#include "HTTP/KPDataDecompressor.h"
#include "HTTP/KPHTTPBandwidth.h"
#include "HTTP/KPInputStream.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>

using platform::Error;
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

void KPHTTPRequest::changeSharedQueueLimit(int delta)
{
    std::lock_guard lock(g_connectionsLock);
    platform::OperationQueue& queue = sharedQueue();
    queue.setMaxConcurrentOperationCount(std::max(1, queue.maxConcurrentOperationCount() + delta));
}

namespace {

bool isDroppedConnection(const Error& e)
{
    if (e.domain == QLatin1String("POSIX"))
        return e.code == ENOTCONN || e.code == EPIPE || e.code == ECONNRESET;
    return e.domain == HTTPStream::ErrorDomain && e.code == HTTPStream::ConnectionLostBeforeResponse;
}

} // namespace

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

// After a whole response: the connection goes back to the pool, kept open when it may serve
// the next request to the same server.
void KPHTTPRequest::releaseConnection()
{
    std::lock_guard lock(g_connectionsLock);
    if (m_connectionInfo) {
        m_connectionInfo->connection = m_connectionCanBeReused && m_readStream ? m_readStream->detachConnection() : nullptr;
        m_connectionInfo->request = 0;
        m_connectionInfo->expires = KPHTTPBandwidth::now() + m_persistentConnectionTimeoutSeconds;
    }
}

void KPHTTPRequest::dropConnection()
{
    dropRecord(std::exchange(m_connectionInfo, nullptr));
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
        failWithError(sharedErrorFor(kphttp::RequestTimedOutErrorType));
        cancelLoad();
        m_complete = true;
        return;
    }
    if (shouldTimeOut()) {
        if (m_retryCount >= m_numberOfTimesToRetryOnTimeout) {
            failWithError(sharedErrorFor(kphttp::RequestTimedOutErrorType));
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
