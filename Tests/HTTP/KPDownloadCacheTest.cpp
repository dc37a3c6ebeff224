#include "Support/HTTPTestServer.h"
#include "Support/TestSupport.h"
#include "HTTP/KPDownloadCache.h"
#include "HTTP/KPHTTPRequest.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using testsupport::HTTPTestRequest;
using testsupport::HTTPTestResponse;
using testsupport::HTTPTestServer;

namespace {

std::shared_ptr<KPDownloadCache> freshCache()
{
    auto cache = std::make_shared<KPDownloadCache>();
    EXPECT_TRUE(cache->setStoragePath(testsupport::makeTempDir() + "/cache"));
    return cache;
}

KPCacheRequestInfo response(const QString& url, const QList<QPair<QString, QString>>& fields, int status = 200)
{
    KPCacheRequestInfo info;
    info.url = QUrl(url);
    info.responseStatusCode = status;
    platform::HTTPHeaders headers;
    for (const auto& [n, v] : fields)
        headers.set(n, v);
    info.responseHeaders = headers;
    info.responseData = "body of " + url.toUtf8();
    info.complete = true;
    return info;
}

} // namespace

TEST(KPDownloadCacheTest, KeysExtensionsAndWhatIsStored)
{
    EXPECT_EQ(KPDownloadCache::keyForURL(QUrl("http://h/a/")), KPDownloadCache::keyForURL(QUrl("http://h/a")));
    EXPECT_EQ(KPDownloadCache::keyForURL(QUrl("http://h/a")).size(), 32);
    EXPECT_EQ(KPDownloadCache::keyForURL(QUrl("http://h/a")), KPDownloadCache::keyForURL(QUrl("http://h/a")).toUpper());
    EXPECT_TRUE(KPDownloadCache::keyForURL(QUrl()).isEmpty());
    EXPECT_EQ(KPDownloadCache::bodyExtensionForURL(QUrl("http://h/index.php")), QStringLiteral("html"));
    EXPECT_EQ(KPDownloadCache::bodyExtensionForURL(QUrl("http://h/a.JSON")), QStringLiteral("JSON"));
    EXPECT_EQ(KPDownloadCache::bodyExtensionForURL(QUrl("http://h/noext")), QStringLiteral("html"));
    EXPECT_EQ(KPDownloadCache::bodyExtensionForURL(QUrl("http://h/a.x%2F..%2F..%2Fevil")), QStringLiteral("html"));
    EXPECT_EQ(KPDownloadCache::bodyExtensionForURL(QUrl("http://h/a.abcdefghijklmnopq")), QStringLiteral("html"));

    auto cache = freshCache();
    const auto stored = [&](const QString& control) {
        auto info = response(QStringLiteral("http://h/%1").arg(control.size()), {{"Cache-Control", control}});
        cache->storeResponseForRequest(info, 0);
        return cache->cachedResponseDataForURL(info.url).has_value();
    };
    EXPECT_TRUE(stored(QStringLiteral("no-cache, max-age=0"))) << "only the exact value refuses";
    EXPECT_FALSE(stored(QStringLiteral("no-cache")));
    EXPECT_FALSE(stored(QStringLiteral("no-store, max-age=60"))) << "no-store is never written";
    EXPECT_FALSE(stored(QStringLiteral("private,  NO-STORE")));

    auto notFound = response(QStringLiteral("http://h/missing"), {}, 404);
    cache->storeResponseForRequest(notFound, 0);
    EXPECT_FALSE(cache->cachedResponseHeadersForURL(notFound.url));

    // A headers file that is not a property list is no cached response.
    auto damaged = response(QStringLiteral("http://h/damaged"), {{"Cache-Control", "max-age=60"}});
    cache->storeResponseForRequest(damaged, 0);
    testsupport::writeFile(cache->pathToCachedResponseHeadersForURL(damaged.url), "garbage");
    EXPECT_FALSE(cache->cachedResponseHeadersForURL(damaged.url));
    EXPECT_FALSE(cache->canUseCachedDataForRequest(damaged));
}

