#include "HTTP/KPNetworkQueue.h"

std::shared_ptr<KPNetworkQueue> KPNetworkQueue::queue()
{
    return std::make_shared<KPNetworkQueue>();
}

KPNetworkQueue::KPNetworkQueue() : m_queue(std::make_unique<platform::OperationQueue>(QStringLiteral("KPNetworkQueue")))
{
    m_queue->setMaxConcurrentOperationCount(4);
    m_queue->setSuspended(true);
}

KPNetworkQueue::~KPNetworkQueue()
{
    // Requests that outlive the queue no longer report to it.
    for (const auto& op : m_queue->operations())
        if (auto request = std::dynamic_pointer_cast<KPHTTPRequest>(op))
            request->setQueue(nullptr);
    m_queue->setSuspended(false);
    m_queue->cancelAllOperations();
    m_queue.reset();
}

std::shared_ptr<KPNetworkQueue> KPNetworkQueue::copy() const
{
    auto other = queue();
    other->requestDidStart = requestDidStart;
    other->requestDidReceiveResponseHeaders = requestDidReceiveResponseHeaders;
    other->requestWillRedirect = requestWillRedirect;
    other->requestDidFinish = requestDidFinish;
    other->requestDidFail = requestDidFail;
    other->queueDidFinish = queueDidFinish;
    other->authenticationNeededForRequest = authenticationNeededForRequest;
    other->proxyAuthenticationNeededForRequest = proxyAuthenticationNeededForRequest;
    other->m_uploadProgressDelegate = m_uploadProgressDelegate;
    other->m_downloadProgressDelegate = m_downloadProgressDelegate;
    other->shouldCancelAllRequestsOnFailure = shouldCancelAllRequestsOnFailure;
    other->showAccurateProgress = showAccurateProgress;
    other->userInfo = userInfo;
    return other;
}

void KPNetworkQueue::go()
{
    m_queue->setSuspended(false);
}

void KPNetworkQueue::setSuspended(bool suspended)
{
    m_queue->setSuspended(suspended);
}

bool KPNetworkQueue::isSuspended() const
{
    return m_queue->isSuspended();
}

void KPNetworkQueue::reset()
{
    cancelAllOperations();
    requestDidStart = {};
    requestDidReceiveResponseHeaders = {};
    requestWillRedirect = {};
    requestDidFinish = {};
    requestDidFail = {};
    queueDidFinish = {};
    authenticationNeededForRequest = {};
    proxyAuthenticationNeededForRequest = {};
    m_uploadProgressDelegate.reset();
    m_downloadProgressDelegate.reset();
    setSuspended(true);
}

void KPNetworkQueue::cancelAllOperations()
{
    m_bytesUploadedSoFar = 0;
    m_totalBytesToUpload = 0;
    m_bytesDownloadedSoFar = 0;
    m_totalBytesToDownload = 0;
    for (const auto& op : m_queue->operations())
        op->cancel();
}

int KPNetworkQueue::operationCount() const
{
    return m_queue->operationCount();
}

void KPNetworkQueue::setUploadProgressDelegate(const std::shared_ptr<KPProgressDelegate>& receiver)
{
    m_uploadProgressDelegate = receiver;
    resetIndicator(receiver);
}

void KPNetworkQueue::setDownloadProgressDelegate(const std::shared_ptr<KPProgressDelegate>& receiver)
{
    m_downloadProgressDelegate = receiver;
    resetIndicator(receiver);
}

void KPNetworkQueue::resetIndicator(const std::weak_ptr<KPProgressDelegate>& weak)
{
    if (auto r = weak.lock()) {
        if (r->setMaxValue)
            r->setMaxValue(1.0);
        if (r->setDoubleValue)
            r->setDoubleValue(0);
    }
}

void KPNetworkQueue::updateIndicator(const std::weak_ptr<KPProgressDelegate>& weak, quint64 soFar, quint64 total)
{
    if (auto r = weak.lock(); r && r->setDoubleValue)
        r->setDoubleValue(KPHTTPRequest::progressFraction(double(soFar), double(total), false));
}

