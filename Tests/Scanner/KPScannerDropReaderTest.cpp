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
