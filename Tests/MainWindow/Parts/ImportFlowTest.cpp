#include "../../SideBar/SubSideBarTestSupport.h"

#include "Controls/KPProgressIndicator.h"
#include "Import/KPFileFolderImport.h"
#include "Import/KPFileImport.h"
#include "Import/KPFileFormatManager.h"
#include "Import/KPImportEngineStore.h"
#include "Import/KPImportFileWorker.h"
#include "Import/KPImportKeys.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/ImportFlow.h"
#include "MainWindow/Parts/KPImportViewController.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/Kit/Scheduler.h"
#include "SideBar/SideBarNodeType.h"
#include "Store/DBFileInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <condition_variable>
#include <mutex>

using namespace sidebartest;
namespace K = KPImportKeys;
using platform::kit::Alert;
using platform::kit::RecordingDialogService;

namespace {

// Records what the flow queues and asks; answers pause and "can it still be paused" as told.
class FakeQueue final : public ImportQueue {
public:
    void addOperation(const std::shared_ptr<KPImportOperation>& operation) override { operations.append(operation); }
    bool pauseImport() override
    {
        calls << QStringLiteral("pause");
        return pauseRefused;
    }
    void continueImport() override { calls << QStringLiteral("continue"); }
    void deleteImported() override { calls << QStringLiteral("delete"); }
    void saveImported() override { calls << QStringLiteral("save"); }
    bool isPausable() const override { return pausable; }
    bool isImporing() const override { return !operations.isEmpty(); }
    bool finishImportsForQuit() override { return true; }

    QList<std::shared_ptr<KPImportOperation>> operations;
    QStringList calls;
    bool pauseRefused = false;
    bool pausable = true;
};

class ImportFlowTest : public SubSideBarFixture {
protected:
    void SetUp() override
    {
        SubSideBarFixture::SetUp();
        auto& defaults = platform::UserDefaults::standardUserDefaults();
        for (const QString& key : {ImportFlow::kKeepImportWindowAskKey, ImportFlow::kHierarchicalFolderKey,
                                   ImportFlow::kShowImportedHintKey})
            defaults.setBool(false, key);

        work = addNode(QStringLiteral("Work"), DBNode::Collection);
        folder = addNode(QStringLiteral("Folder"), DBNode::Folder, work);
        save();
        open();
        openSub(SubSideBarDataSource::kCollectionsMode);

        ctx.window = window.get();
        ctx.sideBarDataSource = source.get();
        ctx.subSideBarDataSource = sub.get();
        ctx.store = engine.get();
        ctx.notifications = &platform::NotificationCenter::defaultCenter();
        ctx.dialogs = &dialogs;
        ctx.scheduler = &scheduler;
        refreshToken = platform::NotificationCenter::defaultCenter().addObserver(
            RefreshItemCountNotification, [this](const platform::Notification& n) { refreshes << n.object.toString(); });
    }

    void TearDown() override
    {
        flow.reset();
        platform::UserDefaults::standardUserDefaults().setBool(false, ImportFlow::kKeepImportWindowAskKey);
        platform::UserDefaults::standardUserDefaults().setBool(false, ImportFlow::kHierarchicalFolderKey);
        SubSideBarFixture::TearDown();
    }

    FakeQueue& makeFlow()
    {
        auto queue = std::make_unique<FakeQueue>();
        FakeQueue& fake = *queue;
        flow = std::make_unique<ImportFlow>(ctx, std::move(queue));
        flow->buildNeedIndexItem = [this] { ++indexerStarts; };
        flow->showImportResult = [this](const QStringList& lost, qint64 count) { results.append({lost, count}); };
        return fake;
    }

    void selectMain(const KPNode::Ptr& node) { view->selectNode(node.get()); }
    void selectSub(const QString& title) { subView->selectNode(node(title).get()); }
    KPNode::Ptr mainSelection() const
    {
        KPNode* selected = view->selectedNode();
        return selected ? selected->shared_from_this() : KPNode::Ptr();
    }

    static bool isFlat(const std::shared_ptr<KPImportOperation>& op)
    {
        return std::dynamic_pointer_cast<KPFileImport>(op) != nullptr;
    }

    void finish(const QVariantMap& extra = {})
    {
        QVariantMap status = extra;
        status.insert(K::Status, K::SaveDataBaseFinished);
        flow->onFileImportNotification(status);
    }

    DBNode work, folder;
    platform::kit::VirtualScheduler scheduler;
    RecordingDialogService dialogs;
    MainWindowContext ctx;
    std::unique_ptr<ImportFlow> flow;
    platform::ObserverToken refreshToken;
    QStringList refreshes;
    int indexerStarts = 0;
    QList<QPair<QStringList, qint64>> results;
};

} // namespace

