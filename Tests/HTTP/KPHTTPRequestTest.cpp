#include "Support/HTTPTestServer.h"
#include "Support/TestSupport.h"
#include "HTTP/KPDataDecompressor.h"
#include "HTTP/KPHTTPRequest.h"

#include <QFileInfo>
#include <QStringList>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

using testsupport::HTTPTestRequest;
using testsupport::HTTPTestResponse;
using testsupport::HTTPTestServer;

namespace {

// The request thread and the shared queue end in order, before static destruction.
class ShutDownEnvironment : public ::testing::Environment {
public:
    void TearDown() override { KPHTTPRequest::shutDown(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ShutDownEnvironment);

// Records every callback a request makes, in order.
struct Recorder {
    QStringList events;
    std::shared_ptr<KPHTTPRequestDelegate> delegate = std::make_shared<KPHTTPRequestDelegate>();
    std::shared_ptr<KPHTTPRequestQueueReceiver> queue = std::make_shared<KPHTTPRequestQueueReceiver>();

    void attach(KPHTTPRequest& request)
    {
        delegate->requestStarted = [this](KPHTTPRequest&) { events << "delegate:started"; };
        delegate->requestFinished = [this](KPHTTPRequest&) { events << "delegate:finished"; };
        delegate->requestFailed = [this](KPHTTPRequest& r) {
            events << QStringLiteral("delegate:failed:%1").arg(r.error() ? r.error()->code : 0);
        };
        queue->delegate.requestFinished = [this](KPHTTPRequest&) { events << "queue:finished"; };
        queue->delegate.requestFailed = [this](KPHTTPRequest&) { events << "queue:failed"; };
        request.setDelegate(delegate);
        request.setQueue(queue);
        request.setStartedBlock([this] { events << "block:started"; });
        request.setCompletionBlock([this] { events << "block:finished"; });
        request.setFailedBlock([this] { events << "block:failed"; });
    }
    int count(const QString& e) const { return int(events.count(e)); }
};

bool waitFinished(const std::shared_ptr<KPHTTPRequest>& r, int ms = 30000)
{
    return testsupport::spinUntil([&] { return r->isFinishedRequest(); }, ms);
}

// Lets callbacks already posted to the main thread arrive.
void drainMainThread()
{
    int turns = 0;
    testsupport::spinUntil([&] { return ++turns > 20; }, 5000);
}

} // namespace

TEST(KPHTTPRequestTest, GetReportsInOrderDelegateBlockQueue)
{
    HTTPTestServer server([](const HTTPTestRequest&) {
        return HTTPTestResponse::make(200, "hello", {{"Content-Type", "text/plain; charset=utf-8"}});
    });
    auto request = KPHTTPRequest::requestWithURL(server.url("/a?b=1"));
    Recorder rec;
    rec.attach(*request);
    request->startAsynchronous();
    ASSERT_TRUE(waitFinished(request));
    drainMainThread();
    EXPECT_EQ(request->responseStatusCode(), 200);
    EXPECT_EQ(request->responseString(), QStringLiteral("hello"));
    EXPECT_EQ(request->responseEncoding(), QByteArray("utf-8"));
    EXPECT_EQ(rec.events, QStringList({"delegate:started", "block:started", "delegate:finished", "block:finished",
                                       "queue:finished"}));
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].target, QByteArray("/a?b=1"));
    EXPECT_EQ(seen[0].header("Accept-Encoding"), QByteArray("gzip"));
    EXPECT_EQ(seen[0].header("Host"), QByteArray("127.0.0.1:") + QByteArray::number(server.port()));
}

TEST(KPHTTPRequestTest, ErrorsBeforeTheWireAreReportedOnceAtStart)
{
    auto noURL = KPHTTPRequest::requestWithURL(QUrl());
    Recorder a;
    a.attach(*noURL);
    noURL->startAsynchronous();
    ASSERT_TRUE(waitFinished(noURL));
    drainMainThread();
    EXPECT_EQ(noURL->error()->code, 5);
    EXPECT_EQ(a.count("delegate:failed:5"), 1);

    // An error set before the start reaches every receiver once, and no request is sent.
    HTTPTestServer server([](const HTTPTestRequest&) { return HTTPTestResponse::make(200, "x"); });
    auto preset = KPHTTPRequest::requestWithURL(server.url());
    Recorder b;
    b.attach(*preset);
    preset->setError(kphttp::error(6, QStringLiteral("No file exists at /nowhere")));
    preset->startAsynchronous();
    ASSERT_TRUE(waitFinished(preset));
    drainMainThread();
    EXPECT_EQ(b.events, QStringList({"delegate:failed:6", "block:failed", "queue:failed"}));
    EXPECT_EQ(server.requestCount(), 0);

    auto synchronous = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("ftp://127.0.0.1/x")));
    synchronous->startSynchronous();
    EXPECT_EQ(synchronous->error()->code, 5);
}

