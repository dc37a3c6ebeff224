#include "Platform/FileEvents/FileEventStream.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <memory>

using namespace platform;
using testsupport::makeTempDir;
using testsupport::spinUntil;
using testsupport::writeFile;

namespace {

// Records every batch a stream delivers, and answers questions about what it has seen.
struct Recorder {
    std::vector<FileEventBatch> batches;

    FileEventStream::Callback callback()
    {
        return [this](const FileEventBatch& batch) { batches.push_back(batch); };
    }
    FileEventFlags flagsOf(const QString& path) const
    {
        FileEventFlags flags = 0;
        for (const auto& batch : batches)
            for (const auto& event : batch)
                if (event.path == path)
                    flags |= event.flags;
        return flags;
    }
    bool saw(const QString& path, FileEventFlags wanted = 0) const
    {
        for (const auto& batch : batches)
            for (const auto& event : batch)
                if (event.path == path && (event.flags & wanted) == wanted)
                    return true;
        return false;
    }
    bool sawAnythingBelow(const QString& folder) const
    {
        for (const auto& batch : batches)
            for (const auto& event : batch)
                if (event.path.startsWith(folder + QLatin1Char('/')))
                    return true;
        return false;
    }
};

std::unique_ptr<FileEventStream> startStream(const QStringList& roots, Recorder& rec,
                                             FileEventStreamOptions options = {})
{
    auto stream = std::make_unique<FileEventStream>(roots, rec.callback(), options);
    EXPECT_TRUE(stream->start());
    EXPECT_TRUE(spinUntil([&] { return stream->isWatching(); }));
    return stream;
}

} // namespace

TEST(FileEventStream, ReportsChangesInNestedFoldersWithTheirKind)
{
    const QString root = makeTempDir();
    QDir().mkpath(root + "/a/b");
    Recorder rec;
    auto stream = startStream({root}, rec);

    const QString file = root + "/a/b/report.pdf";
    writeFile(file, "one");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(file, FileEventFlag::ItemCreated); }));
    EXPECT_TRUE(rec.flagsOf(file) & FileEventFlag::ItemIsFile);
    EXPECT_FALSE(rec.flagsOf(file) & FileEventFlag::ItemIsDir);
    EXPECT_EQ(rec.batches.front().front().root, root);

    rec.batches.clear();
    writeFile(file, "two");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(file, FileEventFlag::ItemModified); }));

    const QString renamed = root + "/a/renamed.pdf";
    ASSERT_TRUE(QFile::rename(file, renamed));
    ASSERT_TRUE(spinUntil([&] {
        return rec.saw(file, FileEventFlag::ItemRenamed) && rec.saw(renamed, FileEventFlag::ItemRenamed);
    }));

    ASSERT_TRUE(QFile::remove(renamed));
    ASSERT_TRUE(spinUntil([&] { return rec.saw(renamed, FileEventFlag::ItemRemoved); }));
}