TEST_F(ImportFlowTest, OptionsAreCompletedFromTheSelectionOnlyWhereTheRequestLeftThemOpen)
{
    FakeQueue& queue = makeFlow();
    const QVariantList paths{disk + QStringLiteral("/a.pdf")};

    // Documents selected: only the node to come back to.
    selectMain(source->documentsNode());
    QVariantMap plain = flow->completedOptions({{K::Paths, paths}});
    EXPECT_EQ(plain.value(K::LastSelectNode).value<KPNode::Ptr>(), source->documentsNode());
    EXPECT_FALSE(plain.contains(K::DBNode));

    // A folder of the collections tree: into that folder, no new folder.
    selectMain(source->collectionsNode());
    selectSub(QStringLiteral("Folder"));
    QVariantMap intoFolder = flow->completedOptions({{K::Paths, paths}});
    EXPECT_EQ(DBNode(platform::ManagedObject::fromRef(intoFolder.value(K::DBNode))), folder);
    EXPECT_FALSE(intoFolder.contains(K::NewFolderName));

    // A collection: into a new sub-folder of it, named as the bar names new folders there.
    selectSub(QStringLiteral("Work"));
    QVariantMap intoCollection = flow->completedOptions({{K::Paths, paths}});
    EXPECT_EQ(DBNode(platform::ManagedObject::fromRef(intoCollection.value(K::DBNode))), work);
    EXPECT_EQ(intoCollection.value(K::NewFolderName).toString(), sub->newSubFolderNameByNode(node(QStringLiteral("Work")).get()));

    // What the request already says wins over the selection.
    EXPECT_FALSE(flow->completedOptions({{K::Paths, paths}, {ImportFlow::kBoolImportToDocument, true}}).contains(K::DBNode));
    const QVariant other = folder.ref();
    QVariantMap given = flow->completedOptions({{K::Paths, paths}, {K::DBNode, other},
                                               {K::LastSelectNode, QVariant::fromValue(source->trashNode())}});
    EXPECT_FALSE(given.contains(K::NewFolderName));
    EXPECT_EQ(given.value(K::LastSelectNode).value<KPNode::Ptr>(), source->trashNode());

    // The posted request goes the same way and is queued with the completed options.
    platform::NotificationCenter::defaultCenter().post(ImportFlow::kAddFilesToLibrary, QVariantMap{{K::Paths, paths}});
    ASSERT_EQ(queue.operations.size(), 1);
    EXPECT_TRUE(queue.operations[0]->options().contains(K::NewFolderName));
}

TEST_F(ImportFlowTest, FlatOrFolderKeepingImportFollowsTagsFoldersAndTheAskSetting)
{
    FakeQueue& queue = makeFlow();
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    const QString file = disk + QStringLiteral("/a.pdf");
    testsupport::writeFile(file, "pdf");
    const QString dir = disk + QStringLiteral("/sub");
    QDir().mkpath(dir);

    defaults.setBool(true, ImportFlow::kHierarchicalFolderKey);
    flow->onAddFilesToLibrary({{K::Paths, QVariantList{dir}}, {K::NewTags, QStringList{QStringLiteral("red")}}});
    ASSERT_EQ(queue.operations.size(), 1);
    EXPECT_TRUE(isFlat(queue.operations.last())) << "tags always import flat";

    flow->onAddFilesToLibrary({{K::Paths, QVariantList{dir}}});
    ASSERT_EQ(queue.operations.size(), 2);
    EXPECT_FALSE(isFlat(queue.operations.last()));

    // Asking is on: files alone import flat without a question, whatever the hierarchy says.
    defaults.setBool(true, ImportFlow::kKeepImportWindowAskKey);
    flow->onAddFilesToLibrary({{K::Paths, QVariantList{file}}});
    ASSERT_EQ(queue.operations.size(), 3);
    EXPECT_TRUE(isFlat(queue.operations.last()));
    EXPECT_TRUE(dialogs.requests().isEmpty());

    // A folder: asked 0.1 s later; keeping the hierarchy is remembered.
    defaults.setBool(false, ImportFlow::kHierarchicalFolderKey);
    dialogs.scriptAlert(Alert::kDefaultReturn);
    flow->onAddFilesToLibrary({{K::Paths, QVariantList{file, dir}}});
    QCoreApplication::processEvents();
    EXPECT_EQ(queue.operations.size(), 3) << "nothing queued before the answer";
    scheduler.advance(ImportFlow::kAskDelayMs);
    ASSERT_TRUE(testsupport::spinUntil([&] { return queue.operations.size() == 4; }));
    EXPECT_FALSE(isFlat(queue.operations.last()));
    EXPECT_TRUE(defaults.boolForKey(ImportFlow::kHierarchicalFolderKey));

    dialogs.scriptAlert(Alert::kAlternateReturn);
    flow->onAddFilesToLibrary({{K::Paths, QVariantList{dir}}});
    scheduler.advance(ImportFlow::kAskDelayMs);
    ASSERT_TRUE(testsupport::spinUntil([&] { return queue.operations.size() == 5; }));
    EXPECT_TRUE(isFlat(queue.operations.last()));
    EXPECT_FALSE(defaults.boolForKey(ImportFlow::kHierarchicalFolderKey));

    // A flow gone before the question was due asks nothing and queues nothing.
    flow->onAddFilesToLibrary({{K::Paths, QVariantList{dir}}});
    const int asked = int(dialogs.requests().size());
    flow.reset();
    scheduler.advance(ImportFlow::kAskDelayMs);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.requests().size(), asked);
}

