#include "Platform/Content/ImageDecodeLimit.h"
#include "Scanner/KPScannerDropReader.h"
#include "Scanner/KPScannerPixelBudget.h"
#include "Support/TestSupport.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <zlib.h>

namespace {

// Three pages of different widths, so the order shows in the sizes.
QString threePagePdf(const QString& folder)
{
    const QString path = folder + QStringLiteral("/three.pdf");
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(QSizeF(100, 200), QPageSize::Point, QString(), QPageSize::ExactMatch));
    QPainter painter(&writer);
    for (int width : {200, 300}) {
        writer.setPageSize(QPageSize(QSizeF(width, 200), QPageSize::Point, QString(), QPageSize::ExactMatch));
        writer.newPage();
    }
    painter.end();
    return path;
}

// pages pages of side × side points.
QString squarePagesPdf(const QString& folder, int pages, int side)
{
    const QString path = folder + QStringLiteral("/squares.pdf");
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(QSizeF(side, side), QPageSize::Point, QString(), QPageSize::ExactMatch));
    QPainter painter(&writer);
    for (int i = 1; i < pages; ++i)
        writer.newPage();
    painter.end();
    return path;
}

} // namespace

TEST(KPScannerDropReaderTest, PdfPagesInOrderImagesAsTheyAreAndBadFilesNamed)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("drop"));
    const QString pdf = threePagePdf(folder);

    QImage gray(40, 30, QImage::Format_Grayscale8);
    gray.fill(128);
    const QString png = folder + QStringLiteral("/gray.png");
    ASSERT_TRUE(gray.save(png));
    const QString text = folder + QStringLiteral("/notes.txt");
    testsupport::writeFile(text, "not a page");
    const QString broken = folder + QStringLiteral("/broken.pdf");
    testsupport::writeFile(broken, "%PDF-1.4\n1 0 obj << /Type /Catalog >> trailer garbage");

    QString encrypted = folder + QStringLiteral("/locked.pdf");
    try {
        // qpdf keeps the names it is given; they must outlive the writer.
        const QByteArray source = pdf.toLocal8Bit();
        const QByteArray target = encrypted.toLocal8Bit();
        QPDF document;
        document.processFile(source.constData());
        QPDFWriter writer(document, target.constData());
        writer.setR6EncryptionParameters("secret", "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
        writer.write();
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }

    const auto read = KPScannerDropReader::read({pdf, text, png, broken, encrypted, folder + QStringLiteral("/gone.png")});
    ASSERT_EQ(read.images.size(), 4);
    EXPECT_EQ(read.images[0].size(), QSize(100, 200));
    EXPECT_EQ(read.images[1].size(), QSize(200, 200));
    EXPECT_EQ(read.images[2].size(), QSize(300, 200));
    // A gray image stays gray: a third of the memory of RGBA.
    EXPECT_EQ(read.images[3].format(), QImage::Format_Grayscale8);
    ASSERT_EQ(read.errors.size(), 4);
    EXPECT_TRUE(read.errors[0].contains(QStringLiteral("notes.txt")));
    EXPECT_TRUE(read.errors[1].contains(QStringLiteral("broken.pdf")));
    EXPECT_TRUE(read.errors[2].contains(QStringLiteral("locked.pdf")));
}

TEST(KPScannerDropReaderTest, PagesPastTheWindowsPixelBudgetAreNeitherDrawnNorKept)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("drop"));
    const QString pdf = squarePagesPdf(folder, 10, 1000);
    QImage picture(1000, 1000, QImage::Format_RGB32);
    picture.fill(Qt::green);
    const QString png = folder + QStringLiteral("/picture.png");
    ASSERT_TRUE(picture.save(png));

    // Room for three and a half pages of a million pixels.
    const auto budget = std::make_shared<KPScannerPixelBudget>(3'500'000);
    const auto read = KPScannerDropReader::read({pdf, png}, budget);
    ASSERT_EQ(read.images.size(), 3);
    EXPECT_EQ(read.images[0].size(), QSize(1000, 1000));
    // What was kept is all that is taken: no share of pages drawn and dropped stays behind.
    EXPECT_EQ(read.reserved, 3'000'000);
    EXPECT_EQ(budget->used(), 3'000'000);
    ASSERT_EQ(read.errors.size(), 2);
    EXPECT_TRUE(read.errors[0].contains(QStringLiteral("first 3 pages of squares.pdf"))) << read.errors[0].toStdString();
    EXPECT_TRUE(read.errors[0].contains(QStringLiteral("3 million pixels"))) << read.errors[0].toStdString();
    EXPECT_TRUE(read.errors[1].contains(QStringLiteral("picture.png was left out"))) << read.errors[1].toStdString();

    // Once the pages are given back, the picture fits.
    budget->give(read.reserved);
    const auto again = KPScannerDropReader::read({png}, budget);
    ASSERT_EQ(again.images.size(), 1);
    EXPECT_EQ(budget->used(), 1'000'000);
}

