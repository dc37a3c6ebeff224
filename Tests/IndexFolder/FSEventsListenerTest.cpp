#include "Support/TestSupport.h"
#include "IndexFolder/FSEventsListener.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace platform;
using testsupport::spinUntil;
using testsupport::writeFile;

namespace {

struct Recorder : FSEventListenerDelegate {
    QStringList changes;
    std::function<void()> onChange;
    void directoryWasChange(const QString& path) override
    {
        changes.append(path);
        if (onChange)
            onChange();
    }
};

FileEvent fileEvent(const QString& path, const QString& root = "/r/Docs")
{
    return {path, root, FileEventFlag::ItemIsFile | FileEventFlag::ItemModified};
}

} // namespace

TEST(FSEventsListener, ToldAreTheObjectsOfEveryPathThatContainsTheFolder)
{
    FSEventsListener listener("/elsewhere/Library");
    Recorder plain, slashed, sibling, otherCase, outer, twice;
    listener.addListener(&plain, "/r/Docs");
    listener.addListener(&slashed, "/r/Docs/");
    listener.addListener(&sibling, "/r/Docs2");
    listener.addListener(&otherCase, "/r/docs");
    listener.addListener(&outer, "/r");
    listener.addListener(&twice, "/r/Docs");
    listener.addListener(&twice, "/r/Docs");
    listener.addListener(&twice, "/r/Docs/Sub");

    listener.handleEvents({fileEvent("/r/Docs/Sub/a.pdf")});
    EXPECT_EQ(plain.changes, QStringList{"/r/Docs/Sub"});
    EXPECT_EQ(slashed.changes, QStringList{"/r/Docs/Sub"});
    EXPECT_EQ(outer.changes, QStringList{"/r/Docs/Sub"});
    EXPECT_TRUE(sibling.changes.isEmpty());
    EXPECT_TRUE(otherCase.changes.isEmpty());
    EXPECT_EQ(twice.changes.size(), 2); // once per matching path, not per add

    listener.removeListener(&twice, "/r/Docs/Sub/");
    twice.changes.clear();
    listener.handleEvents({fileEvent("/r/Docs/Sub/a.pdf")});
    EXPECT_EQ(twice.changes.size(), 1);
}

TEST(FSEventsListener, ReportsOnlyWhatTheFolderWalkCanSee)
{
    FSEventsListener listener("/r/Docs/Library");
    Recorder docs;
    listener.addListener(&docs, "/r/Docs");
    const FileEvent folderMade{"/r/Docs/New Folder", "/r/Docs", FileEventFlag::ItemIsDir | FileEventFlag::ItemCreated};

    listener.handleEvents({
        fileEvent("/r/Docs/notes.unknownkind"),        // unsupported kind
        fileEvent("/r/Docs/.DS_Store"),                // dot-name
        fileEvent("/r/Docs/.git/objects/x.pdf"),       // inside a hidden folder
        fileEvent("/r/Docs/Library/Documents/x.pdf"),  // the library inside the watched folder
        fileEvent("/r/Docs/Project.app/Contents/x.pdf"),
        fileEvent("/r/Docs/Library2/x.pdf"),           // only a name like the library's
        fileEvent("/r/Docs/Report.pages/Data/x.png"),  // inside a document package
        fileEvent("/r/Docs/Old.stuff/in.pdf"),         // a folder with an unknown extension
        folderMade,
    });
    EXPECT_EQ(docs.changes, QStringList({"/r/Docs/Library2", "/r/Docs", "/r/Docs/Old.stuff", "/r/Docs"}));
}

TEST(FSEventsListener, WhenTheStreamCannotSayWhatChangedTheRootIsReported)
{
    FSEventsListener listener("/elsewhere/Library");
    Recorder docs;
    listener.addListener(&docs, "/r/Docs");
    listener.handleEvents({
        {"/r/Docs", "/r/Docs", FileEventFlag::MustScanSubDirs | FileEventFlag::KernelDropped},
        {"/r/Docs", "/r/Docs", FileEventFlag::RootChanged | FileEventFlag::MustScanSubDirs},
        {"/r/Docs", "/r/Docs", FileEventFlag::Unmount | FileEventFlag::MustScanSubDirs},
    });
    EXPECT_EQ(docs.changes, QStringList({"/r/Docs", "/r/Docs", "/r/Docs"}));
}

TEST(FSEventsListener, ObjectsRemovedOrDestroyedAreNeverCalled)
{
    FSEventsListener listener("/elsewhere/Library");
    Recorder first;
    auto second = std::make_unique<Recorder>();
    auto gone = std::make_unique<Recorder>();
    listener.addListener(&first, "/r/Docs");
    listener.addListener(second.get(), "/r/Docs");
    listener.addListener(gone.get(), "/r/Docs");
    gone.reset();
    first.onChange = [&] { second.reset(); }; // an earlier object drops a later one
    listener.handleEvents({fileEvent("/r/Docs/a.pdf")});
    EXPECT_EQ(first.changes.size(), 1);
    EXPECT_EQ(listener.listenerByPath("/r/Docs/a.pdf").size(), 1);
}

TEST(FSEventsListener, WatchesRealFoldersAndStopsOnAnEmptyReload)
{
    const QString base = testsupport::makeTempDir("watched");
    const QString root = base + "/Docs";
    QDir().mkpath(root + "/Sub");
    FSEventsListener listener(base + "/Docs/Library");
    Recorder docs;
    listener.addListener(&docs, root + "/");
    listener.reloadWatchPaths({root});
    ASSERT_TRUE(listener.eventStream());
    ASSERT_TRUE(spinUntil([&] { return listener.eventStream()->isWatching(); }));

    writeFile(root + "/Sub/a.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return docs.changes.contains(root + "/Sub"); }));

    QDir().mkpath(root + "/Later");
    ASSERT_TRUE(spinUntil([&] { return docs.changes.contains(root); }));
    writeFile(root + "/Later/b.pdf", "x");
    ASSERT_TRUE(spinUntil([&] { return docs.changes.contains(root + "/Later"); }));

    QDir().mkpath(root + "/Library");
    writeFile(root + "/Library/in-library.pdf", "x");
    writeFile(root + "/notes.unknownkind", "x");
    writeFile(root + "/Sub/marker.pdf", "x");
    docs.changes.clear();
    ASSERT_TRUE(spinUntil([&] { return docs.changes.contains(root + "/Sub"); }));
    EXPECT_FALSE(docs.changes.contains(root + "/Library"));

    listener.eventStream()->simulateOverflowForTesting();
    docs.changes.clear();
    ASSERT_TRUE(spinUntil([&] { return docs.changes.contains(root); }));

    listener.reloadWatchPaths({});
    EXPECT_FALSE(listener.eventStream());
}
