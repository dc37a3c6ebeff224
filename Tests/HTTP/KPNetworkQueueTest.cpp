#include "Support/HTTPTestServer.h"
#include "Support/TestSupport.h"
#include "HTTP/KPNetworkQueue.h"

#include <gtest/gtest.h>

using testsupport::HTTPTestRequest;
using testsupport::HTTPTestResponse;
using testsupport::HTTPTestServer;

namespace {

HTTPTestResponse answer(const HTTPTestRequest& r)
{
    if (r.target.startsWith("/fail"))
        return HTTPTestResponse{}; // closes at once: a connection failure
    if (r.target.startsWith("/slow")) {
        HTTPTestResponse slow;
        slow.ending = HTTPTestResponse::Ending::Silent;
        return slow;
    }
    return HTTPTestResponse::make(200, QByteArray(1000, 'd'));
}

} // namespace

TEST(KPNetworkQueueTest, FinishesOnceAfterEveryRequestEnded)
{
    HTTPTestServer server(answer);
    auto queue = KPNetworkQueue::queue();
    queue->shouldCancelAllRequestsOnFailure = false;
    int queueFinished = 0, finished = 0, failed = 0;
    queue->queueDidFinish = [&](KPNetworkQueue&) { ++queueFinished; };
    queue->requestDidFinish = [&](KPHTTPRequest&) { ++finished; };
    queue->requestDidFail = [&](KPHTTPRequest&) { ++failed; };
    for (const char* path : {"/a", "/fail", "/b"})
        ASSERT_TRUE(queue->addOperation(KPHTTPRequest::requestWithURL(server.url(QString::fromLatin1(path)))));
    EXPECT_EQ(server.requestCount(), 0) << "a queue starts suspended";
    queue->go();
    ASSERT_TRUE(testsupport::spinUntil([&] { return queueFinished == 1; }));
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(failed, 1);

    auto invalid = queue->addOperation(platform::Operation::fromFunction([] {}));
    ASSERT_FALSE(invalid);
    EXPECT_EQ(invalid.error().domain, QStringLiteral("AttemptToAddInvalidRequest"));
    EXPECT_EQ(invalid.error().message,
              QStringLiteral("Attempted to add an object that was not an KPHTTPRequest to an KPNetworkQueue"));
}

TEST(KPNetworkQueueTest, AFailureCancelsTheRestAndEachReports)
{
    HTTPTestServer server(answer);
    auto queue = KPNetworkQueue::queue();
    QList<int> codes;
    queue->requestDidFail = [&](KPHTTPRequest& r) { codes << r.error()->code; };
    for (const char* path : {"/slow1", "/slow2", "/fail"})
        queue->addOperation(KPHTTPRequest::requestWithURL(server.url(QString::fromLatin1(path))));
    queue->go();
    ASSERT_TRUE(testsupport::spinUntil([&] { return codes.size() == 3; }));
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, QList<int>({1, 4, 4}));
}

TEST(KPNetworkQueueTest, ProgressMovesInFifthsAndResetSilences)
{
    HTTPTestServer server(answer);
    auto queue = KPNetworkQueue::queue();
    auto bar = std::make_shared<KPProgressDelegate>();
    QList<double> values;
    bar->setDoubleValue = [&](double v) { values << v; };
    queue->setDownloadProgressDelegate(bar);
    int queueFinished = 0;
    queue->queueDidFinish = [&](KPNetworkQueue&) { ++queueFinished; };
    for (int i = 0; i < 5; ++i)
        queue->addOperation(KPHTTPRequest::requestWithURL(server.url(QStringLiteral("/d%1").arg(i))));
    queue->go();
    ASSERT_TRUE(testsupport::spinUntil([&] { return queueFinished == 1; }));
    EXPECT_EQ(values, QList<double>({0.0, 0.2, 0.4, 0.6, 0.8, 1.0}));

    // Accurate progress: HEAD requests learn the sizes first, the bar ends full.
    auto accurate = KPNetworkQueue::queue();
    accurate->showAccurateProgress = true;
    auto bytes = std::make_shared<KPProgressDelegate>();
    double last = 0;
    bytes->setDoubleValue = [&](double v) { last = v; };
    accurate->setDownloadProgressDelegate(bytes);
    int done = 0;
    accurate->queueDidFinish = [&](KPNetworkQueue&) { ++done; };
    const int before = server.requestCount();
    for (int i = 0; i < 2; ++i)
        accurate->addOperation(KPHTTPRequest::requestWithURL(server.url(QStringLiteral("/e%1").arg(i))));
    accurate->go();
    ASSERT_TRUE(testsupport::spinUntil([&] { return done == 1 && accurate->operationCount() == 0; }));
    testsupport::spinUntil([&] { return accurate->bytesDownloadedSoFar() == 2000; }, 5000);
    EXPECT_EQ(accurate->totalBytesToDownload(), 2000u);
    EXPECT_EQ(accurate->bytesDownloadedSoFar(), 2000u);
    EXPECT_DOUBLE_EQ(last, 1.0);
    int heads = 0;
    for (const auto& r : server.requests())
        heads += r.method == "HEAD";
    EXPECT_EQ(heads, 2);
    EXPECT_EQ(server.requestCount() - before, 4);

    // After reset nothing reaches the old callbacks.
    auto silenced = KPNetworkQueue::queue();
    int heard = 0;
    silenced->requestDidFail = [&](KPHTTPRequest&) { ++heard; };
    silenced->queueDidFinish = [&](KPNetworkQueue&) { ++heard; };
    silenced->addOperation(KPHTTPRequest::requestWithURL(server.url(QStringLiteral("/slow"))));
    silenced->go();
    ASSERT_TRUE(testsupport::spinUntil([&] { return server.requests().back().target == "/slow"; }));
    silenced->reset();
    int turns = 0;
    testsupport::spinUntil([&] { return ++turns > 50; }, 5000);
    EXPECT_EQ(heard, 0);
}
