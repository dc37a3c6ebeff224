#include "Import/KPFileImport.h"
#include "Import/KPImportState.h"
#include "ImportTestKit.h"

#include <thread>

using namespace importtest;
using KPImportKeys::Paths;

namespace {

class KPFileImportQueueTest : public ImportFixture {
protected:
    void SetUp() override
    {
        ImportFixture::SetUp();
        for (const char* name : {"one.pdf", "two.pdf", "three.pdf"})
            files << write(QString::fromUtf8(name));
    }
    std::shared_ptr<KPFileImport> flat() { return make<KPFileImport>({{Paths, files}}); }
    // Holds the import in the copy of file n, asks to stop there and lets the copy finish, so
    // the import waits before file n + 1 (or after the last one).
    void stopDuringCopy(KPFileImportQueue& queue, CopyGate& gate)
    {
        ASSERT_TRUE(testsupport::spinUntil([&] { return gate.arrived(); }));
        EXPECT_FALSE(queue.pauseImport()) << "a running import can be paused";
        gate.release();
    }
    QStringList files;
};

} // namespace

TEST(KPImportStateTest, AnswersOutsideAnImportAreIgnoredAndThePausedTestWaitsForTheAnswer)
{
    KPImportState::reset();
    EXPECT_TRUE(KPImportState::pause()) << "nothing to pause: the caller must not ask the user";
    KPImportState::answer(KPImportState::DeleteImported);
    EXPECT_EQ(KPImportState::state(), KPImportState::Run);

    // A stop asked for before the first test (while the walk runs) is honoured at that test.
    KPImportState::beginOperation();
    EXPECT_FALSE(KPImportState::pause());
    std::atomic<int> decision{-1};
    std::thread op([&] { decision = KPImportState::checkpoint({}); });
    EXPECT_FALSE(testsupport::spinUntil([&] { return decision.load() >= 0; }, 50)) << "paused: the test waits";
    KPImportState::answer(KPImportState::SaveImported);
    op.join();
    EXPECT_EQ(decision.load(), KPImportState::SaveImported);
    EXPECT_FALSE(KPImportState::isPausable()) << "the decision ends the pausable phase";
    EXPECT_TRUE(KPImportState::pause());
    KPImportState::reset();
}

TEST(KPImportStateTest, ACancelWakesAPausedTestAsKeepWhatWasImported)
{
    KPImportState::beginOperation();
    EXPECT_FALSE(KPImportState::pause());
    std::atomic<bool> cancelled{false};
    std::atomic<int> decision{-1};
    std::thread op([&] { decision = KPImportState::checkpoint([&] { return cancelled.load(); }); });
    cancelled = true;
    KPImportState::wakeAll();
    op.join();
    EXPECT_EQ(decision.load(), KPImportState::SaveImported);
    KPImportState::reset();
}

TEST_F(KPFileImportQueueTest, GoOnImportsTheFileItStoppedAtAndTheRest)
{
    KPFileImportQueue queue;
    CopyGate gate(1);
    queue.addOperation(flat());
    EXPECT_TRUE(queue.isImporing());
    stopDuringCopy(queue, gate);
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.progress().size() == 1 && gate.calls() == 1; }));
    EXPECT_FALSE(testsupport::spinUntil([&] { return gate.calls() > 1; }, 100)) << "paused before the second file";
    queue.continueImport();
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.finished() && !queue.isImporing(); }));
    EXPECT_EQ(store->flatRecords.size(), 3);
    EXPECT_EQ(log.last().value(KPImportKeys::SuccessCount).toInt(), 3);
}

TEST_F(KPFileImportQueueTest, KeepBeforeTheLastFileStoresTheEarlierOnesOnly)
{
    KPFileImportQueue queue;
    CopyGate gate(2);
    queue.addOperation(flat());
    stopDuringCopy(queue, gate);
    queue.saveImported();
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.finished() && !queue.isImporing(); }));
    EXPECT_EQ(pathsOf(store->flatRecords, KPImportKeys::Original), QStringList({files[0], files[1]}));
    EXPECT_EQ(dayFolderNames(), QStringList({QStringLiteral("one.pdf"), QStringLiteral("two.pdf")}));
    EXPECT_EQ(log.last().value(KPImportKeys::SuccessCount).toInt(), 2);
}