TEST(FileEventStream, WatchesFoldersMadeOrMovedInAtOnceAndForgetsFoldersMovedOut)
{
    const QString root = makeTempDir();
    const QString outside = makeTempDir();
    Recorder rec;
    auto stream = startStream({root}, rec);

    QDir().mkpath(root + "/n1/n2/n3");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root + "/n1", FileEventFlag::ItemIsDir); }));
    writeFile(root + "/n1/n2/n3/deep.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root + "/n1/n2/n3/deep.pdf"); }));

    QDir().mkpath(outside + "/moved/inner");
    ASSERT_TRUE(QDir().rename(outside + "/moved", root + "/moved"));
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root + "/moved", FileEventFlag::ItemRenamed); }));
    writeFile(root + "/moved/inner/x.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root + "/moved/inner/x.pdf"); }));

    // Moved out: later writes there must not come back under the old path. The marker is
    // written afterwards, so its arrival means the other event would have arrived too.
    ASSERT_TRUE(QDir().rename(root + "/n1", outside + "/n1"));
    writeFile(outside + "/n1/n2/n3/late.pdf", "x");
    writeFile(root + "/marker.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root + "/marker.pdf"); }));
    EXPECT_FALSE(rec.saw(root + "/n1/n2/n3/late.pdf"));
    EXPECT_FALSE(rec.sawAnythingBelow(outside));
}

TEST(FileEventStream, SkipsHiddenAndExcludedFoldersButNotFilesInTheRoot)
{
    const QString root = makeTempDir();
    QDir().mkpath(root + "/.git/objects");
    QDir().mkpath(root + "/Library/Documents");
    Recorder rec;
    FileEventStreamOptions options;
    options.excludedPaths = {root + "/Library/"};
    auto stream = startStream({root}, rec, options);

    writeFile(root + "/.git/objects/blob", "x");
    writeFile(root + "/Library/Documents/in-library.pdf", "x");
    writeFile(root + "/marker.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root + "/marker.pdf"); }));
    EXPECT_FALSE(rec.sawAnythingBelow(root + "/.git"));
    EXPECT_FALSE(rec.sawAnythingBelow(root + "/Library"));
}

TEST(FileEventStream, CoalescesEventsOfOnePathWithinABatch)
{
    const QString root = makeTempDir();
    Recorder rec;
    FileEventStreamOptions options;
    options.latency = std::chrono::milliseconds(1000);
    auto stream = startStream({root}, rec, options);

    const QString file = root + "/busy.pdf";
    for (int i = 0; i < 50; ++i)
        writeFile(file, QByteArray::number(i));
    writeFile(root + "/last.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root + "/last.pdf"); }));
    for (const auto& batch : rec.batches) {
        QSet<QString> paths;
        for (const auto& event : batch)
            EXPECT_TRUE(!paths.contains(event.path)) << event.path.toStdString();
        for (const auto& event : batch)
            paths.insert(event.path);
    }
    EXPECT_LT(rec.batches.size(), 50u);
    EXPECT_TRUE(rec.flagsOf(file) & FileEventFlag::ItemCreated);
    EXPECT_TRUE(rec.flagsOf(file) & FileEventFlag::ItemModified);
}

TEST(FileEventStream, OverflowReportsEveryRootForAFullLook)
{
    const QString rootA = makeTempDir();
    const QString rootB = makeTempDir();
    Recorder rec;
    auto stream = startStream({rootA, rootB + "/"}, rec);

    stream->simulateOverflowForTesting();
    const FileEventFlags full = FileEventFlag::MustScanSubDirs | FileEventFlag::KernelDropped;
    ASSERT_TRUE(spinUntil([&] { return rec.saw(rootA, full) && rec.saw(rootB, full); }));

    // Watching goes on after the overflow.
    writeFile(rootB + "/after.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(rootB + "/after.pdf"); }));
}

TEST(FileEventStream, ARemovedRootIsReportedAndWatchedAgainWhenItReturns)
{
    const QString parent = makeTempDir();
    const QString root = parent + "/Docs";
    QDir().mkpath(root + "/sub");
    Recorder rec;
    FileEventStreamOptions options;
    options.pollInterval = std::chrono::milliseconds(50);
    auto stream = startStream({root}, rec, options);

    ASSERT_TRUE(QDir(root).removeRecursively());
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root, FileEventFlag::RootChanged); }));
    EXPECT_FALSE(rec.saw(parent)); // nothing outside the root is reported

    rec.batches.clear();
    QDir().mkpath(root);
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root, FileEventFlag::RootChanged); }));
    writeFile(root + "/back.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root + "/back.pdf"); }));
}

TEST(FileEventStream, FallsBackToPeriodicLooksWhenWatchesRunOutOrTheFileSystemIsSilent)
{
    const QString small = makeTempDir();
    const QString big = makeTempDir();
    QDir().mkpath(big + "/a/b/c");
    Recorder rec;
    FileEventStreamOptions options;
    options.maxWatches = 2;
    options.pollInterval = std::chrono::milliseconds(50);
    auto stream = startStream({small, big}, rec, options);

    EXPECT_EQ(stream->polledRoots(), QStringList{big});
    ASSERT_TRUE(spinUntil([&] { return rec.saw(big, FileEventFlag::Polled | FileEventFlag::MustScanSubDirs); }));
    writeFile(small + "/still-watched.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(small + "/still-watched.pdf"); }));

    Recorder fuseRec;
    FileEventStreamOptions fuse;
    fuse.pollInterval = std::chrono::milliseconds(50);
    fuse.fileSystemType = [](const QString&) { return quint64(0x65735546); };
    auto fuseStream = startStream({small}, fuseRec, fuse);
    EXPECT_EQ(fuseStream->polledRoots(), QStringList{small});
    ASSERT_TRUE(spinUntil([&] { return fuseRec.saw(small, FileEventFlag::Polled); }));
    EXPECT_TRUE(InotifyWatcher::isEventlessFileSystem(0x6969));
    EXPECT_FALSE(InotifyWatcher::isEventlessFileSystem(0xEF53)); // ext4
}

TEST(FileEventStream, DeliversNothingOnceStopped)
{
    const QString root = makeTempDir();
    Recorder stopped;
    auto first = startStream({root}, stopped);
    writeFile(root + "/early.pdf", "x");
    first->stop();

    Recorder rec;
    auto second = startStream({root}, rec);
    writeFile(root + "/marker.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(root + "/marker.pdf"); }));
    EXPECT_TRUE(stopped.batches.empty());
    EXPECT_FALSE(first->isStarted());
}

TEST(FileEventStream, NestedRootsShareWatchesAndEachIsReportedWhenItGoes)
{
    const QString outer = makeTempDir();
    const QString inner = outer + "/Inner";
    QDir().mkpath(inner + "/deep");
    Recorder rec;
    auto stream = startStream({outer, inner}, rec);

    writeFile(inner + "/deep/x.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(inner + "/deep/x.pdf", FileEventFlag::ItemCreated); }));

    ASSERT_TRUE(QDir(inner).removeRecursively());
    ASSERT_TRUE(spinUntil([&] { return rec.saw(inner, FileEventFlag::RootChanged); }));
    EXPECT_FALSE(rec.saw(outer, FileEventFlag::RootChanged));
    writeFile(outer + "/still.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return rec.saw(outer + "/still.pdf"); }));
}
