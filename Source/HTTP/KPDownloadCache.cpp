#include "HTTP/KPDownloadCache.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/PropertyList.h"
#include "HTTP/KPHTTPRequestUtilities.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
const QString SessionStore = QStringLiteral("SessionStore");
const QString PermanentStore = QStringLiteral("PermanentStore");
const QString ExpiresKey = QStringLiteral("X-KPHTTPRequest-Expires");
const QString StatusKey = QStringLiteral("X-KPHTTPRequest-Response-Status-Code");

platform::HTTPHeaders headersFromMap(const QVariantMap& map)
{
    platform::HTTPHeaders headers;
    for (auto it = map.begin(); it != map.end(); ++it)
        headers.set(it.key(), it.value().toString());
    return headers;
}
} // namespace

KPDownloadCache::KPDownloadCache() = default;

std::shared_ptr<KPDownloadCache> KPDownloadCache::sharedCache()
{
    static std::mutex lock;
    static std::shared_ptr<KPDownloadCache> shared;
    std::lock_guard guard(lock);
    if (!shared) {
        auto cache = std::make_shared<KPDownloadCache>();
        const QString root = platform::Paths::cacheHome() + QStringLiteral("/com.norlith.folivo2");
        QDir().mkpath(root);
        if (!cache->setStoragePath(root + QStringLiteral("/KPHTTPRequestCache")))
            return nullptr;
        shared = cache;
    }
    return shared;
}

QString KPDownloadCache::storagePath() const
{
    std::lock_guard lock(m_accessLock);
    return m_storagePath;
}

platform::Result<void> KPDownloadCache::setStoragePath(const QString& path)
{
    std::lock_guard lock(m_accessLock);
    (void)clearCachedResponsesForStoragePolicy(KPCacheForSessionDurationCacheStoragePolicy);
    m_storagePath = path;
    for (const QString& folder : {path, path + u'/' + SessionStore, path + u'/' + PermanentStore}) {
        const QFileInfo info(folder);
        if (info.exists() && !info.isDir())
            return platform::fail(QStringLiteral("FileExistsAtCachePath"), 0,
                                  QStringLiteral("Cannot create a directory for the cache at '%1', because a file already exists").arg(folder));
        if (!info.exists() && (!QDir().mkdir(folder) || !QFileInfo(folder).isDir()))
            return platform::fail(QStringLiteral("FailedToCreateCacheDirectory"), 0,
                                  QStringLiteral("Failed to create a directory for the cache at '%1'").arg(folder));
    }
    return clearCachedResponsesForStoragePolicy(KPCacheForSessionDurationCacheStoragePolicy);
}

int KPDownloadCache::defaultCachePolicy() const
{
    std::lock_guard lock(m_accessLock);
    return m_defaultCachePolicy;
}

void KPDownloadCache::setDefaultCachePolicy(int policy)
{
    std::lock_guard lock(m_accessLock);
    m_defaultCachePolicy = policy ? policy : KPAskServerIfModifiedWhenStaleCachePolicy;
}

bool KPDownloadCache::shouldRespectCacheControlHeaders() const
{
    std::lock_guard lock(m_accessLock);
    return m_shouldRespectCacheControlHeaders;
}

void KPDownloadCache::setShouldRespectCacheControlHeaders(bool on)
{
    std::lock_guard lock(m_accessLock);
    m_shouldRespectCacheControlHeaders = on;
}

int KPDownloadCache::effectivePolicy(int policy) const
{
    return policy ? policy : m_defaultCachePolicy;
}

QString KPDownloadCache::keyForURL(const QUrl& url)
{
    QString text = url.toString(QUrl::FullyEncoded);
    if (text.isEmpty())
        return {};
    if (text.endsWith(u'/'))
        text.chop(1);
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex().toUpper());
}

QString KPDownloadCache::bodyExtensionForURL(const QUrl& url)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,16}$"));
    static const QStringList scripts = {QStringLiteral("asp"), QStringLiteral("aspx"), QStringLiteral("jsp"), QStringLiteral("php"),
                                        QStringLiteral("rb"),  QStringLiteral("py"),   QStringLiteral("pl"),  QStringLiteral("cgi")};
    const QString extension = QFileInfo(url.path()).suffix();
    // Only a short plain extension names a file: anything else could walk out of the store.
    if (!plain.match(extension).hasMatch() || scripts.contains(extension.toLower()))
        return QStringLiteral("html");
    return extension;
}

