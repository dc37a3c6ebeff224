#include "ContentFixtures.h"
#include "Platform/Content/ContentPreview.h"
#include "Platform/Content/TextExtractor.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

using namespace platform;
using namespace contentfixtures;
using testsupport::makeTempDir;
using testsupport::writeFile;

namespace {

QString extractOk(const QString& path, const ExtractionLimits& limits = {})
{
    auto result = TextExtractor::shared().extract(path, limits);
    EXPECT_TRUE(result.has_value()) << path.toStdString() << ": "
                                    << (result ? "" : result.error().toString().toStdString());
    return result ? result->text : QString();
}

int errorCode(const QString& path, const ExtractionLimits& limits = {})
{
    auto result = TextExtractor::shared().extract(path, limits);
    EXPECT_FALSE(result.has_value()) << path.toStdString() << " unexpectedly gave: "
                                     << (result ? result->text.left(80).toStdString() : "");
    return result ? 0 : result.error().code;
}

QByteArray gzip(const QByteArray& data)
{
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&zs, uLong(data.size())) + 32), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

} // namespace

// One document of each kind, with accented French and German words, read back.
TEST(TextExtractorTest, ReadsEachKindOfDocument)
{
    const QString dir = makeTempDir();

    writePdf(dir + "/a.pdf", {QStringLiteral("Première page déjà été"), QStringLiteral("Zweite Seite Größe Straße")});
    const QString pdf = extractOk(dir + "/a.pdf");
    EXPECT_TRUE(pdf.contains(QStringLiteral("déjà été"))) << pdf.toStdString();
    EXPECT_TRUE(pdf.contains(QStringLiteral("Größe Straße"))) << pdf.toStdString();
    EXPECT_LT(pdf.indexOf(QStringLiteral("Première")), pdf.indexOf(QStringLiteral("Zweite")));

    writeZip(dir + "/a.docx", docxEntries(QStringLiteral(
        "<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr>"
        "<w:r><w:t>Bonjour</w:t></w:r><w:r><w:tab/><w:t xml:space=\"preserve\"> le monde</w:t></w:r></w:p>"
        "<w:p><w:r><w:delText>supprimé</w:delText><w:instrText>HYPERLINK</w:instrText><w:t>Ende</w:t></w:r></w:p>")));
    EXPECT_EQ(extractOk(dir + "/a.docx"), QStringLiteral("Bonjour\t le monde\nEnde"));

    writeZip(dir + "/a.xlsx",
             {{"xl/sharedStrings.xml",
               "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
               "<si><t>Menge</t></si><si><r><t>Grü</t></r><r><t>ße</t></r><rPh><t>ignored</t></rPh></si></sst>"},
              {"xl/worksheets/sheet10.xml", "<worksheet><sheetData><row><c t=\"s\"><v>1</v></c></row></sheetData></worksheet>"},
              {"xl/worksheets/sheet2.xml",
               "<worksheet><sheetData><row><c t=\"s\"><v>0</v></c><c><v>42</v></c>"
               "<c t=\"inlineStr\"><is><t>inline</t></is></c><c t=\"s\"><v>99</v></c></row></sheetData></worksheet>"}});
    EXPECT_EQ(extractOk(dir + "/a.xlsx"), QStringLiteral("Menge\t42\tinline\nGrüße"));

    writeZip(dir + "/a.pptx",
             {{"ppt/slides/slide10.xml", "<p:sld xmlns:a=\"a\" xmlns:p=\"p\"><a:p><a:r><a:t>last</a:t></a:r></a:p></p:sld>"},
              {"ppt/slides/slide2.xml", "<p:sld xmlns:a=\"a\" xmlns:p=\"p\"><a:p><a:r><a:t>first</a:t></a:r></a:p></p:sld>"}});
    EXPECT_EQ(extractOk(dir + "/a.pptx"), QStringLiteral("first\nlast"));

    writeZip(dir + "/a.odt", odtEntries(QStringLiteral(
        "<text:h>Titre</text:h><text:p>deux<text:s text:c=\"3\"/>espaces<text:tab/>fin<text:line-break/>ligne</text:p>")));
    EXPECT_EQ(extractOk(dir + "/a.odt"), QStringLiteral("Titre\ndeux   espaces\tfin\nligne"));

    writeZip(dir + "/a.epub", epubEntries({QStringLiteral("<html><body><p>Chapitre un &eacute;t&eacute;</p></body></html>"),
                                           QStringLiteral("<html><body><p>Kapitel zwei</p><br></body></html>")}));
    auto epub = TextExtractor::shared().extract(dir + "/a.epub");
    ASSERT_TRUE(epub.has_value());
    EXPECT_EQ(epub->text, QStringLiteral("Chapitre un été\nKapitel zwei"));
    EXPECT_EQ(epub->title, QStringLiteral("Le Livre"));

    writeFile(dir + "/a.rtf", "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Helvetica;}}\\f0 caf\\'e9 cr\\u232\\'3fme\\par Stra\\'dfe}");
    EXPECT_EQ(extractOk(dir + "/a.rtf"), QStringLiteral("café crème\nStraße"));

    writeFile(dir + "/b.html", "<html><head><title>Titel</title><style>p{}</style></head><body><p>Hallo&nbsp;Welt</p></body></html>");
    auto html = TextExtractor::shared().extract(dir + "/b.html");
    ASSERT_TRUE(html.has_value());
    EXPECT_TRUE(html->text.contains(QStringLiteral("Hallo Welt")));
    EXPECT_EQ(html->title, QStringLiteral("Titel"));
}