TEST(KPHTTPRequestTest, CancelReportsOnceAndClearedDelegatesHearNothing)
{
    HTTPTestServer server([](const HTTPTestRequest&) {
        HTTPTestResponse r;
        r.ending = HTTPTestResponse::Ending::Silent;
        return r;
    });
    auto request = KPHTTPRequest::requestWithURL(server.url());
    Recorder rec;
    rec.attach(*request);
    request->startAsynchronous();
    ASSERT_TRUE(testsupport::spinUntil([&] { return server.requestCount() == 1; }));
    request->cancel();
    request->cancel();
    ASSERT_TRUE(waitFinished(request));
    request->cancel();
    drainMainThread();
    EXPECT_EQ(rec.count("delegate:failed:4"), 1);
    EXPECT_EQ(rec.count("block:failed"), 1);
    EXPECT_TRUE(request->isRequestCancelled());

    auto quiet = KPHTTPRequest::requestWithURL(server.url());
    Recorder silent;
    silent.attach(*quiet);
    quiet->startAsynchronous();
    ASSERT_TRUE(testsupport::spinUntil([&] { return server.requestCount() == 2; }));
    quiet->clearDelegatesAndCancel();
    ASSERT_TRUE(waitFinished(quiet));
    drainMainThread();
    EXPECT_FALSE(silent.events.contains("delegate:failed:4"));
    EXPECT_FALSE(silent.events.contains("block:failed"));
    EXPECT_FALSE(silent.events.contains("queue:failed"));
    EXPECT_EQ(quiet->error()->code, 4);

    // Cancelled while still waiting in the queue: reported, and never sent.
    auto queued = KPHTTPRequest::requestWithURL(server.url());
    Recorder waiting;
    waiting.attach(*queued);
    queued->cancel();
    // The report comes through the main queue after the cancel reaches the request's thread.
    testsupport::spinUntil([&] { return waiting.count("delegate:failed:4") > 0; });
    drainMainThread();
    EXPECT_EQ(waiting.count("delegate:failed:4"), 1);
}

TEST(KPHTTPRequestTest, SilentServerTimesOutAfterItsRetries)
{
    HTTPTestServer server([](const HTTPTestRequest&) {
        HTTPTestResponse r;
        r.ending = HTTPTestResponse::Ending::Silent;
        return r;
    });
    auto request = KPHTTPRequest::requestWithURL(server.url());
    request->setTimeOutSeconds(0.5);
    request->setNumberOfTimesToRetryOnTimeout(2);
    Recorder rec;
    rec.attach(*request);
    request->startAsynchronous();
    ASSERT_TRUE(waitFinished(request));
    drainMainThread();
    EXPECT_EQ(request->error()->code, 2);
    EXPECT_EQ(request->error()->message, QStringLiteral("The request timed out"));
    EXPECT_EQ(rec.count("delegate:started"), 3);
    EXPECT_EQ(server.requestCount(), 3);
    EXPECT_EQ(request->retryCount(), 2);
}

TEST(KPHTTPRequestTest, BodiesTurnMethodsAndConnectionsAround)
{
    HTTPTestServer server([](const HTTPTestRequest& r) { return HTTPTestResponse::make(200, r.method + ":" + r.body); });
    auto get = KPHTTPRequest::requestWithURL(server.url());
    get->appendPostData("a=1&b=2");
    get->startSynchronous();
    EXPECT_EQ(get->responseString(), QStringLiteral("POST:a=1&b=2"));
    EXPECT_EQ(server.requests()[0].header("Content-Length"), QByteArray("7"));
    EXPECT_FALSE(get->shouldAttemptPersistentConnection());

    auto put = KPHTTPRequest::requestWithURL(server.url());
    put->setRequestMethod("PUT");
    EXPECT_FALSE(put->shouldAttemptPersistentConnection());

    // A gzipped body from a file on disk.
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/body", QByteArray(300000, 'z'));
    auto fromDisk = KPHTTPRequest::requestWithURL(server.url());
    fromDisk->setShouldStreamPostDataFromDisk(true);
    fromDisk->setShouldCompressRequestBody(true);
    fromDisk->appendPostDataFromFile(dir + "/body");
    fromDisk->startSynchronous();
    ASSERT_FALSE(fromDisk->error()) << fromDisk->error()->message.toStdString();
    const auto sent = server.requests().back();
    EXPECT_EQ(sent.header("Content-Encoding"), QByteArray("gzip"));
    EXPECT_EQ(testsupport::readFile(dir + "/body").size(), 300000) << "the caller's file is left alone";
    const auto unpacked = KPDataDecompressor::uncompressData(sent.body);
    ASSERT_TRUE(unpacked);
    EXPECT_EQ(*unpacked, QByteArray(300000, 'z'));
    EXPECT_EQ(fromDisk->totalBytesSent(), quint64(sent.body.size()));
}

