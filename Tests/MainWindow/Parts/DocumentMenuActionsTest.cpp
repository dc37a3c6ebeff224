// The Document menu's commands over a shown grid of a scratch library: what they store, what
// they ask of the file manager and which sheets they open.
#include "GridContextMenuFixture.h"

#include "MainWindow/AppMenuController.h"
#include "MainWindow/Parts/DocumentMenuActions.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBNode.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QUrl>

namespace {

using platform::kit::makeSender;

class RecordingPane final : public PropertyPane {
public:
    void showItemDatas(const QList<KPItemDataPtr>& items, int) override { shown = items; }
    void refreshDatas() override { ++refreshes; }
    QList<KPItemDataPtr> shown;
    int refreshes = 0;
};

class DocumentMenuActionsTest : public gridmenutest::GridMenuTest {
protected:
    void SetUp() override
    {
        GridMenuTest::SetUp();
        ctx.inspector = &pane;
        actions = std::make_unique<DocumentMenuActions>(ctx);
        actions->workspace = &workspace;
        actions->setInspectorExpanded = [this](bool expand) { ctx.state.inspectorExpanded = expand; };
        actions->openMergeSheet = [this](const QStringList& paths, const DBNode& folder, const QList<DBTag>& tags,
                                         std::function<void()> done) {
            merged = {paths, folder, tags};
            mergeDone = std::move(done);
        };
        actions->openEmptyTrashSheet = [this](std::function<void()> closed) { emptied = std::move(closed); };
        actions->install();
        workspace.setShowItemsCall([this](const QStringList& uris, const QString&, std::function<void(bool)> answered) {
            shownInFolder.append(uris);
            answered(true);
        });
    }
    void TearDown() override
    {
        actions.reset();
        GridMenuTest::TearDown();
    }

    bool perform(const char* name, int tag = 0)
    {
        return commands.perform(QString::fromLatin1(name), makeSender(tag));
    }

    static QStringList localFiles(const QStringList& uris)
    {
        QStringList paths;
        for (const QString& uri : uris)
            paths.append(QUrl(uri).toLocalFile());
        return paths;
    }

