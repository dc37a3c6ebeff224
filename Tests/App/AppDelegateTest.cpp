#include "App/AppDelegate.h"
#include "App/DefaultSettings.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Support/TestSupport.h"
#include "TWService/ServerInfo.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

// Records every outside call the launch and quit sequences make, in order.
class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DefaultSettings::registerDefaultSettings();
        library = testsupport::makeTempDir(QStringLiteral("lib")) + QStringLiteral("/Folivo 2 Library");
        defaults().setString(library, QStringLiteral("String_Library_Path"));
        defaults().setBool(false, QStringLiteral("Bool_IsShowWelcomWindow"));
        defaults().setBool(true, QStringLiteral("Bool_ProgramIsFirstRun"));
        defaults().setString(QStringLiteral("gray"), QStringLiteral("String_ThemeName"));

        s.fireEvent = [this](const QString& e, double v) { calls << QStringLiteral("event:%1=%2").arg(e).arg(v); };
        s.startMailClientQuery = [this](const QString& id) { calls << QStringLiteral("mail:") + id; };
        s.checkForUpdatesInBackground = [this] { calls << QStringLiteral("update"); };
        s.showWelcomeWindow = [this](std::function<void()> ok) {
            calls << QStringLiteral("welcome");
            welcomeOk = std::move(ok);
        };
        s.runLibraryChooser = [this] {
            calls << QStringLiteral("chooser");
            if (!chosenLibrary.isNull())
                defaults().setString(chosenLibrary, QStringLiteral("String_Library_Path"));
            return chooserAnswer;
        };
        s.isValidDatabaseVersion = [this](const QString&) { return version; };
        s.showNeedUpgradProgramWindow = [this] { calls << QStringLiteral("needUpgrade"); };
        s.updateThemeByName = [this](const QString& t) { calls << QStringLiteral("theme:") + t; };
        s.initDataBase = [this] {
            calls << QStringLiteral("store");
            return storeError;
        };
        s.showStoreFailure = [this](const QString& m) { calls << QStringLiteral("storeFailure:") + m; };
        s.startCrashReporter = [this](const QString& id, const QString& company) {
            calls << QStringLiteral("crash:%1/%2").arg(id, company);
        };
        s.buildNeedIndexItem = [this] { calls << QStringLiteral("indexer"); };
        s.startPeerExchange = [this] { calls << QStringLiteral("peers"); };
        s.setLibraryIcon = [this](const QString&) { calls << QStringLiteral("icon"); };
        s.addRecentLibraryPath = [this](const QString&) { calls << QStringLiteral("recent"); };
        s.writeToDiskAndWait = [this] { calls << QStringLiteral("save"); };
        s.closeStores = [this] { calls << QStringLiteral("close"); };
        s.mainWindowFrame = [] { return QRect(10, 20, 800, 600); };
        s.relaunch = [this] { calls << QStringLiteral("relaunch"); };
        s.quitEventLoop = [this] { calls << QStringLiteral("quit"); };
        s.showMainWindow = [this] { calls << QStringLiteral("front"); };
        s.setBShowWindowItem = [this](bool b) { calls << QStringLiteral("showWindowItem:%1").arg(b); };
        s.requestPeerIcon = [this](std::shared_ptr<ServerInfo> p) { calls << QStringLiteral("icon?") + p->address(); };
    }

    // The standard defaults outlive a test; leave them as registered for the next one.
    void TearDown() override
    {
        for (const char* key : {"String_Library_Path", "Bool_IsShowWelcomWindow", "Bool_ProgramIsFirstRun",
                                "String_ThemeName", "MainWindowFrame"})
            defaults().removeObjectForKey(QLatin1String(key));
    }

    bool called(const QString& c) const { return calls.contains(c); }

    AppDelegate::Services s;
    QStringList calls;
    QString library;
    int version = 0; // current
    bool chooserAnswer = true;
    QString chosenLibrary; // what the chooser stores, when not null
    QString storeError;
    std::function<void()> welcomeOk;
};

} // namespace

TEST_F(AppDelegateTest, WelcomeWindowHoldsTheRestOfStartUpUntilOk)
{
    defaults().setBool(true, QStringLiteral("Bool_IsShowWelcomWindow"));
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    EXPECT_EQ(calls.last(), QStringLiteral("welcome"));
    EXPECT_FALSE(called(QStringLiteral("store")));
    EXPECT_EQ(app.launchState(), AppDelegate::LaunchState::WaitingForWelcome);
    ASSERT_TRUE(welcomeOk);
    welcomeOk();
    EXPECT_TRUE(called(QStringLiteral("store")));
    EXPECT_EQ(app.launchState(), AppDelegate::LaunchState::Running);
}

