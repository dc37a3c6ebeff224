// PDFs as previews, the full-text index and the author look-up read them. Each sample is held
// against QtPdf, the engine of the program's PDF viewer: a preview should look like the page
// the viewer shows and the index should find the words the viewer finds.
#include "ContentFixtures.h"
#include "Platform/Content/ContentPreview.h"
#include "Platform/Content/PdfContent.h"
#include "Platform/Content/TextExtractor.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

#include <atomic>
#include <exception>
#include <thread>
#include <vector>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

using namespace platform;
using namespace contentfixtures;
using testsupport::makeTempDir;
using testsupport::writeFile;

namespace {

const QSize kBox(512, 512);

QStringList gardenLines()
{
    return {QStringLiteral("Quarterly report of the garden club"),
            QStringLiteral("Tomatoes, beans and courgettes grew well."),
            QString::fromUtf8("Caf\u00e9 na\u00efve r\u00e9sum\u00e9 \u00fcber Stra\u00dfe")};
}

// A red block beside the text, so a page drawn the wrong way round shows it.
QByteArray gardenPage()
{
    return textLines(gardenLines()) + "0.9 0.1 0.1 rg 60 100 200 120 re f\n";
}

// "figures" and "flowers" set with the font's fi and fl ligature glyphs.
QByteArray ligaturePdf()
{
    QList<QByteArray> objects = handPdfObjects({{.content = "BT /F2 24 Tf 60 600 Td (\\200gures and \\201owers) Tj ET"}});
    objects[3] = objects[3].replace("/F1 3 0 R", "/F1 3 0 R /F2 6 0 R");
    // Producers say what a ligature glyph means through a ToUnicode map: the one character.
    objects.append("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding << /Type /Encoding "
                   "/BaseEncoding /WinAnsiEncoding /Differences [128 /fi /fl] >> /ToUnicode 7 0 R >>");
    objects.append(pdfStream("/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /Lig def "
                             "1 begincodespacerange <00> <FF> endcodespacerange "
                             "2 beginbfchar <80> <FB01> <81> <FB02> endbfchar "
                             "endcmap CMapName currentdict /CMap defineresource pop end end"));
    return pdfFromObjects(objects);
}

// The PDF encrypted by qpdf: userPassword empty makes a file anyone may open (owner-only
// protection). revision 6 is AES-256, 4 AES-128, 3 RC4.
QByteArray encryptedPdf(const QByteArray& pdf, const char* userPassword, int revision)
{
    try {
        QPDF document;
        document.processMemoryFile("fixture.pdf", pdf.constData(), size_t(pdf.size()));
        QPDFWriter writer(document);
        writer.setOutputMemory();
        writer.setStaticID(true);
        switch (revision) {
        case 6:
            writer.setR6EncryptionParameters(userPassword, "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
            break;
        case 4:
            writer.setR4EncryptionParametersInsecure(userPassword, "owner", true, true, true, true, true, true,
                                                     qpdf_r3p_full, true, true);
            break;
        default:
            writer.setR3EncryptionParametersInsecure(userPassword, "owner", true, true, true, true, true, true,
                                                     qpdf_r3p_full);
        }
        writer.write();
        const auto buffer = writer.getBufferSharedPointer();
        return QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()), qsizetype(buffer->getSize()));
    } catch (const std::exception& e) {
        ADD_FAILURE() << "qpdf: " << e.what();
        return {};
    }
}

struct Sample {
    QString name;
    QByteArray bytes;
};

// What users' PDFs look like, in small: typeset pages, turned and cropped pages, a long
// document, ligatures, and a file protected only against changes.
QList<Sample> corpus()
{
    QList<Sample> samples{{QStringLiteral("typeset.pdf"),
                           pdfBytes({QString::fromUtf8("Premi\u00e8re page d\u00e9j\u00e0 \u00e9t\u00e9"),
                                     QString::fromUtf8("Zweite Seite Gr\u00f6\u00dfe Stra\u00dfe"),
                                     QString::fromUtf8("\u0422\u0440\u0435\u0442\u044c\u044f \u0441\u0442\u0440\u0430\u043d\u0438\u0446\u0430")})}};
    for (const int rotate : {0, 90, 180, 270})
        samples.append({QStringLiteral("turned-%1.pdf").arg(rotate), handPdf({{.rotate = rotate, .content = gardenPage()}})});
    samples.append({QStringLiteral("landscape.pdf"),
                    handPdf({{.mediaBox = "0 0 842 595", .content = textLines(gardenLines(), 14, 540) +
                                                                      "0.1 0.3 0.9 rg 300 50 500 300 re f\n"}})});
    samples.append({QStringLiteral("cropped.pdf"),
                    handPdf({{.content = textLines({QStringLiteral("only the middle shows")}, 14, 600) +
                                         "0 0.6 0 rg 0 0 612 200 re f\n",
                              .pageExtra = "/CropBox [50 150 562 650]"}})});
    QList<HandPage> many;
    for (int i = 0; i < 300; ++i)
        many.append({.content = textLines({QStringLiteral("Page %1 of many, word%1").arg(i)})});
    samples.append({QStringLiteral("many-pages.pdf"), handPdf(many)});
    samples.append({QStringLiteral("ligatures.pdf"), ligaturePdf()});
    samples.append({QStringLiteral("owner-only.pdf"), encryptedPdf(handPdf({{.content = gardenPage()}}), "", 6)});
    return samples;
}