TEST(KPHTTPRequestTest, CompressedChunkedAndOddlyFramedResponses)
{
    const QByteArray text = QByteArray("compressible text ").repeated(5000);
    HTTPTestServer server([&](const HTTPTestRequest& r) {
        if (r.target == "/gzip")
            return HTTPTestResponse::make(200, HTTPTestResponse::gzip(text), {{"Content-Encoding", "gzip"}});
        if (r.target == "/chunked-gzip")
            return HTTPTestResponse::chunked(200, HTTPTestResponse::gzip(text), 1000, {{"Content-Encoding", "gzip"}});
        if (r.target == "/bad-gzip")
            return HTTPTestResponse::make(200, "not gzip at all", {{"Content-Encoding", "gzip"}});
        if (r.target == "/leading-zero")
            return HTTPTestResponse::make(200, QByteArray(123, 'q'), {{"Content-Length", "0123"}});
        if (r.target == "/negative")
            return HTTPTestResponse::make(200, "abc", {{"Content-Length", "-1"}});
        if (r.target == "/chunk-overflow") {
            HTTPTestResponse bad;
            bad.raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nabc";
            return bad;
        }
        if (r.target == "/huge-headers") {
            HTTPTestResponse bad;
            bad.raw = "HTTP/1.1 200 OK\r\n";
            while (bad.raw.size() < 1024 * 1024)
                bad.raw += "X-Filler: " + QByteArray(1000, 'f') + "\r\n";
            return bad;
        }
        if (r.target == "/cut") {
            HTTPTestResponse cut = HTTPTestResponse::make(200, "abc", {{"Content-Length", "100"}});
            return cut;
        }
        HTTPTestResponse drip = HTTPTestResponse::make(200);
        drip.raw = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n";
        drip.pieces = {{100, "x"}, {100, "y"}, {100, "z"}};
        return drip;
    });
    const auto fetch = [&](const QString& path, bool inflateAtOnce = false) {
        auto r = KPHTTPRequest::requestWithURL(server.url(path));
        r->setTimeOutSeconds(5);
        r->setShouldWaitToInflateCompressedResponses(!inflateAtOnce);
        r->startSynchronous();
        return r;
    };
    auto waited = fetch("/gzip");
    EXPECT_EQ(waited->responseData(), text);
    EXPECT_NE(waited->rawResponseData(), text);
    EXPECT_EQ(fetch("/gzip", true)->rawResponseData(), text) << "inflated as it arrives";
    EXPECT_EQ(fetch("/chunked-gzip", true)->rawResponseData(), text);
    EXPECT_EQ(fetch("/chunked-gzip")->responseData(), text);

    auto badGzip = fetch("/bad-gzip", true);
    ASSERT_TRUE(badGzip->error());
    EXPECT_EQ(badGzip->error()->code, 11);
    EXPECT_TRUE(fetch("/bad-gzip")->responseData().isNull());

    EXPECT_EQ(fetch("/leading-zero")->rawResponseData(), QByteArray(123, 'q'));
    EXPECT_EQ(fetch("/drip")->rawResponseData(), QByteArray("xyz"));
    for (const char* path : {"/negative", "/chunk-overflow", "/huge-headers", "/cut"}) {
        auto failed = fetch(QString::fromLatin1(path));
        ASSERT_TRUE(failed->error()) << path;
        EXPECT_EQ(failed->error()->code, 1) << path;
        EXPECT_EQ(failed->error()->message, QStringLiteral("A connection failure occurred")) << path;
        ASSERT_TRUE(failed->underlyingError()) << path;
        EXPECT_EQ(failed->underlyingError()->domain, QStringLiteral("HTTPStream")) << path;
    }
}

