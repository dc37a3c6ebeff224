// The SafeBox in the main window through its hooks: the open and closed states, the node's count,
// the remembered second listing, and a lock that fails.
#include "Browser/KPSafeBoxItemData.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/DiskImage/DiskImageRuntime.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Scheduler.h"
#include "SafeBox/SafeBoxPaths.h"
#include "SafeBox/SafeBoxXPCClient.h"
#include "SafeBox/Views/SafeBoxMainWindowPane.h"
#include "Support/TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

class DetachDriver : public SafeBoxCreator {
public:
    DetachDriver(const QString& path, const QVariantMap& parameter, SafeBoxOutcome outcome)
        : SafeBoxCreator(path, parameter), m_outcome(std::move(outcome))
    {
    }
    SafeBoxOutcome detach(const QString&) override { return m_outcome; }

private:
    SafeBoxOutcome m_outcome;
};

class SafeBoxMainWindowPaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_center.resize(800, 600);
        m_mount = testsupport::makeTempDir(QStringLiteral("mount"));
        SafeBoxMainWindowPane::Hooks hooks;
        hooks.window = [this] { return &m_center; };
        hooks.centerView = [this] { return &m_center; };
        hooks.toolBar = [this] { return &m_center; };
        hooks.storeFile = [this] { return m_storeFile; };
        hooks.runtimeFolder = [] { return SafeBoxPaths::runtimeFolder(); };
        hooks.safeBoxDisk = [this] { return m_disk; };
        hooks.rememberLogin = [this](const QString& disk, const QVariantMap& key) {
            m_disk = disk;
            m_key = key;
        };
        hooks.updateNode = [this](qint64 count, bool busy) {
            m_count = count;
            m_busy = busy;
            if (busy)
                ++m_listings;
        };
        hooks.isSafeBoxNodeShown = [this] { return m_nodeShown; };
        hooks.showItems = [this](const QList<QVariantMap>& items, const QString&) {
            m_shown = items;
            ++m_showCalls;
        };
        hooks.notifications = &m_notifications;
        hooks.dialogs = &m_dialogs;
        hooks.scheduler = &m_scheduler;
        hooks.sealerRunning = [this](const QString&) { return m_sealerRunning; };
        hooks.resumeSealer = [this](const QString& disk, std::function<void(bool, const QString&)> done) {
            m_resumed << disk;
            m_resumeDone = std::move(done);
        };
        m_pane = std::make_unique<SafeBoxMainWindowPane>(hooks);
    }
    void TearDown() override
    {
        SafeBoxXPCClient::setDriverFactoryForTesting(nullptr);
        SafeBoxCreator::setToolPathForTesting({});
    }

    void detachAnswers(bool success, const QString& error)
    {
        SafeBoxOutcome outcome;
        outcome.success = success;
        outcome.error = error;
        SafeBoxXPCClient::setDriverFactoryForTesting([outcome](const QString& path, const QVariantMap& parameter) {
            return std::make_unique<DetachDriver>(path, parameter, outcome);
        });
    }
    void openBox()
    {
        m_disk = QStringLiteral("/dev/folivo-sbx-00000001");
        m_key = {{QStringLiteral("Key"), QStringLiteral("k")}};
        m_notifications.post(QStringLiteral("SafeBoxLoginSuccess"), m_mount);
        ASSERT_TRUE(testsupport::spinUntil([&] { return m_listings >= 1 && !m_busy; }));
    }

    QWidget m_center;
    QString m_storeFile = QStringLiteral("/lib/safebox.db");
    QString m_mount;
    QString m_disk;
    QVariantMap m_key;
    qint64 m_count = -1;
    bool m_busy = false;
    int m_listings = 0;
    bool m_nodeShown = false;
    QList<QVariantMap> m_shown;
    int m_showCalls = 0;
    platform::NotificationCenter m_notifications;
    platform::kit::RecordingDialogService m_dialogs;
    platform::kit::VirtualScheduler m_scheduler;
    bool m_sealerRunning = true;
    QStringList m_resumed;
    std::function<void(bool, const QString&)> m_resumeDone;
    std::unique_ptr<SafeBoxMainWindowPane> m_pane;
};

} // namespace

