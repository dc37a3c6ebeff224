// Responses kept on disk for requests: one property-list file of headers and one body file per
// URL, in a store for the running session and a permanent one. It answers whether a stored
// response may serve a request under the request's cache policy and the server's caching
// headers, and whether a new response may be stored.
//
// Threads: one recursive lock guards every operation; requests on the request thread and
// callers elsewhere share one cache.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/HTTPStream/HTTPHeaders.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <memory>
#include <mutex>
#include <optional>

enum KPCachePolicy {
    KPUseDefaultCachePolicy = 0,
    KPDoNotReadFromCacheCachePolicy = 1,
    KPDoNotWriteToCacheCachePolicy = 2,
    KPAskServerIfModifiedWhenStaleCachePolicy = 4,
    KPAskServerIfModifiedCachePolicy = 8,
    KPOnlyLoadIfNotCachedCachePolicy = 16,
    KPDontLoadCachePolicy = 32,
    KPFallbackToCacheIfLoadFailsCachePolicy = 64,
};

enum KPCacheStoragePolicy { KPCacheForSessionDurationCacheStoragePolicy = 0, KPCachePermanentlyCacheStoragePolicy = 1 };

// What the cache needs to know of a request.
struct KPCacheRequestInfo {
    QUrl url;
    int cachePolicy = 0;
    int cacheStoragePolicy = 0;
    bool hasError = false;
    bool complete = false;
    int responseStatusCode = 0;
    std::optional<platform::HTTPHeaders> responseHeaders;
    bool responseCompressed = false;
    QByteArray responseData;  // the body, inflated, when it is in memory
    QString downloadPath;     // the body's file when it went to one
};

class KPDownloadCache {
public:
    KPDownloadCache();

    // The shared cache in "<caches>/com.norlith.folivo2/KPHTTPRequestCache"; null when that
    // folder cannot be made.
    static std::shared_ptr<KPDownloadCache> sharedCache();

    QString storagePath() const;
    // Errors keep the names "FileExistsAtCachePath" and "FailedToCreateCacheDirectory" as
    // their domain.
    platform::Result<void> setStoragePath(const QString& path);
    int defaultCachePolicy() const;
    void setDefaultCachePolicy(int policy);
    bool shouldRespectCacheControlHeaders() const;
    void setShouldRespectCacheControlHeaders(bool on);

    void storeResponseForRequest(const KPCacheRequestInfo& request, double maxAge);
    void updateExpiryForRequest(const KPCacheRequestInfo& request, double maxAge);

    std::optional<platform::HTTPHeaders> cachedResponseHeadersForURL(const QUrl& url) const;
    std::optional<QByteArray> cachedResponseDataForURL(const QUrl& url) const;
    QString pathToCachedResponseHeadersForURL(const QUrl& url) const;
    QString pathToCachedResponseDataForURL(const QUrl& url) const;
    void removeCachedDataForURL(const QUrl& url);
    platform::Result<void> clearCachedResponsesForStoragePolicy(int storagePolicy);

    bool isCachedDataCurrentForRequest(const KPCacheRequestInfo& request) const;
    bool canUseCachedDataForRequest(const KPCacheRequestInfo& request) const;
    static bool serverAllowsResponseCachingForRequest(const platform::HTTPHeaders& headers);
    // MD5 of the URL without one trailing "/", 32 upper-case hex digits; empty for no URL.
    static QString keyForURL(const QUrl& url);
    // The body file's extension: the path's, when it is 1 to 16 letters and digits and not a
    // server script's, else "html".
    static QString bodyExtensionForURL(const QUrl& url);

private:
    QString storeFolder(int storagePolicy) const;
    QString existingFile(const QUrl& url, const QString& extension) const;
    int effectivePolicy(int policy) const;

    mutable std::recursive_mutex m_accessLock;
    QString m_storagePath;
    int m_defaultCachePolicy = KPAskServerIfModifiedWhenStaleCachePolicy;
    bool m_shouldRespectCacheControlHeaders = true;
};