TEST(KPHTTPRequestTest, RedirectsFollowTheirRules)
{
    HTTPTestServer server([](const HTTPTestRequest& r) {
        const QByteArray t = r.target;
        if (t == "/see-other")
            return HTTPTestResponse::make(303, {}, {{"Location", "/landing"}});
        if (t == "/temporary")
            return HTTPTestResponse::make(307, {}, {{"Location", "/landing"}});
        if (t == "/to-file")
            return HTTPTestResponse::make(302, "moved", {{"Location", "file:///etc/passwd"}});
        if (t.startsWith("/loop"))
            return HTTPTestResponse::make(302, {}, {{"Location", "/loop" + QByteArray::number(t.mid(5).toInt() + 1)}});
        return HTTPTestResponse::make(200, r.method + " " + r.body + " " + r.header("X-Custom"));
    });
    auto seeOther = KPHTTPRequest::requestWithURL(server.url("/see-other"));
    seeOther->appendPostData("data");
    seeOther->addRequestHeader(QStringLiteral("X-Custom"), QStringLiteral("kept?"));
    seeOther->startSynchronous();
    EXPECT_EQ(seeOther->responseString(), QStringLiteral("GET  ")) << "GET, no body, only User-Agent and Accept kept";
    EXPECT_EQ(seeOther->url(), server.url("/landing"));
    EXPECT_EQ(seeOther->originalURL(), server.url("/see-other"));

    auto temporary = KPHTTPRequest::requestWithURL(server.url("/temporary"));
    temporary->appendPostData("data");
    temporary->startSynchronous();
    EXPECT_EQ(temporary->responseString(), QStringLiteral("POST data "));

    auto toFile = KPHTTPRequest::requestWithURL(server.url("/to-file"));
    toFile->startSynchronous();
    EXPECT_FALSE(toFile->error());
    EXPECT_EQ(toFile->responseStatusCode(), 302) << "only http and https are followed";

    auto loop = KPHTTPRequest::requestWithURL(server.url("/loop0"));
    Recorder rec;
    rec.attach(*loop);
    loop->startAsynchronous();
    ASSERT_TRUE(waitFinished(loop));
    drainMainThread();
    EXPECT_EQ(loop->error()->code, 9);
    EXPECT_EQ(rec.count("delegate:failed:9"), 1);
    EXPECT_EQ(server.requests().back().target, QByteArray("/loop5")) << "five redirects followed, the sixth fails";
}

TEST(KPHTTPRequestTest, DroppedConnectionIsRetriedOnceOnANewOne)
{
    std::atomic<int> calls{0};
    HTTPTestServer server([&](const HTTPTestRequest&) {
        if (calls++ == 0) {
            HTTPTestResponse reset;
            reset.ending = HTTPTestResponse::Ending::Reset;
            return reset;
        }
        return HTTPTestResponse::make(200, "second time");
    });
    auto request = KPHTTPRequest::requestWithURL(server.url());
    request->startSynchronous();
    EXPECT_FALSE(request->error());
    EXPECT_EQ(request->responseString(), QStringLiteral("second time"));
    EXPECT_EQ(server.connectionCount(), 2);

    HTTPTestServer alwaysReset([](const HTTPTestRequest&) {
        HTTPTestResponse reset;
        reset.ending = HTTPTestResponse::Ending::Reset;
        return reset;
    });
    auto failing = KPHTTPRequest::requestWithURL(alwaysReset.url());
    failing->startSynchronous();
    ASSERT_TRUE(failing->error());
    EXPECT_EQ(failing->error()->code, 1);
    EXPECT_EQ(alwaysReset.requestCount(), 2);
}