TEST_F(SafeBoxMainWindowPaneTest, LoginOpensTheBoxAndCountsItWhileAnotherNodeIsShown)
{
    m_notifications.post(QStringLiteral("SafeBoxLoginSuccess"), QString());
    EXPECT_TRUE(m_pane->safeBoxAttactPath().isEmpty());

    m_pane->showSetupView(false);
    ASSERT_NE(m_pane->setupView(), nullptr);
    EXPECT_EQ(m_pane->setupView()->parentWidget(), &m_center);
    testsupport::writeFile(m_mount + QStringLiteral("/a.pdf"), "a");
    testsupport::writeFile(m_mount + QStringLiteral("/b.pdf"), "b");
    openBox();
    EXPECT_EQ(m_pane->safeBoxAttactPath(), m_mount);
    EXPECT_EQ(m_pane->setupView(), nullptr);
    EXPECT_EQ(m_count, 2);
    EXPECT_EQ(m_showCalls, 0); // another node is shown: only the count changes

    m_nodeShown = true;
    m_pane->loadSafeBoxDataSource();
    EXPECT_EQ(m_shown.size(), 2);
    ASSERT_NE(m_pane->lockButton(), nullptr);
}

TEST_F(SafeBoxMainWindowPaneTest, AListingAskedForDuringOneRunsAgainAfterIt)
{
    openBox();
    const int before = m_listings;
    m_pane->refreshSafeBoxDataSource();
    testsupport::writeFile(m_mount + QStringLiteral("/copied while listing.pdf"), "c");
    m_pane->refreshSafeBoxDataSource(); // dropped by the program this replaces
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_listings == before + 2 && !m_busy; }));
    EXPECT_EQ(m_count, 1);
}

TEST_F(SafeBoxMainWindowPaneTest, AFailedLockKeepsTheBoxOpenAndSaysWhy)
{
    m_nodeShown = true;
    openBox();
    detachAnswers(false, QStringLiteral("folivo-hdiutil: detach failed - No space left on device"));
    m_pane->onSafeboxLock();
    EXPECT_TRUE(m_pane->isLocking());
    m_pane->onSafeboxLock(); // a second lock waits for the first
    ASSERT_TRUE(testsupport::spinUntil([&] { return !m_pane->isLocking(); }));
    EXPECT_EQ(m_pane->safeBoxAttactPath(), m_mount);
    EXPECT_FALSE(m_disk.isEmpty());
    EXPECT_FALSE(m_key.isEmpty());
    ASSERT_EQ(m_dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 1);
    EXPECT_TRUE(m_dialogs.last(platform::kit::RecordingDialogService::Kind::Alert)
                    .informativeText.contains(QStringLiteral("No space left")));

    detachAnswers(true, {});
    m_pane->onSafeboxLock();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_pane->safeBoxAttactPath().isEmpty(); }));
    EXPECT_TRUE(m_disk.isEmpty());
    EXPECT_TRUE(m_key.isEmpty()); // a later resize needs a new login
    EXPECT_EQ(m_count, 0);
    EXPECT_TRUE(m_shown.isEmpty());
    ASSERT_NE(m_pane->setupView(), nullptr); // the login view, for the SafeBox node is shown
    EXPECT_EQ(m_pane->setupView()->currentStep(), m_pane->setupView()->vLogin);
}

