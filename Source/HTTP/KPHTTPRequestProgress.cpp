// The progress reports and the bandwidth throttling of a request.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/HTTPStream/HTTPStream.h"
#include "HTTP/KPHTTPBandwidth.h"

namespace {
std::recursive_mutex& progressLock()
{
    static std::recursive_mutex m;
    return m;
}
} // namespace

void KPHTTPRequest::performThrottling()
{
    if (!m_readStream)
        return;
    KPHTTPBandwidth::measureBandwidthUsage();
    if (KPHTTPBandwidth::isBandwidthThrottled()) {
        const auto wake = KPHTTPBandwidth::throttleWakeUpTime();
        if (!wake)
            return;
        if (*wake > KPHTTPBandwidth::now()) {
            if (m_readStreamIsScheduled)
                unscheduleReadStream();
        } else if (!m_readStreamIsScheduled) {
            scheduleReadStream();
        }
    } else if (!m_readStreamIsScheduled) {
        scheduleReadStream();
    }
}

void KPHTTPRequest::resetProgressAtStart()
{
    if (m_shouldResetUploadProgress) {
        incrementUploadSizeBy(m_showAccurateProgress ? qint64(m_postLength) : 1);
        setProgressIndicator(&KPHTTPRequest::m_uploadProgressDelegate, 0, 1);
    }
    if (m_shouldResetDownloadProgress && !m_partialDownloadSize)
        setProgressIndicator(&KPHTTPRequest::m_downloadProgressDelegate, 0, 1);
}

void KPHTTPRequest::updateProgressIndicators()
{
    if (m_mainRequest.lock())
        return;
    if (!m_showAccurateProgress) {
        if (!m_complete || m_updatedProgress)
            return;
    }
    updateUploadProgress();
    updateDownloadProgress();
}

void KPHTTPRequest::updateDownloadProgress()
{
    std::lock_guard lock(progressLock());
    if (!m_haveResponseHeaders || m_needsRedirect)
        return;
    if (!m_contentLength && !m_complete)
        return;
    const quint64 value = m_totalBytesRead + m_partialDownloadSize;
    qint64 amount = qint64(value) - qint64(m_lastBytesRead);
    if (!m_showAccurateProgress || !m_contentLength) {
        if (m_updatedProgress)
            return;
        amount = 1;
        m_updatedProgress = true;
    } else if (amount == 0) {
        return;
    }
    const quint64 total = m_contentLength + m_partialDownloadSize;
    sendProgress(&KPHTTPRequest::m_downloadProgressDelegate, &KPProgressDelegate::didReceiveBytes, amount);
    setProgressIndicator(&KPHTTPRequest::m_downloadProgressDelegate, double(value), double(total));
    onMain([amount, total](KPHTTPRequest& r) {
        ProgressBlock block;
        {
            std::lock_guard l(r.m_lock);
            block = r.m_bytesReceivedBlock;
        }
        if (block)
            block(quint64(amount), total);
    });
    m_lastBytesRead = value;
}

void KPHTTPRequest::updateUploadProgress()
{
    std::lock_guard lock(progressLock());
    if (m_cancelled || m_totalBytesSent == 0)
        return;
    if (m_uploadBufferSize == 0 && m_totalBytesSent != m_postLength) {
        // What the stream took before reporting anything is its buffer.
        m_uploadBufferSize = m_totalBytesSent;
        incrementUploadSizeBy(-qint64(m_uploadBufferSize));
    }
    qint64 amount = 0;
    if (m_showAccurateProgress) {
        if (m_totalBytesSent != m_postLength && m_lastBytesSent == 0)
            return;
        amount = qint64(m_totalBytesSent) - qint64(m_lastBytesSent);
    } else {
        if (m_updatedProgress)
            return;
        amount = 1;
        m_updatedProgress = true;
    }
    if (amount == 0)
        return;
    sendProgress(&KPHTTPRequest::m_uploadProgressDelegate, &KPProgressDelegate::didSendBytes, amount);
    const quint64 buffer = std::min(m_uploadBufferSize, m_totalBytesSent);
    setProgressIndicator(&KPHTTPRequest::m_uploadProgressDelegate, double(m_totalBytesSent - buffer),
                         double(m_postLength > buffer ? m_postLength - buffer : 0));
    const quint64 total = m_postLength;
    onMain([amount, total](KPHTTPRequest& r) {
        ProgressBlock block;
        {
            std::lock_guard l(r.m_lock);
            block = r.m_bytesSentBlock;
        }
        if (block)
            block(quint64(amount), total);
    });
}