TEST(TextExtractorTest, ReadsPackagesGivenAsFoldersOrZips)
{
    const QString dir = makeTempDir();
    // An RTFD folder keeps its text in TXT.rtf.
    writeFile(dir + "/note.rtfd/TXT.rtf", "{\\rtf1\\ansi Notiz im Paket}");
    writeFile(dir + "/note.rtfd/image.png", "not read");
    EXPECT_EQ(extractOk(dir + "/note.rtfd"), QStringLiteral("Notiz im Paket"));

    // An old Pages folder with gzipped XML; a Numbers cell keeps its text in an attribute.
    writeFile(dir + "/old.pages/index.xml.gz",
              gzip("<sl:document xmlns:sf=\"sf\" xmlns:sfa=\"sfa\" xmlns:sl=\"sl\"><sf:stylesheet>Noise</sf:stylesheet>"
                   "<sf:text-body><sf:p>Erster Absatz</sf:p><sf:p>Zweiter</sf:p></sf:text-body>"
                   "<sf:ct sfa:s=\"Zelle\"/></sl:document>"));
    EXPECT_EQ(extractOk(dir + "/old.pages"), QStringLiteral("Erster Absatz\nZweiter\nZelle"));

    // A newer, zipped Keynote: only its Quick Look PDF is readable.
    writeZip(dir + "/new.key", {{"Index/Document.iwa", "\x01\x02binary"},
                                {"QuickLook/Preview.pdf", pdfBytes({QStringLiteral("Folie eins")})}});
    EXPECT_TRUE(extractOk(dir + "/new.key").contains(QStringLiteral("Folie eins")));

    writeZip(dir + "/opaque.numbers", {{"Index/Document.iwa", "\x01\x02binary"}});
    EXPECT_EQ(errorCode(dir + "/opaque.numbers"), ContentError::Unsupported);

    // A folder that is no package is not read as a document.
    QDir().mkpath(dir + "/plain folder");
    writeFile(dir + "/plain folder/x.txt", "x");
    EXPECT_EQ(errorCode(dir + "/plain folder"), ContentError::Unsupported);
    QDir().mkpath(dir + "/folder.txt");
    EXPECT_EQ(errorCode(dir + "/folder.txt"), ContentError::Unsupported);
}