TEST(KPHTTPRequestTest, DownloadsToFilesAndResumes)
{
    const QByteArray body = QByteArray("0123456789").repeated(50000);
    HTTPTestServer server([&](const HTTPTestRequest& r) {
        if (r.target == "/ignores-range")
            return HTTPTestResponse::make(200, body);
        if (r.target == "/gz")
            return HTTPTestResponse::make(200, HTTPTestResponse::gzip(body), {{"Content-Encoding", "gzip"}});
        const QByteArray range = r.header("Range");
        if (range.startsWith("bytes=")) {
            const qsizetype from = range.mid(6, range.size() - 7).toLongLong();
            return HTTPTestResponse::make(206, body.mid(from),
                                          {{"Content-Range", "bytes " + QByteArray::number(from) + "-"}});
        }
        return HTTPTestResponse::make(200, body);
    });
    const QString dir = testsupport::makeTempDir();
    auto plain = KPHTTPRequest::requestWithURL(server.url("/file"));
    plain->setDownloadDestinationPath(dir + "/plain");
    testsupport::writeFile(dir + "/plain", "old content is replaced");
    plain->startSynchronous();
    ASSERT_FALSE(plain->error()) << plain->error()->message.toStdString();
    EXPECT_EQ(testsupport::readFile(dir + "/plain"), body);
    EXPECT_TRUE(plain->rawResponseData().isEmpty());

    for (bool atOnce : {false, true}) {
        auto gz = KPHTTPRequest::requestWithURL(server.url("/gz"));
        gz->setShouldWaitToInflateCompressedResponses(!atOnce);
        gz->setDownloadDestinationPath(dir + "/inflated");
        gz->startSynchronous();
        ASSERT_FALSE(gz->error()) << atOnce;
        EXPECT_EQ(testsupport::readFile(dir + "/inflated"), body) << atOnce;
    }

    testsupport::writeFile(dir + "/partial", body.left(1000));
    auto resume = KPHTTPRequest::requestWithURL(server.url("/file"));
    resume->setAllowResumeForFileDownloads(true);
    resume->setTemporaryFileDownloadPath(dir + "/partial");
    resume->setDownloadDestinationPath(dir + "/resumed");
    resume->startSynchronous();
    EXPECT_EQ(server.requests().back().header("Range"), QByteArray("bytes=1000-"));
    EXPECT_EQ(testsupport::readFile(dir + "/resumed"), body);

    testsupport::writeFile(dir + "/partial2", body.left(1000));
    auto ignored = KPHTTPRequest::requestWithURL(server.url("/ignores-range"));
    ignored->setAllowResumeForFileDownloads(true);
    ignored->setTemporaryFileDownloadPath(dir + "/partial2");
    ignored->setDownloadDestinationPath(dir + "/overwritten");
    ignored->startSynchronous();
    EXPECT_EQ(testsupport::readFile(dir + "/overwritten"), body) << "the whole body again, not appended";
    EXPECT_EQ(ignored->partialDownloadSize(), 0u);
    EXPECT_FALSE(QFileInfo::exists(dir + "/partial2"));
}

TEST(KPHTTPRequestTest, ProgressReachesReceiversAndTheQueue)
{
    const QByteArray body(100000, 'p');
    HTTPTestServer server([&](const HTTPTestRequest&) { return HTTPTestResponse::make(200, body); });
    auto request = KPHTTPRequest::requestWithURL(server.url());
    auto receiver = std::make_shared<KPProgressDelegate>();
    qint64 received = 0;
    qint64 size = 0;
    double last = -1;
    double max = 0;
    receiver->setMaxValue = [&](double v) { max = v; };
    receiver->setDoubleValue = [&](double v) { last = v; };
    receiver->didReceiveBytes = [&](KPHTTPRequest&, qint64 n) { received += n; };
    receiver->incrementDownloadSizeBy = [&](KPHTTPRequest&, qint64 n) { size += n; };
    request->setDownloadProgressDelegate(receiver);
    request->startAsynchronous();
    ASSERT_TRUE(waitFinished(request));
    drainMainThread();
    EXPECT_EQ(max, 1.0);
    EXPECT_EQ(received, 100000);
    EXPECT_EQ(size, 100000);
    EXPECT_DOUBLE_EQ(last, 1.0);

    // A receiver gone before the main thread delivers hears nothing (and nothing crashes).
    auto gone = std::make_shared<KPProgressDelegate>();
    int heard = 0;
    gone->didReceiveBytes = [&](KPHTTPRequest&, qint64) { ++heard; };
    auto second = KPHTTPRequest::requestWithURL(server.url());
    second->setDownloadProgressDelegate(gone);
    second->startSynchronous(); // on the main thread: nothing waits in the event loop yet
    EXPECT_GT(heard, 0);
    heard = 0;
    auto third = KPHTTPRequest::requestWithURL(server.url());
    third->setDownloadProgressDelegate(gone);
    third->startAsynchronous();
    // Waits without running the event loop, so every progress message is still pending.
    while (!third->complete())
        std::this_thread::yield();
    gone.reset();
    drainMainThread();
    EXPECT_EQ(heard, 0);
}

