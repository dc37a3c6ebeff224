#include "Import/KPPreviewPrefetcher.h"
#include "Support/TestSupport.h"

#include <QHash>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

// A one-pixel picture whose colour names its file.
QImage pictureOf(const QString& path)
{
    QImage image(1, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, 0xff000000u | (qHash(path) & 0xffffffu));
    return image;
}

// The same picture after an amount of work that differs per file, so workers finish out of
// the order they started in.
QImage unevenPictureOf(const QString& path)
{
    QImage scratch(64 + int(qHash(path) % 5) * 96, 64, QImage::Format_RGB32);
    scratch.fill(Qt::white);
    (void)scratch.scaled(17, 17, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return pictureOf(path);
}

KPPreviewPrefetcher::PreviewFunction preparing(QImage (*picture)(const QString&))
{
    return [picture](const QString& path) { return KPPreparedFile{path, picture(path), {}, {}}; };
}

QStringList corpus(int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(QStringLiteral("/docs/file%1.pdf").arg(i));
    return paths;
}

// Counts the previews started and can hold every one but that of `free` until released. The
// free file is the one the import thread asks for first and makes itself: workers may well
// start theirs before it does, so which call comes first tells nothing.
struct HeldPreviews {
    std::mutex mutex;
    std::condition_variable changed;
    bool hold = false;
    QString free;
    bool released = false;
    std::atomic<int> started{0};
    std::atomic<int> finished{0};

    KPPreviewPrefetcher::PreviewFunction function()
    {
        return [this](const QString& path) {
            ++started;
            if (hold && path != free) {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return released; });
            }
            ++finished;
            return KPPreparedFile{path, pictureOf(path), {}, {}};
        };
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

} // namespace

TEST(KPPreviewPrefetcherTest, EveryPreviewLandsOnItsOwnFile)
{
    const QStringList paths = corpus(300);
    KPPreviewPrefetcher prefetcher(paths, preparing(unevenPictureOf), 4);
    for (int i = 0; i < 120; ++i)
        ASSERT_EQ(prefetcher.take(i, paths.at(i)).preview, pictureOf(paths.at(i))) << i;
    // Files skipped over (they failed, or the walk changed) and a path that is not the one
    // planned at that place still get their own picture.
    EXPECT_EQ(prefetcher.take(150, paths.at(150)).preview, pictureOf(paths.at(150)));
    EXPECT_EQ(prefetcher.take(151, QStringLiteral("/other.jpg")).preview, pictureOf(QStringLiteral("/other.jpg")));
    EXPECT_EQ(prefetcher.take(151, paths.at(151)).preview, pictureOf(paths.at(151))) << "an index asked for twice";
    for (int i = 152; i < 300; ++i)
        ASSERT_EQ(prefetcher.take(i, paths.at(i)).preview, pictureOf(paths.at(i))) << i;
    EXPECT_EQ(prefetcher.take(300, paths.at(0)).preview, pictureOf(paths.at(0))) << "past the end";
}

TEST(KPPreviewPrefetcherTest, LooksAheadOneWindowBeyondTheLastFileAskedForAndNoFurther)
{
    const QStringList paths = corpus(100);
    HeldPreviews previews;
    KPPreviewPrefetcher prefetcher(paths, previews.function(), 2);
    ASSERT_EQ(prefetcher.window(), 2 * KPPreviewPrefetcher::kWindowPerWorker);
    EXPECT_FALSE(testsupport::spinUntil([&] { return previews.started > 0; }, 50))
        << "nothing is made before the import asks for its first file";

    prefetcher.take(0, paths.at(0));
    ASSERT_TRUE(testsupport::spinUntil([&] { return previews.finished == 1 + prefetcher.window(); }));
    // An import that asks for nothing more (paused) lets no more previews be made.
    EXPECT_FALSE(testsupport::spinUntil([&] { return previews.started > 1 + prefetcher.window(); }, 100));

    prefetcher.take(1, paths.at(1));
    ASSERT_TRUE(testsupport::spinUntil([&] { return previews.finished == 2 + prefetcher.window(); }));
    EXPECT_FALSE(testsupport::spinUntil([&] { return previews.started > 2 + prefetcher.window(); }, 100));
}