TEST_F(ImportFlowTest, StatusesDriveTheImportingEntryAndThePanelUntilTheRecordsAreStored)
{
    makeFlow();
    selectMain(source->trashNode());
    flow->onFileImportNotification({{K::Status, K::ImportStart}});
    const KPNode::Ptr importing = source->importingNode();
    ASSERT_TRUE(importing);
    EXPECT_EQ(mainSelection(), importing);
    EXPECT_TRUE(importing->parent()) << "the entry is in the tree";

    // The panel exists once the content switch asks for it; statuses before that do nothing.
    flow->onFileImportNotification({{K::Status, K::Progress}, {K::CurrIndex, 1}, {K::Count, 9}});
    QPointer<QWidget> panel = flow->makeImportPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(flow->makeImportPanel(), panel.data()) << "one panel per import";
    flow->onFileImportNotification({{K::Status, K::Progress}, {K::CurrIndex, 2}, {K::Count, 5}});
    KPImportViewController* controller = flow->importViewController();
    EXPECT_EQ(controller->txtTitle()->text(), QStringLiteral("2 / 5"));
    EXPECT_EQ(controller->progress()->maxValue(), 5);
    EXPECT_EQ(controller->progress()->currentValue(), 2);
    EXPECT_FALSE(controller->progress()->doAnimation());
    flow->onFileImportNotification({{K::Status, K::SaveDataBaseStart}});
    EXPECT_TRUE(controller->progress()->doAnimation());

    // Nothing lost and the hint off: no window; the entry and the panel go, Documents shown
    // when the status names no node to go back to.
    finish({{K::SuccessCount, 5}});
    EXPECT_FALSE(importing->parent());
    EXPECT_EQ(mainSelection(), source->documentsNode());
    EXPECT_FALSE(flow->importViewController());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(panel.isNull());
    EXPECT_TRUE(results.isEmpty());
    EXPECT_EQ(indexerStarts, 1);
    EXPECT_TRUE(refreshes.contains(QStringLiteral("Tag,Collection")));

    // Lost files open the result window.
    finish({{K::LastSelectNode, QVariant::fromValue(source->trashNode())},
            {K::LostFiles, QStringList{QStringLiteral("/x.exe")}}, {K::SuccessCount, 0}});
    EXPECT_EQ(mainSelection(), source->trashNode());
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].first, QStringList{QStringLiteral("/x.exe")});
}

TEST_F(ImportFlowTest, ANodeGoneOrTheImportingEntryItselfIsNotSelectedAgain)
{
    makeFlow();
    flow->onFileImportNotification({{K::Status, K::ImportStart}});
    finish({{K::LastSelectNode, QVariant::fromValue(source->importingNode())}});
    EXPECT_EQ(mainSelection(), source->documentsNode());

    selectMain(source->trashNode());
    const KPNode::Ptr removed = KPNode::initWithTitle(QStringLiteral("gone"), SideBarNodeType::FolderNode);
    finish({{K::LastSelectNode, QVariant::fromValue(removed)}});
    EXPECT_EQ(mainSelection(), source->documentsNode());
}

