// The thumbnail loader: the fitting rule, newest-first service, what happens to stored
// thumbnails that are missing, damaged or cannot be written, and shutting down with work left.
#include "Browser/KPSafeBoxItemData.h"
#include "Browser/KPThumbnailLoader.h"
#include "BrowserLibraryKit.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Utilities/ImageQuickLook.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <atomic>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace browsertest;

namespace {

QByteArray pngBytes(const QSize& size, const QColor& color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A PNG whose header says it is width × height pixels, followed by the start of its data only.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    auto bigEndian = [](quint32 value) {
        QByteArray bytes(4, 0);
        for (int i = 0; i < 4; ++i)
            bytes[i] = char(value >> (24 - 8 * i));
        return bytes;
    };
    auto chunk = [&](const QByteArray& type, const QByteArray& data) {
        const QByteArray body = type + data;
        return bigEndian(quint32(data.size())) + body
            + bigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
    };
    const QByteArray header = bigEndian(width) + bigEndian(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", QByteArray(16, 'x')).left(20);
}

// Lets a reader blocked in opening the FIFO at path go (a writer opening it wakes the reader),
// so that a failing test ends instead of hanging.
void unblockFifo(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
        ::close(fd);
}

class ThumbnailLoaderTest : public BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        observer = platform::NotificationCenter::defaultCenter().addObserver(
            KPThumbnailLoader::kGraphicResourceDidLoadNotification, [this](const platform::Notification& note) {
                delivered.append(note.object.value<KPItemDataPtr>());
            });
    }

    void TearDown() override
    {
        loader.reset();
        observer.remove();
        BrowserLibraryTest::TearDown();
    }

    // A loader on a normal screen whose previews are counted; realPreviews uses the program's.
    KPThumbnailLoader& makeLoader(bool realPreviews = false, double scale = 1)
    {
        KPThumbnailLoader::Options options;
        options.screenScale = [scale] { return scale; };
        auto counter = previews;
        options.preview = [counter, realPreviews](const QString& path) {
            ++*counter;
            if (realPreviews)
                return imageWithPreviewOfFileAtPath(path, QSize(512, 512), false);
            QImage image(400, 200, QImage::Format_RGB32);
            image.fill(Qt::darkGreen);
            return image;
        };
        loader = std::make_unique<KPThumbnailLoader>(options);
        return *loader;
    }

    // A stored document whose file is a PNG picture.
    KPItemDataPtr imageDocument(const QString& title, const QSize& size = {300, 200})
    {
        DBFileInfo file = addDocument(DocumentFields{.title = title, .extension = QStringLiteral("png")});
        testsupport::writeFile(library + file.path(), pngBytes(size, Qt::red));
        return KPItemData::create(file);
    }

    void request(const KPItemDataPtr& item) { loader->addResourceToQueue(item, QSizeF(227, 254), QSizeF(227, 205), false); }

    bool waitForDeliveries(qsizetype count)
    {
        return testsupport::spinUntil([&] { return delivered.size() >= count; });
    }

    std::unique_ptr<KPThumbnailLoader> loader;
    std::shared_ptr<std::atomic<int>> previews = std::make_shared<std::atomic<int>>(0);
    QList<KPItemDataPtr> delivered;
    platform::ObserverToken observer;
};

} // namespace

TEST(ThumbnailFitting, TheFourCasesOfTheFittingRule)
{
    const QSizeF frame(100, 120);
    const QSizeF image(100, 80);
    EXPECT_EQ(KPThumbnailLoader::fittedSize({512, 512}, frame, image, 20, 1), QSize(80, 80));
    EXPECT_EQ(KPThumbnailLoader::fittedSize({512, 512}, frame, image, 20, 2), QSize(160, 160));
    // Doubled it would be 760 wide: the width is capped at 512 and the height follows.
    EXPECT_EQ(KPThumbnailLoader::fittedSize({1000, 500}, QSizeF(400, 400), QSizeF(400, 380), 20, 2), QSize(512, 256));
    // Never enlarged.
    EXPECT_EQ(KPThumbnailLoader::fittedSize({40, 30}, frame, image, 20, 1), QSize(40, 30));
    EXPECT_EQ(KPThumbnailLoader::fittedSize({40, 30}, frame, image, 20, 2), QSize(80, 60));
    // Tall sources fit the image area's height; list mode has no inset.
    EXPECT_EQ(KPThumbnailLoader::fittedSize({300, 600}, QSizeF(40, 50), QSizeF(40, 40), 0, 1), QSize(20, 40));
    // A frame smaller than the inset and a sliver of a source still give a drawable picture.
    EXPECT_EQ(KPThumbnailLoader::fittedSize({512, 512}, QSizeF(10, 10), QSizeF(10, 10), 20, 1), QSize(1, 1));
    EXPECT_EQ(KPThumbnailLoader::fittedSize({5000, 1}, frame, image, 20, 1), QSize(80, 1));
}