// The charset rules themselves are TextDecoding's; here only that plain text goes through them.
TEST(TextExtractorTest, DetectsCharsetsOfPlainText)
{
    const QString dir = makeTempDir();
    writeFile(dir + "/latin1.txt", QByteArray("Stra\xDF" "e, d\xE9j\xE0, \x80 5"));
    EXPECT_EQ(extractOk(dir + "/latin1.txt"), QStringLiteral("Straße, déjà, € 5"));

    // No extension: sniffed as text by its contents.
    writeFile(dir + "/README", "plain words without an extension\n");
    EXPECT_TRUE(extractOk(dir + "/README").contains(QStringLiteral("without an extension")));
}

TEST(TextExtractorTest, ReadsMailFiles)
{
    const QString dir = makeTempDir();
    const QByteArray message = "From: =?ISO-8859-1?Q?Andr=E9?= <a@example.org>\r\n"
                               "To: b@example.org\r\nSubject: Rendez-vous\r\n\r\nOn se voit =C3=A0 midi.\r\n";
    writeFile(dir + "/m.eml", message);
    auto eml = TextExtractor::shared().extract(dir + "/m.eml");
    ASSERT_TRUE(eml.has_value());
    EXPECT_TRUE(eml->text.contains(QStringLiteral("André <a@example.org>")));
    EXPECT_EQ(eml->title, QStringLiteral("Rendez-vous"));

    writeFile(dir + "/m.emlx", QByteArray::number(message.size()) + "\n" + message +
                                   "<?xml version=\"1.0\"?><plist><dict><key>flags</key></dict></plist>");
    const QString emlx = extractOk(dir + "/m.emlx");
    EXPECT_TRUE(emlx.contains(QStringLiteral("Rendez-vous")));
    EXPECT_FALSE(emlx.contains(QStringLiteral("plist")));

    // A file named .eml without mail headers is still indexed as text.
    writeFile(dir + "/notes.eml", "just some words");
    EXPECT_EQ(extractOk(dir + "/notes.eml"), QStringLiteral("just some words"));
}

TEST(TextExtractorTest, FailsCleanlyOnBrokenFiles)
{
    const QString dir = makeTempDir();
    writeFile(dir + "/corrupt.pdf", "%PDF-1.4\n1 0 obj << /Type /Catalog >> garbage without xref");
    EXPECT_EQ(errorCode(dir + "/corrupt.pdf"), ContentError::Unreadable);

    writeFile(dir + "/empty.pdf", "");
    EXPECT_EQ(errorCode(dir + "/empty.pdf"), ContentError::Unreadable);
    writeFile(dir + "/empty.docx", "");
    EXPECT_EQ(errorCode(dir + "/empty.docx"), ContentError::Unreadable);
    writeFile(dir + "/empty.rtf", "");
    EXPECT_EQ(errorCode(dir + "/empty.rtf"), ContentError::Unreadable);
    writeFile(dir + "/empty.txt", "");
    EXPECT_EQ(extractOk(dir + "/empty.txt"), QString());

    // A zip cut in half has lost its central directory.
    writeZip(dir + "/whole.docx", docxEntries(QStringLiteral("<w:p><w:r><w:t>text</w:t></w:r></w:p>")));
    const QByteArray whole = testsupport::readFile(dir + "/whole.docx");
    writeFile(dir + "/cut.docx", whole.left(whole.size() / 2));
    EXPECT_EQ(errorCode(dir + "/cut.docx"), ContentError::Unreadable);

    // A Word file without its body, and one whose body is not XML.
    writeZip(dir + "/nobody.docx", {{"[Content_Types].xml", "<Types/>"}});
    EXPECT_EQ(errorCode(dir + "/nobody.docx"), ContentError::NotFound);
    writeZip(dir + "/garbled.odt", {{"content.xml", "\x01\x02 not < xml"}});
    EXPECT_EQ(errorCode(dir + "/garbled.odt"), ContentError::Unreadable);

    writeZip(dir + "/noopf.epub", {{"META-INF/container.xml", "<container><rootfiles/></container>"}});
    EXPECT_EQ(errorCode(dir + "/noopf.epub"), ContentError::Unreadable);

    EXPECT_EQ(errorCode(dir + "/missing.txt"), ContentError::NotFound);
    // A pipe named like a document would block the reader forever.
    ASSERT_EQ(mkfifo(QFile::encodeName(dir + "/pipe.docx").constData(), 0600), 0);
    EXPECT_EQ(errorCode(dir + "/pipe.docx"), ContentError::Unsupported);
    EXPECT_FALSE(ContentPreview::shared().preview(dir + "/pipe.docx").isNull());
    writeFile(dir + "/data.unknownkind", QByteArray("\x00\x01\x02\x03\xFF\xFE\x00\x00", 8));
    EXPECT_EQ(errorCode(dir + "/data.unknownkind"), ContentError::Unsupported);
}

