// The plain getters and setters of a request; those other threads call take the request's lock.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/HTTPStream/HTTPAuthentication.h"

using platform::Error;
using platform::HTTPHeaders;

#define LOCKED_GETTER(type, name, member)                                                                              \
    type KPHTTPRequest::name() const                                                                                   \
    {                                                                                                                  \
        std::lock_guard lock(m_lock);                                                                                  \
        return member;                                                                                                 \
    }

LOCKED_GETTER(int, responseStatusCode, m_responseStatusCode)
LOCKED_GETTER(QString, responseStatusMessage, m_responseStatusMessage)
LOCKED_GETTER(HTTPHeaders, responseHeaders, m_responseHeaders)
LOCKED_GETTER(std::optional<Error>, error, m_error)
LOCKED_GETTER(std::optional<Error>, underlyingError, m_underlyingError)
LOCKED_GETTER(QByteArray, rawResponseData, m_rawResponseData)
LOCKED_GETTER(bool, complete, m_complete)
LOCKED_GETTER(bool, isFinishedRequest, m_finished)
LOCKED_GETTER(bool, isRequestCancelled, m_cancelled)
LOCKED_GETTER(bool, inProgress, m_inProgress)
LOCKED_GETTER(QUrl, url, m_url)
LOCKED_GETTER(QUrl, originalURL, m_originalURL)
LOCKED_GETTER(QUrl, redirectURL, m_redirectURL)
LOCKED_GETTER(std::weak_ptr<KPHTTPRequestDelegate>, delegate, m_delegate)
LOCKED_GETTER(std::shared_ptr<KPHTTPRequestQueueReceiver>, queue, m_queue)
LOCKED_GETTER(QByteArray, requestMethod, m_requestMethod)
LOCKED_GETTER(QByteArray, postBody, m_postBody)
LOCKED_GETTER(HTTPHeaders, requestHeaders, m_requestHeaders)
LOCKED_GETTER(QString, downloadDestinationPath, m_downloadDestinationPath)
LOCKED_GETTER(QString, temporaryFileDownloadPath, m_temporaryFileDownloadPath)
LOCKED_GETTER(std::weak_ptr<KPProgressDelegate>, uploadProgressDelegate, m_uploadProgressDelegate)
LOCKED_GETTER(std::weak_ptr<KPProgressDelegate>, downloadProgressDelegate, m_downloadProgressDelegate)
LOCKED_GETTER(quint64, contentLength, m_contentLength)
LOCKED_GETTER(quint64, partialDownloadSize, m_partialDownloadSize)
LOCKED_GETTER(quint64, postLength, m_postLength)
LOCKED_GETTER(quint64, totalBytesRead, m_totalBytesRead)
LOCKED_GETTER(quint64, totalBytesSent, m_totalBytesSent)
LOCKED_GETTER(bool, showAccurateProgress, m_showAccurateProgress)
LOCKED_GETTER(quint64, uploadBufferSize, m_uploadBufferSize)
LOCKED_GETTER(QByteArray, responseEncoding, m_responseEncoding)
LOCKED_GETTER(int, redirectCount, m_redirectCount)
LOCKED_GETTER(int, retryCount, m_retryCount)
LOCKED_GETTER(bool, shouldAttemptPersistentConnection, m_shouldAttemptPersistentConnection)
LOCKED_GETTER(double, persistentConnectionTimeoutSeconds, m_persistentConnectionTimeoutSeconds)
LOCKED_GETTER(bool, connectionCanBeReused, m_connectionCanBeReused)
LOCKED_GETTER(int, authenticationNeeded, m_authenticationNeeded)
#undef LOCKED_GETTER

void KPHTTPRequest::setURL(const QUrl& url)
{
    std::lock_guard lock(m_lock);
    if (url == m_url)
        return;
    m_url = url;
    m_redirectURL.clear();
    m_requestAuthentication.reset();
}

void KPHTTPRequest::setDelegate(const std::shared_ptr<KPHTTPRequestDelegate>& delegate)
{
    std::lock_guard lock(m_lock);
    m_delegate = delegate;
}

void KPHTTPRequest::setQueue(const std::shared_ptr<KPHTTPRequestQueueReceiver>& queue)
{
    std::lock_guard lock(m_lock);
    m_queue = queue;
}

