// The commands that ask for folders and files or open windows of their own, over a scratch
// library with recorded panels and virtual time: the index-folder checks, the waits after the
// choosers, the mails and the windows held one at a time.
#include "GridContextMenuFixture.h"

#include "MainWindow/Parts/PanelMenuActions.h"
#include "Platform/Kit/Scheduler.h"
#include "Store/DBIndexFolder.h"
#include "Store/KPContextHelper.h"
#include "Tools/Sources/IndexFolderType.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

namespace {

using Kind = platform::kit::RecordingDialogService::Kind;

class PanelMenuActionsTest : public gridmenutest::GridMenuTest {
protected:
    void SetUp() override
    {
        GridMenuTest::SetUp();
        ctx.scheduler = &clock;
        disk = testsupport::makeTempDir(QStringLiteral("disk"));
        actions = std::make_unique<PanelMenuActions>(ctx);
        actions->files = files;
        actions->sendMailInfo = [this](const MailInfo& mail) {
            mails.append(mail);
            return true;
        };
        actions->openExportSheet = [this](const QString& folder) { exports.append(folder); };
        actions->install();
        observers.push_back(platform::NotificationCenter::defaultCenter().addObserver(
            AddIndexFolderNotification, [this](const platform::Notification& n) { added.append(n.object.toMap()); }));
        observers.push_back(platform::NotificationCenter::defaultCenter().addObserver(
            QStringLiteral("AddFilesToLibrary"), [this](const platform::Notification& n) { imports.append(n.object.toMap()); }));
    }
    void TearDown() override
    {
        observers.clear();
        actions.reset();
        GridMenuTest::TearDown();
    }

    void watch(const QString& folder, bool trashed = false)
    {
        auto record = DBRecord::insertNewObject<DBIndexFolder>(engine->context());
        record.setPath(folder);
        record.setType(IndexFolderType::Folder);
        record.setIsTrash(trashed);
        ASSERT_TRUE(KPContextHelper::save(engine->context()));
    }

    // Chooses folder in the index-folder panel and lets the chooser's wait pass.
    void chooseIndexFolder(const QString& folder)
    {
        dialogs.scriptOpenPanel({folder});
        commands.perform(QStringLiteral("menuAddIndexFolder"));
        ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(Kind::OpenPanel).answered; }));
        dialogs.clearRecord();
        clock.advance(PanelMenuActions::kIndexFolderDelayMs);
    }

    platform::kit::VirtualScheduler clock;
    QString disk;
    std::unique_ptr<PanelMenuActions> actions;
    QList<MailInfo> mails;
    QStringList exports;
    QList<QVariantMap> added;
    QList<QVariantMap> imports;
    std::vector<platform::ObserverToken> observers;
};

// A folder already watched is refused by its exact path; one that differs in case is another
// folder on Linux, and the library folder or anything inside it is never watched.
TEST_F(PanelMenuActionsTest, IndexFolderIsCheckedByExactPathAndKeptOutOfTheLibrary)
{
    const QString docs = disk + QStringLiteral("/Docs");
    const QString lower = disk + QStringLiteral("/docs");
    QDir().mkpath(docs);
    QDir().mkpath(lower);
    watch(docs);
    watch(disk + QStringLiteral("/Old"), true);

    dialogs.scriptOpenPanel({docs});
    commands.perform(QStringLiteral("menuAddIndexFolder"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(Kind::OpenPanel).answered; }));
    const platform::kit::OpenPanelOptions options = dialogs.last(Kind::OpenPanel).openOptions;
    EXPECT_FALSE(options.canChooseFiles);
    EXPECT_TRUE(options.canChooseDirectories);
    clock.advance(PanelMenuActions::kIndexFolderDelayMs - 1);
    EXPECT_EQ(dialogs.count(Kind::Alert), 0) << "the answer waits for the chooser to have gone";
    clock.advance(1);
    ASSERT_EQ(dialogs.count(Kind::Alert), 1);
    EXPECT_EQ(dialogs.last(Kind::Alert).messageText, QStringLiteral("The folder \"Docs\" already exist."));
    EXPECT_TRUE(added.isEmpty());

    dialogs.clearRecord();
    chooseIndexFolder(lower);
    EXPECT_EQ(dialogs.count(Kind::Alert), 0);
    ASSERT_EQ(added.size(), 1);
    EXPECT_EQ(added[0].value(IndexFolderDicInfo::Path).toUrl().toLocalFile(), lower);
    EXPECT_EQ(added[0].value(IndexFolderDicInfo::Title).toString(), QStringLiteral("docs"));
    EXPECT_EQ(added[0].value(IndexFolderDicInfo::Type).toString(), IndexFolderType::Folder);

    // A folder whose watch is in the Trash may be watched again.
    chooseIndexFolder(disk + QStringLiteral("/Old"));
    EXPECT_EQ(added.size(), 2);

    for (const QString& inside : {library, library + QStringLiteral("/Documents")}) {
        chooseIndexFolder(inside);
        EXPECT_EQ(dialogs.last(Kind::Alert).messageText, PanelMenuActions::kLibraryFolderText) << qPrintable(inside);
        EXPECT_EQ(added.size(), 2);
    }
    // A cancelled chooser does nothing.
    commands.perform(QStringLiteral("menuAddIndexFolder"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(Kind::OpenPanel).answered; }));
    clock.advance(1000);
    EXPECT_EQ(added.size(), 2);
}

