// The program's main road walked as a user would, through the real window, the real store, the
// import queue and the badge counts over a fresh library: files dropped into a folder, moved,
// tagged, flagged, rated, trashed and put back, an import interrupted by a quit, and the next
// start finding everything as it was left. Only the desktop is faked (the tag editor's widget,
// the extended attributes and the questions answered from a script).
#include "MainWindowTestSupport.h"

#include "App/AppDelegate.h"
#include "Dialogs/Welcome/NoDocumentView.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/KPSectionItemView.h"
#include "Import/KPImportEngineStore.h"
#include "Import/KPImportFileWorker.h"
#include "Import/KPImportKeys.h"
#include "Import/KPImportOperation.h"
#include "MainWindow/MainWindowParts.h"
#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/DBTag.h"
#include "Store/KPContextHelper.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <condition_variable>
#include <mutex>

namespace {

using namespace mainwindowtest;
using platform::kit::makeSender;
namespace T = SideBarNodeType;
namespace K = KPImportKeys;

KPNode::Ptr findNode(const KPNode::Ptr& root, const QString& title)
{
    if (!root)
        return nullptr;
    if (root->title() == title)
        return root;
    for (const KPNode::Ptr& child : root->children())
        if (KPNode::Ptr found = findNode(child, title))
            return found;
    return nullptr;
}

class MainRoadTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        defaults().setBool(false, QStringLiteral("Bool_IsShowWelcomWindow"));
        defaults().setBool(true, KPViewSizeManager::kShowRatingKey);
        KPViewSizeManager::instance().reloadViewSetting();
        disk = testsupport::makeTempDir(QStringLiteral("disk"));
        inbox = folderNamed(QStringLiteral("Inbox"));
        archive = folderNamed(QStringLiteral("Archive"));
        engine->createTagByContext(QStringLiteral("Red"));
        ASSERT_TRUE(KPContextHelper::save(context()));
        previousXAttrs = platform::XAttr::setBackend(xattrs);
        imports = platform::NotificationCenter::defaultCenter().addObserver(
            K::FileImportNotification, [this](const platform::Notification& n) {
                const QVariantMap status = n.object.toMap();
                statuses.append(status.value(K::Status).toString());
                if (status.value(K::Status) == K::SaveDataBaseFinished)
                    ++finishedImports;
                else
                    for (const QString& source : watchedSources)
                        if (!QFileInfo::exists(source))
                            sourceGoneEarly = true;
            });
    }
    void TearDown() override
    {
        imports = {};
        KPImportFileWorker::setCopyFunctionForTesting(nullptr);
        KPImportOperation::setPhasePauseForTesting(KPImportOperation::kPhasePause);
        platform::XAttr::setBackend(previousXAttrs);
        MainWindowFixture::TearDown();
    }

    // Opens the window with its imports going to this test's library store (the program's is
    // the shared engine, which this test does not open).
    void openWindow()
    {
        open();
        auto store = std::make_shared<KPImportEngineStore>(engine.get());
        controller->parts().importFlow.prepareOperation = [this, store](KPImportOperation& op) {
            KPImportOperation::Environment environment;
            environment.library = files;
            environment.store = store;
            op.setEnvironment(environment);
        };
    }

    MainWindowContext& ctx() { return controller->context(); }
    MainWindowParts& parts() { return controller->parts(); }

    QStringList sourceFiles(const QString& folder, int count)
    {
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            const QString path = disk + QLatin1Char('/') + folder + QStringLiteral("/doc%1.pdf").arg(i, 3, 10, QLatin1Char('0'));
            testsupport::writeFile(path, "%PDF-1.4\n% " + path.toUtf8() + "\n");
            paths.append(path);
        }
        return paths;
    }

    // Drops the files on the grid away from the overlay's icons, Shift held or not.
    void dropOnGrid(const QStringList& paths, Qt::KeyboardModifiers modifiers = {})
    {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls.append(QUrl::fromLocalFile(path));
        mime.setUrls(urls);
        GridActions& actions = ctx().gridDataSource->actions;
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        actions.draggingEnter(&enter);
        // The window hands a drag to the widget under the pointer: the overlay that came up must
        // leave it to the grid beneath, or a drag from a file manager ends refused.
        QWidget* center = ctx().centerView;
        KPCollectionView* grid = ctx().collectionView;
        const QPoint middle = grid->mapTo(center, grid->rect().center());
        QWidget* under = center->childAt(middle);
        EXPECT_TRUE(under == grid || grid->isAncestorOf(under)) << (under ? qPrintable(under->metaObject()->className()) : "none");
        QDragMoveEvent move(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        actions.draggingUpdated(&move);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, modifiers);
        ASSERT_TRUE(actions.performDragOperation(&drop));
        actions.concludeDragOperation(&drop);
    }

    void selectInSecondBar(const QString& title)
    {
        const KPNode::Ptr node = findNode(ctx().subSideBarDataSource->rootNode(), title);
        ASSERT_TRUE(node) << qPrintable(title);
        ctx().subSideBarDataSource->sideBarView()->selectNode(node.get());
        ASSERT_TRUE(testsupport::spinUntil([&] { return ctx().state.shownSubNode == node; }));
    }

    QList<DBFileInfo> stored(const QString& predicate = QStringLiteral("isTrash == NO")) const
    {
        auto found = engine->queryRecordByName(DBFileInfo::entityName(), *platform::Predicate::format(predicate));
        return DBRecord::recordsOf<DBFileInfo>(found ? *found : QList<platform::ManagedObjectPtr>());
    }
    QStringList storedTitlesIn(const DBNode& folder) const
    {
        QStringList titles;
        for (const DBFileInfo& file : stored())
            if (file.node() == folder)
                titles.append(file.title());
        titles.sort();
        return titles;
    }
    DBFileInfo storedNamed(const QString& title) const
    {
        for (const DBFileInfo& file : stored(QStringLiteral("isTrash == NO || isTrash == YES")))
            if (file.title() == title)
                return file;
        return {};
    }
    QStringList shownTitles()
    {
        QStringList names;
        for (const KPSectionDataPtr& section : ctx().gridDataSource->dataSource())
            for (const KPSectionItem& item : section->datas())
                if (KPItemDataPtr document = item.itemData())
                    names.append(document->data().title());
        names.sort();
        return names;
    }
    void selectShown(const QStringList& titles)
    {
        QList<KPSectionIndexSet> indexSets;
        const QList<KPSectionDataPtr>& sections = ctx().gridDataSource->dataSource();
        for (int s = 0; s < sections.size(); ++s)
            for (int i = 0; i < sections[s]->datas().size(); ++i)
                if (KPItemDataPtr item = sections[s]->datas()[i].itemData(); item && titles.contains(item->data().title()))
                    indexSets.append(KPSectionIndexSet(s, i));
        ASSERT_EQ(indexSets.size(), titles.size());
        ctx().collectionView->selectItemIndexWithSectionIndexSets(indexSets);
        ctx().collectionView->doCollectionViewItemSelectedNotify();
    }
    static QStringList tagNames(const DBFileInfo& file)
    {
        QStringList names;
        for (const DBTag& tag : file.tags())
            names.append(tag.name());
        names.sort();
        return names;
    }
    bool badgesAre(qint64 documents, qint64 trash)
    {
        SideBarDataSource& bar = *ctx().sideBarDataSource;
        return bar.documentsNode()->rightNumber() == documents && bar.trashNode()->rightNumber() == trash;
    }

    // Drops three files into Inbox and waits until they are stored and shown.
    void importThreeIntoInbox(Qt::KeyboardModifiers modifiers)
    {
        sideBarView().selectNode(ctx().sideBarDataSource->collectionsNode().get());
        selectInSecondBar(QStringLiteral("Inbox"));
        const QStringList sources = sourceFiles(QStringLiteral("first"), 3);
        if (modifiers & Qt::ShiftModifier)
            watchedSources = sources;
        bool sawImporting = false;
        dropOnGrid(sources, modifiers);
        ASSERT_TRUE(testsupport::spinUntil(
            [&] {
                sawImporting = sawImporting || (ctx().sideBarDataSource->importingNode() &&
                                                sideBarView().rowForNode(ctx().sideBarDataSource->importingNode().get()) >= 0);
                return finishedImports == 1 && !parts().importFlow.isImporting();
            },
            60000));
        EXPECT_TRUE(sawImporting) << "the Importing entry shows while the files come in";
        EXPECT_EQ(storedTitlesIn(inbox), (QStringList{"doc000", "doc001", "doc002"}));
        ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles() == QStringList{"doc000", "doc001", "doc002"}; }));
        EXPECT_TRUE(testsupport::spinUntil([&] {
            return !ctx().sideBarDataSource->importingNode() ||
                   sideBarView().rowForNode(ctx().sideBarDataSource->importingNode().get()) < 0;
        })) << "and goes when they are in";
        EXPECT_TRUE(testsupport::spinUntil([&] { return badgesAre(3, 0); }));
        for (const QString& source : sources)
            EXPECT_EQ(QFileInfo::exists(source), !(modifiers & Qt::ShiftModifier)) << qPrintable(source);
        EXPECT_FALSE(sourceGoneEarly) << "a moved file's source goes only once its record is stored";
    }

    QString disk;
    DBNode inbox, archive;
    std::shared_ptr<platform::FakeXAttrBackend> xattrs = std::make_shared<platform::FakeXAttrBackend>();
    std::shared_ptr<platform::XAttrBackend> previousXAttrs;
    platform::kit::RecordingDialogService dialogs;
    platform::ObserverToken imports;
    QStringList statuses;
    QStringList watchedSources;
    bool sourceGoneEarly = false;
    int finishedImports = 0;
};

