// The welcome window's choice of page against a fake reachability in virtual time, the pages it
// refuses, its links, and its completion, also as the start-up hook of the application delegate.
#include "WelcomeTestSupport.h"

#include "App/AppDelegate.h"
#include "Dialogs/Welcome/WelcomeWindowController.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Scheduler.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTextBrowser>
#include <gtest/gtest.h>

using welcometest::FakeReachability;
using welcometest::OnePageServer;
using Page = WelcomeWindowController::Page;

namespace {

// Deferred deletes posted outside a running event loop wait for one; deliver them.
bool deletedLater(const QPointer<WelcomeWindowController>& window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window.isNull();
}

class WelcomeWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        localPage = testsupport::makeTempDir(QStringLiteral("welcome")) + QStringLiteral("/local.html");
        testsupport::writeFile(localPage, "<html><body><p>Local welcome</p>"
                                          "<a href=\"https://example.org/help\">help</a></body></html>");
    }

    WelcomeWindowController::Options options(const QString& welcomeHost, const QString& linkHost)
    {
        WelcomeWindowController::Options o;
        o.hosts = {welcomeHost, linkHost};
        o.reachability = &reachability;
        o.workspace = &recorder.workspace;
        o.localPage = localPage;
        return o;
    }

    platform::kit::VirtualScheduler scheduler;
    FakeReachability reachability;
    welcometest::RecordingWorkspace recorder;
    QString localPage;
};

TEST_F(WelcomeWindowTest, WithoutHostsTheLocalPageShowsAtOnceAndNobodyIsAsked)
{
    for (const auto& hosts : {std::pair(QString(), QString()), std::pair(QStringLiteral("welcome.example"), QString()),
                              std::pair(QString(), QStringLiteral("www.example.org"))}) {
        WelcomeWindowController controller(options(hosts.first, hosts.second));
        controller.start();
        EXPECT_EQ(controller.page(), Page::Local);
        EXPECT_TRUE(controller.webview()->toPlainText().contains(QStringLiteral("Local welcome")));
    }
    EXPECT_TRUE(reachability.asked.isEmpty());
}

TEST_F(WelcomeWindowTest, AnUnreachableHostFallsBackAtThreeSecondsAndALateAnswerChangesNothing)
{
    OnePageServer server(welcometest::httpResponse("text/html", "<p>Remote welcome</p>"));
    WelcomeWindowController controller(options(QStringLiteral("welcome.example"), server.origin()));
    controller.start();
    EXPECT_EQ(reachability.asked, QStringList({QStringLiteral("welcome.example")}));

    scheduler.advance(WelcomeWindowController::kFallbackMs - 1);
    EXPECT_EQ(controller.page(), Page::None);
    scheduler.advance(1);
    EXPECT_EQ(controller.page(), Page::Local);

    reachability.answer(true);
    EXPECT_EQ(controller.page(), Page::Local);
    // No fetch was even started.
    EXPECT_EQ(controller.findChild<QNetworkAccessManager*>(), nullptr);
    EXPECT_TRUE(controller.webview()->toPlainText().contains(QStringLiteral("Local welcome")));
}

TEST_F(WelcomeWindowTest, AReachableHostGivesTheRemotePageUnlessItAnswersWithGarbage)
{
    OnePageServer good(welcometest::httpResponse("text/html; charset=utf-8", "<p>Remote welcome</p>"));
    WelcomeWindowController remote(options(QStringLiteral("welcome.example"), good.origin()));
    remote.start();
    reachability.answer(true);
    // The fallback time passing while the page loads does not replace it.
    scheduler.advance(WelcomeWindowController::kFallbackMs);
    ASSERT_TRUE(testsupport::spinUntil([&] { return remote.page() != Page::None; }));
    EXPECT_EQ(remote.page(), Page::Remote);
    EXPECT_TRUE(remote.webview()->toPlainText().contains(QStringLiteral("Remote welcome")));
    EXPECT_EQ(good.requests, 1);

    for (const QByteArray& response :
         {welcometest::httpResponse("application/octet-stream", QByteArray("\x00\x01\x02garbage", 10)),
          welcometest::httpResponse("text/html", QByteArray("<p>\xff\xfe broken</p>")),
          QByteArray("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"),
          QByteArray("not http at all\r\n\r\n")}) {
        OnePageServer bad(response);
        WelcomeWindowController controller(options(QStringLiteral("welcome.example"), bad.origin()));
        controller.start();
        reachability.answer(true);
        ASSERT_TRUE(testsupport::spinUntil([&] { return controller.page() != Page::None; }));
        EXPECT_EQ(controller.page(), Page::Local) << response.left(40).constData();
        EXPECT_TRUE(controller.webview()->toPlainText().contains(QStringLiteral("Local welcome")));
    }
}