TEST_F(AppDelegateTest, FirstRunCreatesTheLibraryWithoutTheChooserThenStartsEverything)
{
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    EXPECT_FALSE(called(QStringLiteral("chooser")));
    EXPECT_TRUE(QFileInfo(library).isDir());
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/flagconfig.plist")));
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Bool_ProgramIsFirstRun")));
    const qsizetype newUser = calls.indexOf(QStringLiteral("event:newuser=1"));
    const qsizetype theme = calls.indexOf(QStringLiteral("theme:gray"));
    const qsizetype store = calls.indexOf(QStringLiteral("store"));
    const qsizetype icon = calls.indexOf(QStringLiteral("icon"));
    EXPECT_TRUE(newUser >= 0 && newUser < theme && theme < icon && icon < store);
    EXPECT_TRUE(called(QStringLiteral("recent")));
    EXPECT_TRUE(called(QStringLiteral("crash:5e0b7c21a9d43f68e17c02b4d9a6f385/norlith")));
    EXPECT_TRUE(called(QStringLiteral("indexer")));
    EXPECT_FALSE(calls.filter(QStringLiteral("event:theme")).size()) << "gray sends no theme event";
    EXPECT_FALSE(called(QStringLiteral("peers")));
    EXPECT_TRUE(testsupport::spinUntil([&] { return called(QStringLiteral("peers")); }));
}

TEST_F(AppDelegateTest, LaterRunWithMissingLibraryOffersTheChooser)
{
    defaults().setBool(false, QStringLiteral("Bool_ProgramIsFirstRun"));
    defaults().setString(QStringLiteral("dark"), QStringLiteral("String_ThemeName"));
    version = 1; // nothing there, so no version.plist either: an older library, which opens
    // The user sets up a new library elsewhere: it is made there, and the old path stays empty.
    chosenLibrary = testsupport::makeTempDir(QStringLiteral("elsewhere")) + QStringLiteral("/Folivo 2 Library");
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    EXPECT_TRUE(called(QStringLiteral("chooser")));
    EXPECT_TRUE(QFileInfo(chosenLibrary).isDir());
    EXPECT_FALSE(QFileInfo::exists(library));
    EXPECT_TRUE(called(QStringLiteral("event:theme=1")));
    EXPECT_TRUE(called(QStringLiteral("store")));
}

TEST_F(AppDelegateTest, ChooserClosedWithoutAUsableLibraryStopsStartUpAndCreatesNothing)
{
    defaults().setBool(false, QStringLiteral("Bool_ProgramIsFirstRun"));
    // Closed without a choice, and "chosen" with an empty path: the same end.
    for (const QString& chosen : {QString(), QStringLiteral("")}) {
        calls.clear();
        chooserAnswer = !chosen.isNull();
        chosenLibrary = chosen;
        defaults().setString(library, QStringLiteral("String_Library_Path"));
        AppDelegate app(s);
        app.applicationDidFinishLaunching();
        EXPECT_TRUE(called(QStringLiteral("chooser")));
        EXPECT_EQ(app.launchState(), AppDelegate::LaunchState::NoLibrary);
        EXPECT_FALSE(QFileInfo::exists(library)) << "nothing is made at the old path";
        for (const char* never : {"store", "icon", "recent", "theme:gray", "indexer", "needUpgrade"})
            EXPECT_FALSE(called(QLatin1String(never))) << never;
        // The program ends once its event loop runs, without a save of a store never opened.
        EXPECT_TRUE(testsupport::spinUntil([&] { return called(QStringLiteral("quit")); }));
        EXPECT_FALSE(called(QStringLiteral("save")));
        EXPECT_EQ(calls.count(QStringLiteral("quit")), 1);
    }
}

TEST_F(AppDelegateTest, NewerLibraryShowsOnlyTheUpgradeWindowAndOpensNoStore)
{
    version = 2;
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    EXPECT_TRUE(called(QStringLiteral("needUpgrade")));
    for (const char* never : {"theme:gray", "store", "indexer", "icon"})
        EXPECT_FALSE(called(QLatin1String(never))) << never;
    EXPECT_EQ(app.launchState(), AppDelegate::LaunchState::BlockedOnNewerLibrary);

    app.requestTermination();
    EXPECT_FALSE(called(QStringLiteral("save")));
    EXPECT_TRUE(called(QStringLiteral("quit")));
}