TEST_F(SafeBoxMainWindowPaneTest, EndToEndWithTheRealToolCreateLogInLockAndLogInAgain)
{
    SafeBoxCreator::setToolPathForTesting(QCoreApplication::applicationDirPath() + QStringLiteral("/folivo-hdiutil-test"));
    qputenv("FOLIVO_SBX_TEST_SCRYPT_LOGN", "4");
    const QString library = testsupport::makeTempDir(QStringLiteral("library"));
    const QString store = library + QStringLiteral("/safebox.db");
    m_storeFile = store;
    SafeBoxSetupViewController::Services services;
    services.storeFile = store;
    services.runtimeFolder = SafeBoxPaths::runtimeFolder();
    services.rememberLogin = [this](const QString& disk, const QVariantMap& key) {
        m_disk = disk;
        m_key = key;
    };
    services.notifications = &m_notifications;
    services.scheduler = &m_scheduler;
    m_nodeShown = true;

    SafeBoxSetupViewController wizard(true, services);
    wizard.btnNextToSetup2();
    wizard.btnNextToSetupPassword();
    wizard.txtPassword->setText(QStringLiteral("pässwörd 🔑"));
    wizard.txtVerify->setText(QStringLiteral("pässwörd 🔑"));
    wizard.txtHint->setText(QStringLiteral("the usual"));
    wizard.btnCreate();
    ASSERT_TRUE(testsupport::spinUntil([&] { return wizard.txtFinished->text() == QStringLiteral("SafeBox is Finished!"); }));
    ASSERT_TRUE(QFileInfo::exists(store));
    m_scheduler.advance(1000);
    ASSERT_EQ(wizard.currentStep(), wizard.vLogin);

    const auto logIn = [&](SafeBoxSetupViewController& view) {
        view.txtLoginPassword->setText(QStringLiteral("pässwörd 🔑"));
        view.btnLogin_();
        return testsupport::spinUntil([&] { return !m_pane->safeBoxAttactPath().isEmpty() && !m_busy && m_listings > 0; });
    };
    ASSERT_TRUE(logIn(wizard));
    const QString mount = m_pane->safeBoxAttactPath();
    EXPECT_TRUE(mount.startsWith(SafeBoxPaths::runtimeFolder()));
    for (const QString& name : {QStringLiteral("one.pdf"), QStringLiteral("two.pdf"), QStringLiteral("three.pdf")})
        testsupport::writeFile(mount + QLatin1Char('/') + name, name.toUtf8());
    m_pane->refreshSafeBoxDataSource();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_count == 3 && !m_busy; }));

    m_pane->onSafeboxLock();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_pane->safeBoxAttactPath().isEmpty(); }));
    EXPECT_FALSE(QFileInfo::exists(mount));
    ASSERT_NE(m_pane->setupView(), nullptr);
    m_listings = 0;
    ASSERT_TRUE(logIn(*m_pane->setupView()));
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_count == 3 && !m_busy; }));
    EXPECT_EQ(m_shown.size(), 3);
    m_pane->onSafeboxLock();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_pane->safeBoxAttactPath().isEmpty(); }));
    SafeBoxCreator::setToolPathForTesting({});
    qunsetenv("FOLIVO_SBX_TEST_SCRYPT_LOGN");
}

TEST_F(SafeBoxMainWindowPaneTest, ThePasswordAndResizeSheetsAndACopyCloseTheBoxOnlyTruthfully)
{
    using Kind = platform::kit::RecordingDialogService::Kind;
    m_nodeShown = true;
    openBox();

    // A copy is running: the box is not locked under it.
    m_dialogs.scriptSheetShown();
    const KPItemDataPtr doc = std::make_shared<KPSafeBoxItemData>(
        QVariantMap{{QStringLiteral("Path"), QStringLiteral("/nowhere/a.pdf")}}, m_mount);
    m_pane->copyFiles(&m_center, m_mount, {doc}, [](const QList<KPItemDataPtr>&, bool) {});
    ASSERT_TRUE(m_pane->isTransferring());
    m_pane->onSafeboxLock();
    EXPECT_FALSE(m_pane->isLocking());
    EXPECT_EQ(m_dialogs.last(Kind::Alert).messageText, QStringLiteral("The SafeBox is in use."));
    EXPECT_EQ(m_pane->safeBoxAttactPath(), m_mount);
    m_dialogs.last(Kind::Sheet).sheet->end(0);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !m_pane->isTransferring(); }));

    // The password was changed but the detach fails: the box stays open and the user is told.
    detachAnswers(false, QStringLiteral("folivo-hdiutil: detach failed - Resource busy"));
    m_dialogs.scriptSheet(1);
    const qsizetype alerts = m_dialogs.count(Kind::Alert);
    m_pane->openSettingSheet(2, 0, 0);
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_dialogs.count(Kind::Alert) == alerts + 1 && !m_pane->isLocking(); }));
    EXPECT_EQ(m_pane->safeBoxAttactPath(), m_mount);
    EXPECT_FALSE(m_disk.isEmpty());

    detachAnswers(true, {});
    m_dialogs.scriptSheet(1);
    ASSERT_TRUE(testsupport::spinUntil([&] {
        m_pane->openSettingSheet(2, 0, 0); // refused while the last sheet's controller is still there
        return m_pane->safeBoxAttactPath().isEmpty();
    }));
    EXPECT_TRUE(m_key.isEmpty());
    ASSERT_NE(m_pane->setupView(), nullptr);
    EXPECT_EQ(m_pane->setupView()->currentStep(), m_pane->setupView()->vLogin);

    // A resize detached the box itself: it is shown closed without another detach.
    openBox();
    detachAnswers(false, QStringLiteral("must not be asked"));
    m_dialogs.scriptSheet(1);
    ASSERT_TRUE(testsupport::spinUntil([&] {
        m_pane->openSettingSheet(1, 0, 1073741824);
        return m_pane->safeBoxAttactPath().isEmpty();
    }));
    EXPECT_TRUE(m_disk.isEmpty());
}