QStringList writeCorpus(const QString& dir)
{
    QStringList paths;
    for (const Sample& sample : corpus()) {
        writeFile(dir + QLatin1Char('/') + sample.name, sample.bytes);
        paths.append(dir + QLatin1Char('/') + sample.name);
    }
    return paths;
}

QSet<QString> wordsOf(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[^\\p{L}\\p{N}]+"));
    const QStringList words = text.split(separators, Qt::SkipEmptyParts);
    return QSet<QString>(words.begin(), words.end());
}

struct ViewerReading {
    QPdfDocument::Error error = QPdfDocument::Error::None;
    int pages = 0;
    QString text;
    QImage firstPage;
};

ViewerReading viewerReading(const QString& path)
{
    ViewerReading reading;
    QPdfDocument document;
    reading.error = document.load(path);
    if (reading.error != QPdfDocument::Error::None)
        return reading;
    reading.pages = document.pageCount();
    if (reading.pages <= 0)
        return reading;
    for (int page = 0; page < reading.pages; ++page)
        reading.text += document.getAllText(page).text() + QLatin1Char('\n');
    const QSize size = document.pagePointSize(0).scaled(QSizeF(kBox), Qt::KeepAspectRatio).toSize();
    reading.firstPage = QImage(size, QImage::Format_RGB32);
    reading.firstPage.fill(Qt::white);
    QPainter(&reading.firstPage).drawImage(0, 0, document.render(0, size));
    return reading;
}

// Mean difference of grey levels (0–255) at an eighth of the size: fonts substituted or
// smoothed differently move a few pixels, a page turned or missing a block does not pass.
double coarseDifference(const QImage& a, const QImage& b)
{
    const QSize coarse = a.size() / 8;
    const auto grey = [&](const QImage& image) {
        return image.convertToFormat(QImage::Format_Grayscale8).scaled(coarse, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    };
    const QImage x = grey(a), y = grey(b);
    double sum = 0;
    for (int row = 0; row < coarse.height(); ++row)
        for (int col = 0; col < coarse.width(); ++col)
            sum += std::abs(int(x.constScanLine(row)[col]) - int(y.constScanLine(row)[col]));
    return sum / (coarse.width() * coarse.height());
}

Result<QImage> firstPage(const QString& path, const ExtractionLimits& limits = ExtractionLimits::forPreview())
{
    ExtractionContext ctx(limits);
    return PdfContent::renderFirstPage(path, kBox, ctx);
}

Result<ExtractedText> textOf(const QString& path, const ExtractionLimits& limits = {})
{
    ExtractionContext ctx(limits);
    return PdfContent::extractText(path, ctx);
}

int errorOf(const auto& result)
{
    return result ? 0 : result.error().code;
}

} // namespace

TEST(PdfContentTest, PreviewsAndTextMatchTheViewer)
{
    const QString dir = makeTempDir();
    for (const QString& path : writeCorpus(dir)) {
        SCOPED_TRACE(path.toStdString());
        const ViewerReading viewer = viewerReading(path);
        ASSERT_EQ(viewer.error, QPdfDocument::Error::None);
        const auto text = textOf(path);
        ASSERT_TRUE(text.has_value()) << text.error().toString().toStdString();
        EXPECT_EQ(wordsOf(text->text), wordsOf(viewer.text)) << text->text.toStdString();
        EXPECT_FALSE(text->truncated);

        const auto image = firstPage(path);
        ASSERT_TRUE(image.has_value()) << image.error().toString().toStdString();
        EXPECT_EQ(image->size(), viewer.firstPage.size());
        EXPECT_FALSE(image->hasAlphaChannel());
        EXPECT_LT(coarseDifference(*image, viewer.firstPage), 3.0);
    }

    // What the comparison rests on, said plainly for the cases that went wrong elsewhere.
    EXPECT_TRUE(textOf(dir + "/many-pages.pdf")->text.contains(QStringLiteral("word299")));
    EXPECT_TRUE(textOf(dir + "/ligatures.pdf")->text.contains(QStringLiteral("figures and flowers")));
    EXPECT_EQ(textOf(dir + "/typeset.pdf")->title, QStringLiteral("Fixture"));
    const QImage turned = *firstPage(dir + "/turned-90.pdf");
    EXPECT_GT(turned.width(), turned.height());
    // Turned clockwise, the red block low on the left of the page ends up top left.
    const QRgb block = turned.pixel(turned.width() / 5, turned.height() / 5);
    EXPECT_TRUE(qRed(block) > 180 && qGreen(block) < 90) << std::hex << block;
}

