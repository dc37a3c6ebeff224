#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Scanner/SaneFrameAssembler.h"
#include "Platform/Scanner/ScannerService.h"
#include "SaneTestBackend.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using platform::SaneFrameAssembler;
using platform::ScannerService;
using platform::ScanSettings;

TEST(SaneFrameAssemblerTest, GrayColourThreePassAndUnknownLength)
{
    using F = SaneFrameAssembler::Format;
    {
        // 1-bit gray: a set bit is black; 10 pixels need 2 bytes a line.
        SaneFrameAssembler a;
        ASSERT_TRUE(a.beginFrame({F::Gray, true, 2, 10, -1, 1}));
        const char data[] = {char(0x80), 0, 0, char(0x40)};
        ASSERT_TRUE(a.append(data, 3)); // pieces of any size
        ASSERT_TRUE(a.append(data + 3, 1));
        const auto image = a.image();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), QSize(10, 2)); // the length came from the data
        EXPECT_EQ(image->format(), QImage::Format_Grayscale8);
        EXPECT_EQ(qGray(image->pixel(0, 0)), 0);
        EXPECT_EQ(qGray(image->pixel(1, 0)), 255);
        EXPECT_EQ(qGray(image->pixel(9, 1)), 0);
    }
    {
        // 16-bit colour stays 16-bit.
        SaneFrameAssembler a;
        ASSERT_TRUE(a.beginFrame({F::RGB, true, 6, 1, 1, 16}));
        const quint16 rgb[] = {0xFFFF, 0, 0x8000};
        ASSERT_TRUE(a.append(reinterpret_cast<const char*>(rgb), 6));
        const auto image = a.image();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->format(), QImage::Format_RGBX64);
        EXPECT_EQ(image->pixelColor(0, 0).rgba64().red(), 0xFFFF);
        EXPECT_EQ(image->pixelColor(0, 0).rgba64().blue(), 0x8000);
    }
    {
        // Three passes, in any order of planes.
        SaneFrameAssembler a;
        ASSERT_TRUE(a.beginFrame({F::Green, false, 2, 2, 1, 8}));
        ASSERT_TRUE(a.append("\x10\x11", 2));
        ASSERT_TRUE(a.beginFrame({F::Red, false, 2, 2, 1, 8}));
        ASSERT_TRUE(a.append("\x20\x21", 2));
        ASSERT_TRUE(a.beginFrame({F::Blue, true, 2, 2, 1, 8}));
        ASSERT_TRUE(a.append("\x30\x31", 2));
        const auto image = a.image();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixel(1, 0), qRgb(0x21, 0x11, 0x31));
    }
    // Frames that cannot be read, a scan past the cap, and no data at all are errors.
    SaneFrameAssembler bad;
    EXPECT_FALSE(bad.beginFrame({F::Gray, true, 1, 10, 1, 8}));
    EXPECT_FALSE(bad.beginFrame({F::Gray, true, 10, 10, 1, 4}));
    EXPECT_FALSE(bad.image());
    SaneFrameAssembler huge;
    EXPECT_FALSE(huge.beginFrame({F::Gray, true, 100000, 100000, 100000, 8}));
    SaneFrameAssembler strip;
    ASSERT_TRUE(strip.beginFrame({F::Gray, true, 1, 1, 20000, 8}));
    ASSERT_TRUE(strip.append(QByteArray(20000, '\x7f').constData(), 20000));
    EXPECT_EQ(strip.image()->size(), QSize(1, 20000));
}

namespace {

class ScannerServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!scannertest::useTestBackend())
            GTEST_SKIP() << "SANE's test backend (libsane1) is not installed";
        cache = testsupport::makeTempDir(QStringLiteral("scans"));
        progressToken = platform::NotificationCenter::defaultCenter().addObserver(
            ScannerService::ScannerIsProgressNotification,
            [this](const platform::Notification& n) { progress.append(n.object.toBool()); });
    }

    void open(const QString& name = QStringLiteral("test:0"))
    {
        bool done = false;
        service.openDevice(name, guard, [&](platform::Result<platform::ScannerOptions> options) {
            ASSERT_TRUE(options) << options.error().message.toStdString();
            this->options = *options;
            done = true;
        });
        ASSERT_TRUE(testsupport::spinUntil([&] { return done; }));
    }
    // Starts a scan whose end lands in this fixture (never in a caller's frame that may be gone).
    void startScan(const ScanSettings& settings)
    {
        end.reset();
        service.scan(settings, cache, guard, [this](const QImage& image, const QString& path) {
            images.append(image);
            paths.append(path);
        }, [this](platform::Result<int> result) { end = result; });
    }
    // Waits for the scan's end and its "ScannerIsProgress" NO. The bound is only there so that a
    // scan that never ends fails the case: the wait is for the event, however long a sanitizer
    // build on a loaded machine needs.
    bool waitForEnd()
    {
        return testsupport::spinUntil([&] { return end.has_value() && !progress.isEmpty() && !progress.last(); },
                                      kPatienceMs);
    }
    platform::Result<int> scan(const ScanSettings& settings)
    {
        startScan(settings);
        EXPECT_TRUE(waitForEnd());
        return end.value_or(platform::Result<int>(0));
    }
    QStringList cacheFiles() const { return QDir(cache).entryList(QDir::Files); }

    static constexpr int kPatienceMs = 240000;
    ScannerService service;
    std::optional<platform::Result<int>> end;
    std::shared_ptr<int> alive = std::make_shared<int>(0);
    ScannerService::Guard guard = alive;
    platform::ScannerOptions options;
    QString cache;
    QList<QImage> images;
    QStringList paths;
    QList<bool> progress;
    platform::ObserverToken progressToken;
};

} // namespace

