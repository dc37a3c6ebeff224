#include "ContentFixtures.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <gtest/gtest.h>

#include <minizip/zip.h>
#include <zlib.h>

namespace contentfixtures {

namespace {

QByteArray rawDeflate(const QByteArray& data)
{
    z_stream zs{};
    deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&zs, uLong(data.size()))), '\0');
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

void writeZip(const QString& path, const QList<ZipEntry>& entries)
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr) << path.toStdString();
    for (const ZipEntry& e : entries) {
        const QByteArray name = e.name.toUtf8();
        zip_fileinfo info{};
        if (e.declaredSize) {
            const QByteArray packed = rawDeflate(e.data);
            ASSERT_EQ(zipOpenNewFileInZip2(zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                           Z_BEST_COMPRESSION, 1),
                      ZIP_OK);
            zipWriteInFileInZip(zip, packed.constData(), unsigned(packed.size()));
            const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.constData()), uInt(e.data.size()));
            zipCloseFileInZipRaw64(zip, *e.declaredSize, crc);
        } else {
            ASSERT_EQ(zipOpenNewFileInZip64(zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                            Z_DEFAULT_COMPRESSION, 0),
                      ZIP_OK);
            zipWriteInFileInZip(zip, e.data.constData(), unsigned(e.data.size()));
            zipCloseFileInZip(zip);
        }
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

void writeZerosZip(const QString& path, const QString& entryName, qint64 bytes)
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    zip_fileinfo info{};
    ASSERT_EQ(zipOpenNewFileInZip64(zip, entryName.toUtf8().constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                    Z_DEFLATED, Z_BEST_COMPRESSION, 1),
              ZIP_OK);
    const QByteArray zeros(1 << 20, '\0');
    for (qint64 done = 0; done < bytes; done += zeros.size())
        zipWriteInFileInZip(zip, zeros.constData(), unsigned(qMin<qint64>(zeros.size(), bytes - done)));
    zipCloseFileInZip(zip);
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

QByteArray pdfBytes(const QStringList& pages)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setTitle(QStringLiteral("Fixture"));
        QPainter painter(&writer);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSize(18);
        painter.setFont(font);
        for (int i = 0; i < pages.size(); ++i) {
            if (i > 0)
                writer.newPage();
            painter.drawText(QRect(0, 0, writer.width(), writer.height() / 2), Qt::AlignLeft | Qt::AlignTop, pages[i]);
        }
    }
    return buffer.data();
}

void writePdf(const QString& path, const QStringList& pages)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(pdfBytes(pages));
}

QByteArray pdfFromObjects(const QList<QByteArray>& objects, const QByteArray& trailerExtra)
{
    QByteArray out = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R " + trailerExtra + ">>\n";
    return out + "startxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
}

QByteArray pdfStream(const QByteArray& content, const QByteArray& dictionaryExtra)
{
    return "<< /Length " + QByteArray::number(content.size()) + " " + dictionaryExtra + ">>\nstream\n" + content +
           "\nendstream";
}

QList<QByteArray> handPdfObjects(const QList<HandPage>& pages)
{
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>", {},
                              "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"};
    QByteArrayList kids;
    for (const HandPage& page : pages) {
        const int number = int(objects.size()) + 1;
        kids.append(QByteArray::number(number) + " 0 R");
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [" + page.mediaBox + "] /Rotate " +
                       QByteArray::number(page.rotate) + " /Contents " + QByteArray::number(number + 1) +
                       " 0 R /Resources << /Font << /F1 3 0 R >> >> " + page.pageExtra + ">>");
        objects.append(pdfStream(page.content));
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids.join(' ') + "] /Count " + QByteArray::number(pages.size()) + " >>";
    return objects;
}

QByteArray handPdf(const QList<HandPage>& pages)
{
    return pdfFromObjects(handPdfObjects(pages));
}