// The import is asked for 0.7 s after its chooser with the chosen paths and nothing else; the
// export sheet opens on the first chosen folder as long after.
TEST_F(PanelMenuActionsTest, ImportAndExportWaitForTheirChoosers)
{
    const QStringList chosen{disk + QStringLiteral("/a.pdf"), disk + QStringLiteral("/Folder")};
    dialogs.scriptOpenPanel(chosen);
    commands.perform(QStringLiteral("menuImportFromLibrary"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(Kind::OpenPanel).answered; }));
    EXPECT_TRUE(dialogs.last(Kind::OpenPanel).openOptions.allowsMultipleSelection);
    clock.advance(PanelMenuActions::kImportDelayMs - 1);
    EXPECT_TRUE(imports.isEmpty());
    clock.advance(1);
    ASSERT_EQ(imports.size(), 1);
    EXPECT_EQ(imports[0], (QVariantMap{{QStringLiteral("Paths"), chosen}}));

    dialogs.scriptOpenPanel({disk});
    commands.perform(QStringLiteral("menuExportClick"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.count(Kind::OpenPanel) == 2; }));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(Kind::OpenPanel).answered; }));
    clock.advance(PanelMenuActions::kExportDelayMs - 1);
    EXPECT_TRUE(exports.isEmpty());
    clock.advance(1);
    EXPECT_EQ(exports, QStringList{disk});

    // Cancelled choosers, and a window gone before the wait is over.
    commands.perform(QStringLiteral("menuImportFromLibrary"));
    commands.perform(QStringLiteral("menuExportClick"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.count(Kind::OpenPanel) == 4 && dialogs.last(Kind::OpenPanel).answered; }));
    dialogs.scriptOpenPanel(chosen);
    commands.perform(QStringLiteral("menuImportFromLibrary"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(Kind::OpenPanel).answered; }));
    actions.reset();
    clock.advance(1000);
    EXPECT_EQ(imports.size(), 1);
    EXPECT_EQ(exports.size(), 1);
}

// The mails carry the log file only when there is one, and go to the configured address.
TEST_F(PanelMenuActionsTest, FeedbackAndBugReportMails)
{
    const QString log = disk + QStringLiteral("/Logs/Folivo 2.log");
    actions->logFile = [log] { return log; };
    actions->supportAddress = QString();
    commands.perform(QStringLiteral("menuFeedBackClick"));
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails[0].subject, QStringLiteral("Feedbacks for Folivo 2"));
    EXPECT_TRUE(mails[0].files.isEmpty());
    EXPECT_FALSE(mails[0].toDictionary().contains(MailInfo::kFiles));
    EXPECT_NE(mails[0].content, QStringLiteral("FeedbackContent"));

    testsupport::writeFile(log, "Run Date: today\n");
    actions->supportAddress = QStringLiteral("help@example.org");
    commands.perform(QStringLiteral("menuReportBugClick"));
    ASSERT_EQ(mails.size(), 2);
    EXPECT_TRUE(mails[1].subject.startsWith(QStringLiteral("Folivo v"))) << qPrintable(mails[1].subject);
    EXPECT_TRUE(mails[1].subject.endsWith(QStringLiteral(" Bug Report"))) << qPrintable(mails[1].subject);
    EXPECT_FALSE(mails[1].subject.contains(QStringLiteral("%@")));
    EXPECT_EQ(mails[1].files, QStringList{log});
    EXPECT_EQ(mails[1].address, QStringLiteral("help@example.org"));
    EXPECT_EQ(dialogs.count(Kind::Alert), 0);

    // No mail program took it: the user is told.
    actions->sendMailInfo = [](const MailInfo&) { return false; };
    commands.perform(QStringLiteral("menuFeedBackClick"));
    ASSERT_EQ(dialogs.count(Kind::Alert), 1);
    EXPECT_EQ(dialogs.last(Kind::Alert).messageText, PanelMenuActions::kNoMailProgramText);
}

// One duplicates window and one rate prompt at a time; the prompt goes when it says so, and
// without a link host there is none.
TEST_F(PanelMenuActionsTest, WindowsAreHeldOneAtATime)
{
    int opened = 0;
    std::function<void()> close;
    actions->openDuplicatesWindow = [&](std::function<void()> closed) {
        ++opened;
        close = std::move(closed);
    };
    commands.perform(QStringLiteral("menuCheckDuplicateClick"));
    commands.perform(QStringLiteral("menuCheckDuplicateClick"));
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(actions->isDuplicatesWindowOpen());
    close();
    commands.perform(QStringLiteral("menuCheckDuplicateClick"));
    EXPECT_EQ(opened, 2);

    QWidget window;
    ctx.window = &window;
    int prompts = 0;
    actions->makeRateView = [&](QWidget* host) {
        ++prompts;
        return new QObject(host);
    };
    actions->hosts.linkHost.clear();
    commands.perform(QStringLiteral("menuRateThisApp"));
    EXPECT_EQ(prompts, 0);

    actions->hosts.linkHost = QStringLiteral("http://127.0.0.1:9");
    commands.perform(QStringLiteral("menuRateThisApp"));
    commands.perform(QStringLiteral("menuRateThisApp"));
    EXPECT_EQ(prompts, 1);
    QPointer<QObject> prompt = actions->rateViewController();
    ASSERT_TRUE(prompt);
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("RemoveRateView"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(prompt.isNull());
    commands.perform(QStringLiteral("menuRateThisApp"));
    EXPECT_EQ(prompts, 2);
    ctx.window = nullptr;
}

} // namespace