TEST_F(ImportFlowTest, StopAsksTheThreeWayQuestionAndALateAnswerChangesNothing)
{
    FakeQueue& queue = makeFlow();
    const std::pair<int, QString> answers[] = {{Alert::kDefaultReturn, QStringLiteral("delete")},
                                               {Alert::kAlternateReturn, QStringLiteral("continue")},
                                               {Alert::kOtherReturn, QStringLiteral("save")}};
    for (const auto& [code, call] : answers) {
        queue.calls.clear();
        dialogs.scriptAlert(code);
        // The panel's stop button goes through the notification.
        QPointer<QWidget> panel = flow->makeImportPanel();
        flow->importViewController()->onStopImportClick();
        ASSERT_TRUE(testsupport::spinUntil([&] { return queue.calls.size() == 2; })) << call.toStdString();
        EXPECT_EQ(queue.calls, (QStringList{QStringLiteral("pause"), call}));
    }
    EXPECT_EQ(dialogs.last(RecordingDialogService::Kind::Alert).buttons.size(), 3);

    // The import went on to store while the question was open.
    queue.calls.clear();
    queue.pausable = false;
    dialogs.scriptAlert(Alert::kDefaultReturn);
    flow->onStopImporting();
    ASSERT_TRUE(testsupport::spinUntil([&] { return dialogs.last(RecordingDialogService::Kind::Alert).answered; }));
    EXPECT_EQ(queue.calls, QStringList{QStringLiteral("pause")});

    // Nothing to pause: nothing asked.
    const auto asked = dialogs.requests().size();
    queue.pauseRefused = true;
    flow->onStopImporting();
    EXPECT_EQ(dialogs.requests().size(), asked);
}

TEST_F(ImportFlowTest, QuitDuringAnImportIsAskedAndOnlyQuitGoesOn)
{
    FakeQueue& queue = makeFlow();
    EXPECT_FALSE(flow->isImporting());
    flow->onAddFilesToLibrary({{K::Paths, QVariantList{disk + QStringLiteral("/a.pdf")}}});
    EXPECT_TRUE(flow->isImporting());
    std::optional<bool> quit;
    dialogs.scriptAlert(QStringLiteral("Continue"));
    flow->askQuitWhileImporting([&](bool q) { quit = q; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return quit.has_value(); }));
    EXPECT_FALSE(*quit);
    quit.reset();
    dialogs.scriptAlert(QStringLiteral("Quit"));
    flow->askQuitWhileImporting([&](bool q) { quit = q; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return quit.has_value(); }));
    EXPECT_TRUE(*quit);
    EXPECT_EQ(queue.operations.size(), 1);
}

// The quit question waits for the import alone: when the import has let go while the question
// is up, the question goes and the quit the user asked for goes on.
TEST_F(ImportFlowTest, TheQuitQuestionGoesOnceTheImportHasEndedAndTheQuitGoesOn)
{
    FakeQueue& queue = makeFlow();
    flow->onAddFilesToLibrary({{K::Paths, QVariantList{disk + QStringLiteral("/a.pdf")}}});
    ASSERT_TRUE(flow->isImporting());
    // Shown for real: the question must be seen to go.
    platform::kit::Alert::setPresenterForTesting({});
    platform::kit::QtDialogService shown;
    ctx.dialogs = &shown;
    window->show();
    std::optional<bool> quit;
    flow->askQuitWhileImporting([&](bool q) { quit = q; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return platform::kit::Sheet::shownSheet(window.get()) != nullptr; }));

    // The last save is announced while the queue still holds the import.
    finish();
    scheduler.advance(ImportFlow::kQuitQuestionCheckMs);
    QCoreApplication::processEvents();
    EXPECT_FALSE(quit.has_value());
    EXPECT_NE(platform::kit::Sheet::shownSheet(window.get()), nullptr);

    queue.operations.clear();
    scheduler.advance(ImportFlow::kQuitQuestionCheckMs);
    ASSERT_TRUE(testsupport::spinUntil([&] { return quit.has_value(); }));
    EXPECT_TRUE(*quit);
    EXPECT_TRUE(testsupport::spinUntil([&] { return platform::kit::Sheet::shownSheet(window.get()) == nullptr; }));
}

namespace {

// The real queue and the real library store under the flow.
class ImportFlowLibraryTest : public ImportFlowTest {
protected:
    void SetUp() override
    {
        ImportFlowTest::SetUp();
        KPImportOperation::setPhasePauseForTesting(std::chrono::milliseconds(0));
        flow = std::make_unique<ImportFlow>(ctx);
        flow->showImportResult = [this](const QStringList& lost, qint64 count) { results.append({lost, count}); };
        auto store = std::make_shared<KPImportEngineStore>(engine.get());
        flow->prepareOperation = [this, store](KPImportOperation& op) {
            KPImportOperation::Environment environment;
            environment.library = files.get();
            environment.store = store;
            environment.formats = &formats;
            environment.previewWorkers = 1;
            op.setEnvironment(environment);
        };
        finishedToken = platform::NotificationCenter::defaultCenter().addObserver(
            K::FileImportNotification, [this](const platform::Notification& n) {
                if (n.object.toMap().value(K::Status) == K::SaveDataBaseFinished)
                    ++finishedImports;
            });
    }
    void TearDown() override
    {
        flow.reset();
        KPImportFileWorker::setCopyFunctionForTesting(nullptr);
        KPImportOperation::setPhasePauseForTesting(KPImportOperation::kPhasePause);
        ImportFlowTest::TearDown();
    }

