#include "MetadataFixtures.h"
#include "Platform/Metadata/DocumentAuthors.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

using platform::DocumentAuthors;
using metadatafixtures::pdfWithInfo;
using metadatafixtures::writeZip;

namespace {

const QByteArray kDc = "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"";

QByteArray coreXml(const QByteArray& creator)
{
    return "<cp:coreProperties xmlns:cp=\"urn:cp\" " + kDc + "><dc:creator>" + creator
        + "</dc:creator><cp:lastModifiedBy>Other</cp:lastModifiedBy></cp:coreProperties>";
}

QByteArray odfMeta(const QByteArray& body)
{
    return "<office:document-meta xmlns:office=\"urn:o\" xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\" "
        + kDc + "><office:meta>" + body + "</office:meta></office:document-meta>";
}

QByteArray opf(const QByteArray& metadata)
{
    return "<package xmlns=\"http://www.idpf.org/2007/opf\"><metadata " + kDc
        + " xmlns:opf=\"http://www.idpf.org/2007/opf\">" + metadata + "</metadata></package>";
}

class DocumentAuthorsTest : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir(QStringLiteral("authors")); }
    QString file(const QString& name, const QByteArray& bytes)
    {
        testsupport::writeFile(dir + u'/' + name, bytes);
        return dir + u'/' + name;
    }
    QString zip(const QString& name, const QList<std::pair<QString, QByteArray>>& entries)
    {
        writeZip(dir + u'/' + name, entries);
        return dir + u'/' + name;
    }
    QString dir;
};

} // namespace

TEST_F(DocumentAuthorsTest, PdfAuthorFromDocumentInformation)
{
    EXPECT_EQ(DocumentAuthors::read(file("a.pdf", pdfWithInfo("/Title (T) /Author (Ann Lee)"))), QStringList{"Ann Lee"});
    // UTF-16 with its byte-order mark, and found by content without an extension.
    EXPECT_EQ(DocumentAuthors::read(file("scan", pdfWithInfo("/Author <FEFF004A006F007300E9>"))),
              QStringList{QStringLiteral("José")});
    EXPECT_TRUE(DocumentAuthors::read(file("none.pdf", pdfWithInfo("/Title (T)"))).isEmpty());
}

TEST_F(DocumentAuthorsTest, PackagesNameTheirAuthors)
{
    // Office separates authors with semicolons; the relationships may move the part.
    EXPECT_EQ(DocumentAuthors::read(zip("a.docx", {{"docProps/core.xml", coreXml("Ann Lee; Bo ;; Ann Lee")}})),
              (QStringList{"Ann Lee", "Bo"}));
    const QByteArray rels = "<Relationships><Relationship Type=\"http://x/relationships/metadata/core-properties\" "
                            "Target=\"/props/c.xml\"/></Relationships>";
    EXPECT_EQ(DocumentAuthors::read(zip("b.xlsx", {{"_rels/.rels", rels}, {"props/c.xml", coreXml("Cy")},
                                                   {"docProps/core.xml", coreXml("Stale")}})),
              QStringList{"Cy"});
    EXPECT_TRUE(DocumentAuthors::fromCoreProperties("<x xmlns:o=\"urn:o\"><o:creator>No</o:creator></x>").isEmpty());

    // The first author, then whoever saved it last.
    EXPECT_EQ(DocumentAuthors::read(zip("a.odt", {{"meta.xml", odfMeta("<dc:creator>Bo</dc:creator>"
                                                                       "<meta:initial-creator>Ann</meta:initial-creator>")}})),
              (QStringList{"Ann", "Bo"}));

    // Authors, not illustrators or translators (EPUB 3 refinements and EPUB 2 roles).
    const QByteArray container = "<container><rootfiles><rootfile full-path=\"OEBPS/b.opf\"/></rootfiles></container>";
    const QByteArray metadata = "<dc:creator id=\"c1\">First</dc:creator><dc:creator id=\"c2\">Drawer</dc:creator>"
                                "<meta refines=\"#c2\" property=\"role\">ill</meta>"
                                "<dc:creator opf:role=\"aut\">Second</dc:creator>"
                                "<dc:creator opf:role=\"trl\">Translator</dc:creator>";
    EXPECT_EQ(DocumentAuthors::read(zip("b.epub", {{"META-INF/container.xml", container},
                                                   {"OEBPS/b.opf", opf(metadata)}})),
              (QStringList{"First", "Second"}));
    EXPECT_EQ(DocumentAuthors::fromPackageDocument(opf("<dc:creator opf:role=\"edt\">Ed</dc:creator>")), QStringList{"Ed"});
}