TEST_F(AppDelegateTest, StoreThatCannotOpenStopsStartUpWithAMessage)
{
    storeError = QStringLiteral("disk full");
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    EXPECT_TRUE(called(QStringLiteral("storeFailure:disk full")));
    EXPECT_FALSE(called(QStringLiteral("indexer")));
    EXPECT_EQ(app.launchState(), AppDelegate::LaunchState::StoreFailed);
}

TEST_F(AppDelegateTest, QuitWithAMountedSafeBoxWaitsForTheDetachOrTwoSeconds)
{
    std::vector<std::function<void()>> detaches;
    s.detachSafeBox = [&](const QString& mount, std::function<void()> done) {
        calls << QStringLiteral("detach:") + mount;
        detaches.push_back(std::move(done));
    };
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    app.setSafeBoxDisk(QStringLiteral("/mnt/box"));

    EXPECT_EQ(app.applicationShouldTerminate(), AppDelegate::TerminateReply::TerminateCancel);
    ASSERT_EQ(detaches.size(), 1u);
    // Nothing answered: 2 s later the check runs again and starts another detach.
    ASSERT_TRUE(testsupport::spinUntil([&] { return detaches.size() == 2; }));
    EXPECT_FALSE(called(QStringLiteral("quit")));

    // The volume is gone: both detaches answer, and the program quits once.
    const auto answers = detaches;
    for (const auto& done : answers)
        done();
    EXPECT_TRUE(app.safeBoxDisk().isEmpty());
    EXPECT_EQ(calls.count(QStringLiteral("quit")), 1);
    EXPECT_EQ(calls.count(QStringLiteral("save")), 1);
    // The retry the second check left behind must not quit a second time.
    ASSERT_TRUE(testsupport::spinUntil([&] { return app.pendingDelayedSteps() == 0; }));
    EXPECT_EQ(calls.count(QStringLiteral("quit")), 1);
}

TEST_F(AppDelegateTest, QuitClosesTheLibrarysSafeBoxLeftOpenByAnotherRun)
{
    QDir().mkpath(library);
    const QString storeFile = library + QStringLiteral("/safebox.db");
    testsupport::writeFile(storeFile, "x");
    const QString runtime = testsupport::makeTempDir(QStringLiteral("runtime"));
    const QString mount = QStringLiteral("%1/.%2").arg(runtime).arg(platform::stringHash(library));
    s.safeBoxStoreFile = [&] { return storeFile; };
    s.documentsFolder = [&] { return runtime; };
    std::vector<std::function<void()>> closes;
    s.closeSafeBoxLeftOpen = [&](const QString& f, std::function<void()> done) {
        calls << QStringLiteral("close:") + f;
        closes.push_back(std::move(done));
    };
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    // Opened after the start-up check looked, and never by this run.
    QDir().mkpath(mount);

    app.requestTermination();
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_TRUE(called(QStringLiteral("close:") + storeFile));
    EXPECT_FALSE(called(QStringLiteral("quit")));
    QDir(mount).removeRecursively();
    closes.front()();
    EXPECT_EQ(calls.count(QStringLiteral("quit")), 1);
    EXPECT_EQ(closes.size(), 1u);
}

TEST_F(AppDelegateTest, ADelegateGoneBeforeItsDelayedStepsAndCompletionsLeavesThemNothingToDo)
{
    std::function<void()> detached;
    std::function<void(bool)> answer;
    s.isImporting = [] { return true; };
    s.askQuitWhileImporting = [&](std::function<void(bool)> a) { answer = std::move(a); };
    s.detachSafeBox = [&](const QString&, std::function<void()> done) { detached = std::move(done); };
    defaults().setBool(true, QStringLiteral("Bool_IsShowWelcomWindow"));

    auto app = std::make_unique<AppDelegate>(s);
    app->applicationDidFinishLaunching();
    ASSERT_TRUE(welcomeOk);
    welcomeOk(); // the store opens; the peer exchange is due 1 s later
    app->requestTermination(); // asks about the running import
    app->setSafeBoxDisk(QStringLiteral("/mnt/box"));
    app->requestTermination(); // starts a detach; the retry is due 2 s later
    ASSERT_TRUE(answer && detached);
    EXPECT_EQ(app->pendingDelayedSteps(), 2);

    app.reset();
    // Answers that arrive after the delegate went are dropped.
    welcomeOk();
    answer(true);
    detached();
    // Past the moment both delayed steps were due, neither has run.
    bool past = false;
    QTimer::singleShot(AppDelegate::kQuitRetryMs + 100, [&] { past = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return past; }));
    EXPECT_FALSE(called(QStringLiteral("peers")));
    EXPECT_FALSE(called(QStringLiteral("quit")));
    EXPECT_EQ(calls.count(QStringLiteral("store")), 1);
}