TEST(KPPreviewPrefetcherTest, StopWaitsForRunningPreviewsAndStartsNoOther)
{
    const QStringList paths = corpus(50);
    HeldPreviews previews;
    previews.hold = true;
    previews.free = paths.at(0);
    KPPreviewPrefetcher prefetcher(paths, previews.function(), 2);
    prefetcher.take(0, paths.at(0));
    // Both workers are inside a preview now; the rest of the window waits for them.
    ASSERT_TRUE(testsupport::spinUntil([&] { return previews.started == 3; }));

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        prefetcher.stop();
        stopped = true;
    });
    EXPECT_FALSE(testsupport::spinUntil([&] { return stopped.load(); }, 50)) << "running previews are waited for";
    previews.release();
    stopper.join();
    EXPECT_EQ(previews.started.load(), 3) << "no preview starts once stopped";
    EXPECT_EQ(previews.finished.load(), 3);

    // After the stop a file still gets its own preview, made by the caller.
    EXPECT_EQ(prefetcher.take(1, paths.at(1)).preview, pictureOf(paths.at(1)));
    EXPECT_EQ(previews.started.load(), 4);
}

TEST(KPPreviewPrefetcherTest, OneFileOrNoneStillGetTheirPreviews)
{
    const QStringList one{QStringLiteral("/one.pdf")};
    KPPreviewPrefetcher single(one, preparing(pictureOf), 4);
    EXPECT_EQ(single.take(0, one.at(0)).preview, pictureOf(one.at(0)));
    KPPreviewPrefetcher none(QStringList(), preparing(pictureOf), 4);
    EXPECT_EQ(none.take(0, one.at(0)).preview, pictureOf(one.at(0)));
}

TEST(KPPreviewPrefetcherTest, WhileAWorkerMakesItsFileTheTakerMakesTheNextOnesOfTheWindow)
{
    const QStringList paths = corpus(40);
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    QHash<QString, std::thread::id> makers;
    const auto record = [&](const QString& path) {
        std::lock_guard lock(mutex);
        makers.insert(path, std::this_thread::get_id());
    };
    const auto madeBy = [&](std::thread::id thread) {
        std::lock_guard lock(mutex);
        return int(std::count(makers.cbegin(), makers.cend(), thread));
    };
    // The worker's first file takes until it is released.
    KPPreviewPrefetcher prefetcher(paths, [&](const QString& path) {
        record(path);
        if (path == paths.at(1)) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return released; });
        }
        return KPPreparedFile{path, pictureOf(path), {}, {}};
    }, 1);
    prefetcher.take(0, paths.at(0));
    ASSERT_TRUE(testsupport::spinUntil([&] { std::lock_guard lock(mutex); return makers.contains(paths.at(1)); }));

    std::thread::id taker;
    QImage first;
    std::thread importer([&] {
        taker = std::this_thread::get_id();
        first = prefetcher.take(1, paths.at(1)).preview;
    });
    const int window = prefetcher.window();
    // Files 2 … 1 + window are made by the taker meanwhile, and no further.
    EXPECT_TRUE(testsupport::spinUntil([&] { return madeBy(importer.get_id()) == window; }));
    EXPECT_FALSE(testsupport::spinUntil([&] { return madeBy(importer.get_id()) > window; }, 100));
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    importer.join();
    EXPECT_EQ(first, pictureOf(paths.at(1)));
    for (int i = 2; i < 2 + window; ++i)
        EXPECT_EQ(prefetcher.take(i, paths.at(i)).preview, pictureOf(paths.at(i))) << i;
    std::lock_guard lock(mutex);
    for (int i = 2; i < 2 + window; ++i)
        EXPECT_EQ(makers.value(paths.at(i)), taker) << "made once, by the taker: " << i;
}