namespace {

// A GIF whose logical screen is screen × screen around one 10 × 10 frame.
QByteArray gifWithScreen(quint16 screen)
{
    QByteArray gif("GIF89a");
    const auto u16 = [&gif](quint16 v) { gif.append(char(v & 0xff)).append(char(v >> 8)); };
    u16(screen);
    u16(screen);
    gif.append(3, '\0');                        // no global colours, background, aspect
    gif.append(char(0x2c));                     // the frame: at 0,0, 10 × 10, two local colours
    u16(0);
    u16(0);
    u16(10);
    u16(10);
    gif.append(char(0x80));
    gif.append(QByteArray::fromHex("000000ffffff"));
    gif.append(QByteArray::fromHex("02012c00")); // code size 2, one block: clear, end
    gif.append(char(0x3b));
    return gif;
}

// One page of width × height points, written as text with its offsets.
QByteArray onePagePdf(const QByteArray& width, const QByteArray& height)
{
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + width + " " + height + "] >>",
    };
    QByteArray pdf("%PDF-1.4\n");
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace

TEST(KPScannerDropReaderTest, ImagesAndPagesPastTheirCapsAreRefusedOrShrunkWhateverTheirHeadersSay)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("drop"));
    // The header speaks of the 10 × 10 frame; decoded, the screen would be 144 million pixels.
    const QString huge = folder + QStringLiteral("/screen.gif");
    testsupport::writeFile(huge, gifWithScreen(12000));
    const QString small = folder + QStringLiteral("/small.gif");
    testsupport::writeFile(small, gifWithScreen(20));
    // Shrunk by area to the page cap, this one's length alone would pass any int.
    const QString sliver = folder + QStringLiteral("/sliver.pdf");
    testsupport::writeFile(sliver, onePagePdf("1000000000000", "2"));

    const auto budget = std::make_shared<KPScannerPixelBudget>();
    const auto read = KPScannerDropReader::read({huge, small, sliver}, budget);
    ASSERT_EQ(read.images.size(), 2) << read.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(read.images[0].size(), QSize(20, 20));
    ASSERT_EQ(read.errors.size(), 1);
    EXPECT_TRUE(read.errors[0].contains(QStringLiteral("screen.gif"))) << read.errors[0].toStdString();
    // Nothing of the refused image stays taken.
    EXPECT_EQ(budget->used(), read.reserved);

    // The sliver keeps its length within the cap, one pixel high.
    const QSize page = read.images[1].size();
    EXPECT_EQ(page.height(), 1);
    EXPECT_GT(page.width(), 1'000'000);
    EXPECT_LE(qint64(page.width()) * page.height(), KPScannerDropReader::kMaxPdfPagePixels);
}

namespace {

// A PNG whose header says width × height in 8-bit RGBA, with one row of data only.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    const auto chunk = [](const QByteArray& type, const QByteArray& data) {
        QByteArray out;
        const quint32 length = quint32(data.size());
        for (int shift : {24, 16, 8, 0})
            out.append(char(length >> shift));
        const QByteArray body = type + data;
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size())));
        out += body;
        for (int shift : {24, 16, 8, 0})
            out.append(char(crc >> shift));
        return out;
    };
    QByteArray header;
    for (const quint32 v : {width, height})
        for (int shift : {24, 16, 8, 0})
            header.append(char(v >> shift));
    header += QByteArray::fromHex("0806000000"); // 8 bits, RGBA
    const QByteArray compressed = qCompress(QByteArray(5, '\0')).mid(4); // zlib stream of one short row
    return QByteArray::fromHex("89504e470d0a1a0a") + chunk("IHDR", header) + chunk("IDAT", compressed) + chunk("IEND", {});
}

// An icon whose directory speaks of 16 × 16 while its PNG holds side × side.
QByteArray icoAroundPng(int side)
{
    QImage picture(side, side, QImage::Format_Mono);
    picture.fill(0);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    const auto le = [](QByteArray& out, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char(v >> (8 * i)));
    };
    QByteArray ico;
    le(ico, 0, 2);
    le(ico, 1, 2); // an icon
    le(ico, 1, 2); // one image
    ico.append(char(16)).append(char(16)).append(char(0)).append(char(0));
    le(ico, 1, 2);
    le(ico, 32, 2);
    le(ico, quint32(png.size()), 4);
    le(ico, 22, 4); // right after the directory
    return ico + png;
}

// A progressive JPEG whose last scan (with the tables before it) comes scans - 9 more times:
// a decoder takes the repeats as one more pass over the picture each. A progressive colour
// JPEG of this writer has ten scans.
QByteArray jpegOfScans(int scans)
{
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(30, 120, 200));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    EXPECT_TRUE(writer.write(picture));
    const qsizetype lastScan = jpeg.lastIndexOf("\xff\xda");
    qsizetype from = jpeg.lastIndexOf("\xff\xc4", lastScan);
    if (from < 0)
        from = lastScan;
    EXPECT_TRUE(jpeg.endsWith("\xff\xd9"));
    const QByteArray repeated = jpeg.mid(from, jpeg.size() - 2 - from);
    QByteArray out = jpeg.left(jpeg.size() - 2);
    for (int i = 10; i < scans; ++i)
        out += repeated;
    return out + "\xff\xd9";
}

} // namespace