TEST_F(WelcomeWindowTest, LinksOpenInTheBrowserButNeverStartLocalFiles)
{
    WelcomeWindowController controller(options({}, {}));
    controller.start();
    Q_EMIT controller.webview()->anchorClicked(QUrl(QStringLiteral("https://example.org/help")));
    EXPECT_TRUE(recorder.opened(QStringLiteral("https://example.org/help")));
    EXPECT_EQ(controller.page(), Page::Local); // the window itself did not navigate

    const qsizetype before = recorder.launcher.launches.size();
    Q_EMIT controller.webview()->anchorClicked(QUrl(QStringLiteral("file:///bin/sh")));
    Q_EMIT controller.webview()->anchorClicked(QUrl(QStringLiteral("javascript:alert(1)")));
    EXPECT_EQ(recorder.launcher.launches.size(), before);
}

TEST_F(WelcomeWindowTest, OkAndTheWindowManagersCloseBothRunTheCompletionOnce)
{
    int okRuns = 0;
    QPointer<WelcomeWindowController> byOk =
        WelcomeWindowController::showWelcomeWindow([&] { ++okRuns; }, options({}, {}));
    byOk->okButton()->click();
    EXPECT_EQ(okRuns, 1);
    EXPECT_TRUE(deletedLater(byOk));

    int closeRuns = 0;
    QPointer<WelcomeWindowController> byClose =
        WelcomeWindowController::showWelcomeWindow([&] { ++closeRuns; }, options(QStringLiteral("w.example"), QStringLiteral("l.example")));
    byClose->close();
    byClose->close();
    EXPECT_EQ(closeRuns, 1);
    EXPECT_TRUE(deletedLater(byClose));
    // The fallback timer went with the window.
    scheduler.advance(WelcomeWindowController::kFallbackMs);
    EXPECT_EQ(closeRuns, 1);
}

TEST(TcpReachabilityTest, AnswersOnceAfterReturningForAnOpenAndAClosedPort)
{
    QTcpServer open;
    ASSERT_TRUE(open.listen(QHostAddress::LocalHost));
    QTcpServer closing;
    ASSERT_TRUE(closing.listen(QHostAddress::LocalHost));
    const quint16 closedPort = closing.serverPort();
    closing.close();

    for (const auto& [port, expected] : {std::pair(open.serverPort(), true), std::pair(closedPort, false)}) {
        TcpReachability reachability(port, 20000);
        QList<bool> answers;
        reachability.check(QStringLiteral("127.0.0.1"), [&](bool reachable) { answers << reachable; });
        EXPECT_TRUE(answers.isEmpty());
        ASSERT_TRUE(testsupport::spinUntil([&] { return !answers.isEmpty(); }));
        EXPECT_EQ(answers, QList<bool>({expected}));
    }
}

TEST_F(WelcomeWindowTest, StartUpGoesOnWhenTheWelcomeWindowIsClosedByTheWindowManager)
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setBool(true, QStringLiteral("Bool_IsShowWelcomWindow"));
    defaults.setBool(true, QStringLiteral("Bool_ProgramIsFirstRun"));

    QPointer<WelcomeWindowController> shown;
    QStringList themes;
    AppDelegate::Services services;
    services.showWelcomeWindow = [&](std::function<void()> onOk) {
        shown = WelcomeWindowController::showWelcomeWindow(std::move(onOk), options({}, {}));
    };
    services.updateThemeByName = [&](const QString& name) { themes << name; };
    services.initDataBase = [] { return QString(); };
    AppDelegate delegate(services);
    delegate.applicationDidFinishLaunching();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(delegate.launchState(), AppDelegate::LaunchState::WaitingForWelcome);
    EXPECT_TRUE(themes.isEmpty());

    shown->close();
    EXPECT_NE(delegate.launchState(), AppDelegate::LaunchState::WaitingForWelcome);
    EXPECT_EQ(themes.size(), 1);
    defaults.setBool(false, QStringLiteral("Bool_IsShowWelcomWindow"));
}

} // namespace