void KPHTTPRequest::incrementDownloadSizeBy(qint64 amount)
{
    sendProgress(&KPHTTPRequest::m_downloadProgressDelegate, &KPProgressDelegate::incrementDownloadSizeBy, amount);
    onMain([amount](KPHTTPRequest& r) {
        SizeBlock block;
        {
            std::lock_guard l(r.m_lock);
            block = r.m_downloadSizeIncrementedBlock;
        }
        if (block)
            block(amount);
    });
}

void KPHTTPRequest::incrementUploadSizeBy(qint64 amount)
{
    sendProgress(&KPHTTPRequest::m_uploadProgressDelegate, &KPProgressDelegate::incrementUploadSizeBy, amount);
    onMain([amount](KPHTTPRequest& r) {
        SizeBlock block;
        {
            std::lock_guard l(r.m_lock);
            block = r.m_uploadSizeIncrementedBlock;
        }
        if (block)
            block(amount);
    });
}

void KPHTTPRequest::removeUploadProgressSoFar()
{
    const qint64 amount = -qint64(m_totalBytesSent);
    sendProgress(&KPHTTPRequest::m_uploadProgressDelegate, &KPProgressDelegate::didSendBytes, amount);
    setProgressIndicator(&KPHTTPRequest::m_uploadProgressDelegate, 0, double(m_postLength));
    const quint64 total = m_postLength;
    onMain([amount, total](KPHTTPRequest& r) {
        ProgressBlock block;
        {
            std::lock_guard l(r.m_lock);
            block = r.m_bytesSentBlock;
        }
        if (block)
            block(quint64(amount), total);
    });
}

void KPHTTPRequest::setProgressIndicator(std::weak_ptr<KPProgressDelegate> KPHTTPRequest::*field, double progress,
                                         double total)
{
    // A negative total asks for the receiver's maximum (set when a receiver is attached).
    onMain([field, progress, total](KPHTTPRequest& r) {
        std::shared_ptr<KPProgressDelegate> receiver;
        bool complete = false;
        {
            std::lock_guard l(r.m_lock);
            receiver = (r.*field).lock();
            complete = r.m_complete;
        }
        if (!receiver)
            return;
        if (total < 0) {
            if (receiver->setMaxValue)
                receiver->setMaxValue(1.0);
            return;
        }
        std::lock_guard lock(progressLock());
        if (receiver->setDoubleValue)
            receiver->setDoubleValue(progressFraction(progress, total, complete));
    });
}

void KPHTTPRequest::sendProgress(std::weak_ptr<KPProgressDelegate> KPHTTPRequest::*field,
                                 std::function<void(KPHTTPRequest&, qint64)> KPProgressDelegate::*message, qint64 amount)
{
    // The queue and the receiver are looked up again on the main thread: one cleared by then
    // hears nothing.
    onMain([field, message, amount](KPHTTPRequest& r) {
        std::shared_ptr<KPHTTPRequestQueueReceiver> q;
        std::shared_ptr<KPProgressDelegate> receiver;
        {
            std::lock_guard l(r.m_lock);
            q = r.m_queue;
            receiver = (r.*field).lock();
        }
        if (q && q->progress.*message)
            (q->progress.*message)(r, amount);
        if (receiver && (!q || receiver.get() != &q->progress) && receiver.get()->*message)
            (receiver.get()->*message)(r, amount);
    });
}
