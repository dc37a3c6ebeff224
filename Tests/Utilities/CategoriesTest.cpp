#include "Support/TestSupport.h"
#include "Utilities/ColorHelpers.h"
#include "Utilities/DataObjAdditions.h"
#include "Utilities/HelperServices.h"
#include "Utilities/ImageQuickLook.h"
#include "Utilities/QueueAdditions.h"

#include <QAction>
#include <QImage>
#include <QSet>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// Puts the built-in services back after a test replaced some.
struct ServicesGuard {
    HelperServices saved = HelperServices::replace(HelperServices::current());
    ~ServicesGuard() { HelperServices::replace(saved); }
};

} // namespace

TEST(QueueAdditionsTest, ConcurrentUseLosesAndDuplicatesNothing)
{
    QList<int> queue;
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 2000;
    std::vector<std::thread> threads;
    std::mutex takenLock;
    QList<int> taken;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&queue, p] {
            for (int i = 0; i < kPerProducer; ++i)
                enqueue(queue, p * kPerProducer + i);
        });
        threads.emplace_back([&] {
            for (int i = 0; i < kPerProducer; ++i) {
                if (const auto value = dequeue(queue)) {
                    std::lock_guard lock(takenLock);
                    taken.append(*value);
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    while (const auto value = dequeue(queue))
        taken.append(*value);
    ASSERT_EQ(taken.size(), kProducers * kPerProducer);
    EXPECT_EQ(QSet<int>(taken.begin(), taken.end()).size(), kProducers * kPerProducer);
}

TEST(DataObjTest, NothingNeverReplacesAnObject)
{
    QAction action;
    EXPECT_FALSE(dataObj(&action).isValid());
    setDataObj(&action, QStringLiteral("/path/a"));
    setDataObj(&action, QVariant());
    EXPECT_EQ(dataObj(&action).toString(), "/path/a");
    setDataObj(&action, 42);
    EXPECT_EQ(dataObj(&action).toInt(), 42);
    // The menu item's own data slot stays free for its menu.
    EXPECT_FALSE(action.data().isValid());

    DataObjString text(QStringLiteral("Work"));
    text.setDataObj(QStringLiteral("node"));
    text.setDataObj(QVariant());
    EXPECT_EQ(text.dataObj().toString(), "node");
    EXPECT_EQ(text.text(), "Work");
}

TEST(ColorTextTest, HexadecimalScan)
{
    const QColor orange = colorFromHexString("FF8000");
    EXPECT_DOUBLE_EQ(orange.redF(), 1.0);
    EXPECT_NEAR(orange.greenF(), 128.0 / 255.0, 1e-6);
    EXPECT_DOUBLE_EQ(orange.blueF(), 0.0);
    EXPECT_DOUBLE_EQ(orange.alphaF(), 1.0);
    EXPECT_EQ(colorFromHexString("0x336699"), QColor(0x33, 0x66, 0x99));
    EXPECT_EQ(colorFromHexString("  336699"), QColor(0x33, 0x66, 0x99));
    // Scanning stops at the first other character; nothing scanned is black.
    EXPECT_EQ(colorFromHexString("12zz"), QColor(0, 0, 0x12));
    EXPECT_EQ(colorFromHexString("#FF0000"), QColor(Qt::black));
    EXPECT_EQ(colorFromHexString(QString()), QColor(Qt::black));
    EXPECT_EQ(colorFromHexString(""), QColor(Qt::black));
    // Too many digits saturate like a 32-bit scan instead of wrapping.
    EXPECT_EQ(colorFromHexString("123456789ABC"), QColor(0xFF, 0xFF, 0xFF));

    EXPECT_FALSE(colorFromString(QString()).has_value());
    EXPECT_EQ(colorFromString("00FF00"), QColor(0, 255, 0));
    EXPECT_EQ(toCGColor(QColor(1, 2, 3, 4)), QColor(1, 2, 3, 4));
}

TEST(QuickLookTest, DelegatesToThePreviewAndKeepsItsSize)
{
    ServicesGuard guard;
    HelperServices fake = HelperServices::current();
    QSize askedSize;
    fake.previewImage = [&](const QString&, const QSize& size, bool) {
        askedSize = size;
        QImage image(512, 300, QImage::Format_RGB32);
        image.fill(Qt::red);
        return image;
    };
    HelperServices::replace(fake);
    const QImage preview = imageWithPreviewOfFileAtPath("/any/file.pdf", kQuickLookPreviewSize, false);
    EXPECT_EQ(askedSize, QSize(512, 512));
    EXPECT_EQ(preview.size(), QSize(512, 300));
    EXPECT_FALSE(isTemplateImage(preview));
    EXPECT_TRUE(imageWithPreviewOfFileAtPath(QString(), kQuickLookPreviewSize, false).isNull());
}

TEST(QuickLookTest, FallsBackToTheKindIconAtTheAskedSize)
{
    ServicesGuard guard;
    HelperServices fake = HelperServices::current();
    fake.previewImage = [](const QString&, const QSize&, bool) { return QImage(); };
    fake.fileIcon = [](const QString&, const QSize&) {
        QImage icon(100, 50, QImage::Format_ARGB32);
        icon.fill(Qt::blue);
        return icon;
    };
    HelperServices::replace(fake);
    const QImage icon = imageWithPreviewOfFileAtPath("/any/file.xyz", kQuickLookPreviewSize, false);
    EXPECT_EQ(icon.size(), QSize(512, 512));
    EXPECT_TRUE(isTemplateImage(icon));
    // The wide icon is fitted, not stretched: the top rows stay transparent.
    EXPECT_EQ(qAlpha(icon.pixel(256, 10)), 0);
    EXPECT_EQ(QColor(icon.pixel(256, 256)), QColor(Qt::blue));
}

TEST(QuickLookTest, RealPreviewsOfImagesAndUnknownKinds)
{
    const QString dir = testsupport::makeTempDir();
    QImage wide(1024, 600, QImage::Format_RGB32);
    wide.fill(Qt::green);
    ASSERT_TRUE(wide.save(dir + "/wide.png"));
    const QImage preview = imageWithPreviewOfFileAtPath(dir + "/wide.png", kQuickLookPreviewSize, false);
    EXPECT_EQ(preview.size(), QSize(512, 300));
    EXPECT_FALSE(isTemplateImage(preview));

    testsupport::writeFile(dir + "/blob.zzqq", QByteArray(64, '\x01'));
    const QImage icon = imageWithPreviewOfFileAtPath(dir + "/blob.zzqq", kQuickLookPreviewSize, false);
    EXPECT_EQ(icon.size(), QSize(512, 512));
    EXPECT_TRUE(isTemplateImage(icon));
}
