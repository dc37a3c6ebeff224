#include "../Content/ContentFixtures.h"

#include "Platform/Preview/PdfProbe.h"
#include "Platform/Preview/PreviewContentLoader.h"
#include "Support/TestSupport.h"

#include <QPdfDocument>
#include <QThread>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

using namespace platform;
using namespace contentfixtures;
using testsupport::writeFile;

namespace {

QByteArray passwordProtected(const QByteArray& pdf)
{
    QPDF document;
    document.processMemoryFile("fixture.pdf", pdf.constData(), size_t(pdf.size()));
    QPDFWriter writer(document);
    writer.setOutputMemory();
    writer.setR6EncryptionParameters("secret", "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
    writer.write();
    const auto buffer = writer.getBufferSharedPointer();
    return QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()), qsizetype(buffer->getSize()));
}

const char* kMail =
    "From: =?UTF-8?Q?Ren=C3=A9e?= <renee@example.org>\r\n"
    "To: Bob <bob@example.org>,\r\n"
    "\tCarol <carol@example.org>\r\n"
    "Subject: Invoice =?UTF-8?B?4oKs?=\r\n"
    "Date: Tue, 1 Dec 2026 10:00:00 +0000\r\n"
    "X-Nothing: kept out\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Total due: 12 =E2=82=AC.\r\n"
    "Subject: not a header here\r\n";

class PreviewContentLoaderTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir + QLatin1Char('/') + name; }
    QString dir = testsupport::makeTempDir(QStringLiteral("preview"));
};

} // namespace

TEST_F(PreviewContentLoaderTest, EachKindOfFileGetsItsReader)
{
    writePdf(path("three.pdf"), {"one", "two", "three"});
    QImage wide(40, 20, QImage::Format_RGB32);
    wide.fill(Qt::red);
    writeFile(path("phone.jpg"), jpegWithOrientation(wide, 6));
    writeFile(path("notes.md"), "# Heading\n\nSome *text*.\n");
    writeFile(path("page.html"), "<html><head><title>T</title><script>alert(1)</script></head>"
                                 "<body><p>Hello&nbsp;there</p></body></html>");
    writeFile(path("message.eml"), kMail);
    writeFile(path("blob.xyzunknown"), QByteArray("\x00\x01\x02\x03", 4));

    // The PDF is handed to the thread that shows it, with every page.
    QThread other;
    PreviewContent pdf = PreviewContentLoader::load(path("three.pdf"), &other);
    ASSERT_EQ(pdf.kind, PreviewKind::Pdf) << pdf.failure.toStdString();
    ASSERT_TRUE(pdf.pdf);
    EXPECT_EQ(pdf.pdf->pageCount(), 3);
    EXPECT_EQ(pdf.pdf->thread(), &other);

    // Phone pictures stand upright.
    PreviewContent jpeg = PreviewContentLoader::load(path("phone.jpg"), nullptr);
    ASSERT_EQ(jpeg.kind, PreviewKind::Image);
    EXPECT_EQ(jpeg.image.size(), QSize(20, 40));

    PreviewContent markdown = PreviewContentLoader::load(path("notes.md"), nullptr);
    EXPECT_EQ(markdown.kind, PreviewKind::Text);
    EXPECT_TRUE(markdown.text.contains("Some *text*."));
    EXPECT_FALSE(markdown.truncated);

    // HTML shows as its text: no markup, no script.
    PreviewContent html = PreviewContentLoader::load(path("page.html"), nullptr);
    EXPECT_EQ(html.kind, PreviewKind::Text);
    EXPECT_TRUE(html.text.contains(QStringLiteral("Hello\u00A0there")) || html.text.contains("Hello there"));
    EXPECT_FALSE(html.text.contains("alert"));
    EXPECT_FALSE(html.text.contains("<p>"));

    // The headers once, labelled and decoded, then the body.
    PreviewContent mail = PreviewContentLoader::load(path("message.eml"), nullptr);
    ASSERT_EQ(mail.kind, PreviewKind::Mail) << mail.failure.toStdString();
    const QStringList lines = mail.text.split('\n');
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines[0], QStringLiteral("From: Renée <renee@example.org>"));
    EXPECT_EQ(lines[1], QStringLiteral("To: Bob <bob@example.org>, Carol <carol@example.org>"));
    EXPECT_EQ(lines[2], QStringLiteral("Date: Tue, 1 Dec 2026 10:00:00 +0000"));
    EXPECT_EQ(lines[3], QStringLiteral("Subject: Invoice €"));
    EXPECT_EQ(lines[4], QString());
    EXPECT_EQ(lines[5], QStringLiteral("Total due: 12 €."));
    EXPECT_EQ(mail.text.count(QStringLiteral("Invoice")), 1);
    EXPECT_FALSE(mail.text.contains("kept out"));

    // Unknown kinds get the info page with the facts, and no complaint.
    PreviewContent unknown = PreviewContentLoader::load(path("blob.xyzunknown"), nullptr);
    EXPECT_EQ(unknown.kind, PreviewKind::Info);
    EXPECT_TRUE(unknown.failure.isEmpty());
    EXPECT_EQ(unknown.facts.name, QStringLiteral("blob.xyzunknown"));
    EXPECT_EQ(unknown.facts.size, 4);
    EXPECT_TRUE(unknown.facts.modified.isValid());
    EXPECT_FALSE(unknown.image.isNull());
}