TEST(KPHTTPRequestTest, AThousandQueuedRequestsAllEndOnce)
{
    HTTPTestServer server([](const HTTPTestRequest& r) { return HTTPTestResponse::make(200, r.target); });
    std::vector<std::shared_ptr<KPHTTPRequest>> requests;
    int finished = 0;
    for (int i = 0; i < 1000; ++i) {
        auto r = KPHTTPRequest::requestWithURL(server.url(QStringLiteral("/%1").arg(i)));
        r->setCompletionBlock([&finished] { ++finished; });
        requests.push_back(r);
        r->startAsynchronous();
    }
    ASSERT_TRUE(testsupport::spinUntil([&] { return finished == 1000; }, 120000));
    EXPECT_EQ(requests[999]->responseString(), QStringLiteral("/999"));
    EXPECT_EQ(server.requestCount(), 1000);
}

TEST(KPHTTPRequestTest, UnreachableServerFailsWithConnectionFailure)
{
    int port = 0;
    {
        HTTPTestServer closed([](const HTTPTestRequest&) { return HTTPTestResponse::make(200); });
        port = closed.port();
    }
    auto request = KPHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)));
    request->startSynchronous();
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, 1);
}

TEST(KPHTTPRequestTest, SelfSignedCertificateFailsUnlessValidationIsOff)
{
    HTTPTestServer server([](const HTTPTestRequest& r) { return HTTPTestResponse::make(200, "secret " + r.target); },
                          HTTPTestServer::Security::SelfSignedTLS);
    auto checked = KPHTTPRequest::requestWithURL(server.url("/x"));
    checked->startSynchronous();
    ASSERT_TRUE(checked->error());
    EXPECT_EQ(checked->error()->code, 1);
    EXPECT_TRUE(checked->error()->message.endsWith(
        QStringLiteral(": SSL problem (Possible causes may include a bad/expired/self-signed certificate, clock set to wrong date)")))
        << checked->error()->message.toStdString();
    EXPECT_EQ(server.requestCount(), 0);

    auto trusting = KPHTTPRequest::requestWithURL(server.url("/y"));
    trusting->setValidatesSecureCertificate(false);
    trusting->startSynchronous();
    ASSERT_FALSE(trusting->error()) << trusting->error()->message.toStdString();
    EXPECT_EQ(trusting->responseString(), QStringLiteral("secret /y"));
}

TEST(KPHTTPRequestTest, KeptConnectionsAreSharedOnlyWhenTheServerAllows)
{
    std::atomic<int> served{0};
    HTTPTestServer server([&](const HTTPTestRequest& r) {
        ++served;
        HTTPTestResponse response;
        if (r.target == "/few")
            response = HTTPTestResponse::make(200, "few", {{"Keep-Alive", "timeout=30, max=5"}});
        else if (r.target == "/many")
            response = HTTPTestResponse::make(200, "many", {{"Keep-Alive", "timeout=30, max=100"}});
        else if (r.target == "/old") {
            response.raw = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nold";
        } else if (r.target == "/drop" && r.connection == 1) {
            response.ending = HTTPTestResponse::Ending::Reset; // the kept connection went away
            return response;
        } else if (r.target == "/slow") {
            response = HTTPTestResponse::make(200);
            response.raw = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
            response.pieces = {{300, "ok"}};
        } else {
            response = HTTPTestResponse::make(200, r.target);
        }
        if (response.ending == HTTPTestResponse::Ending::Close && !r.target.startsWith("/old"))
            response.ending = HTTPTestResponse::Ending::KeepAlive;
        return response;
    });
    const auto get = [&](const QString& path) {
        auto r = KPHTTPRequest::requestWithURL(server.url(path));
        r->startSynchronous();
        EXPECT_FALSE(r->error()) << path.toStdString();
        return r;
    };
    auto first = get("/many");
    EXPECT_TRUE(first->connectionCanBeReused());
    EXPECT_DOUBLE_EQ(first->persistentConnectionTimeoutSeconds(), 30.0);
    auto second = get("/a");
    EXPECT_EQ(second->connectionID(), first->connectionID());
    EXPECT_EQ(server.connectionCount(), 1);

    // Started while another request holds the connection: a connection of its own.
    auto slow = KPHTTPRequest::requestWithURL(server.url("/slow"));
    slow->startAsynchronous();
    ASSERT_TRUE(testsupport::spinUntil([&] { return served.load() == 3; }));
    auto concurrent = get("/b");
    ASSERT_TRUE(testsupport::spinUntil([&] { return slow->isFinishedRequest(); }));
    EXPECT_NE(concurrent->connectionID(), slow->connectionID());
    EXPECT_EQ(server.connectionCount(), 2);

    auto few = get("/few");
    EXPECT_FALSE(few->connectionCanBeReused()) << "max=5 ends the reuse";
    EXPECT_FALSE(get("/old")->connectionCanBeReused()) << "HTTP/1.0 without keep-alive";

    // A POST never shares.
    auto post = KPHTTPRequest::requestWithURL(server.url("/p"));
    post->appendPostData("x");
    post->startSynchronous();
    EXPECT_EQ(post->connectionID(), 0u);
}