TEST(PdfContentTest, ProtectedAndDamagedFilesGetTheViewersVerdict)
{
    const QString dir = makeTempDir();
    const QByteArray plain = handPdf({{.content = gardenPage()}});
    for (const int revision : {6, 4, 3}) {
        const QString path = dir + QStringLiteral("/locked-r%1.pdf").arg(revision);
        writeFile(path, encryptedPdf(plain, "secret", revision));
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(viewerReading(path).error, QPdfDocument::Error::IncorrectPassword);
        EXPECT_EQ(errorOf(textOf(path)), ContentError::Encrypted);
        EXPECT_EQ(errorOf(firstPage(path)), ContentError::Encrypted);
        ExtractionContext ctx;
        EXPECT_EQ(errorOf(PdfContent::infoField(path, QStringLiteral("Author"), ctx)), ContentError::Encrypted);
    }

    const QList<Sample> damaged{
        {QStringLiteral("cut.pdf"), plain.left(plain.size() / 2)},
        {QStringLiteral("garbage.pdf"), "Just some text, no PDF at all.\n"},
        {QStringLiteral("empty.pdf"), ""},
        {QStringLiteral("no-pages.pdf"), pdfFromObjects({"<< /Type /Catalog /Pages 2 0 R >>",
                                                         "<< /Type /Pages /Kids [] /Count 0 >>"})},
    };
    for (const Sample& sample : damaged) {
        const QString path = dir + QLatin1Char('/') + sample.name;
        writeFile(path, sample.bytes);
        SCOPED_TRACE(path.toStdString());
        const ViewerReading viewer = viewerReading(path);
        EXPECT_TRUE(viewer.error != QPdfDocument::Error::None || viewer.pages == 0);
        EXPECT_EQ(errorOf(textOf(path)), ContentError::Unreadable);
        EXPECT_EQ(errorOf(firstPage(path)), ContentError::Unreadable);
        // The import still gets a picture: the icon of the kind.
        EXPECT_FALSE(ContentPreview::shared().preview(path, QSize(64, 64)).isNull());
    }
    EXPECT_EQ(errorOf(textOf(dir + "/missing.pdf")), ContentError::NotFound);

    // A page tree whose node lists itself among its kids: the viewer's engine never returns
    // from it; ours must.
    const QString loop = dir + "/kids-loop.pdf";
    writeFile(loop, pdfFromObjects({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>",
                                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"}));
    (void)textOf(loop);
    (void)firstPage(loop);
}

// Two pages that take poppler far longer than any deadline: forms that each draw the next a
// hundred times (10^8 operations, which poppler interrupts when asked), and one image that
// claims 30000×30000 pixels from a few bytes (which it draws to the end without asking). The
// caller has its answer shortly after the deadline either way.
TEST(PdfContentTest, PagesThatWouldTakeForeverAreGivenUpAtTheDeadline)
{
    const QString dir = makeTempDir();
    QList<QByteArray> forms = handPdfObjects({{.content = "/X1 Do"}});
    forms[3].replace("/Font << /F1 3 0 R >>", "/Font << /F1 3 0 R >> /XObject << /X1 6 0 R >>");
    for (int level = 1; level <= 4; ++level) {
        const QByteArray next = "/X" + QByteArray::number(level + 1);
        const QByteArray resources = level == 4 ? "/Font << /F1 3 0 R >>"
                                                : "/XObject << " + next + " " + QByteArray::number(6 + level) + " 0 R >>";
        const QByteArray content = (level == 4 ? QByteArray("BT /F1 1 Tf (ab) Tj ET\n") : next + " Do\n").repeated(100);
        forms.append(pdfStream(content, "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << " + resources + " >> "));
    }
    writeFile(dir + "/forms.pdf", pdfFromObjects(forms));
    QList<QByteArray> image = handPdfObjects({{.content = "q 400 0 0 400 100 300 cm /Im1 Do Q"}});
    image[3].replace("/Font << /F1 3 0 R >>", "/XObject << /Im1 6 0 R >>");
    image.append(pdfStream(QByteArray(32 * 32 * 3, '\x80'), "/Type /XObject /Subtype /Image /Width 30000 /Height 30000 "
                                                           "/ColorSpace /DeviceRGB /BitsPerComponent 8 "));
    writeFile(dir + "/lying-image.pdf", pdfFromObjects(image));

    ExtractionLimits limits = ExtractionLimits::forPreview();
    limits.timeoutMs = 100;
    EXPECT_EQ(errorOf(firstPage(dir + "/forms.pdf", limits)), ContentError::TimedOut);
    const auto text = textOf(dir + "/forms.pdf", limits);
    EXPECT_TRUE(!text ? text.error().code == ContentError::TimedOut : text->truncated);
    EXPECT_TRUE(PdfContent::waitForJobs(QDeadlineTimer(std::chrono::seconds(30)))) << "poppler did not stop when asked";

    EXPECT_EQ(errorOf(firstPage(dir + "/lying-image.pdf", limits)), ContentError::TimedOut);
    EXPECT_GT(PdfContent::runningJobs(), 0) << "the answer came only when the drawing was done";
    // Reading text skips pictures: the same file reads at once.
    EXPECT_TRUE(textOf(dir + "/lying-image.pdf").has_value());
    EXPECT_TRUE(PdfContent::waitForJobs(QDeadlineTimer(std::chrono::minutes(5))));
}

// Previews are made by several workers at once, each with its own document: what four make
// side by side must be what one makes alone.
TEST(PdfContentTest, FourWorkersDrawAndReadWhatOneDoes)
{
    const QStringList paths = writeCorpus(makeTempDir());
    QList<QImage> images;
    QStringList texts;
    for (const QString& path : paths) {
        images.append(firstPage(path).value_or(QImage()));
        texts.append(textOf(path).value_or(ExtractedText{}).text);
        ASSERT_FALSE(images.back().isNull()) << path.toStdString();
    }

    constexpr int kWorkers = 4;
    constexpr int kRounds = 3;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < kWorkers; ++worker) {
        workers.emplace_back([&, worker] {
            for (int n = 0; n < kRounds * paths.size(); ++n) {
                // Each worker starts elsewhere in the list, so different files overlap.
                const int i = int((n + worker * 3) % paths.size());
                if (firstPage(paths[i]).value_or(QImage()) != images[i])
                    ++mismatches;
                if (textOf(paths[i]).value_or(ExtractedText{}).text != texts[i])
                    ++mismatches;
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// The first pages a process ever draws and reads, on four threads at once: what the import's
// preview workers and the indexer do at their first PDFs. Only a process of its own starts
// with nothing drawn yet; under the thread sanitizer a race there fails the child.
TEST(PdfContentTest, FirstPagesOfAProcessDrawnOnFourThreadsAtOnce)
{
    const QString dir = makeTempDir();
    writeCorpus(dir);
    testsupport::ChildProcess child({QStringLiteral("--gtest_also_run_disabled_tests"),
                                     QStringLiteral("--gtest_filter=PdfContentChild.DISABLED_FirstPagesOnFourThreads")},
                                    {{QStringLiteral("FOLIVO_PDF_CORPUS"), dir}});
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitForFinished(300000));
    EXPECT_TRUE(child.exitedNormally());
    EXPECT_EQ(child.exitCode(), 0) << child.standardOutput().toStdString() << child.standardError().toStdString();
}

TEST(PdfContentChild, DISABLED_FirstPagesOnFourThreads)
{
    const QString dir = qEnvironmentVariable("FOLIVO_PDF_CORPUS");
    if (dir.isEmpty())
        GTEST_SKIP();
    QStringList paths = QDir(dir).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(paths.isEmpty());
    constexpr int kWorkers = 4;
    std::atomic<int> waiting{kWorkers};
    std::atomic<int> drawn{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < kWorkers; ++worker) {
        workers.emplace_back([&, worker] {
            --waiting;
            while (waiting.load() > 0) {
            }
            const QString path = dir + QLatin1Char('/') + paths[worker % paths.size()];
            if (worker % 2 == 0 ? firstPage(path).has_value() : textOf(path).has_value())
                ++drawn;
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(drawn.load(), kWorkers);
}
