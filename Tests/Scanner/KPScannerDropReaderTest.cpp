#include "Scanner/KPScannerDropReader.h"
#include "Scanner/KPScannerPixelBudget.h"
#include "Support/TestSupport.h"

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

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
