// A request's response: its header fields, its body kept in memory within its cap (inflated at
// once or at the end) or written to the download files, and its end.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/HTTPStream/HTTPStream.h"
#include "HTTP/ByteArrayGrowth.h"
#include "HTTP/KPDataDecompressor.h"
#include "HTTP/KPDownloadCache.h"
#include "HTTP/KPHTTPBandwidth.h"
#include "HTTP/KPInputStream.h"

#include <QFile>
#include <cerrno>

using platform::Error;

void storeBasicSessionCredentials(const QUrl& url, const KPCredentials& credentials);

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

// --- the response

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

    releaseConnection();
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