TEST_F(SafeBoxMainWindowPaneTest, EndToEndWithTheRealToolCopiedDocumentsKeepTheirTagsAndAMoveWaitsForTheSeal)
{
    using Kind = platform::kit::RecordingDialogService::Kind;
    SafeBoxCreator::setToolPathForTesting(QCoreApplication::applicationDirPath() + QStringLiteral("/folivo-hdiutil-test"));
    qputenv("FOLIVO_SBX_TEST_SCRYPT_LOGN", "4");
    qputenv("FOLIVO_SBX_TEST_QUIET_MS", "150");
    qputenv("FOLIVO_SBX_TEST_PERIOD_MS", "1500");
    const QString library = testsupport::makeTempDir(QStringLiteral("library"));
    m_storeFile = library + QStringLiteral("/safebox.db");
    const QString sources = testsupport::makeTempDir(QStringLiteral("documents"));
    m_nodeShown = true;
    const QString password = QStringLiteral("correct horse");
    bool created = false;
    SafeBoxXPCClient::create(m_storeFile, QVariantMap{{QStringLiteral("Name"), QStringLiteral("SafeBox")},
                                                      {QStringLiteral("Size"), 104857600},
                                                      {QStringLiteral("Password"), password}})
        ->creatorWithCompletedBlock([&](bool success, const QString&) { created = success; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return created; }));
    const auto logIn = [&] {
        m_pane->showSetupView(false);
        SafeBoxSetupViewController* view = m_pane->setupView();
        view->txtLoginPassword->setText(password);
        view->btnLogin_();
        return testsupport::spinUntil([&] { return !m_pane->safeBoxAttactPath().isEmpty() && !m_busy && m_listings > 0; });
    };
    const auto item = [&](const QString& name, const QByteArray& tag) {
        const QString path = sources + QLatin1Char('/') + name;
        testsupport::writeFile(path, name.toUtf8());
        if (!tag.isEmpty()) {
            EXPECT_TRUE(platform::XAttr::set(path, QStringLiteral("com.apple.metadata:_kMDItemUserTags"), tag));
        }
        return KPItemDataPtr(std::make_shared<KPSafeBoxItemData>(QVariantMap{{QStringLiteral("Path"), path}}, sources));
    };
    const auto run = [&](const QList<KPItemDataPtr>& docs, bool move, bool* moved) {
        m_dialogs.scriptSheetShown();
        bool done = false;
        m_pane->copyFiles(&m_center, m_pane->safeBoxAttactPath(), docs, [&](const QList<KPItemDataPtr>&, bool wasMove) {
            *moved = wasMove;
            done = true;
        });
        auto* sheet = qobject_cast<CopyFileToSafeBoxWindowController*>(m_pane->transferSheet());
        EXPECT_NE(sheet, nullptr);
        if (!sheet)
            return false;
        move ? sheet->btnMove() : sheet->btnCopy();
        if (move) {
            // Copied and waiting for the seal: the original is still there.
            EXPECT_TRUE(testsupport::spinUntil([&] { return done || sheet->txtCopyingHint->text() == QStringLiteral("Sealing…"); }));
            EXPECT_TRUE(done || QFileInfo::exists(docs.first()->filePath()));
        }
        return testsupport::spinUntil([&] { return done; });
    };

    ASSERT_TRUE(logIn());
    bool moved = true;
    ASSERT_TRUE(run({item(QStringLiteral("one.pdf"), "red"), item(QStringLiteral("two.pdf"), "blue"),
                     item(QStringLiteral("three.pdf"), {})},
                    false, &moved));
    EXPECT_FALSE(moved);
    EXPECT_TRUE(QFileInfo::exists(sources + QStringLiteral("/one.pdf")));

    const KPItemDataPtr four = item(QStringLiteral("four.pdf"), {});
    const quint64 generationBefore = platform::sbx::readSealStatus(m_disk).generation;
    ASSERT_TRUE(run({four}, true, &moved));
    EXPECT_TRUE(moved);
    EXPECT_FALSE(QFileInfo::exists(four->filePath()));
    EXPECT_GT(platform::sbx::readSealStatus(m_disk).generation, generationBefore);

    m_pane->onSafeboxLock();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_pane->safeBoxAttactPath().isEmpty(); }));
    m_listings = 0;
    ASSERT_TRUE(logIn());
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_count == 4 && !m_busy; }));
    const QString mount = m_pane->safeBoxAttactPath();
    EXPECT_EQ(testsupport::readFile(mount + QStringLiteral("/four.pdf")), "four.pdf");
    const auto tag = platform::XAttr::get(mount + QStringLiteral("/one.pdf"), QStringLiteral("com.apple.metadata:_kMDItemUserTags"));
    ASSERT_TRUE(tag) << tag.error().message.toStdString();
    EXPECT_EQ(*tag, "red");
    m_pane->onSafeboxLock();
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_pane->safeBoxAttactPath().isEmpty(); }));
    EXPECT_EQ(m_dialogs.count(Kind::Alert), 0);
    SafeBoxCreator::setToolPathForTesting({});
    for (const char* name : {"FOLIVO_SBX_TEST_SCRYPT_LOGN", "FOLIVO_SBX_TEST_QUIET_MS", "FOLIVO_SBX_TEST_PERIOD_MS"})
        qunsetenv(name);
}