TEST(KPHTTPRequestTest, ADroppedKeptConnectionIsRetriedOnANewOne)
{
    HTTPTestServer server([&](const HTTPTestRequest& r) {
        if (r.target == "/second" && r.connection == 1) {
            HTTPTestResponse reset;
            reset.ending = HTTPTestResponse::Ending::Reset;
            return reset;
        }
        HTTPTestResponse ok = HTTPTestResponse::make(200, r.target);
        ok.ending = HTTPTestResponse::Ending::KeepAlive;
        return ok;
    });
    auto first = KPHTTPRequest::requestWithURL(server.url("/first"));
    first->startSynchronous();
    auto second = KPHTTPRequest::requestWithURL(server.url("/second"));
    second->startSynchronous();
    EXPECT_FALSE(second->error());
    EXPECT_EQ(second->responseString(), QStringLiteral("/second"));
    EXPECT_EQ(second->retryCount(), 1);
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST(KPHTTPRequestTest, EveryHopOfARedirectChainMayRetryADroppedKeptConnection)
{
    // A server that keeps each connection after one answer and then drops it at the next
    // request, as one that closed it quietly would: every hop after the first meets a dead
    // kept connection.
    std::mutex lock;
    std::map<int, int> perConnection;
    HTTPTestServer server([&](const HTTPTestRequest& r) {
        int seen;
        {
            std::lock_guard guard(lock);
            seen = ++perConnection[r.connection];
        }
        if (seen > 1) {
            HTTPTestResponse reset;
            reset.ending = HTTPTestResponse::Ending::Reset;
            return reset;
        }
        const int hop = r.target.mid(4).toInt();
        HTTPTestResponse answer = hop < 5 ? HTTPTestResponse::make(302, {}, {{"Location", "/hop" + QByteArray::number(hop + 1)}})
                                          : HTTPTestResponse::make(200, "arrived");
        answer.ending = HTTPTestResponse::Ending::KeepAlive;
        return answer;
    });
    auto request = KPHTTPRequest::requestWithURL(server.url("/hop1"));
    request->startSynchronous();
    ASSERT_FALSE(request->error()) << request->error()->message.toStdString();
    EXPECT_EQ(request->responseString(), QStringLiteral("arrived"));
    EXPECT_EQ(request->redirectCount(), 4);
    EXPECT_EQ(server.connectionCount(), 5) << "each hop took a new connection once";
}

namespace {

// No length: the body runs until the server closes, which it does late (after 16 MiB).
HTTPTestResponse endlessBody()
{
    HTTPTestResponse endless;
    endless.raw = "HTTP/1.1 200 OK\r\n\r\n";
    for (int i = 0; i < 64; ++i)
        endless.pieces.emplace_back(0, QByteArray(256 * 1024, 'x'));
    return endless;
}

} // namespace

TEST(KPHTTPRequestTest, BodiesKeptInMemoryStopAtTheirCap)
{
    const QByteArray zeros(16 << 20, '\0');
    const QByteArray bomb = HTTPTestResponse::gzip(zeros); // some KiB that inflate to 16 MiB
    HTTPTestServer server([&](const HTTPTestRequest& r) {
        if (r.target == "/endless")
            return endlessBody();
        if (r.target == "/announced") {
            HTTPTestResponse announced = HTTPTestResponse::make(200, QByteArray(1024, 'y'), {{"Content-Length", "10737418240"}});
            announced.ending = HTTPTestResponse::Ending::Silent;
            return announced;
        }
        if (r.target == "/bomb")
            return HTTPTestResponse::make(200, bomb, {{"Content-Encoding", "gzip"}});
        return HTTPTestResponse::make(200, QByteArray(1000, 'z'));
    });
    const auto fetch = [&](const char* path, bool inflateAtOnce = false) {
        auto request = KPHTTPRequest::requestWithURL(server.url(QString::fromLatin1(path)));
        request->setMaxResponseBodySize(1 << 20);
        request->setShouldWaitToInflateCompressedResponses(!inflateAtOnce);
        request->startSynchronous();
        return request;
    };
    for (const auto& request : {fetch("/endless"), fetch("/announced"), fetch("/bomb"), fetch("/bomb", true)}) {
        ASSERT_TRUE(request->error()) << request->url().toString().toStdString();
        EXPECT_EQ(request->error()->code, 12) << request->url().toString().toStdString() << ": " << request->error()->message.toStdString();
        EXPECT_LE(request->rawResponseData().size(), 1 << 20);
        EXPECT_TRUE(request->responseData().isEmpty());
    }
    auto small = fetch("/small");
    EXPECT_FALSE(small->error());
    EXPECT_EQ(small->responseData().size(), 1000);

    // Within the cap the bomb is an ordinary response, inflated once.
    auto roomy = KPHTTPRequest::requestWithURL(server.url("/bomb"));
    roomy->setMaxResponseBodySize(32 << 20);
    roomy->startSynchronous();
    ASSERT_FALSE(roomy->error()) << roomy->error()->message.toStdString();
    EXPECT_EQ(roomy->responseData().size(), zeros.size());
}

// The memory a body takes, not only its length, stays within the cap: grown as arrays grow by
// themselves, a buffer that passes a power of two is rounded up to the next one.
TEST(KPHTTPRequestTest, ABodyInMemoryTakesNoMoreThanItsCapAndOneRead)
{
    constexpr qsizetype cap = 1536 * 1024;
    constexpr qsizetype oneRead = 256 * 1024; // the largest read of a body
    const QByteArray past(cap + cap / 2, '\0');
    const QByteArray fits(cap - 4096, 'f');
    HTTPTestServer server([&](const HTTPTestRequest& r) {
        if (r.target == "/endless")
            return endlessBody();
        return HTTPTestResponse::make(200, HTTPTestResponse::gzip(r.target == "/past" ? past : fits),
                                      {{"Content-Encoding", "gzip"}});
    });
    const auto fetch = [&](const char* path, bool synchronous, bool inflateAtOnce) {
        auto request = KPHTTPRequest::requestWithURL(server.url(QString::fromLatin1(path)));
        request->setMaxResponseBodySize(cap);
        request->setShouldWaitToInflateCompressedResponses(!inflateAtOnce);
        if (synchronous) {
            request->startSynchronous();
        } else {
            request->startAsynchronous();
            EXPECT_TRUE(waitFinished(request));
        }
        return request;
    };
    for (const bool synchronous : {true, false}) {
        for (const auto& [path, inflateAtOnce] : {std::pair("/endless", false), std::pair("/past", false), std::pair("/past", true)}) {
            const auto request = fetch(path, synchronous, inflateAtOnce);
            const std::string what = QStringLiteral("%1 %2%3")
                                         .arg(QString::fromLatin1(path), synchronous ? QStringLiteral("synchronous") : QStringLiteral("queued"),
                                              inflateAtOnce ? QStringLiteral(", inflated at once") : QString())
                                         .toStdString();
            ASSERT_TRUE(request->error()) << what;
            EXPECT_EQ(request->error()->code, 12) << what << ": " << request->error()->message.toStdString();
            EXPECT_GT(request->peakResponseBodyMemory(), quint64(cap / 2)) << what;
            EXPECT_LE(request->peakResponseBodyMemory(), quint64(cap + oneRead)) << what;
        }
        for (const bool inflateAtOnce : {false, true}) {
            const auto request = fetch("/fits", synchronous, inflateAtOnce);
            ASSERT_FALSE(request->error()) << request->error()->message.toStdString();
            EXPECT_TRUE(request->responseData() == fits);
            EXPECT_LE(request->peakResponseBodyMemory(), quint64(cap + oneRead))
                << (synchronous ? "synchronous" : "queued") << (inflateAtOnce ? ", inflated at once" : "");
        }
    }
}

TEST(KPHTTPRequestTest, ADripThatNeverFallsSilentStillMeetsTheTotalDeadline)
{
    HTTPTestServer server([](const HTTPTestRequest&) {
        // One byte every 200 ms: never silent for the 1 s time-out, never done either.
        HTTPTestResponse drip;
        drip.raw = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n";
        for (int i = 0; i < 1000; ++i)
            drip.pieces.emplace_back(200, QByteArray("d"));
        return drip;
    });
    auto request = KPHTTPRequest::requestWithURL(server.url("/drip"));
    request->setTimeOutSeconds(1);
    request->setTotalTimeOutSeconds(2);
    request->startSynchronous();
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, 2);
    EXPECT_LT(request->totalBytesRead(), 1000u);
}