TEST_F(KPFileImportQueueTest, ThrowAwayRemovesEveryCopyAndThumbnailAndKeepsTheSources)
{
    KPFileImportQueue queue;
    CopyGate gate(3);
    auto op = make<KPFileImport>({{Paths, files}, {KPImportKeys::CMD, true}});
    queue.addOperation(op);
    stopDuringCopy(queue, gate); // the stop comes during the last copy: the last test answers it
    queue.deleteImported();
    ASSERT_TRUE(testsupport::spinUntil([&] { return log.finished() && !queue.isImporing(); }));
    EXPECT_EQ(log.order, QStringList({"ImportStart", "Progress", "Progress", "Progress", "DeleteImported",
                                      "SaveDataBaseStart", "SaveDataBaseFinished"}));
    EXPECT_EQ(store->calls, 0);
    EXPECT_TRUE(dayFolderNames().isEmpty()) << dayFolderNames().join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(thumbnailCount(), 0);
    for (const QString& f : files)
        EXPECT_TRUE(QFileInfo::exists(f)) << "thrown away: the sources of a move stay";
    EXPECT_FALSE(log.last().contains(KPImportKeys::SuccessCount));
    EXPECT_FALSE(log.last().contains(KPImportKeys::LostFiles));
}

TEST_F(KPFileImportQueueTest, TheNextImportStartsAfreshWhateverTheLastAnswerWas)
{
    KPFileImportQueue queue;
    {
        CopyGate gate(1);
        queue.addOperation(flat());
        stopDuringCopy(queue, gate);
        queue.deleteImported();
        ASSERT_TRUE(testsupport::spinUntil([&] { return log.finished() && !queue.isImporing(); }));
    }
    // A late answer from an alert still open when the import ended, then a stop with no import.
    queue.saveImported();
    EXPECT_TRUE(queue.pauseImport());
    queue.deleteImported();
    EXPECT_EQ(KPFileImportQueue::importState(), KPImportState::Run);

    log.statuses.clear();
    log.order.clear();
    ASSERT_TRUE(run(queue, make<KPFileImport>({{Paths, QStringList{files[0], files[1]}}})));
    EXPECT_EQ(log.last().value(KPImportKeys::SuccessCount).toInt(), 2);
}

TEST_F(KPFileImportQueueTest, QuitWhilePausedKeepsWhatWasCopiedAndDropsQueuedImports)
{
    const QString later = write(QStringLiteral("later.pdf"));
    auto queue = std::make_unique<KPFileImportQueue>();
    CopyGate gate(2);
    queue->addOperation(flat());
    queue->addOperation(make<KPFileImport>({{Paths, QStringList{later}}}));
    stopDuringCopy(*queue, gate);
    EXPECT_TRUE(queue->finishImportsForQuit(std::chrono::milliseconds(30000)));
    EXPECT_FALSE(queue->isImporing());
    EXPECT_EQ(pathsOf(store->flatRecords, KPImportKeys::Original), QStringList({files[0], files[1]}))
        << "every copy made has its record";
    EXPECT_EQ(log.count(KPImportKeys::ImportStart), 1) << "the queued import never started";
    EXPECT_TRUE(QFileInfo::exists(later));
    queue.reset();
}

TEST_F(KPFileImportQueueTest, DestroyingTheQueueWhilePausedDoesNotHang)
{
    {
        CopyGate gate(1); // outlives the queue: the import may still be in its copy step
        KPFileImportQueue queue;
        queue.addOperation(flat());
        stopDuringCopy(queue, gate);
    }
    EXPECT_EQ(store->flatRecords.size(), 1);
    EXPECT_EQ(KPImportState::state(), KPImportState::Run);
}