TEST_F(AppDelegateTest, QuitDuringImportAsksAndQuitsOnlyOnQuit)
{
    std::function<void(bool)> answer;
    s.isImporting = [] { return true; };
    s.askQuitWhileImporting = [&](std::function<void(bool)> a) { answer = std::move(a); };
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    app.requestTermination();
    ASSERT_TRUE(answer);
    answer(false); // "Continue"
    EXPECT_FALSE(called(QStringLiteral("quit")));
    app.requestTermination();
    answer(true); // "Quit"
    EXPECT_EQ(calls.count(QStringLiteral("quit")), 1);
}

TEST_F(AppDelegateTest, QuitLetsTheImportStoreWhatItCopiedBeforeTheLibraryIsWritten)
{
    s.finishImports = [this] { calls << QStringLiteral("finishImports"); };
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    app.requestTermination();
    ASSERT_TRUE(called(QStringLiteral("finishImports")));
    EXPECT_LT(calls.indexOf(QStringLiteral("finishImports")), calls.indexOf(QStringLiteral("save")));
}

TEST_F(AppDelegateTest, QuitEndsAScanSaveBeforeTheLibraryIsWrittenAndClosed)
{
    s.finishScans = [this] { calls << QStringLiteral("finishScans"); };
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    app.requestTermination();
    ASSERT_TRUE(called(QStringLiteral("finishScans")));
    EXPECT_LT(calls.indexOf(QStringLiteral("finishScans")), calls.indexOf(QStringLiteral("save")));
    EXPECT_LT(calls.indexOf(QStringLiteral("finishScans")), calls.indexOf(QStringLiteral("close")));
}

TEST_F(AppDelegateTest, QuitWithUnsavedScansAsksBeforeAnythingElseButASignalDoesNotWait)
{
    bool unsaved = true;
    std::function<void(bool)> answer;
    int asked = 0;
    s.hasUnsavedScans = [&] { return unsaved; };
    s.askQuitWithUnsavedScans = [&](std::function<void(bool)> a) {
        ++asked;
        answer = std::move(a);
    };
    s.detachSafeBox = [&](const QString&, std::function<void()>) { calls << QStringLiteral("detach"); };
    s.finishScans = [this] { calls << QStringLiteral("finishScans"); };
    {
        AppDelegate app(s);
        app.applicationDidFinishLaunching();
        app.setSafeBoxDisk(QStringLiteral("/mnt/box"));
        app.requestTermination();
        ASSERT_EQ(asked, 1);
        // Nothing of the quit has happened while the question is up: the box stays attached.
        EXPECT_FALSE(called(QStringLiteral("detach")));
        EXPECT_FALSE(called(QStringLiteral("quit")));
        // "Don't Save": the quit goes on and is not asked about the pages again.
        app.setSafeBoxDisk(QString());
        answer(true);
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(calls.count(QStringLiteral("quit")), 1);
        EXPECT_TRUE(called(QStringLiteral("finishScans")));
    }

    // The session ends (SIGTERM): no question, the save is cancelled as the quit goes on.
    calls.clear();
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    app.requestTermination(true);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(calls.count(QStringLiteral("quit")), 1);
    EXPECT_LT(calls.indexOf(QStringLiteral("finishScans")), calls.indexOf(QStringLiteral("save")));
}

TEST_F(AppDelegateTest, TerminationSavesRemembersTheFrameAndRelaunchesWhenAsked)
{
    AppDelegate app(s);
    app.applicationDidFinishLaunching();
    app.setBNeedRelaunch(true);
    app.requestTermination();
    // The stores are saved, then closed, before the next instance opens them.
    ASSERT_TRUE(called(QStringLiteral("save")));
    EXPECT_LT(calls.indexOf(QStringLiteral("save")), calls.indexOf(QStringLiteral("close")));
    EXPECT_LT(calls.indexOf(QStringLiteral("close")), calls.indexOf(QStringLiteral("relaunch")));
    EXPECT_EQ(defaults().stringForKey(QStringLiteral("MainWindowFrame")), QStringLiteral("{{10, 20}, {800, 600}}"));

    // A later run quits before it made a window: the frame saved above is kept.
    s.mainWindowFrame = [] { return QRect(); };
    AppDelegate windowless(s);
    windowless.requestTermination();
    EXPECT_EQ(defaults().stringForKey(QStringLiteral("MainWindowFrame")), QStringLiteral("{{10, 20}, {800, 600}}"));
}