void KPHTTPRequest::setRequestMethod(const QByteArray& method)
{
    std::lock_guard lock(m_lock);
    if (method == m_requestMethod)
        return;
    m_requestMethod = method;
    // A request that sends a body does not share a connection.
    if (method == "POST" || method == "PUT" || !m_postBody.isEmpty() || !m_postBodyFilePath.isEmpty())
        m_shouldAttemptPersistentConnection = false;
}

void KPHTTPRequest::setPostBody(const QByteArray& body)
{
    std::lock_guard lock(m_lock);
    m_postBody = body;
    m_hasPostBody = true;
}

void KPHTTPRequest::setRequestHeaders(const HTTPHeaders& headers)
{
    std::lock_guard lock(m_lock);
    m_requestHeaders = headers;
}

void KPHTTPRequest::setDownloadDestinationPath(const QString& path)
{
    std::lock_guard lock(m_lock);
    m_downloadDestinationPath = path;
}

void KPHTTPRequest::setTemporaryFileDownloadPath(const QString& path)
{
    std::lock_guard lock(m_lock);
    m_temporaryFileDownloadPath = path;
}

void KPHTTPRequest::setUploadProgressDelegate(const std::shared_ptr<KPProgressDelegate>& receiver)
{
    {
        std::lock_guard lock(m_lock);
        m_uploadProgressDelegate = receiver;
    }
    setProgressIndicator(&KPHTTPRequest::m_uploadProgressDelegate, -1, -1);
}

void KPHTTPRequest::setDownloadProgressDelegate(const std::shared_ptr<KPProgressDelegate>& receiver)
{
    {
        std::lock_guard lock(m_lock);
        m_downloadProgressDelegate = receiver;
    }
    setProgressIndicator(&KPHTTPRequest::m_downloadProgressDelegate, -1, -1);
}

void KPHTTPRequest::setShowAccurateProgress(bool on)
{
    std::lock_guard lock(m_lock);
    m_showAccurateProgress = on;
}

void KPHTTPRequest::setShouldAttemptPersistentConnection(bool on)
{
    std::lock_guard lock(m_lock);
    m_shouldAttemptPersistentConnection = on;
}

void KPHTTPRequest::setPersistentConnectionTimeoutSeconds(double seconds)
{
    std::lock_guard lock(m_lock);
    m_persistentConnectionTimeoutSeconds = seconds;
}

void KPHTTPRequest::setClientCertificateIdentity(const QString& path, const QString& password)
{
    m_clientCertificateIdentity = path;
    m_clientCertificatePassword = password;
}

void KPHTTPRequest::setStateObserver(std::function<void(const QString&)> observer)
{
    std::lock_guard lock(m_lock);
    m_stateObserver = std::move(observer);
}

void KPHTTPRequest::setError(const Error& error)
{
    std::lock_guard lock(m_lock);
    if (!m_error)
        m_error = error;
}

#define BLOCK_SETTER(name, type, member)                                                                               \
    void KPHTTPRequest::name(type block)                                                                               \
    {                                                                                                                  \
        std::lock_guard lock(m_lock);                                                                                  \
        member = std::move(block);                                                                                     \
    }
BLOCK_SETTER(setStartedBlock, Block, m_startedBlock)
BLOCK_SETTER(setHeadersReceivedBlock, HeadersBlock, m_headersReceivedBlock)
BLOCK_SETTER(setCompletionBlock, Block, m_completionBlock)
BLOCK_SETTER(setFailedBlock, Block, m_failureBlock)
BLOCK_SETTER(setBytesReceivedBlock, ProgressBlock, m_bytesReceivedBlock)
BLOCK_SETTER(setBytesSentBlock, ProgressBlock, m_bytesSentBlock)
BLOCK_SETTER(setDownloadSizeIncrementedBlock, SizeBlock, m_downloadSizeIncrementedBlock)
BLOCK_SETTER(setUploadSizeIncrementedBlock, SizeBlock, m_uploadSizeIncrementedBlock)
BLOCK_SETTER(setDataReceivedBlock, DataBlock, m_dataReceivedBlock)
BLOCK_SETTER(setAuthenticationNeededBlock, Block, m_authenticationNeededBlock)
BLOCK_SETTER(setProxyAuthenticationNeededBlock, Block, m_proxyAuthenticationNeededBlock)
BLOCK_SETTER(setRequestRedirectedBlock, Block, m_requestRedirectedBlock)
#undef BLOCK_SETTER