TEST_F(PreviewContentLoaderTest, TextStopsAtTheCapWithoutBreakingACharacter)
{
    const qint64 cap = PreviewContentLoader::kTextCapBytes;
    // A two-byte character straddles the cap: the cut must not make the text look like
    // Windows-1252 (every "é" turned into "Ã©").
    QByteArray bytes(cap - 1, 'a');
    bytes += "\xC3\xA9 tail é\n";
    bytes += QByteArray(cap, 'b');
    writeFile(path("big.log"), bytes);
    PreviewContent big = PreviewContentLoader::load(path("big.log"), nullptr);
    ASSERT_EQ(big.kind, PreviewKind::Text);
    EXPECT_TRUE(big.truncated);
    EXPECT_LE(big.text.size(), cap);
    EXPECT_GE(big.text.size(), cap - 1);
    EXPECT_FALSE(big.text.contains(QStringLiteral("Ã")));
    EXPECT_FALSE(big.text.contains('b'));

    // Exactly the cap is the whole file.
    writeFile(path("exact.txt"), QByteArray(cap, 'c'));
    PreviewContent exact = PreviewContentLoader::load(path("exact.txt"), nullptr);
    EXPECT_FALSE(exact.truncated);
    EXPECT_EQ(exact.text.size(), cap);

    writeFile(path("empty.txt"), QByteArray());
    PreviewContent empty = PreviewContentLoader::load(path("empty.txt"), nullptr);
    EXPECT_NE(empty.kind, PreviewKind::Pdf);
    EXPECT_TRUE(empty.text.isEmpty());
}