// The header's size is checked before decoding: a size past the cap is refused as too large,
// never handed to a decoder that would give up on it as unreadable (or, within the process's
// limit, decode it first). A GIF counts by the screen it is drawn into, which its header gives
// beside the small frame the reader reports.
TEST(KPScannerDropReaderTest, AHeaderPastTheCapIsRefusedBeforeDecoding)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("drop"));
    const QString claim = folder + QStringLiteral("/claim.png");
    testsupport::writeFile(claim, pngClaiming(20000, 20000));
    const QString screen = folder + QStringLiteral("/screen.gif");
    testsupport::writeFile(screen, gifWithScreen(20000));

    for (const QString& path : {claim, screen}) {
        const auto budget = std::make_shared<KPScannerPixelBudget>();
        const auto read = KPScannerDropReader::read({path}, budget);
        EXPECT_TRUE(read.images.isEmpty());
        ASSERT_EQ(read.errors.size(), 1);
        EXPECT_EQ(read.errors[0], QFileInfo(path).fileName() + QStringLiteral(" is too large to add as a page"));
        EXPECT_EQ(budget->used(), 0);
    }
}

// What a header does not tell is caught once decoded: an icon's directory speaks of 16 × 16
// pixels and its PNG holds more than the cap.
TEST(KPScannerDropReaderTest, ADecodedImagePastTheCapIsRefusedWhateverItsHeaderSaid)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("drop"));
    const QString icon = folder + QStringLiteral("/icon.ico");
    testsupport::writeFile(icon, icoAroundPng(1100));
    const QString fits = folder + QStringLiteral("/fits.ico");
    testsupport::writeFile(fits, icoAroundPng(900));

    KPScannerDropReader::Caps caps;
    caps.maxImagePixels = 1'000'000;
    const auto budget = std::make_shared<KPScannerPixelBudget>();
    const auto read = KPScannerDropReader::read({icon, fits}, budget, caps);
    ASSERT_EQ(read.images.size(), 1) << read.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(read.images[0].size(), QSize(900, 900));
    ASSERT_EQ(read.errors.size(), 1);
    EXPECT_EQ(read.errors[0], QStringLiteral("icon.ico is too large to add as a page"));
    EXPECT_EQ(budget->used(), read.reserved);
}

// A progressive JPEG is decoded one pass over the picture per scan: one of thousands of scans
// took a minute. Past the cap it is refused before decoding, and the window says why; a larger
// picture may have fewer scans, each pass costing more.
TEST(KPScannerDropReaderTest, AJpegOfTooManyScansIsRefusedWithTheReason)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("drop"));
    const QString many = folder + QStringLiteral("/many.jpg");
    testsupport::writeFile(many, jpegOfScans(KPScannerDropReader::kMaxJpegScans + 1));
    const QString enough = folder + QStringLiteral("/enough.jpg");
    testsupport::writeFile(enough, jpegOfScans(KPScannerDropReader::kMaxJpegScans));

    const auto budget = std::make_shared<KPScannerPixelBudget>();
    const auto read = KPScannerDropReader::read({many, enough}, budget);
    ASSERT_EQ(read.images.size(), 1);
    EXPECT_EQ(read.images[0].size(), QSize(64, 48));
    ASSERT_EQ(read.errors.size(), 1);
    EXPECT_EQ(read.errors[0], QStringLiteral("many.jpg is a JPEG of more than %1 scans, too many to decode as a page")
                                  .arg(KPScannerDropReader::kMaxJpegScans));
    EXPECT_EQ(budget->used(), read.reserved);

    // Room for 20 passes over this picture.
    KPScannerDropReader::Caps caps;
    caps.maxJpegScanPixels = 64 * 48 * 20;
    const QString twenty = folder + QStringLiteral("/twenty.jpg");
    testsupport::writeFile(twenty, jpegOfScans(20));
    const QString more = folder + QStringLiteral("/more.jpg");
    testsupport::writeFile(more, jpegOfScans(21));
    const auto large = KPScannerDropReader::read({twenty, more}, nullptr, caps);
    EXPECT_EQ(large.images.size(), 1);
    EXPECT_EQ(large.errors, QStringList{QStringLiteral("more.jpg is a JPEG of more than 20 scans, too many to decode as a page")});
}

// The decoder limit is the process's, shared by every reader: a drop leaves it as the program
// set it, whatever it read.
TEST(KPScannerDropReaderTest, ADropLeavesTheProcesssDecoderLimitAsItWas)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("drop"));
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    const QString png = folder + QStringLiteral("/picture.png");
    ASSERT_TRUE(picture.save(png));
    const QString claim = folder + QStringLiteral("/claim.png");
    testsupport::writeFile(claim, pngClaiming(20000, 20000));

    ASSERT_EQ(QImageReader::allocationLimit(), platform::ImageDecodeLimit::processMegabytes());
    const auto read = KPScannerDropReader::read({png, claim});
    EXPECT_EQ(read.images.size(), 1);
    EXPECT_EQ(QImageReader::allocationLimit(), platform::ImageDecodeLimit::processMegabytes());
}