    QString sourceFile(const QString& name)
    {
        const QString path = disk + QStringLiteral("/drop/") + name;
        testsupport::writeFile(path, "%PDF-1.4 " + name.toUtf8());
        return path;
    }
    QStringList storedTitlesIn(const DBNode& node) const
    {
        QStringList titles;
        auto found = engine->queryRecordByName(DBFileInfo::entityName());
        for (const DBFileInfo& file : DBRecord::recordsOf<DBFileInfo>(found ? *found : QList<platform::ManagedObjectPtr>()))
            if (file.node() == node)
                titles.append(file.title());
        titles.sort();
        return titles;
    }

    static QVariantMap fileRow(qint64 id, const QString& extension)
    {
        return {{QStringLiteral("ID"), id}, {QStringLiteral("Name"), extension},
                {QStringLiteral("Extension"), extension}, {QStringLiteral("Group"), QStringLiteral("G")}};
    }
    KPFileFormatManager formats{{fileRow(1, QStringLiteral("pdf"))}};
    platform::ObserverToken finishedToken;
    int finishedImports = 0;
};

} // namespace

TEST_F(ImportFlowLibraryTest, DroppedFilesLandInTheSelectedFolderAndAMoveRemovesSourcesOnlyOnceStored)
{
    selectMain(source->collectionsNode());
    selectSub(QStringLiteral("Folder"));
    const QString a = sourceFile(QStringLiteral("a.pdf"));
    const QString b = sourceFile(QStringLiteral("b.pdf"));
    platform::NotificationCenter::defaultCenter().post(ImportFlow::kAddFilesToLibrary,
                                                       QVariantMap{{K::Paths, QStringList{a, b}}});
    ASSERT_TRUE(testsupport::spinUntil([&] { return finishedImports == 1 && !flow->isImporting(); }, 30000));
    EXPECT_EQ(storedTitlesIn(folder), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_TRUE(QFileInfo::exists(a)) << "a copy keeps its source";
    EXPECT_EQ(mainSelection(), source->collectionsNode());

    // Shift at the drop: the source goes, but only after its record is stored.
    const QString c = sourceFile(QStringLiteral("c.pdf"));
    platform::NotificationCenter::defaultCenter().post(ImportFlow::kAddFilesToLibrary,
                                                       QVariantMap{{K::Paths, QStringList{c}}, {K::CMD, 1}});
    ASSERT_TRUE(testsupport::spinUntil([&] { return finishedImports == 2 && !flow->isImporting(); }, 30000));
    EXPECT_FALSE(QFileInfo::exists(c)) << "stored, so the source of the move is gone";
    EXPECT_EQ(storedTitlesIn(folder), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
}

TEST_F(ImportFlowLibraryTest, QuitWhilePausedStoresWhatWasCopiedAndLeavesNoPartialFile)
{
    // Hold the second copy until the stop has been asked for.
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false, released = false;
    int copies = 0;
    KPImportFileWorker::setCopyFunctionForTesting([&](const KPLibraryFileManager& lib, const QString& from,
                                                      const KPLibraryFileManager::BeforeClaim& beforeClaim) {
        std::unique_lock lock(mutex);
        if (++copies == 2) {
            arrived = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
        }
        lock.unlock();
        return lib.addFile(from, beforeClaim);
    });
    selectMain(source->documentsNode());
    const QStringList paths{sourceFile(QStringLiteral("one.pdf")), sourceFile(QStringLiteral("two.pdf")),
                            sourceFile(QStringLiteral("three.pdf"))};
    flow->onAddFilesToLibrary({{K::Paths, paths}});
    ASSERT_TRUE(testsupport::spinUntil([&] {
        std::lock_guard lock(mutex);
        return arrived;
    }));
    EXPECT_FALSE(flow->queue().pauseImport());
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    EXPECT_TRUE(flow->isImporting());
    EXPECT_TRUE(flow->finishImportsForQuit());

    EXPECT_EQ(storedTitlesIn(DBNode()), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    const QStringList left = QDir(files->dayFolder()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left.size(), 2) << left.join(QLatin1Char(',')).toStdString();
    for (const QString& path : paths)
        EXPECT_TRUE(QFileInfo::exists(path));
}