    struct Merge {
        QStringList paths;
        DBNode folder;
        QList<DBTag> tags;
    };
    RecordingPane pane;
    std::unique_ptr<DocumentMenuActions> actions;
    QList<QStringList> shownInFolder;
    Merge merged;
    std::function<void()> mergeDone;
    std::function<void()> emptied;
};

// Many documents are shown in one file-manager request; gone files are left out, and with none
// left nothing opens. The originals come from where each document was imported from.
TEST_F(DocumentMenuActionsTest, ShowInFolderAndShowOriginalAskTheFileManagerOnceForExistingFiles)
{
    const DBFileInfo a = document(QStringLiteral("a"));
    const DBFileInfo b = document(QStringLiteral("b"));
    const DBFileInfo c = document(QStringLiteral("c"));
    const QList<KPItemDataPtr> items = show({a, b, c});

    perform("menuRevealInFinder");
    ASSERT_EQ(shownInFolder.size(), 1);
    EXPECT_EQ(localFiles(shownInFolder[0]), (QStringList{items[0]->filePath(), items[1]->filePath(), items[2]->filePath()}));

    ASSERT_TRUE(QFile::remove(items[1]->filePath()));
    perform("menuRevealInFinder");
    ASSERT_EQ(shownInFolder.size(), 2);
    EXPECT_EQ(localFiles(shownInFolder[1]), (QStringList{items[0]->filePath(), items[2]->filePath()}));

    // Originals: one still on the disk, one moved away since, one never recorded.
    const QString disk = testsupport::makeTempDir(QStringLiteral("originals"));
    testsupport::writeFile(disk + QStringLiteral("/a.pdf"), "%PDF-1.4\n");
    DBFileInfo(a).metadata().setFrom(disk + QStringLiteral("/a.pdf"));
    DBFileInfo(b).metadata().setFrom(disk + QStringLiteral("/gone.pdf"));
    perform("menuCollectionMenuClick", DocumentMenuActions::ShowOriginalTag);
    ASSERT_EQ(shownInFolder.size(), 3);
    EXPECT_EQ(localFiles(shownInFolder[2]), QStringList{disk + QStringLiteral("/a.pdf")});

    show({b, c}, {0});
    perform("menuShowOriginalFile");
    perform("menuRevealInFinder");
    EXPECT_EQ(shownInFolder.size(), 3) << "nothing left to show opens nothing";
    EXPECT_TRUE(launcher.launches.isEmpty());
}

// Open says so when a document cannot be opened (no application, or only one that needs a
// terminal when none is installed): one alert with the reason, not only a line in the log.
TEST_F(DocumentMenuActionsTest, OpenTellsTheUserWhenNothingCanShowTheDocument)
{
    using Kind = platform::kit::RecordingDialogService::Kind;
    const QByteArray savedTerminal = qgetenv("TERMINAL");
    const bool hadTerminal = qEnvironmentVariableIsSet("TERMINAL");
    qunsetenv("TERMINAL");
    const QList<KPItemDataPtr> items = show({document(QStringLiteral("Report")), document(QStringLiteral("Other"))});

    perform("menuOpen");
    ASSERT_EQ(dialogs.count(Kind::Alert), 1) << "one alert for the whole selection";
    EXPECT_TRUE(dialogs.last(Kind::Alert).messageText.contains(QFileInfo(items[0]->filePath()).fileName()))
        << qPrintable(dialogs.last(Kind::Alert).messageText);
    EXPECT_FALSE(dialogs.last(Kind::Alert).informativeText.isEmpty());
    EXPECT_TRUE(launcher.launches.isEmpty());

    xdg.writeApp(QStringLiteral("pdfterm.desktop"), QStringLiteral("PDF in a terminal"), QStringLiteral("fbpdf %f"),
                 QStringLiteral("application/pdf;"), "Terminal=true\n");
    perform("menuOpen");
    ASSERT_EQ(dialogs.count(Kind::Alert), 2);
    EXPECT_TRUE(dialogs.last(Kind::Alert).informativeText.contains(QStringLiteral("terminal")))
        << qPrintable(dialogs.last(Kind::Alert).informativeText);
    EXPECT_TRUE(launcher.launches.isEmpty());

    launcher.findable.insert(QStringLiteral("x-terminal-emulator"));
    perform("menuOpen");
    EXPECT_EQ(dialogs.count(Kind::Alert), 2);
    ASSERT_EQ(launcher.launches.size(), 2);
    EXPECT_EQ(launcher.launches[0], (QStringList{QStringLiteral("x-terminal-emulator"), QStringLiteral("-e"),
                                                 QStringLiteral("fbpdf"), items[0]->filePath()}));
    if (hadTerminal)
        qputenv("TERMINAL", savedTerminal);
}

// Trashing stores the flag first, then takes the items out of the grid and asks for a recount;
// ratings outside 0–5 are refused.
TEST_F(DocumentMenuActionsTest, MoveToTrashAndRatingAreStored)
{
    const DBFileInfo a = document(QStringLiteral("a"));
    const DBFileInfo b = document(QStringLiteral("b"));
    show({a, b}, {1});
    QVariantList recounts;
    const platform::ObserverToken counts = platform::NotificationCenter::defaultCenter().addObserver(
        RefreshItemCountNotification, [&](const platform::Notification& n) { recounts.append(n.object); });

    perform("menuCollectionMenuRatingClick", 4);
    EXPECT_EQ(b.metadata().rate(), 0) << "no rater wired: nothing changes";
    actions->rateSelection = [this](int rate) {
        for (const KPItemDataPtr& item : source->itemDatasWithSectionIndexSets(grid.selectedIndexs()))
            item->data().metadata().setRate(rate);
    };
    perform("menuCollectionMenuRatingClick", 4);
    EXPECT_EQ(b.metadata().rate(), 4);
    perform("menuCollectionMenuRatingClick", 9);
    EXPECT_EQ(b.metadata().rate(), 4);

    perform("menuMoveToTrash");
    EXPECT_TRUE(b.isTrash());
    EXPECT_FALSE(a.isTrash());
    EXPECT_TRUE(testsupport::spinUntil([&] { return !engine->context()->hasChanges(); })) << "the flag is stored";
    ASSERT_TRUE(testsupport::spinUntil([&] { return recounts.size() == 1; }));
    EXPECT_EQ(recounts[0], QVariant(QStringLiteral("All")));
    ASSERT_EQ(source->dataSource().size(), 1);
    EXPECT_EQ(source->dataSource()[0]->datas().size(), 1);

    // Nothing selected: harmless.
    grid.selectItemIndexWithSectionIndexSets({});
    perform("menuCollectionMenuClick", DocumentMenuActions::MoveToTrashTag);
    EXPECT_FALSE(a.isTrash());
}

// Show Info opens the inspector on the selection; the merge gets the selection's files and tags
// in order, a repeated tag once per document.
TEST_F(DocumentMenuActionsTest, ShowInfoAndMergeWorkOnTheSelection)
{
    const DBFileInfo a = document(QStringLiteral("a"), QStringLiteral("pdf"), 0, 0, {QStringLiteral("red")});
    const DBFileInfo b = document(QStringLiteral("b"), QStringLiteral("pdf"), 0, 0, {QStringLiteral("red")});
    const QList<KPItemDataPtr> items = show({a, b});

    perform("menuCollectionMenuClick", DocumentMenuActions::ShowInfoTag);
    EXPECT_TRUE(ctx.state.inspectorExpanded);
    EXPECT_EQ(pane.shown, items);
    EXPECT_EQ(pane.refreshes, 1);

    perform("menuMergePDF");
    EXPECT_EQ(merged.paths, (QStringList{items[0]->filePath(), items[1]->filePath()}));
    EXPECT_EQ(merged.tags.size(), 2);
    EXPECT_FALSE(merged.folder);
    ASSERT_TRUE(mergeDone);
    actions.reset();
    mergeDone(); // after the window's parts have gone: nothing happens
}

// Emptying the Trash turns the menu item off, without listing the Trash in a grid that shows
// something else (the badge is the window's test).
TEST_F(DocumentMenuActionsTest, EmptyTrashClosingTurnsTheMenuItemOffWithoutListingTheTrash)
{
    DBFileInfo a = document(QStringLiteral("a"));
    a.setIsTrash(true);
    DBFileInfo b = document(QStringLiteral("b"));
    b.setIsTrash(true);
    b.setIsNeedDelete(true);
    engine->save();
    AppMenuController menuController;
    menuController.setBEmptyTrash(true);
    ctx.appMenu = &menuController;
    int reshown = 0;
    actions->onSideBarNodeChange = [&](const KPNode::Ptr&) { ++reshown; };

    perform("menuEmptyTrash");
    ASSERT_TRUE(emptied);
    emptied();
    EXPECT_FALSE(menuController.bEmptyTrash());
    EXPECT_EQ(reshown, 0);
    ctx.appMenu = nullptr;
}

// The SafeBox's commands wait for the SafeBox: nothing happens without one.
TEST_F(DocumentMenuActionsTest, SafeBoxCommandsDoNothingWithoutASafeBox)
{
    SafeBoxPane none;
    ctx.safeBox = &none;
    show({document(QStringLiteral("a"))});
    int copies = 0;
    actions->copySelectionToSafeBox = [&] {
        ++copies;
        return true;
    };
    EXPECT_TRUE(perform("menuCopySafeBoxClick"));
    EXPECT_TRUE(perform("menuDeleteSafeBoxFile"));
    EXPECT_EQ(copies, 0);
    EXPECT_FALSE(actions->canDeleteSafeBoxFiles());
    ctx.safeBox = nullptr;
}

} // namespace