TEST_F(MainRoadTest, ImportEditTrashPutBackQuitAndStartAgain)
{
    // 1. A fresh library opens on Documents.
    EXPECT_TRUE(QFileInfo(library).isDir());
    openWindow();
    EXPECT_EQ(selected(), ctx().sideBarDataSource->documentsNode().get());
    const auto welcomeShown = [&] {
        const auto* empty = ctx().centerView->findChild<NoDocumentView*>();
        return empty && empty->isVisible();
    };
    EXPECT_TRUE(testsupport::spinUntil(welcomeShown)) << "an empty library says how to add documents";

    // 2. Three files dropped into a folder.
    ASSERT_NO_FATAL_FAILURE(importThreeIntoInbox({}));
    KPImportOperation::setPhasePauseForTesting(std::chrono::milliseconds(0));
    EXPECT_FALSE(welcomeShown());

    // 3. One moved to Archive by the second side bar's drop, two tagged, one flagged, one rated.
    selectShown({"doc000"});
    parts().sideBarRequests.onSubSideBarMoveRecordToNode(findNode(ctx().subSideBarDataSource->rootNode(), QStringLiteral("Archive")));
    EXPECT_EQ(storedTitlesIn(archive), QStringList{"doc000"});
    ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles() == QStringList{"doc001", "doc002"}; }));

    TagEditorCallbacks editor;
    parts().sharing.tagEditor = [&](const QStringList&, TagEditorCallbacks callbacks) {
        editor = std::move(callbacks);
        return new QWidget;
    };
    selectShown({"doc001", "doc002"});
    ctx().commands->perform(SelectionSharing::kShowTagsCommand, makeSender(1));
    ASSERT_TRUE(editor.valueChange);
    editor.valueChange({QStringLiteral("red"), QStringLiteral("Urgent")});
    editor.done();
    for (const char* title : {"doc001", "doc002"}) {
        const DBFileInfo file = storedNamed(QString::fromLatin1(title));
        EXPECT_EQ(tagNames(file), (QStringList{"Red", "Urgent"})) << "the existing tag is reused whatever its case";
        EXPECT_FALSE(xattrs->attributes(QFile::encodeName(DBHelper::CombinFileAbsolutePath(file))).isEmpty()) << title;
    }

    selectShown({"doc001"});
    ctx().commands->perform(GridContextMenu::kFlagCommand, makeSender(2));
    EXPECT_EQ(storedNamed(QStringLiteral("doc001")).metadata().label(), 2);
    // Four stars by dragging over the item's stars.
    const QList<KPSectionIndexSet> one = ctx().collectionView->selectedIndexs();
    ASSERT_EQ(one.size(), 1);
    auto* view = dynamic_cast<KPSectionItemView*>(ctx().collectionView->itemViewWithIndexSet(one[0]));
    ASSERT_TRUE(view);
    (void)view->grab();
    const QRectF stars = view->actualRateRect();
    ASSERT_FALSE(stars.isEmpty()) << "ratings are shown";
    const auto mouse = [&](QEvent::Type type, double x) {
        const QPointF at = platform::kit::toQt(QPointF(x, stars.center().y()), view->height());
        QMouseEvent event(type, at, view->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : Qt::LeftButton, {});
        QApplication::sendEvent(view, &event);
    };
    mouse(QEvent::MouseButtonPress, stars.x() + 5);
    mouse(QEvent::MouseMove, stars.x() + stars.width() * 0.7);
    mouse(QEvent::MouseButtonRelease, stars.x() + stars.width() * 0.7);
    EXPECT_TRUE(testsupport::spinUntil([&] { return storedNamed(QStringLiteral("doc001")).metadata().rate() == 4; }));
    const QList<KPItemDataPtr> shownItems = ctx().gridDataSource->itemDatasWithSectionIndexSets(one);
    ASSERT_EQ(shownItems.size(), 1);
    EXPECT_EQ(shownItems[0]->rate(), 4);
    EXPECT_EQ(shownItems[0]->label(), 2);
    // Three through the Document menu's Rating.
    selectShown({"doc002"});
    ctx().commands->perform(QStringLiteral("menuCollectionMenuRatingClick"), makeSender(3));
    EXPECT_EQ(storedNamed(QStringLiteral("doc002")).metadata().rate(), 3);

    // 4. Both tagged documents to the Trash from the menu.
    selectShown({"doc001", "doc002"});
    ctx().commands->perform(QStringLiteral("menuMoveToTrash"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles().isEmpty(); }));
    EXPECT_TRUE(storedTitlesIn(inbox).isEmpty());
    EXPECT_TRUE(testsupport::spinUntil([&] { return badgesAre(1, 2); }));
    sideBarView().selectNode(ctx().sideBarDataSource->trashNode().get());
    ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles() == QStringList{"doc001", "doc002"}; }));

    // 5. One put back from the Trash's menu, the other dropped on Documents.
    selectShown({"doc001"});
    ctx().commands->perform(GridContextMenu::kPutBackCommand, makeSender(0));
    ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles() == QStringList{"doc002"}; }));
    parts().sideBarRequests.onSideBarPuckback({storedNamed(QStringLiteral("doc002")).objectID().URIRepresentation()});
    ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles().isEmpty(); }));
    EXPECT_TRUE(testsupport::spinUntil([&] { return badgesAre(3, 0); }));
    EXPECT_EQ(storedTitlesIn(inbox), (QStringList{"doc001", "doc002"}));
    const DBFileInfo back = storedNamed(QStringLiteral("doc001"));
    EXPECT_EQ(tagNames(back), (QStringList{"Red", "Urgent"}));
    EXPECT_EQ(back.metadata().label(), 2);
    EXPECT_EQ(back.metadata().rate(), 4);
    EXPECT_EQ(storedNamed(QStringLiteral("doc002")).metadata().rate(), 3);

    // 6. A long import into Documents, quit while it runs: "Quit" keeps what was copied.
    sideBarView().selectNode(ctx().sideBarDataSource->documentsNode().get());
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false, released = false;
    int copies = 0;
    KPImportFileWorker::setCopyFunctionForTesting([&](const KPLibraryFileManager& lib, const QString& from,
                                                      const KPLibraryFileManager::BeforeClaim& beforeClaim) {
        std::unique_lock lock(mutex);
        if (++copies == 4) {
            arrived = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
        }
        lock.unlock();
        return lib.addFile(from, beforeClaim);
    });
    const QStringList many = sourceFiles(QStringLiteral("many"), 40);
    dropOnGrid(many);
    ASSERT_TRUE(testsupport::spinUntil([&] {
        std::lock_guard lock(mutex);
        return arrived;
    }));

    bool quit = false;
    AppDelegate::Services services;
    services.initDataBase = [] { return QString(); };
    services.isValidDatabaseVersion = [](const QString&) { return 0; };
    services.isImporting = [&] { return parts().importFlow.isImporting(); };
    services.askQuitWhileImporting = [&](std::function<void(bool)> answer) {
        parts().importFlow.askQuitWhileImporting(std::move(answer));
    };
    services.finishImports = [&] {
        {
            std::lock_guard lock(mutex);
            released = true;
            changed.notify_all();
        }
        (void)parts().importFlow.finishImportsForQuit();
    };
    services.writeToDiskAndWait = [&] {
        controller->onApplicationWillExit();
        engine->writeToDiskAndWait();
    };
    services.quitEventLoop = [&] { quit = true; };
    AppDelegate app(services);
    app.applicationDidFinishLaunching();
    ASSERT_EQ(app.launchState(), AppDelegate::LaunchState::Running);
    dialogs.scriptAlert(QStringLiteral("Quit"));
    app.requestTermination();
    ASSERT_TRUE(testsupport::spinUntil([&] { return quit; }, 60000));

    const int kept = int(stored().size()) - 3;
    EXPECT_GE(kept, 3);
    EXPECT_LT(kept, many.size());
    const QStringList inDayFolder = QDir(files->dayFolder()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(inDayFolder.size(), kept + 3) << "nothing half-copied is left: " << inDayFolder.join(u',').toStdString();
    for (const QString& source : many)
        EXPECT_TRUE(QFileInfo::exists(source));

    // 7. The next start: the same selection, the same counts, nothing lost.
    const qint64 total = stored().size();
    controller.reset();
    KPDataSourceManager::shareDataSourceManager().removeAllObjects();
    engine.reset();
    engine = libraryfixture::openLibrary(library);
    openWindow();
    EXPECT_EQ(selected(), ctx().sideBarDataSource->documentsNode().get());
    EXPECT_EQ(qint64(stored().size()), total);
    EXPECT_TRUE(testsupport::spinUntil([&] { return badgesAre(total, 0); }));
    ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles().size() == total; }));
    EXPECT_EQ(tagNames(storedNamed(QStringLiteral("doc002"))), (QStringList{"Red", "Urgent"}));
    EXPECT_EQ(storedNamed(QStringLiteral("doc000")).node().title(), QStringLiteral("Archive"));
}