std::shared_ptr<KPHTTPRequestQueueReceiver> KPNetworkQueue::receiver()
{
    if (m_receiver)
        return m_receiver;
    const std::weak_ptr<KPNetworkQueue> weak = weak_from_this();
    auto r = std::make_shared<KPHTTPRequestQueueReceiver>();
    r->delegate.requestStarted = [weak](KPHTTPRequest& request) {
        if (auto q = weak.lock(); q && q->requestDidStart)
            q->requestDidStart(request);
    };
    r->delegate.didReceiveResponseHeaders = [weak](KPHTTPRequest& request, const platform::HTTPHeaders& headers) {
        if (auto q = weak.lock(); q && q->requestDidReceiveResponseHeaders)
            q->requestDidReceiveResponseHeaders(request, headers);
    };
    r->delegate.requestFinished = [weak](KPHTTPRequest& request) {
        if (auto q = weak.lock())
            q->requestFinished(request, false);
    };
    r->delegate.requestFailed = [weak](KPHTTPRequest& request) {
        if (auto q = weak.lock())
            q->requestFinished(request, true);
    };
    r->delegate.authenticationNeededForRequest = [weak](KPHTTPRequest& request) {
        if (auto q = weak.lock(); q && q->authenticationNeededForRequest)
            q->authenticationNeededForRequest(request);
    };
    r->delegate.proxyAuthenticationNeededForRequest = [weak](KPHTTPRequest& request) {
        if (auto q = weak.lock(); q && q->proxyAuthenticationNeededForRequest)
            q->proxyAuthenticationNeededForRequest(request);
    };
    r->progress.didReceiveBytes = [weak](KPHTTPRequest&, qint64 amount) {
        if (auto q = weak.lock()) {
            q->m_bytesDownloadedSoFar += quint64(amount);
            updateIndicator(q->m_downloadProgressDelegate, q->m_bytesDownloadedSoFar, q->m_totalBytesToDownload);
        }
    };
    r->progress.didSendBytes = [weak](KPHTTPRequest&, qint64 amount) {
        if (auto q = weak.lock()) {
            q->m_bytesUploadedSoFar += quint64(amount);
            updateIndicator(q->m_uploadProgressDelegate, q->m_bytesUploadedSoFar, q->m_totalBytesToUpload);
        }
    };
    r->progress.incrementDownloadSizeBy = [weak](KPHTTPRequest&, qint64 amount) {
        if (auto q = weak.lock())
            q->m_totalBytesToDownload += quint64(amount);
    };
    r->progress.incrementUploadSizeBy = [weak](KPHTTPRequest&, qint64 amount) {
        if (auto q = weak.lock())
            q->m_totalBytesToUpload += quint64(amount);
    };
    m_receiver = r;
    return r;
}

void KPNetworkQueue::requestFinished(KPHTTPRequest& request, bool failed)
{
    // A HEAD sub-request reports through its main request; it does not count here.
    if (request.mainRequest())
        return;
    --m_requestsCount;
    if (failed) {
        if (requestDidFail)
            requestDidFail(request);
    } else if (requestDidFinish) {
        requestDidFinish(request);
    }
    if (m_requestsCount == 0 && queueDidFinish)
        queueDidFinish(*this);
    if (failed && shouldCancelAllRequestsOnFailure && m_requestsCount > 0)
        cancelAllOperations();
}

platform::Result<void> KPNetworkQueue::addOperation(const std::shared_ptr<platform::Operation>& operation)
{
    auto request = std::dynamic_pointer_cast<KPHTTPRequest>(operation);
    if (!request)
        return platform::fail(InvalidRequestErrorName, 0,
                              QStringLiteral("Attempted to add an object that was not an KPHTTPRequest to an KPNetworkQueue"));
    ++m_requestsCount;
    quint64 uploadSize = 1;
    if (showAccurateProgress) {
        if (request->requestMethod() == "GET" && isSuspended()) {
            auto head = request->HEADRequest();
            addHEADOperation(head);
            request->addDependency(head);
        }
        if (request->shouldResetDownloadProgress()) {
            resetIndicator(m_downloadProgressDelegate);
            request->setShouldResetDownloadProgress(false);
        }
        // The body is finished on the request thread; until then its bytes are its length.
        uploadSize = request->postLength() ? request->postLength() : quint64(request->postBody().size());
    } else {
        m_totalBytesToDownload += 1;
    }
    m_totalBytesToUpload += uploadSize;
    if (request->shouldResetUploadProgress()) {
        resetIndicator(m_uploadProgressDelegate);
        request->setShouldResetUploadProgress(false);
    }
    request->setShowAccurateProgress(showAccurateProgress);
    request->setQueue(receiver());
    m_queue->addOperation(request);
    return {};
}

void KPNetworkQueue::addHEADOperation(const std::shared_ptr<platform::Operation>& operation)
{
    auto request = std::dynamic_pointer_cast<KPHTTPRequest>(operation);
    if (!request)
        return;
    request->setRequestMethod("HEAD");
    request->setQueuePriority(platform::OperationPriority::VeryHigh);
    request->setShowAccurateProgress(true);
    request->setQueue(receiver());
    m_queue->addOperation(request);
}