QByteArray textLines(const QStringList& lines, int size, int top)
{
    QByteArray content = "BT /F1 " + QByteArray::number(size) + " Tf 60 " + QByteArray::number(top) + " Td " + QByteArray::number(size + 4) + " TL\n";
    for (const QString& line : lines) {
        QByteArray escaped = line.toLatin1();
        escaped.replace('\\', "\\\\").replace('(', "\\(").replace(')', "\\)");
        content += "(" + escaped + ") '\n";
    }
    return content + "ET\n";
}

QByteArray jpegBytes(const QImage& image, int quality)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image));
    return buffer.data();
}

QByteArray jpegWithOrientation(const QImage& image, quint16 orientation)
{
    const QByteArray jpeg = jpegBytes(image);
    // Big-endian TIFF header, one IFD entry: tag 0x0112 (orientation), type SHORT, count 1.
    QByteArray tiff("MM\x00\x2A\x00\x00\x00\x08", 8);
    tiff += QByteArray("\x00\x01", 2);
    tiff += QByteArray("\x01\x12\x00\x03\x00\x00\x00\x01", 8);
    tiff += char(orientation >> 8);
    tiff += char(orientation & 0xFF);
    tiff += QByteArray(2, '\0');
    tiff += QByteArray(4, '\0'); // no next IFD
    const QByteArray payload = QByteArray("Exif\x00\x00", 6) + tiff;
    const int length = int(payload.size()) + 2;
    QByteArray app1("\xFF\xE1", 2);
    app1 += char(length >> 8);
    app1 += char(length & 0xFF);
    app1 += payload;
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

QByteArray pngBytes(const QImage& image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "PNG"));
    return buffer.data();
}

QList<ZipEntry> docxEntries(const QString& bodyXml)
{
    const QString document = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
        "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>%1"
        "</w:body></w:document>").arg(bodyXml);
    return {{QStringLiteral("[Content_Types].xml"), "<?xml version=\"1.0\"?><Types/>"},
            {QStringLiteral("word/document.xml"), document.toUtf8()}};
}

QList<ZipEntry> odtEntries(const QString& bodyXml)
{
    const QString content = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\">"
        "<office:automatic-styles><style:style style:name=\"P1\">StyleNoise</style:style></office:automatic-styles>"
        "<office:body><office:text>%1</office:text></office:body></office:document-content>").arg(bodyXml);
    return {{QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.text"},
            {QStringLiteral("content.xml"), content.toUtf8()}};
}

QList<ZipEntry> epubEntries(const QStringList& chapters, const QByteArray& coverPng)
{
    QList<ZipEntry> entries{
        {QStringLiteral("mimetype"), "application/epub+zip"},
        {QStringLiteral("META-INF/container.xml"),
         "<?xml version=\"1.0\"?><container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
         "<rootfiles><rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
         "</rootfiles></container>"}};
    QString manifest, spine;
    // Listed in reverse in the manifest: the spine, not the manifest, gives the reading order.
    for (int i = int(chapters.size()) - 1; i >= 0; --i)
        manifest += QStringLiteral("<item id=\"c%1\" href=\"text/ch%1.xhtml\" media-type=\"application/xhtml+xml\"/>").arg(i);
    for (int i = 0; i < chapters.size(); ++i) {
        spine += QStringLiteral("<itemref idref=\"c%1\"/>").arg(i);
        entries.append({QStringLiteral("OEBPS/text/ch%1.xhtml").arg(i), chapters[i].toUtf8()});
    }
    if (!coverPng.isEmpty()) {
        manifest += QStringLiteral("<item id=\"img\" href=\"images/My%20Cover.png\" media-type=\"image/png\"/>");
        entries.append({QStringLiteral("OEBPS/images/My Cover.png"), coverPng});
    }
    const QString opf = QStringLiteral(
        "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\">"
        "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>Le Livre</dc:title>%1</metadata>"
        "<manifest>%2</manifest><spine>%3</spine></package>")
                            .arg(coverPng.isEmpty() ? QString() : QStringLiteral("<meta name=\"cover\" content=\"img\"/>"),
                                 manifest, spine);
    entries.append({QStringLiteral("OEBPS/content.opf"), opf.toUtf8()});
    return entries;
}

} // namespace contentfixtures