TEST_F(ThumbnailLoaderTest, NewestRequestFirstAndOneRequestPerDocument)
{
    makeLoader();
    const KPItemDataPtr a = imageDocument(QStringLiteral("a"));
    const KPItemDataPtr b = imageDocument(QStringLiteral("b"));
    const KPItemDataPtr c = imageDocument(QStringLiteral("c"));
    loader->setPaused(true);
    request(a);
    request(b);
    request(c);
    EXPECT_TRUE(a->bLoadingResource());
    request(a); // already loading: nothing changes
    EXPECT_EQ(loader->pendingCount(), 3);
    loader->setPaused(false);
    ASSERT_TRUE(waitForDeliveries(3));
    EXPECT_EQ(delivered, (QList<KPItemDataPtr>{c, b, a}));
    EXPECT_TRUE(a->bLoadedResource());
    EXPECT_FALSE(a->bLoadingResource());
    EXPECT_FALSE(a->bNeedReloadResource());
    EXPECT_EQ(a->imageOriginalSize(), QSize(400, 200));
    EXPECT_EQ(a->sourceImage().size(), QSize(207, 104));
    EXPECT_EQ(a->info().value(KPItemData::kFrameSizeKey).toSizeF(), QSizeF(227, 254));

    // Another model of a waiting document takes its place at the newest end; the one it
    // replaced may be asked for again.
    delivered.clear();
    loader->setPaused(true);
    const KPItemDataPtr d = imageDocument(QStringLiteral("d"));
    const KPItemDataPtr e = imageDocument(QStringLiteral("e"));
    request(d);
    request(e);
    const KPItemDataPtr dAgain = KPItemData::create(d->data());
    request(dAgain);
    EXPECT_EQ(loader->pendingCount(), 2);
    EXPECT_FALSE(d->bLoadingResource());
    loader->setPaused(false);
    ASSERT_TRUE(waitForDeliveries(2));
    EXPECT_EQ(delivered, (QList<KPItemDataPtr>{dAgain, e}));

    // A loaded document is loaded again only when asked to.
    request(a);
    EXPECT_FALSE(a->bLoadingResource());
    a->setBNeedReloadResource(true);
    request(a);
    EXPECT_TRUE(a->bLoadingResource());
    ASSERT_TRUE(waitForDeliveries(3));
}

TEST_F(ThumbnailLoaderTest, AMissingThumbnailIsWrittenThroughTheLibraryAndReused)
{
    makeLoader(true);
    const KPItemDataPtr item = imageDocument(QStringLiteral("scan"));
    DBFileInfo record = item->data();
    // The record names a thumbnail the library never wrote.
    record.setThumbPath(QStringLiteral("/Thumbnail/legacy.thumb"));
    item->loadDataContent();
    request(item);
    ASSERT_TRUE(waitForDeliveries(1));
    EXPECT_EQ(*previews, 1);
    EXPECT_EQ(item->imageOriginalSize(), QSize(300, 200));
    EXPECT_EQ(item->sourceImage().size(), QSize(207, 138));
    const QString written = KPLibraryFileManager::thumbRelativePath(record.path());
    EXPECT_EQ(record.thumbPath(), written);
    EXPECT_EQ(item->thumbPath(), library + written);
    QImageReader stored(library + written);
    EXPECT_EQ(stored.format(), QByteArray("jpeg")); // opaque pictures are stored as JPEG
    EXPECT_EQ(stored.size(), QSize(300, 200));

    // The next model of the document reads the stored file, even with the document gone.
    QFile::remove(item->filePath());
    const KPItemDataPtr again = KPItemData::create(record);
    request(again);
    ASSERT_TRUE(waitForDeliveries(2));
    EXPECT_EQ(*previews, 1);
    EXPECT_EQ(again->sourceImage().size(), QSize(207, 138));
}