// Shift held at the drop moves the files: their sources go, and only once the records that
// hold their copies are stored.
TEST_F(MainRoadTest, ShiftAtTheDropMovesTheFilesOnceStored)
{
    openWindow();
    ASSERT_NO_FATAL_FAILURE(importThreeIntoInbox(Qt::ShiftModifier));
    EXPECT_TRUE(statuses.contains(K::SaveDataBaseFinished));
}

} // namespace

namespace {

// Back on Collections with its folder still selected in the second side bar, the grid shows that
// folder again rather than nothing.
TEST_F(MainRoadTest, ComingBackToCollectionsShowsTheFolderStillSelected)
{
    DBFileInfo file = addDocument(browsertest::DocumentFields{.title = QStringLiteral("Kept")});
    file.setNode(inbox);
    ASSERT_TRUE(KPContextHelper::save(context()));
    openWindow();
    sideBarView().selectNode(ctx().sideBarDataSource->collectionsNode().get());
    selectInSecondBar(QStringLiteral("Inbox"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles() == QStringList{"Kept"}; }));
    for (const KPNode::Ptr& away : {ctx().sideBarDataSource->documentsNode(), ctx().sideBarDataSource->trashNode()}) {
        sideBarView().selectNode(away.get());
        sideBarView().selectNode(ctx().sideBarDataSource->collectionsNode().get());
        EXPECT_EQ(ctx().state.shownSubNode ? ctx().state.shownSubNode->title() : QString(), QStringLiteral("Inbox"));
        EXPECT_TRUE(testsupport::spinUntil([&] { return shownTitles() == QStringList{"Kept"}; })) << qPrintable(away->title());
    }
}

} // namespace

