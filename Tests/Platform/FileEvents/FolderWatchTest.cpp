#include "Platform/FileEvents/FolderWatch.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <atomic>
#include <mutex>

using namespace platform;

namespace {

// What the watch reported, gathered on its queue and read on the main thread.
struct Reports {
    std::mutex mutex;
    QByteArrayList names;
    int gone = 0;

    bool hasName(const QByteArray& name)
    {
        std::lock_guard lock(mutex);
        return names.contains(name);
    }
    int goneCount()
    {
        std::lock_guard lock(mutex);
        return gone;
    }
};

} // namespace

TEST(FolderWatch, ReportsTheNamesThatChangeAndAFolderThatGoes)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("watched"));
    const DispatchQueue queue = DispatchQueue::serial(QStringLiteral("FolderWatchTest"));
    Reports reports;
    std::atomic<FolderWatch*> watchPointer{nullptr};
    FolderWatch watch(folder, queue, [&](const QByteArrayList& names, bool folderGone) {
        std::lock_guard lock(reports.mutex);
        reports.names += names;
        if (folderGone) {
            ++reports.gone;
            QDir().mkpath(folder);
            watchPointer.load()->rewatch();
        }
    });
    watchPointer.store(&watch);
    ASSERT_TRUE(watch.isWatching());

    testsupport::writeFile(folder + QStringLiteral("/one.service"), "1");
    ASSERT_TRUE(testsupport::spinUntil([&] { return reports.hasName("one.service"); }));
    ASSERT_TRUE(QFile::rename(folder + QStringLiteral("/one.service"), folder + QStringLiteral("/two.service")));
    ASSERT_TRUE(testsupport::spinUntil([&] { return reports.hasName("two.service"); }));

    // Gone, made again by the handler and watched anew: later changes are still reported.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(testsupport::spinUntil([&] { return reports.goneCount() == 1; }));
    ASSERT_TRUE(testsupport::spinUntil([&] { return watch.isWatching(); }));
    testsupport::writeFile(folder + QStringLiteral("/three.service"), "3");
    ASSERT_TRUE(testsupport::spinUntil([&] { return reports.hasName("three.service"); }));
}

TEST(FolderWatch, AFolderThatCannotBeWatchedSaysSo)
{
    const DispatchQueue queue = DispatchQueue::serial(QStringLiteral("FolderWatchTest"));
    FolderWatch watch(testsupport::makeTempDir(QStringLiteral("watched")) + QStringLiteral("/missing"), queue,
                      [](const QByteArrayList&, bool) {});
    EXPECT_FALSE(watch.isWatching());
}
