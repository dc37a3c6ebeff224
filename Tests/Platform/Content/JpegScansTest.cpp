#include "Platform/Content/JpegScans.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <gtest/gtest.h>

using platform::JpegScans;

namespace {

int scansOf(const QByteArray& bytes, int stopAbove = 1000, qint64* readTo = nullptr)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const int scans = JpegScans::count(buffer, stopAbove);
    if (readTo)
        *readTo = buffer.pos();
    return scans;
}

QByteArray written(const QImage& image, bool progressive)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image));
    return jpeg;
}

// A segment with its length; a scan's header as a segment, then its coded bytes.
QByteArray segment(quint8 marker, const QByteArray& body)
{
    const int length = int(body.size()) + 2;
    return QByteArray("\xff") + char(marker) + char(length >> 8) + char(length & 0xff) + body;
}
QByteArray scan(const QByteArray& coded) { return segment(0xda, QByteArray::fromHex("010100003f00")) + coded; }

} // namespace

TEST(JpegScansTest, CountsTheScansOfWhatEncodersWrite)
{
    QImage colour(40, 30, QImage::Format_RGB32);
    colour.fill(QColor(200, 40, 90));
    EXPECT_EQ(scansOf(written(colour, false)), 1);
    // The usual progression: ten scans for colour, six for grey.
    EXPECT_EQ(scansOf(written(colour, true)), 10);
    EXPECT_EQ(scansOf(written(colour.convertToFormat(QImage::Format_Grayscale8), true)), 6);
}

// Coded bytes hold 0xFF only as a stuffed zero, a restart marker or fill before a marker: none
// of them ends a scan, and nothing after the end of the image counts. Bytes between segments
// are skipped as decoders skip them.
TEST(JpegScansTest, ReadsMarkersNotBytesThatLookLikeThem)
{
    // Ends in fill bytes, as coded bytes may before the marker that follows.
    const QByteArray coded = QByteArray::fromHex("12ff0034ffd05600ffd1ff00daffff");
    const QByteArray tables = segment(0xc4, QByteArray(20, '\xda'));
    QByteArray jpeg = QByteArray::fromHex("ffd8") + segment(0xe0, "JFIF\xff\xda") + scan(coded);
    jpeg += QByteArray::fromHex("ffd7") + tables + "stray" + scan(coded);
    jpeg += tables + scan(coded) + QByteArray::fromHex("ffd9") + scan(coded) + scan(coded);
    EXPECT_EQ(scansOf(jpeg), 3);

    // Cut anywhere, the count is what was seen up to the cut.
    EXPECT_EQ(scansOf(jpeg.left(jpeg.indexOf("stray"))), 1);
    EXPECT_EQ(scansOf(QByteArray::fromHex("ffd8ffda")), 1);

    EXPECT_EQ(scansOf({}), -1);
    EXPECT_EQ(scansOf(QByteArray::fromHex("89504e47")), -1);
}

// Thousands of nearly empty scans: the count stops past the bound and reads no further.
TEST(JpegScansTest, StopsSoonAfterTheBound)
{
    QByteArray jpeg = QByteArray::fromHex("ffd8");
    for (int i = 0; i < 5000; ++i)
        jpeg += scan(QByteArray(200, '\x55'));
    jpeg += QByteArray::fromHex("ffd9");

    EXPECT_EQ(scansOf(jpeg), 1001);
    qint64 readTo = 0;
    EXPECT_EQ(scansOf(jpeg, 100, &readTo), 101);
    EXPECT_LT(readTo, jpeg.size() / 2);
    EXPECT_EQ(scansOf(jpeg, 5000), 5000);
}