TEST_F(DocumentAuthorsTest, MailSendersByDisplayName)
{
    // An mbox separator line, a folded field, and a look-alike in the body.
    const QByteArray message = "From sender@x Mon Jan  1 10:00:00 2024\r\n"
                               "subject: Hello\r\n"
                               "FROM: =?UTF-8?Q?Ren=C3=A9_Dupont?= <rene@example.org>,\r\n"
                               " \"Doe, Jane\" <jane@example.org>, bare@example.org\r\n"
                               "\r\n"
                               "From: Body Line <not@header>\r\n";
    const QStringList expected{QStringLiteral("René Dupont"), "Doe, Jane", "bare@example.org"};
    EXPECT_EQ(DocumentAuthors::read(file("a.eml", message)), expected);
    // Apple Mail's wrapper: a byte count, the message, then a property list.
    EXPECT_EQ(DocumentAuthors::read(file("a.emlx", QByteArray::number(message.size()) + "\n" + message + "<plist/>")),
              expected);
    // Only the header block is searched, and only up to the cap.
    EXPECT_TRUE(DocumentAuthors::read(file("body.eml", "Subject: x\r\n\r\nFrom: body@x\r\n")).isEmpty());
    const QByteArray padded = "X-Pad: " + QByteArray(DocumentAuthors::kMaxMailHeaderBytes, 'x') + "\nFrom: Late <l@x>\n";
    EXPECT_TRUE(DocumentAuthors::read(file("long.eml", padded)).isEmpty());
}

TEST_F(DocumentAuthorsTest, DamagedOrHostileFilesGiveNoAuthors)
{
    EXPECT_TRUE(DocumentAuthors::read(file("cut.pdf", pdfWithInfo("/Author (Ann)").left(40))).isEmpty());
    EXPECT_TRUE(DocumentAuthors::read(file("text.docx", "just some text")).isEmpty());
    EXPECT_TRUE(DocumentAuthors::read(file("empty.epub", QByteArray())).isEmpty());
    const QByteArray whole = testsupport::readFile(zip("whole.odt", {{"meta.xml", odfMeta("<dc:creator>B</dc:creator>")}}));
    EXPECT_TRUE(DocumentAuthors::read(file("cut.odt", whole.left(whole.size() / 2))).isEmpty());
    QDir().mkpath(dir + "/folder.pdf");
    EXPECT_TRUE(DocumentAuthors::read(dir + "/folder.pdf").isEmpty());

    // A metadata part far over the cap (a zip bomb in miniature) is refused, not inflated.
    const QByteArray padding(8 * DocumentAuthors::kMaxPartBytes, ' ');
    EXPECT_TRUE(DocumentAuthors::read(zip("bomb.docx", {{"docProps/core.xml", coreXml("Ann" + padding)}})).isEmpty());
    // A package document outside the zip is not looked for.
    EXPECT_TRUE(DocumentAuthors::read(zip("escape.epub", {{"META-INF/container.xml",
                                                           "<rootfile full-path=\"../../etc/b.opf\"/>"}}))
                    .isEmpty());
    // Broken XML keeps what came before the damage.
    EXPECT_EQ(DocumentAuthors::fromCoreProperties("<p " + kDc + "><dc:creator>Ann</dc:creator><<<"), QStringList{"Ann"});
}