TEST_F(PreviewContentLoaderTest, FilesTheirReadersRefuseShowTheInfoPageWithTheReason)
{
    writeFile(path("broken.pdf"), "%PDF-1.7\n1 0 obj << /Type /Catalog >> garbage\n%%EOF\n");
    writeFile(path("locked.pdf"), passwordProtected(pdfBytes({"secret page"})));
    writeFile(path("fake.png"), "this is no picture at all");
    writeFile(path("fake.eml"), "no headers here, just words\n");
    writeFile(path("fake.docx"), "not a zip");

    for (const char* name : {"broken.pdf", "locked.pdf", "fake.png", "fake.eml", "fake.docx", "missing.pdf"}) {
        SCOPED_TRACE(name);
        PreviewContent content = PreviewContentLoader::load(path(name), nullptr);
        EXPECT_EQ(content.kind, PreviewKind::Info);
        EXPECT_FALSE(content.failure.isEmpty());
        EXPECT_FALSE(content.pdf);
        EXPECT_EQ(content.facts.name, QString::fromLatin1(name));
        EXPECT_FALSE(content.image.isNull()) << "the type's icon stands in";
    }
    EXPECT_TRUE(PreviewContentLoader::load(path("locked.pdf"), nullptr).failure.contains("password"));
    const PreviewContent missing = PreviewContentLoader::load(path("missing.pdf"), nullptr);
    EXPECT_FALSE(missing.facts.exists);
    EXPECT_EQ(missing.facts.size, -1);
    EXPECT_TRUE(missing.imageIsFileIcon);

    // The library's stored thumbnail pictures the file when there is one; a damaged one gives
    // way to the icon.
    QImage stored(300, 200, QImage::Format_RGB32);
    stored.fill(Qt::green);
    writeFile(path("thumb.png"), pngBytes(stored));
    writeFile(path("bad-thumb.png"), "no png");
    const PreviewContent pictured = PreviewContentLoader::load(path("broken.pdf"), nullptr, path("thumb.png"));
    EXPECT_FALSE(pictured.imageIsFileIcon);
    EXPECT_EQ(pictured.image.size(), stored.size());
    EXPECT_TRUE(PreviewContentLoader::load(path("broken.pdf"), nullptr, path("bad-thumb.png")).imageIsFileIcon);
}

TEST_F(PreviewContentLoaderTest, MailHeadersSurviveHostileHeaderBlocks)
{
    // Continuations before any header, lines without a colon, a repeated header (the first
    // wins), a bare LF message without a body, and nothing at all.
    const QByteArray odd = " stray continuation\n"
                           "no colon line\n"
                           ": empty name\n"
                           "Subject: first\n"
                           "Subject: second\n"
                           "FROM: a@b\n"
                           "  (folded comment)\n";
    const auto headers = PreviewContentLoader::mailHeaders(odd);
    ASSERT_EQ(headers.size(), 2);
    EXPECT_EQ(headers[0], (std::pair<QByteArray, QString>{"subject", QStringLiteral("first")}));
    EXPECT_EQ(headers[1], (std::pair<QByteArray, QString>{"from", QStringLiteral("a@b (folded comment)")}));
    EXPECT_TRUE(PreviewContentLoader::mailHeaders({}).isEmpty());
    EXPECT_TRUE(PreviewContentLoader::mailHeaders("\r\n\r\nSubject: in the body\r\n").isEmpty());
    EXPECT_FALSE(PreviewContentLoader::mailPreview("just text").has_value());
}

TEST_F(PreviewContentLoaderTest, EveryShownTextIsCappedAndItsLongLinesBroken)
{
    // A Subject of megabytes passed the file cap and froze the window for minutes.
    QByteArray mail = "From: a@b\r\nSubject: " + QByteArray(3 * 1024 * 1024, 'S') + "\r\n\r\nBody\r\n";
    writeFile(path("huge-subject.eml"), mail);
    const PreviewContent shown = PreviewContentLoader::load(path("huge-subject.eml"), nullptr);
    ASSERT_EQ(shown.kind, PreviewKind::Mail);
    EXPECT_LE(shown.text.size(), PreviewContentLoader::kTextCapBytes);
    const QStringList lines = shown.text.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("From: a@b")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Subject: SSS")));
    EXPECT_LE(lines[1].size(), PreviewContentLoader::kHeaderCapChars + 16);
    EXPECT_TRUE(shown.text.contains(QStringLiteral("Body")));

    // Lines are broken for the text view; nothing is lost, and a character outside the BMP
    // is never split.
    const qsizetype n = PreviewContentLoader::kShownLineChars;
    QString text = QString(n - 1, QLatin1Char('x')) + QString::fromUtf8("\xF0\x9F\x98\x80") + QString(2 * n, QLatin1Char('y'))
        + QStringLiteral("\nshort\n") + QString(n, QLatin1Char('z'));
    const QString broken = PreviewContentLoader::breakLongLines(text);
    for (const QString& line : broken.split(QLatin1Char('\n'))) {
        EXPECT_LE(line.size(), n + 1);
        EXPECT_FALSE(!line.isEmpty() && line.front().isLowSurrogate());
    }
    EXPECT_EQ(QString(broken).remove(QLatin1Char('\n')), QString(text).remove(QLatin1Char('\n')));
    EXPECT_EQ(broken.count(QLatin1Char('\n')), 2 + 2);
    const QString plain = QStringLiteral("a\nb");
    EXPECT_EQ(PreviewContentLoader::breakLongLines(plain), plain);
}

