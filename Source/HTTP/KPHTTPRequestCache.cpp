// A request's use of the download cache: its settings, what the cache reads of it, and
// answering from a stored response.
#include "HTTP/KPHTTPRequest.h"

#include "Platform/Foundation/FileManager.h"
#include "HTTP/KPDataDecompressor.h"
#include "HTTP/KPDownloadCache.h"

#include <QFile>

namespace {
std::mutex g_defaultCacheLock;
std::shared_ptr<KPDownloadCache> g_defaultCache;
} // namespace

std::shared_ptr<KPDownloadCache> KPHTTPRequest::defaultCache()
{
    std::lock_guard lock(g_defaultCacheLock);
    return g_defaultCache;
}

void KPHTTPRequest::setDefaultCache(const std::shared_ptr<KPDownloadCache>& cache)
{
    std::lock_guard lock(g_defaultCacheLock);
    g_defaultCache = cache;
}

#define LOCKED_FIELD(type, getter, setter, member)                                                                     \
    type KPHTTPRequest::getter() const                                                                                 \
    {                                                                                                                  \
        std::lock_guard lock(m_lock);                                                                                  \
        return member;                                                                                                 \
    }                                                                                                                  \
    void KPHTTPRequest::setter(type value)                                                                             \
    {                                                                                                                  \
        std::lock_guard lock(m_lock);                                                                                  \
        member = value;                                                                                                \
    }
LOCKED_FIELD(int, cachePolicy, setCachePolicy, m_cachePolicy)
LOCKED_FIELD(int, cacheStoragePolicy, setCacheStoragePolicy, m_cacheStoragePolicy)
LOCKED_FIELD(double, secondsToCache, setSecondsToCache, m_secondsToCache)
#undef LOCKED_FIELD

std::shared_ptr<KPDownloadCache> KPHTTPRequest::downloadCache() const
{
    std::lock_guard lock(m_lock);
    return m_downloadCache;
}

void KPHTTPRequest::setDownloadCache(const std::shared_ptr<KPDownloadCache>& cache)
{
    std::lock_guard lock(m_lock);
    m_downloadCache = cache;
}

bool KPHTTPRequest::didUseCachedResponse() const
{
    std::lock_guard lock(m_lock);
    return m_didUseCachedResponse;
}

KPCacheRequestInfo KPHTTPRequest::cacheInfo() const
{
    std::lock_guard lock(m_lock);
    KPCacheRequestInfo info;
    info.url = m_url;
    info.cachePolicy = m_cachePolicy;
    info.cacheStoragePolicy = m_cacheStoragePolicy;
    info.hasError = m_error.has_value();
    info.complete = m_complete;
    info.responseStatusCode = m_responseStatusCode;
    if (m_haveResponseHeaders)
        info.responseHeaders = m_responseHeaders;
    info.responseCompressed = isResponseCompressed();
    if (m_downloadDestinationPath.isEmpty())
        info.responseData = m_complete ? responseData() : QByteArray();
    else
        info.downloadPath = m_downloadDestinationPath;
    return info;
}

void KPHTTPRequest::useDataFromCache()
{
    auto main = m_mainRequest.lock();
    KPHTTPRequest* target = main ? main.get() : this;
    std::unique_lock<std::recursive_mutex> targetLock;
    if (main)
        targetLock = std::unique_lock(main->m_lock);
    const auto headers = m_downloadCache ? m_downloadCache->cachedResponseHeadersForURL(m_url) : std::nullopt;
    const QString dataPath = m_downloadCache ? m_downloadCache->pathToCachedResponseDataForURL(m_url) : QString();
    if (headers && !dataPath.isEmpty()) {
        m_responseStatusCode = headers->value(QStringLiteral("X-KPHTTPRequest-Response-Status-Code")).toInt();
        m_didUseCachedResponse = true;
        target->m_responseHeaders = *headers;
        target->m_haveResponseHeaders = true;
        target->m_responseStatusCode = m_responseStatusCode;
        if (target->m_downloadDestinationPath.isEmpty()) {
            QFile file(dataPath);
            target->m_rawResponseData = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        } else {
            // The caller asked for the body in its own file: it gets a copy there, and the
            // stored one stays the cache's.
            QFile::remove(target->m_downloadDestinationPath);
            if (auto copied = platform::FileManager::copyItem(dataPath, target->m_downloadDestinationPath); !copied) {
                failWithError(kphttp::error(kphttp::FileManagementError,
                                            QStringLiteral("Failed to move file from '%1' to '%2'")
                                                .arg(dataPath, target->m_downloadDestinationPath)),
                              copied.error());
                return;
            }
        }
        target->m_contentLength = headers->value(QStringLiteral("Content-Length")).toULongLong();
        target->m_totalBytesRead = target->m_contentLength;
        target->m_responseEncoding = target->m_defaultResponseEncoding;
        parseMimeType(nullptr, &target->m_responseEncoding, headers->value(QStringLiteral("Content-Type")));
        if (willRedirect()) {
            m_downloadComplete = true;
            m_complete = true;
            if (!willAskDelegateToConfirmRedirect())
                performRedirect();
            return;
        }
    }
    target->m_complete = true;
    target->m_downloadComplete = true;
    if (target->m_redirectCount == 0)
        target->m_originalURL = target->m_url;
    target->updateProgressIndicators();
    target->requestFinished();
    target->markAsFinished();
    if (main)
        markAsFinished();
}