TEST_F(SafeBoxMainWindowPaneTest, ADeadSealerIsReplacedAndOneThatCannotBeIsToldToTheUser)
{
    openBox();
    m_scheduler.advance(SafeBoxMainWindowPane::kSealerWatchMs);
    EXPECT_TRUE(m_resumed.isEmpty());

    // It died: another is started, once, however often the watch looks meanwhile.
    m_sealerRunning = false;
    m_scheduler.advance(SafeBoxMainWindowPane::kSealerWatchMs);
    ASSERT_EQ(m_resumed, QStringList{m_disk});
    m_scheduler.advance(SafeBoxMainWindowPane::kSealerWatchMs);
    EXPECT_EQ(m_resumed.size(), 1);
    m_resumeDone(true, {});
    EXPECT_EQ(m_dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 0);

    // No other can be started: the user hears that the changes are not being saved, once.
    m_scheduler.advance(SafeBoxMainWindowPane::kSealerWatchMs);
    ASSERT_EQ(m_resumed.size(), 2);
    m_resumeDone(false, QStringLiteral("folivo-hdiutil: resume failed - the sealer could not be started (it ended at once)"));
    EXPECT_EQ(m_dialogs.last(platform::kit::RecordingDialogService::Kind::Alert).messageText,
              QStringLiteral("The SafeBox's changes are not being saved"));
    EXPECT_TRUE(m_dialogs.last(platform::kit::RecordingDialogService::Kind::Alert).informativeText.contains(
        QStringLiteral("it ended at once")));
    m_scheduler.advance(SafeBoxMainWindowPane::kSealerWatchMs);
    ASSERT_EQ(m_resumed.size(), 3);
    m_resumeDone(false, QStringLiteral("again"));
    EXPECT_EQ(m_dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 1);

    // A box no longer open is not watched.
    m_pane->forgetAttachedVolume();
    m_scheduler.advance(SafeBoxMainWindowPane::kSealerWatchMs);
    EXPECT_EQ(m_resumed.size(), 3);
}

TEST_F(SafeBoxMainWindowPaneTest, ASealerWhoseToolCannotBeStartedIsToldAsSuch)
{
    // The real resume through the driver, with a tool that is not there.
    SafeBoxCreator::setToolPathForTesting(testsupport::makeTempDir(QStringLiteral("tool")) + QStringLiteral("/no-such-tool"));
    platform::NotificationCenter notifications;
    SafeBoxMainWindowPane::Hooks hooks;
    hooks.window = [this] { return &m_center; };
    hooks.centerView = [this] { return &m_center; };
    hooks.toolBar = [this] { return &m_center; };
    hooks.storeFile = [this] { return m_storeFile; };
    hooks.safeBoxDisk = [] { return QStringLiteral("/dev/folivo-sbx-00000002"); };
    hooks.notifications = &notifications;
    hooks.dialogs = &m_dialogs;
    hooks.scheduler = &m_scheduler;
    hooks.sealerRunning = [](const QString&) { return false; };
    SafeBoxMainWindowPane pane(hooks);
    notifications.post(QStringLiteral("SafeBoxLoginSuccess"), m_mount);
    m_scheduler.advance(SafeBoxMainWindowPane::kSealerWatchMs);
    ASSERT_TRUE(testsupport::spinUntil([&] { return m_dialogs.count(platform::kit::RecordingDialogService::Kind::Alert) > 0; }));
    const QString why = m_dialogs.last(platform::kit::RecordingDialogService::Kind::Alert).informativeText;
    EXPECT_TRUE(why.contains(QStringLiteral("the disk-image tool could not be started"))) << why.toStdString();
    EXPECT_FALSE(why.contains(QStringLiteral("exited abnormally"))) << why.toStdString();
}