TEST(TextExtractorTest, StopsZipBombsAtTheCaps)
{
    const QString dir = makeTempDir();
    // 200 MB of zeros, honestly declared: refused from the header, before inflating.
    writeZerosZip(dir + "/bomb.docx", QStringLiteral("word/document.xml"), 200LL * 1024 * 1024);
    EXPECT_EQ(errorCode(dir + "/bomb.docx"), ContentError::TooLarge);

    // The same declared as 1 KB: inflation stops at the declared size and the checksum fails.
    const QByteArray zeros(8 * 1024 * 1024, '\0');
    writeZip(dir + "/liar.docx", {{"word/document.xml", zeros, 1024}});
    EXPECT_EQ(errorCode(dir + "/liar.docx"), ContentError::Unreadable);

    // Under a generous entry cap, the ratio limit still catches 8 MB packed into a few KB.
    writeZip(dir + "/ratio.docx", {{"word/document.xml", zeros}});
    EXPECT_EQ(errorCode(dir + "/ratio.docx"), ContentError::TooLarge);

    // Many small entries add up against the budget for the whole package.
    QList<ZipEntry> sheets;
    QByteArray row = "<worksheet><sheetData><row><c><v>1</v></c></row></sheetData></worksheet>";
    row += QByteArray(900 * 1024, ' ');
    for (int i = 1; i <= 12; ++i)
        sheets.append({QStringLiteral("xl/worksheets/sheet%1.xml").arg(i), row});
    writeZip(dir + "/wide.xlsx", sheets);
    ExtractionLimits limits;
    limits.maxTotalBytes = 8 * 1024 * 1024;
    limits.maxCompressionRatio = 1000000;
    EXPECT_EQ(errorCode(dir + "/wide.xlsx", limits), ContentError::TooLarge);
    limits.maxTotalBytes = 64 * 1024 * 1024;
    EXPECT_TRUE(extractOk(dir + "/wide.xlsx", limits).startsWith(QStringLiteral("1\n1")));
}

TEST(TextExtractorTest, CapsTextAndTime)
{
    const QString dir = makeTempDir();
    writeFile(dir + "/long.txt", QByteArray(100000, 'a'));
    ExtractionLimits limits;
    limits.maxTextChars = 1000;
    auto capped = TextExtractor::shared().extract(dir + "/long.txt", limits);
    ASSERT_TRUE(capped.has_value());
    EXPECT_EQ(capped->text.size(), 1000);
    EXPECT_TRUE(capped->truncated);

    // The file cap keeps a huge log from being read whole; the text is marked cut.
    limits = {};
    limits.maxFileBytes = 4096;
    auto head = TextExtractor::shared().extract(dir + "/long.txt", limits);
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ(head->text.size(), 4096);
    EXPECT_TRUE(head->truncated);

    limits = {};
    limits.timeoutMs = 0;
    writeFile(dir + "/a.rtf", "{\\rtf1 words}");
    EXPECT_EQ(errorCode(dir + "/a.rtf", limits), ContentError::TimedOut);
}