namespace {

// A PDF of the given objects (numbered from 1, the first the catalog) with a correct xref.
QByteArray pdfOfObjects(const QList<QByteArray>& objects)
{
    QByteArray out = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
        + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

} // namespace

TEST_F(PreviewContentLoaderTest, APdfThePdfLibraryNeverFinishesCostsAKillableHelperOnly)
{
    // The page tree lists itself: opened in this process, the library would spin for good and
    // keep its lock, so no PDF would be shown again and the quit would wait for the reader.
    writeFile(path("loop.pdf"), pdfOfObjects({"<< /Type /Catalog /Pages 2 0 R >>",
                                              "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>",
                                              "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"}));
    writeFile(path("good.pdf"), pdfBytes({"one", "two", "three"}));
    EXPECT_EQ(PdfProbe::check(path("loop.pdf"), QDeadlineTimer(300)), PdfProbe::Outcome::TimedOut);
    EXPECT_EQ(PdfProbe::check(path("good.pdf"), QDeadlineTimer(PdfProbe::kTimeoutMs)), PdfProbe::Outcome::Readable);

    // A read no longer wanted (or the quit) ends the check at once.
    int asked = 0;
    const PreviewContent dropped = PreviewContentLoader::load(path("loop.pdf"), nullptr, {}, [&] { return ++asked > 3; });
    EXPECT_EQ(dropped.kind, PreviewKind::Info);
    EXPECT_FALSE(dropped.pdf);
    EXPECT_FALSE(dropped.failure.isEmpty());

    const PreviewContent shown = PreviewContentLoader::load(path("good.pdf"), nullptr);
    ASSERT_EQ(shown.kind, PreviewKind::Pdf);
    ASSERT_TRUE(shown.pdf);
    EXPECT_EQ(shown.pdf->pageCount(), 3);
}

TEST_F(PreviewContentLoaderTest, AFifoOrDeviceIsNoFileToRead)
{
    // Opening a FIFO waits for a writer that never comes: the reader, the next previews and
    // the quit would wait with it.
    for (const char* name : {"pipe.txt", "pipe.eml", "pipe.pdf", "pipe.png"}) {
        SCOPED_TRACE(name);
        const QByteArray fifo = QFile::encodeName(path(name));
        ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
        auto read = std::async(std::launch::async, [&] { return PreviewContentLoader::load(path(name), nullptr); });
        if (!testsupport::spinUntil([&] { return read.wait_for(std::chrono::seconds(0)) == std::future_status::ready; })) {
            const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);   // lets the reader go
            ADD_FAILURE() << "the read blocked";
            if (writer >= 0)
                ::close(writer);
        }
        const PreviewContent content = read.get();
        EXPECT_EQ(content.kind, PreviewKind::Info);
        EXPECT_FALSE(content.failure.isEmpty());
    }
    EXPECT_EQ(PreviewContentLoader::load(QStringLiteral("/dev/zero"), nullptr).kind, PreviewKind::Info);
}
