// An operation queue made for requests: it starts suspended, runs up to four at once, forwards
// each request's events to its callbacks, sums the progress of all its requests into one upload
// and one download indicator, and cancels the rest when one request fails.
//
// Threads: requests report to the queue on the main thread, so its counters and callbacks are
// main-thread state; add requests on the main thread too.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/OperationQueue.h"
#include "HTTP/KPHTTPRequest.h"

#include <QVariantMap>
#include <functional>
#include <memory>

class KPNetworkQueue : public std::enable_shared_from_this<KPNetworkQueue> {
public:
    static inline const QString InvalidRequestErrorName = QStringLiteral("AttemptToAddInvalidRequest");

    static std::shared_ptr<KPNetworkQueue> queue();
    KPNetworkQueue();
    ~KPNetworkQueue();
    KPNetworkQueue(const KPNetworkQueue&) = delete;
    KPNetworkQueue& operator=(const KPNetworkQueue&) = delete;
    // A new queue with this one's callbacks, progress receivers, flags and user info.
    std::shared_ptr<KPNetworkQueue> copy() const;

    void go();
    void setSuspended(bool suspended);
    bool isSuspended() const;
    // Cancels everything, forgets the callbacks and receivers, and suspends the queue.
    void reset();
    void cancelAllOperations();

    // Only requests may join: anything else is refused with "AttemptToAddInvalidRequest".
    platform::Result<void> addOperation(const std::shared_ptr<platform::Operation>& operation);
    void addHEADOperation(const std::shared_ptr<platform::Operation>& operation);
    int operationCount() const;

    // What the queue tells of each request it runs; an empty one is not called.
    std::function<void(KPHTTPRequest&)> requestDidStart;
    std::function<void(KPHTTPRequest&, const platform::HTTPHeaders&)> requestDidReceiveResponseHeaders;
    std::function<void(KPHTTPRequest&, const QUrl&)> requestWillRedirect;
    std::function<void(KPHTTPRequest&)> requestDidFinish;
    std::function<void(KPHTTPRequest&)> requestDidFail;
    std::function<void(KPNetworkQueue&)> queueDidFinish;
    std::function<void(KPHTTPRequest&)> authenticationNeededForRequest;
    std::function<void(KPHTTPRequest&)> proxyAuthenticationNeededForRequest;

    void setUploadProgressDelegate(const std::shared_ptr<KPProgressDelegate>& receiver);
    void setDownloadProgressDelegate(const std::shared_ptr<KPProgressDelegate>& receiver);

    int requestsCount() const { return m_requestsCount; }
    quint64 bytesUploadedSoFar() const { return m_bytesUploadedSoFar; }
    quint64 totalBytesToUpload() const { return m_totalBytesToUpload; }
    quint64 bytesDownloadedSoFar() const { return m_bytesDownloadedSoFar; }
    quint64 totalBytesToDownload() const { return m_totalBytesToDownload; }
    bool shouldCancelAllRequestsOnFailure = true;
    bool showAccurateProgress = false;
    QVariantMap userInfo;

private:
    std::shared_ptr<KPHTTPRequestQueueReceiver> receiver();
    void requestFinished(KPHTTPRequest& request, bool failed);
    static void resetIndicator(const std::weak_ptr<KPProgressDelegate>& receiver);
    static void updateIndicator(const std::weak_ptr<KPProgressDelegate>& receiver, quint64 soFar, quint64 total);

    std::unique_ptr<platform::OperationQueue> m_queue;
    std::shared_ptr<KPHTTPRequestQueueReceiver> m_receiver;
    std::weak_ptr<KPProgressDelegate> m_uploadProgressDelegate;
    std::weak_ptr<KPProgressDelegate> m_downloadProgressDelegate;
    int m_requestsCount = 0;
    quint64 m_bytesUploadedSoFar = 0;
    quint64 m_totalBytesToUpload = 0;
    quint64 m_bytesDownloadedSoFar = 0;
    quint64 m_totalBytesToDownload = 0;
};