// Every change of the documents reaches what shows them: the listing, its sections, the count
// under the grid and the badges, without the user switching views to see it.
TEST_F(MainRoadTest, ListingsSectionsCountsAndBadgesFollowEveryChange)
{
    openWindow();
    ASSERT_NO_FATAL_FAILURE(importThreeIntoInbox({}));
    KPImportOperation::setPhasePauseForTesting(std::chrono::milliseconds(0));
    SideBarDataSource& bar = *ctx().sideBarDataSource;
    SubSideBarDataSource& second = *ctx().subSideBarDataSource;
    const auto countText = [&] { return parts().chrome.labItemCount()->text(); };

    // Tagged from the Untagged view: the document leaves the view, its count and the badge.
    sideBarView().selectNode(bar.tagsNode().get());
    ASSERT_TRUE(testsupport::spinUntil([&] { return ctx().state.shownSubNode == second.untagNode(); }));
    ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles() == QStringList{"doc000", "doc001", "doc002"}; }));
    TagEditorCallbacks editor;
    parts().sharing.tagEditor = [&](const QStringList&, TagEditorCallbacks callbacks) {
        editor = std::move(callbacks);
        return new QWidget;
    };
    selectShown({"doc001"});
    ctx().commands->perform(SelectionSharing::kShowTagsCommand, makeSender(1));
    ASSERT_TRUE(editor.valueChange);
    editor.valueChange({QStringLiteral("Red")});
    editor.done();
    EXPECT_TRUE(testsupport::spinUntil([&] { return shownTitles() == QStringList{"doc000", "doc002"}; }));
    EXPECT_TRUE(testsupport::spinUntil([&] { return second.untagNode()->rightNumber() == 2; }));
    EXPECT_EQ(countText(), QStringLiteral("2 documents"));

    // Files handed over on the command line while the Tags view is shown: it still lists.
    const QString fresh = disk + QStringLiteral("/cli/fresh.pdf");
    testsupport::writeFile(fresh, "%PDF-1.4\n% fresh\n");
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("AddFilesToLibrary"),
                                                       QVariantMap{{QStringLiteral("Paths"), QStringList{fresh}}});
    ASSERT_TRUE(testsupport::spinUntil([&] { return finishedImports == 2 && !parts().importFlow.isImporting(); }, 60000));
    EXPECT_TRUE(testsupport::spinUntil([&] { return shownTitles() == QStringList{"doc000", "doc002", "fresh"}; }))
        << qPrintable(shownTitles().join(','));

    // Renamed in Documents grouped by title: the document moves to its new letter's section.
    sideBarView().selectNode(bar.documentsNode().get());
    ASSERT_TRUE(testsupport::spinUntil([&] { return shownTitles().size() == 4; }));
    ctx().sortManager->setGroupSortType(KPGroupSortTypeTitle);
    parts().content.reshowSelected();
    DBFileInfo renamed = storedNamed(QStringLiteral("doc002"));
    renamed.setTitle(QStringLiteral("Zulu"));
    ASSERT_TRUE(KPContextHelper::save(context()));
    const auto sectionOf = [&](const QString& title) {
        for (const KPSectionDataPtr& section : ctx().gridDataSource->dataSource())
            for (const KPSectionItem& item : section->datas())
                if (item.itemData() && item.itemData()->data().title() == title)
                    return section->title();
        return QString();
    };
    EXPECT_TRUE(testsupport::spinUntil([&] { return sectionOf(QStringLiteral("Zulu")) == QStringLiteral("Z"); }))
        << qPrintable(sectionOf(QStringLiteral("Zulu")));

    // A zoom step gives every section its new height at once, with no band between sections.
    KPCollectionView& grid = *ctx().collectionView;
    const double before = grid.sectionRect(0).value_or(QRectF()).height();
    ctx().commands->perform(QStringLiteral("menuZoomInClick"));
    QCoreApplication::processEvents();
    EXPECT_GT(grid.sectionRect(0).value_or(QRectF()).height(), before);
    for (qint64 s = 1; s < grid.sectionCount(); ++s) {
        const QWidget* above = grid.sectionViewWithIndex(s - 1);
        const QWidget* below = grid.sectionViewWithIndex(s);
        if (above && below)
            EXPECT_EQ(above->geometry().bottom() + 1, below->geometry().top()) << s;
        EXPECT_EQ(grid.sectionRect(s)->top() + grid.sectionRect(s)->height(), grid.sectionRect(s - 1)->top()) << s;
    }

    // Flagged counts its own documents, not those of the view before it.
    selectShown({"doc000"});
    ctx().commands->perform(GridContextMenu::kFlagCommand, makeSender(2));
    KPNode::Ptr flagged;
    for (const KPNode::Ptr& node : bar.focusNode()->children())
        if (node->nodeType() == T::FlaggedNode)
            flagged = node;
    ASSERT_TRUE(flagged);
    sideBarView().selectNode(flagged.get());
    EXPECT_TRUE(testsupport::spinUntil([&] { return countText() == QStringLiteral("1 document"); }))
        << qPrintable(countText());
}