TEST_F(ScannerServiceTest, ListsTwoDevicesAndScansOnePageAndAFeederBatch)
{
    std::optional<platform::Result<QList<platform::ScannerDevice>>> listed;
    service.listDevices(guard, [&](auto result) { listed = result; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return listed.has_value(); }));
    ASSERT_TRUE(*listed);
    ASSERT_EQ((*listed)->size(), 2);
    EXPECT_EQ((*listed)->at(1).name, QStringLiteral("test:1"));

    open();
    EXPECT_TRUE(options.sources.contains(QStringLiteral("Automatic Document Feeder")));
    EXPECT_TRUE(options.modes.contains(QStringLiteral("Color")));
    // The resolution is a fixed-point range here; read as numbers, not raw words.
    ASSERT_EQ(options.resolutions.size(), 2);
    EXPECT_DOUBLE_EQ(options.resolutions[1], 1200);
    EXPECT_GT(options.maximumArea.width(), 100);

    ScanSettings one;
    one.mode = QStringLiteral("Gray");
    one.resolution = 50;
    auto result = scan(one);
    ASSERT_TRUE(result) << result.error().message.toStdString();
    EXPECT_EQ(*result, 1);
    ASSERT_EQ(cacheFiles().size(), 1);
    EXPECT_EQ(images.first().format(), QImage::Format_Grayscale8);
    EXPECT_EQ(progress, (QList<bool>{true, false}));

    open(); // the test device counts its feeder's pages from the open
    ScanSettings feeder = one;
    feeder.source = QStringLiteral("Automatic Document Feeder");
    feeder.batch = true;
    feeder.resolution = 25;
    result = scan(feeder);
    ASSERT_TRUE(result) << result.error().message.toStdString();
    EXPECT_EQ(*result, 10);
    EXPECT_EQ(cacheFiles().size(), 11);

    // Colour in three passes and 16 bits, from a hand scanner that does not know its length.
    images.clear();
    ScanSettings colour;
    colour.source = QStringLiteral("Flatbed");
    colour.mode = QStringLiteral("Color");
    colour.resolution = 25;
    colour.extraOptions = {{QStringLiteral("depth"), 16}, {QStringLiteral("hand-scanner"), true},
                           {QStringLiteral("three-pass"), true}};
    result = scan(colour);
    ASSERT_TRUE(result) << result.error().message.toStdString();
    ASSERT_EQ(images.size(), 1);
    EXPECT_EQ(images.first().format(), QImage::Format_RGBX64);
}

TEST_F(ScannerServiceTest, JamsErrorsAndCancelEndTheScanWithNothingWritten)
{
    open(QStringLiteral("test:1"));
    for (const char* failure : {"SANE_STATUS_JAMMED", "SANE_STATUS_IO_ERROR"}) {
        ScanSettings settings;
        settings.resolution = 25;
        settings.extraOptions = {{QStringLiteral("read-return-value"), QString::fromLatin1(failure)}};
        const auto result = scan(settings);
        EXPECT_FALSE(result) << failure;
        EXPECT_TRUE(cacheFiles().isEmpty()) << failure;
        EXPECT_FALSE(service.isScanning());
    }

    ScanSettings slow;
    slow.resolution = 300;
    slow.extraOptions = {{QStringLiteral("read-return-value"), QStringLiteral("Default")},
                         {QStringLiteral("read-delay"), true},
                         {QStringLiteral("read-delay-duration"), 200000},
                         {QStringLiteral("read-limit"), true},
                         {QStringLiteral("read-limit-size"), 1}};
    startScan(slow);
    service.cancel();
    ASSERT_TRUE(waitForEnd());
    ASSERT_FALSE(*end);
    EXPECT_EQ(end->error().code, ScannerService::kCancelled);
    EXPECT_TRUE(cacheFiles().isEmpty());

    // After a shutdown, requests fail instead of waiting for ever.
    service.shutdown();
    std::optional<platform::Result<int>> late;
    service.scan(slow, cache, guard, {}, [&](platform::Result<int> result) { late = result; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return late.has_value(); }));
    EXPECT_FALSE(*late);
}