TEST_F(ThumbnailLoaderTest, DamagedThumbnailsAreMadeAgainAndFailedWritesStillDeliver)
{
    makeLoader();
    const KPItemDataPtr garbage = imageDocument(QStringLiteral("garbage"));
    const KPItemDataPtr truncated = imageDocument(QStringLiteral("truncated"));
    garbage->loadDataContent();
    truncated->loadDataContent();
    testsupport::writeFile(garbage->thumbPath(), "this is no picture");
    testsupport::writeFile(truncated->thumbPath(), pngBytes({300, 300}, Qt::blue).left(120));
    // A header claiming a picture of ten billion pixels is never decoded in full.
    const KPItemDataPtr enormous = imageDocument(QStringLiteral("enormous"));
    enormous->loadDataContent();
    testsupport::writeFile(enormous->thumbPath(), pngClaiming(100000, 100000));
    ASSERT_EQ(QImageReader(enormous->thumbPath()).size(), QSize(100000, 100000));
    // A FIFO at a thumbnail's path would block the loader, every request after it and the
    // shutdown at quit; it is replaced like any other damaged thumbnail.
    const KPItemDataPtr fifo = imageDocument(QStringLiteral("fifo"));
    fifo->loadDataContent();
    QDir().mkpath(QFileInfo(fifo->thumbPath()).path());
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo->thumbPath()).constData(), 0600), 0);
    request(garbage);
    request(truncated);
    request(enormous);
    request(fifo);
    const bool all = waitForDeliveries(4);
    if (!all)
        unblockFifo(fifo->thumbPath());
    ASSERT_TRUE(all);
    EXPECT_EQ(*previews, 4);
    for (const KPItemDataPtr& item : {garbage, truncated, enormous, fifo}) {
        EXPECT_EQ(item->imageOriginalSize(), QSize(400, 200));
        EXPECT_FALSE(QImage(item->thumbPath()).isNull()) << qPrintable(item->thumbPath());
    }

    // The thumbnail folder cannot be written (a file stands in its place): the picture is
    // still fitted and delivered.
    QDir(library + QStringLiteral("/Thumbnail")).removeRecursively();
    testsupport::writeFile(library + QStringLiteral("/Thumbnail"), "in the way");
    const KPItemDataPtr unwritable = imageDocument(QStringLiteral("unwritable"));
    const QString before = unwritable->data().thumbPath();
    request(unwritable);
    ASSERT_TRUE(waitForDeliveries(5));
    EXPECT_EQ(unwritable->sourceImage().size(), QSize(207, 104));
    EXPECT_EQ(unwritable->data().thumbPath(), before);
}

TEST_F(ThumbnailLoaderTest, SafeBoxFilesKeepTheirThumbnailsInTheVolume)
{
    makeLoader(false, 2); // no doubling for SafeBox files, whatever the screen
    const QString volume = testsupport::makeTempDir(QStringLiteral("volume"));
    const auto file = KPSafeBoxItemData::create({{QStringLiteral("Path"), volume + QStringLiteral("/a.pdf")}}, volume);
    request(file);
    ASSERT_TRUE(waitForDeliveries(1));
    EXPECT_EQ(file->sourceImage().size(), QSize(207, 104));
    EXPECT_FALSE(QImage(file->thumbPath()).isNull());

    // The volume went away: the picture is still delivered.
    QDir(volume).removeRecursively();
    const auto orphan = KPSafeBoxItemData::create({{QStringLiteral("Path"), volume + QStringLiteral("/b.pdf")}}, volume);
    request(orphan);
    ASSERT_TRUE(waitForDeliveries(2));
    EXPECT_FALSE(orphan->sourceImage().isNull());
}

TEST_F(ThumbnailLoaderTest, ShutdownDropsWaitingRequestsAndRefusesNewOnes)
{
    makeLoader();
    loader->setPaused(true);
    QList<KPItemDataPtr> items;
    for (int i = 0; i < 5; ++i) {
        items.append(imageDocument(QStringLiteral("doc%1").arg(i)));
        request(items.last());
    }
    loader->clearImageQueue();
    EXPECT_EQ(loader->pendingCount(), 0);
    EXPECT_FALSE(items.first()->bLoadingResource()); // may be asked for again
    for (const KPItemDataPtr& item : items)
        request(item);
    loader->shutdown();
    EXPECT_EQ(loader->pendingCount(), 0);
    const KPItemDataPtr late = imageDocument(QStringLiteral("late"));
    request(late);
    EXPECT_EQ(loader->pendingCount(), 0);
    EXPECT_FALSE(late->bLoadingResource());
    loader->setPaused(false);
    drainMainQueue();
    EXPECT_TRUE(delivered.isEmpty());

    // Shutting down while the worker is busy waits for it: the picture being made is finished
    // by the time shutdown() returns (it is made only once shutdown has been called).
    KPThumbnailLoader::Options options;
    options.screenScale = [] { return 1.0; };
    auto shutdownCalled = std::make_shared<std::atomic<bool>>(false);
    auto started = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    options.preview = [=](const QString&) {
        started->store(true);
        while (!shutdownCalled->load())
            std::this_thread::yield();
        for (int i = 0; i < 10000; ++i)
            std::this_thread::yield();
        QImage image(400, 200, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        finished->store(true);
        return image;
    };
    loader = std::make_unique<KPThumbnailLoader>(options);
    const KPItemDataPtr busy = imageDocument(QStringLiteral("busy"));
    request(busy);
    for (int i = 0; i < 5; ++i)
        request(KPItemData::create(items[i]->data()));
    ASSERT_TRUE(testsupport::spinUntil([&] { return started->load(); }));
    shutdownCalled->store(true);
    loader->shutdown();
    EXPECT_TRUE(finished->load());
    EXPECT_EQ(loader->pendingCount(), 0);
}
