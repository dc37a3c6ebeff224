#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Scanner/KPCGImageStoreObjectThumbCreate.h"
#include "Scanner/KPScannerPageList.h"
#include "Support/TestSupport.h"

#include <QSet>
#include <gtest/gtest.h>
#include <atomic>
#include <mutex>
#include <thread>

namespace {

QImage filled(int w, int h, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(w, h, format);
    image.fill(Qt::red);
    return image;
}

} // namespace

TEST(KPScanPagesTest, ThumbnailsFitTheTurnedPageInto148)
{
    using T = KPCGImageStoreObjectThumbCreate;
    const QImage landscape = filled(1000, 500);
    EXPECT_EQ(T::thumbnail(landscape, 0).actualSize, QSizeF(148, 74));
    EXPECT_EQ(T::thumbnail(landscape, 90).actualSize, QSizeF(74, 148));
    EXPECT_EQ(T::thumbnail(landscape, 270).image.size(), QSize(74, 148));
    EXPECT_EQ(T::thumbnail(landscape, 180).actualSize, QSizeF(148, 74));
    EXPECT_EQ(T::thumbnail(filled(300, 300), 0).actualSize, QSizeF(148, 148));
    // A one-pixel-wide strip still gets an image to draw; an empty page gets none.
    EXPECT_EQ(T::thumbnail(filled(1, 20000, QImage::Format_Grayscale8), 0).image.size(), QSize(1, 148));
    EXPECT_TRUE(T::thumbnail(QImage(), 0).image.isNull());
}

TEST(KPScanPagesTest, UpdateThumbFollowsBothValuesAndNoMoreThanThreeRunAtOnce)
{
    auto queue = KPCGImageStoreObjectThumbCreate::makeQueue();
    std::mutex mutex;
    int running = 0, most = 0;
    std::atomic<bool> release{false};
    for (int i = 0; i < 8; ++i)
        queue->addOperation([&] {
            {
                std::lock_guard lock(mutex);
                most = std::max(most, ++running);
            }
            while (!release.load())
                std::this_thread::yield();
            std::lock_guard lock(mutex);
            --running;
        });
    ASSERT_TRUE(testsupport::spinUntil([&] {
        std::lock_guard lock(mutex);
        return running == KPCGImageStoreObjectThumbCreate::kMaxConcurrentThumbs;
    }));
    release = true;
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(most, KPCGImageStoreObjectThumbCreate::kMaxConcurrentThumbs);

    // Each notice finds its page's thumbnail and size already in place.
    QList<KPCGImageStoreObj::Ptr> pages;
    for (int i = 0; i < 5; ++i)
        pages.append(KPCGImageStoreObj::create(filled(1000, 500)));
    pages[1]->setAngle(90);
    int seen = 0;
    bool complete = true;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        KPCGImageStoreObjectThumbCreate::UpdateThumbNotification, [&](const platform::Notification& n) {
            const auto page = n.object.value<KPCGImageStoreObj::Ptr>();
            complete = complete && page && !page->thumbImage().isNull() && !page->actualSize().isEmpty();
            ++seen;
        });
    for (const auto& page : pages)
        KPCGImageStoreObjectThumbCreate::enqueue(*queue, page);
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen == 5; }));
    EXPECT_TRUE(complete);
    EXPECT_EQ(pages[1]->actualSize(), QSizeF(74, 148));
}

TEST(KPScanPagesTest, PageListFillsTheEmptyLastPageAndKeepsIdsUnique)
{
    KPScannerPageList list;
    EXPECT_FALSE(list.needsCloseQuestion());
    EXPECT_EQ(list.newPage(), nullptr); // no page yet: nothing to follow
    list.addImages({filled(10, 10)});
    const auto empty = list.newPage();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(list.newPage(), nullptr); // the last page is empty already
    EXPECT_EQ(list.count(), 2);

    // Save must stay off while only empty pages exist.
    KPScannerPageList onlyEmpty;
    EXPECT_FALSE(onlyEmpty.hasImagePage());

    const auto added = list.addImages({filled(20, 20), QImage(), filled(30, 30), filled(40, 40)});
    ASSERT_EQ(added.size(), 3);
    EXPECT_EQ(added[0], empty);
    EXPECT_EQ(list.count(), 4);
    EXPECT_EQ(list.pages().last()->CGImage().width(), 40);
    QSet<qint64> ids;
    for (const auto& page : list.pages())
        ids.insert(page->storeObjID());
    EXPECT_EQ(ids.size(), 4);
    EXPECT_EQ(list.pageWithID(empty->storeObjID()), empty);
    EXPECT_TRUE(list.needsCloseQuestion());
}

TEST(KPScanPagesTest, PagesPastThePixelBudgetAreLeftOutAndACropGivesRoomBack)
{
    auto budget = std::make_shared<KPScannerPixelBudget>(10'000);
    KPScannerPageList list(budget);
    int leftOut = 0;
    // 4,000 + 4,000 fit; the next 4,000 do not, the 1,000 after them still do.
    const auto added = list.addImages({filled(40, 100), filled(100, 40), filled(50, 80), filled(10, 100)}, &leftOut);
    EXPECT_EQ(added.size(), 3);
    EXPECT_EQ(leftOut, 1);
    EXPECT_EQ(budget->used(), 9'000);
    EXPECT_EQ(list.pages().at(2)->CGImage().size(), QSize(10, 100));

    // A crop holds fewer pixels; the room it frees takes the page refused before.
    ASSERT_TRUE(list.setImage(list.pages().first(), filled(10, 10)));
    EXPECT_EQ(budget->used(), 5'100);
    leftOut = 0;
    EXPECT_EQ(list.addImages({filled(50, 80)}, &leftOut).size(), 1);
    EXPECT_EQ(leftOut, 0);
    EXPECT_EQ(budget->used(), 9'100);
    // Nothing may grow past the bound, and a refused change leaves the page as it was.
    EXPECT_FALSE(list.setImage(list.pages().first(), filled(100, 100)));
    EXPECT_EQ(list.pages().first()->CGImage().size(), QSize(10, 10));
    EXPECT_EQ(budget->used(), 9'100);
}