TEST(KPDownloadCacheTest, PoliciesDecideWhenTheCacheAnswers)
{
    auto cache = freshCache();
    auto fresh = response(QStringLiteral("http://h/fresh"), {{"Cache-Control", "max-age=600"}, {"Etag", "\"1\""}});
    auto stale = response(QStringLiteral("http://h/stale"), {{"Expires", "Sun, 06 Nov 1994 08:49:37 GMT"}});
    cache->storeResponseForRequest(fresh, 0);
    cache->storeResponseForRequest(stale, 0);
    const auto ask = [&](KPCacheRequestInfo info, int policy, bool complete = false, int status = 0) {
        info.cachePolicy = policy;
        info.complete = complete;
        info.responseStatusCode = status;
        info.responseHeaders.reset();
        return cache->canUseCachedDataForRequest(info);
    };
    EXPECT_TRUE(ask(fresh, 4));
    EXPECT_FALSE(ask(stale, 4));
    EXPECT_FALSE(ask(fresh, 1 | 4)) << "never read";
    EXPECT_TRUE(ask(response("http://h/none", {}), 32)) << "never load";
    EXPECT_FALSE(ask(response("http://h/none", {}), 16)) << "nothing cached: load";
    EXPECT_TRUE(ask(stale, 16));
    EXPECT_TRUE(ask(stale, 64, true)) << "fall back when loading failed";
    EXPECT_FALSE(ask(stale, 64, false));
    EXPECT_FALSE(ask(fresh, 8)) << "asks the server first";
    EXPECT_TRUE(ask(stale, 4, false, 304)) << "304 makes it current whatever the expiry";

    auto revalidated = stale;
    revalidated.responseStatusCode = 304;
    EXPECT_TRUE(cache->isCachedDataCurrentForRequest(revalidated));

    cache->storeResponseForRequest(fresh, 0);
    auto permanent = response(QStringLiteral("http://h/kept"), {{"Cache-Control", "max-age=600"}});
    permanent.cacheStoragePolicy = KPCachePermanentlyCacheStoragePolicy;
    cache->storeResponseForRequest(permanent, 0);
    ASSERT_TRUE(cache->clearCachedResponsesForStoragePolicy(KPCacheForSessionDurationCacheStoragePolicy));
    EXPECT_FALSE(cache->cachedResponseDataForURL(fresh.url));
    EXPECT_TRUE(cache->cachedResponseDataForURL(permanent.url));

    const QString file = testsupport::makeTempDir() + "/afile";
    testsupport::writeFile(file, "x");
    KPDownloadCache blocked;
    auto refused = blocked.setStoragePath(file);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().domain, QStringLiteral("FileExistsAtCachePath"));
    EXPECT_EQ(refused.error().message,
              QStringLiteral("Cannot create a directory for the cache at '%1', because a file already exists").arg(file));
}

TEST(KPDownloadCacheTest, RequestsAreAnsweredAndRevalidatedFromTheCache)
{
    int modifiedChecks = 0;
    HTTPTestServer server([&](const HTTPTestRequest& r) {
        if (r.hasHeader("If-None-Match")) {
            ++modifiedChecks;
            return HTTPTestResponse::make(304);
        }
        if (r.target == "/stale")
            return HTTPTestResponse::make(200, "stale body", {{"Etag", "\"v1\""}, {"Expires", "Sun, 06 Nov 1994 08:49:37 GMT"}});
        return HTTPTestResponse::make(200, "fresh body", {{"Cache-Control", "max-age=600"}});
    });
    auto cache = freshCache();
    const auto fetch = [&](const QString& path, int policy = 0) {
        auto r = KPHTTPRequest::requestWithURL(server.url(path));
        r->setDownloadCache(cache);
        r->setCachePolicy(policy);
        r->startSynchronous();
        return r;
    };
    EXPECT_FALSE(fetch("/fresh")->didUseCachedResponse());
    auto again = fetch("/fresh");
    EXPECT_TRUE(again->didUseCachedResponse());
    EXPECT_EQ(again->responseString(), QStringLiteral("fresh body"));
    EXPECT_EQ(again->responseStatusCode(), 200);
    EXPECT_EQ(server.requestCount(), 1) << "the second came from the cache";

    fetch("/stale");
    auto revalidated = fetch("/stale");
    EXPECT_EQ(modifiedChecks, 1);
    EXPECT_TRUE(revalidated->didUseCachedResponse());
    EXPECT_EQ(revalidated->responseString(), QStringLiteral("stale body"));

    const QString dir = testsupport::makeTempDir();
    auto toFile = KPHTTPRequest::requestWithURL(server.url("/fresh"));
    toFile->setDownloadCache(cache);
    toFile->setDownloadDestinationPath(dir + "/copy");
    toFile->startSynchronous();
    EXPECT_TRUE(toFile->didUseCachedResponse());
    EXPECT_EQ(testsupport::readFile(dir + "/copy"), QByteArray("fresh body")) << "the caller's file gets the body";

    // A server that cannot be reached: the cache stands in when asked to.
    int port = 0;
    {
        HTTPTestServer gone([](const HTTPTestRequest&) { return HTTPTestResponse::make(200, "x", {{"Expires", "Sun, 06 Nov 1994 08:49:37 GMT"}}); });
        port = gone.port();
        auto first = KPHTTPRequest::requestWithURL(gone.url("/offline"));
        first->setDownloadCache(cache);
        first->startSynchronous();
    }
    auto offline = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://127.0.0.1:%1/offline").arg(port)));
    offline->setDownloadCache(cache);
    offline->setCachePolicy(KPAskServerIfModifiedWhenStaleCachePolicy | KPFallbackToCacheIfLoadFailsCachePolicy);
    offline->startSynchronous();
    EXPECT_FALSE(offline->error());
    EXPECT_TRUE(offline->didUseCachedResponse());
    EXPECT_EQ(offline->responseString(), QStringLiteral("x"));
}