QString KPDownloadCache::storeFolder(int storagePolicy) const
{
    return m_storagePath + u'/' + (storagePolicy == KPCacheForSessionDurationCacheStoragePolicy ? SessionStore : PermanentStore);
}

QString KPDownloadCache::existingFile(const QUrl& url, const QString& extension) const
{
    const QString key = keyForURL(url);
    if (m_storagePath.isEmpty() || key.isEmpty())
        return {};
    for (int policy : {KPCacheForSessionDurationCacheStoragePolicy, KPCachePermanentlyCacheStoragePolicy}) {
        const QString path = storeFolder(policy) + u'/' + key + u'.' + extension;
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

QString KPDownloadCache::pathToCachedResponseHeadersForURL(const QUrl& url) const
{
    std::lock_guard lock(m_accessLock);
    return existingFile(url, QStringLiteral("cachedheaders"));
}

QString KPDownloadCache::pathToCachedResponseDataForURL(const QUrl& url) const
{
    std::lock_guard lock(m_accessLock);
    return existingFile(url, bodyExtensionForURL(url));
}

std::optional<platform::HTTPHeaders> KPDownloadCache::cachedResponseHeadersForURL(const QUrl& url) const
{
    std::lock_guard lock(m_accessLock);
    const QString path = existingFile(url, QStringLiteral("cachedheaders"));
    if (path.isEmpty())
        return std::nullopt;
    const auto value = platform::PropertyList::readFile(path);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return std::nullopt; // a damaged file is no cached response
    return headersFromMap(value->toMap());
}

std::optional<QByteArray> KPDownloadCache::cachedResponseDataForURL(const QUrl& url) const
{
    std::lock_guard lock(m_accessLock);
    const QString path = existingFile(url, bodyExtensionForURL(url));
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool KPDownloadCache::serverAllowsResponseCachingForRequest(const platform::HTTPHeaders& headers)
{
    const QString control = headers.value(QStringLiteral("Cache-Control")).toLower().trimmed();
    const QString pragma = headers.value(QStringLiteral("Pragma")).toLower().trimmed();
    if (control == QLatin1String("no-cache") || pragma == QLatin1String("no-cache"))
        return false;
    // "no-store" forbids writing the response anywhere, whatever else the header says.
    for (const QString& directive : control.split(u','))
        if (directive.trimmed() == QLatin1String("no-store"))
            return false;
    return true;
}

void KPDownloadCache::storeResponseForRequest(const KPCacheRequestInfo& request, double maxAge)
{
    std::lock_guard lock(m_accessLock);
    const int status = request.responseStatusCode;
    if (request.hasError || !request.responseHeaders || (effectivePolicy(request.cachePolicy) & KPDoNotWriteToCacheCachePolicy)
        || !(status == 200 || status == 301 || status == 302 || status == 303 || status == 307))
        return;
    if (m_shouldRespectCacheControlHeaders && !serverAllowsResponseCachingForRequest(*request.responseHeaders))
        return;
    const QString key = keyForURL(request.url);
    if (key.isEmpty() || m_storagePath.isEmpty())
        return;
    const QString folder = storeFolder(request.cacheStoragePolicy);
    QVariantMap headers;
    for (const auto& [name, value] : request.responseHeaders->fields())
        headers.insert(name, value);
    if (request.responseCompressed)
        headers.remove(QStringLiteral("Content-Encoding"));
    if (const auto expiry = KPHTTPRequestUtilities::expiryDateForResponseHeaders(*request.responseHeaders, maxAge,
                                                                                QDateTime::currentDateTimeUtc()))
        headers.insert(ExpiresKey, double(expiry->toSecsSinceEpoch()));
    headers.insert(StatusKey, status == 304 ? 200 : status);
    if (!platform::PropertyList::writeFile(headers, folder + u'/' + key + QStringLiteral(".cachedheaders"), platform::PlistFormat::Xml))
        return;
    const QString dataPath = folder + u'/' + key + u'.' + bodyExtensionForURL(request.url);
    if (request.downloadPath.isEmpty()) {
        (void)platform::FileManager::writeAtomically(dataPath, request.responseData);
    } else if (request.downloadPath != dataPath) {
        QFile::remove(dataPath);
        (void)platform::FileManager::copyItem(request.downloadPath, dataPath);
    }
}

void KPDownloadCache::updateExpiryForRequest(const KPCacheRequestInfo& request, double maxAge)
{
    std::lock_guard lock(m_accessLock);
    const QString path = existingFile(request.url, QStringLiteral("cachedheaders"));
    if (path.isEmpty())
        return;
    const auto value = platform::PropertyList::readFile(path);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return;
    QVariantMap headers = value->toMap();
    const auto expiry = KPHTTPRequestUtilities::expiryDateForResponseHeaders(headersFromMap(headers), maxAge,
                                                                            QDateTime::currentDateTimeUtc());
    if (!expiry)
        return;
    headers.insert(ExpiresKey, double(expiry->toSecsSinceEpoch()));
    (void)platform::PropertyList::writeFile(headers, path, platform::PlistFormat::Xml);
}

void KPDownloadCache::removeCachedDataForURL(const QUrl& url)
{
    std::lock_guard lock(m_accessLock);
    for (const QString& path : {existingFile(url, QStringLiteral("cachedheaders")), existingFile(url, bodyExtensionForURL(url))})
        if (!path.isEmpty())
            QFile::remove(path);
}

platform::Result<void> KPDownloadCache::clearCachedResponsesForStoragePolicy(int storagePolicy)
{
    std::lock_guard lock(m_accessLock);
    if (m_storagePath.isEmpty())
        return {};
    const QString folder = storeFolder(storagePolicy);
    if (!QFileInfo(folder).isDir())
        return {};
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QString path = dir.filePath(name);
        if (!QFile::remove(path))
            return platform::fail(QStringLiteral("FailedToRemoveCacheFile"), 0,
                                  QStringLiteral("Failed to remove cached data at path '%1'").arg(path));
    }
    return {};
}

bool KPDownloadCache::isCachedDataCurrentForRequest(const KPCacheRequestInfo& request) const
{
    std::lock_guard lock(m_accessLock);
    if (m_storagePath.isEmpty())
        return false;
    const auto cached = cachedResponseHeadersForURL(request.url);
    if (!cached || existingFile(request.url, bodyExtensionForURL(request.url)).isEmpty())
        return false;
    if (request.responseStatusCode == 304)
        return true;
    if (request.responseHeaders && request.complete) {
        for (const QString& name : {QStringLiteral("Etag"), QStringLiteral("Last-Modified")}) {
            const QString mine = request.responseHeaders->value(name);
            if (mine.isNull() || mine != cached->value(name))
                return false;
        }
    }
    if (!m_shouldRespectCacheControlHeaders)
        return true;
    const QString expires = cached->value(ExpiresKey);
    bool ok = false;
    const double seconds = expires.toDouble(&ok);
    return ok && seconds >= double(QDateTime::currentSecsSinceEpoch());
}

bool KPDownloadCache::canUseCachedDataForRequest(const KPCacheRequestInfo& request) const
{
    std::lock_guard lock(m_accessLock);
    const int policy = effectivePolicy(request.cachePolicy);
    if (policy & KPDoNotReadFromCacheCachePolicy)
        return false;
    if (policy & KPDontLoadCachePolicy)
        return true;
    if (!cachedResponseHeadersForURL(request.url) || existingFile(request.url, bodyExtensionForURL(request.url)).isEmpty())
        return false;
    if (policy & KPOnlyLoadIfNotCachedCachePolicy)
        return true;
    if (request.complete && (policy & KPFallbackToCacheIfLoadFailsCachePolicy))
        return true;
    if (policy & KPAskServerIfModifiedWhenStaleCachePolicy)
        return isCachedDataCurrentForRequest(request);
    if (policy & KPAskServerIfModifiedCachePolicy)
        return request.responseHeaders && isCachedDataCurrentForRequest(request);
    return false;
}