TEST_F(AppDelegateTest, OpenFilesAndReopenBringTheWindowBack)
{
    AppDelegate app(s);
    QVariant object;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("AddFilesToLibrary"), [&](const platform::Notification& n) { object = n.object; });
    app.openFiles({QStringLiteral("/a.pdf"), QStringLiteral("/b.pdf")});
    EXPECT_EQ(object.toMap().value(QStringLiteral("Paths")).toStringList(),
              (QStringList{QStringLiteral("/a.pdf"), QStringLiteral("/b.pdf")}));
    EXPECT_TRUE(called(QStringLiteral("front")));

    calls.clear();
    // A second start brings a minimised or covered window forward too.
    EXPECT_TRUE(app.applicationShouldHandleReopen(true));
    EXPECT_EQ(calls, QStringList{QStringLiteral("front")});
    calls.clear();
    EXPECT_TRUE(app.applicationShouldHandleReopen(false));
    EXPECT_EQ(calls, (QStringList{QStringLiteral("front"), QStringLiteral("showWindowItem:0")}));
}

TEST_F(AppDelegateTest, PeerAnnouncedAgainOnlyMovesItsPort)
{
    AppDelegate app(s);
    auto first = std::make_shared<ServerInfo>(QStringLiteral("192.168.1.7"), 5000);
    app.onTWClientFindServer(first);
    app.onTWClientFindServer(std::make_shared<ServerInfo>(QStringLiteral("192.168.1.7"), 5001));
    app.onTWClientFindServer(std::make_shared<ServerInfo>(QStringLiteral("192.168.1.7"), 5001));
    ASSERT_EQ(app.serverList().size(), 1u);
    EXPECT_EQ(first->dataPort(), 5001);
    EXPECT_EQ(calls.count(QStringLiteral("icon?192.168.1.7")), 1);

    app.onTWClientFindServer(std::make_shared<ServerInfo>(QStringLiteral("192.168.1.8"), 5000));
    EXPECT_EQ(app.serverList().size(), 2u);
    app.onTWClientRemoveServer(first);
    ASSERT_EQ(app.serverList().size(), 1u);
    EXPECT_EQ(app.serverList()[0]->address(), QStringLiteral("192.168.1.8"));
}

TEST_F(AppDelegateTest, PictureRequestAnswersA32PointTiffOrNothing)
{
    AppDelegate app(s);
    EXPECT_TRUE(app.onClientRequestByParameter({{QStringLiteral("Type"), QStringLiteral("Name")}}).isEmpty());
    EXPECT_TRUE(AppDelegate::userPictureData({}).isEmpty());

    const QString wide = testsupport::makeTempDir() + QStringLiteral("/face.png");
    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(wide));
    QByteArray tiff = AppDelegate::userPictureData(wide);
    ASSERT_FALSE(tiff.isEmpty());
    QBuffer buffer(&tiff);
    QImageReader reader(&buffer, "tiff");
    const QImage decoded = reader.read();
    ASSERT_EQ(decoded.size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(decoded.pixel(16, 2)), 0) << "a wide picture is letterboxed";
    EXPECT_EQ(QColor(decoded.pixel(16, 16)), QColor(Qt::red));
}

TEST_F(AppDelegateTest, StaleSafeBoxMountIsCheckedOutAtStart)
{
    QDir().mkpath(library);
    const QString storeFile = library + QStringLiteral("/safebox.db");
    testsupport::writeFile(storeFile, "x");
    const QString documents = library + QStringLiteral("/Documents");
    const QString mount = QStringLiteral("%1/.%2").arg(documents).arg(platform::stringHash(library));
    QDir().mkpath(mount);
    QString checked;
    s.safeBoxStoreFile = [&] { return storeFile; };
    s.documentsFolder = [&] { return documents; };
    s.safeBoxLogoutCheck = [&](const QString& f) { checked = f; };
    AppDelegate app(s);
    app.initApplicationFolder();
    EXPECT_EQ(checked, storeFile);
}

TEST_F(AppDelegateTest, LibraryFolderIsCreatedInAFreshHomeButNeverOnAMissingVolume)
{
    const QString fresh = testsupport::homeDir() + QStringLiteral("/NoDocumentsYet/Sub/Folivo 2 Library");
    defaults().setString(fresh, QStringLiteral("String_Library_Path"));
    AppDelegate app(s);
    app.initApplicationFolder();
    EXPECT_TRUE(QFileInfo(fresh).isDir());

    const QString offline = QStringLiteral("/nonexistent-volume-%1/Folivo 2 Library").arg(QCoreApplication::applicationPid());
    defaults().setString(offline, QStringLiteral("String_Library_Path"));
    app.initApplicationFolder();
    EXPECT_FALSE(QFileInfo::exists(offline));
}
