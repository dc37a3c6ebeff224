#include "ContentFixtures.h"
#include "Platform/Content/ContentPreview.h"
#include "Platform/Content/DesktopThumbnailCache.h"
#include "Platform/Content/FileIcon.h"
#include "Platform/Content/ImagePreview.h"
#include "Support/TestSupport.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <gtest/gtest.h>

#include <cctype>
#include <thread>
#include <zlib.h>

using namespace platform;
using namespace contentfixtures;
using testsupport::makeTempDir;
using testsupport::writeFile;

namespace {

// The name the desktop gives a file's cached thumbnail, worked out here by hand rather than by
// the code under test: the MD5, in lower-case hexadecimal, of the file's URI ("file://" and the
// absolute path, its UTF-8 bytes other than letters, digits, "-._~" and "/" written %XX), then
// ".png". Test paths hold none of the other characters a URI may leave bare.
QString desktopThumbnailName(const QString& absolutePath)
{
    QByteArray uri("file://");
    for (const char c : absolutePath.toUtf8()) {
        const auto b = static_cast<unsigned char>(c);
        if (std::isalnum(b) && b < 0x80)
            uri += c;
        else if (QByteArray("-._~/").contains(c))
            uri += c;
        else
            uri += '%' + QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
    }
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
}

QImage previewOk(const QString& path)
{
    auto image = ContentPreview::shared().thumbnail(path);
    EXPECT_TRUE(image.has_value()) << path.toStdString() << ": "
                                   << (image ? "" : image.error().toString().toStdString());
    if (!image)
        return {};
    EXPECT_LE(image->width(), 512);
    EXPECT_LE(image->height(), 512);
    return *image;
}

QImage twoColour(int w, int h)
{
    // Left half red, right half blue: shows which way an image was turned.
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w / 2; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    return image;
}

bool isReddish(QRgb c) { return qRed(c) > 180 && qBlue(c) < 90; }
bool isBluish(QRgb c) { return qBlue(c) > 180 && qRed(c) < 90; }

// Restores the process-wide decode limit a test lowers.
struct AllocationLimit {
    explicit AllocationLimit(int mb) : saved(QImageReader::allocationLimit()) { QImageReader::setAllocationLimit(mb); }
    ~AllocationLimit() { QImageReader::setAllocationLimit(saved); }
    int saved;
};

// A PNG whose header says width × height at the given depth and colour type, with one short
// row of data only: enough for every check made before decoding.
QByteArray pngClaiming(quint32 width, quint32 height, char depth, char colourType)
{
    const auto be32 = [](QByteArray& out, quint32 v) {
        for (int shift : {24, 16, 8, 0})
            out.append(char(v >> shift));
    };
    const auto chunk = [&be32](const QByteArray& type, const QByteArray& data) {
        QByteArray out;
        be32(out, quint32(data.size()));
        const QByteArray body = type + data;
        out += body;
        be32(out, quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
        return out;
    };
    QByteArray header;
    be32(header, width);
    be32(header, height);
    header.append(depth).append(colourType).append(3, '\0');
    return QByteArray::fromHex("89504e470d0a1a0a") + chunk("IHDR", header) + chunk("IDAT", qCompress(QByteArray(9, '\0')).mid(4))
           + chunk("IEND", {});
}

} // namespace

TEST(ContentPreviewTest, DecodesHugeImagesSmall)
{
    const QString dir = makeTempDir();
    QImage big(8000, 6000, QImage::Format_Grayscale8);
    big.fill(90);
    writeFile(dir + "/big.jpg", jpegBytes(big, 40));

    // 8000×6000 decoded whole needs 48 MB even in grey; 16 MB only fits a scaled decode.
    AllocationLimit limit(16);
    QImage whole;
    ASSERT_FALSE(QImageReader(dir + "/big.jpg").read(&whole)) << "the limit must forbid a full decode";
    const QImage image = previewOk(dir + "/big.jpg");
    EXPECT_EQ(image.size(), QSize(512, 384));

    // A small image is not blown up.
    writeFile(dir + "/small.png", pngBytes(twoColour(40, 20)));
    EXPECT_EQ(previewOk(dir + "/small.png").size(), QSize(40, 20));
}

TEST(ContentPreviewTest, TurnsImagesUprightByExif)
{
    const QString dir = makeTempDir();
    // Stored 400×200 landscape, red on the left; orientation 6 means "turn 90° clockwise".
    writeFile(dir + "/phone.jpg", jpegWithOrientation(twoColour(400, 200), 6));
    const QImage image = previewOk(dir + "/phone.jpg");
    ASSERT_EQ(image.size(), QSize(200, 400));
    // After turning clockwise the old left (red) side is on top.
    EXPECT_TRUE(isReddish(image.pixel(100, 50)));
    EXPECT_TRUE(isBluish(image.pixel(100, 350)));

    // Turned and scaled together: 1200×600 stored, upright 600×1200, fitted to 256×512.
    writeFile(dir + "/phone2.jpg", jpegWithOrientation(twoColour(1200, 600), 6));
    EXPECT_EQ(previewOk(dir + "/phone2.jpg").size(), QSize(256, 512));
}

// A preview decoded whole is bounded by what it takes decoded, checked before decoding: the
// process's decoder limit is set for the largest image any reader takes, far above a preview's.
TEST(ContentPreviewTest, AWholeDecodeIsBoundedByItsBytesNotOnlyItsPixels)
{
    const QString dir = makeTempDir();
    // 20.5 million pixels: 82 MB at 8 bits a channel, 164 MB at 16.
    writeFile(dir + "/eight.png", pngClaiming(5000, 4100, 8, 6));
    writeFile(dir + "/sixteen.png", pngClaiming(5000, 4100, 16, 6));

    const auto sixteen = ImagePreview::fromFile(dir + "/sixteen.png", QSize(512, 512));
    ASSERT_FALSE(sixteen.has_value());
    EXPECT_EQ(sixteen.error().code, ContentError::TooLarge) << sixteen.error().toString().toStdString();
    // Within the bound, the decoder is tried (and finds the rows missing).
    const auto eight = ImagePreview::fromFile(dir + "/eight.png", QSize(512, 512));
    if (!eight)
        EXPECT_NE(eight.error().code, ContentError::TooLarge);
}

TEST(ContentPreviewTest, DrawsPdfFirstPage)
{
    const QString dir = makeTempDir();
    writePdf(dir + "/doc.pdf", {QStringLiteral("Seite eins"), QStringLiteral("Seite zwei")});
    const QImage page = previewOk(dir + "/doc.pdf");
    EXPECT_EQ(page.height(), 512);
    EXPECT_LT(page.width(), page.height());
    EXPECT_FALSE(page.hasAlphaChannel());
    EXPECT_EQ(QColor(page.pixel(page.width() - 2, page.height() - 2)), QColor(Qt::white));
}

TEST(ContentPreviewTest, ImagesKeepAnAlphaChannelOnlyWhenAPixelIsTransparent)
{
    const QString dir = makeTempDir();
    // Screenshots and exports often carry an alpha channel that every pixel leaves opaque.
    QImage opaque(40, 30, QImage::Format_ARGB32);
    opaque.fill(qRgba(10, 200, 30, 255));
    writeFile(dir + "/shot.png", pngBytes(opaque));
    const QImage flat = previewOk(dir + "/shot.png");
    EXPECT_EQ(flat.format(), QImage::Format_RGB32);
    EXPECT_EQ(QColor(flat.pixel(20, 15)), QColor(10, 200, 30));

    // One pixel, in the last row, is enough to keep the channel and its values.
    QImage cutOut = opaque;
    cutOut.setPixel(39, 29, qRgba(0, 0, 0, 0));
    cutOut.setPixel(0, 29, qRgba(255, 0, 0, 128));
    writeFile(dir + "/cut.png", pngBytes(cutOut));
    const QImage kept = previewOk(dir + "/cut.png");
    EXPECT_EQ(kept.format(), QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(kept.pixel(39, 29)), 0);
    EXPECT_EQ(qAlpha(kept.pixel(0, 29)), 128);
    EXPECT_EQ(qAlpha(kept.pixel(20, 15)), 255);

    // Formats other than 32-bit ARGB: an indexed picture whose table holds a clear colour.
    QImage indexed(8, 8, QImage::Format_Indexed8);
    indexed.setColorTable({qRgba(255, 255, 255, 255), qRgba(0, 0, 0, 0)});
    indexed.fill(0);
    EXPECT_TRUE(ImagePreview::isOpaque(indexed)) << "a clear colour no pixel uses";
    indexed.setPixel(3, 3, 1);
    EXPECT_FALSE(ImagePreview::isOpaque(indexed));
    EXPECT_TRUE(ImagePreview::normalised(indexed).hasAlphaChannel());
}

TEST(ContentPreviewTest, UsesThePicturesInsidePackages)
{
    const QString dir = makeTempDir();
    const QByteArray marker = pngBytes(twoColour(64, 48));

    writeZip(dir + "/a.odt", odtEntries(QStringLiteral("<text:p>text</text:p>")) +
                                 QList<ZipEntry>{{QStringLiteral("Thumbnails/thumbnail.png"), marker}});
    EXPECT_EQ(previewOk(dir + "/a.odt").size(), QSize(64, 48));

    writeZip(dir + "/a.docx", docxEntries(QStringLiteral("<w:p/>")) +
                                  QList<ZipEntry>{{QStringLiteral("docProps/thumbnail.jpeg"), jpegBytes(twoColour(80, 40))}});
    EXPECT_EQ(previewOk(dir + "/a.docx").size(), QSize(80, 40));

    writeZip(dir + "/a.epub", epubEntries({QStringLiteral("<p>chapter</p>")}, marker));
    EXPECT_EQ(previewOk(dir + "/a.epub").size(), QSize(64, 48));

    writeFile(dir + "/old.key/QuickLook/Thumbnail.jpg", jpegBytes(twoColour(100, 75)));
    EXPECT_EQ(previewOk(dir + "/old.key").size(), QSize(100, 75));

    writeZip(dir + "/new.pages", {{"QuickLook/Preview.pdf", pdfBytes({QStringLiteral("Vorschau")})}});
    EXPECT_EQ(previewOk(dir + "/new.pages").height(), 512);

    // No picture inside: the first lines of the text, drawn as a page.
    writeZip(dir + "/plain.docx", docxEntries(QStringLiteral("<w:p><w:r><w:t>Nur Text</w:t></w:r></w:p>")));
    const QImage page = previewOk(dir + "/plain.docx");
    EXPECT_EQ(page.height(), 512);
    EXPECT_LT(page.width(), 512);
}

TEST(ContentPreviewTest, DrawsTextFilesAsPages)
{
    const QString dir = makeTempDir();
    writeFile(dir + "/notes.txt", "First line of the notes\nSecond line\twith a tab\n");
    const QImage page = previewOk(dir + "/notes.txt");
    ASSERT_EQ(page.size(), QSize(362, 512));
    // Some ink near the top-left, where the first line is; the lower half stays white.
    int dark = 0, darkBelow = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 1; x < page.width() - 1; ++x)
            if (qGray(page.pixel(x, y)) < 128)
                ++(y < 80 ? dark : darkBelow);
    EXPECT_GT(dark, 20);
    EXPECT_EQ(darkBelow, 0);

    writeFile(dir + "/letter.rtf", "{\\rtf1 Sehr geehrte Damen}");
    EXPECT_FALSE(previewOk(dir + "/letter.rtf").isNull());

    // Text is drawn the same on a worker thread.
    QImage fromThread;
    std::thread([&] { fromThread = ContentPreview::shared().preview(dir + "/notes.txt"); }).join();
    EXPECT_EQ(fromThread, page);
}

TEST(ContentPreviewTest, FallsBackToTheTypeIcon)
{
    const QString dir = makeTempDir();
    writeFile(dir + "/data.unknownkind", QByteArray("\x00\x01\x02\x03", 4));
    EXPECT_EQ(ContentPreview::shared().thumbnail(dir + "/data.unknownkind").error().code, ContentError::Unsupported);
    const QImage icon = ContentPreview::shared().preview(dir + "/data.unknownkind");
    EXPECT_FALSE(icon.isNull());
    EXPECT_LE(icon.width(), 512);

    // Broken files of known kinds get the icon too, never a crash or nothing.
    writeFile(dir + "/broken.jpg", "not a jpeg");
    writeFile(dir + "/broken.pdf", "%PDF-1.7 broken");
    writeFile(dir + "/broken.odt", "PK\x03\x04 cut");
    writeFile(dir + "/empty.png", "");
    for (const char* name : {"/broken.jpg", "/broken.pdf", "/broken.odt", "/empty.png"}) {
        EXPECT_FALSE(ContentPreview::shared().thumbnail(dir + name).has_value()) << name;
        EXPECT_FALSE(ContentPreview::shared().preview(dir + name).isNull()) << name;
    }
    EXPECT_TRUE(ContentPreview::shared().preview(QString()).isNull());

    // Without any icon theme: a drawn page that carries the extension.
    const QImage drawn = FileIcon::iconFor(dir + "/data.unknownkind", QSize(128, 128), {dir + "/no-icons"});
    ASSERT_EQ(drawn.size(), QSize(128, 128));
    EXPECT_TRUE(drawn.hasAlphaChannel());
    EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0);
    EXPECT_EQ(QColor(drawn.pixel(40, 30)), QColor(Qt::white));

    // With a theme that has the type's icon, that icon is used.
    QImage themed(256, 256, QImage::Format_RGB32);
    themed.fill(Qt::green);
    writeFile(dir + "/icons/hicolor/256x256/mimetypes/application-pdf.png", pngBytes(themed));
    const QImage pdfIcon = FileIcon::iconFor(dir + "/x.pdf", QSize(64, 64), {dir + "/icons"});
    EXPECT_EQ(pdfIcon.size(), QSize(64, 64));
    EXPECT_EQ(QColor(pdfIcon.pixel(32, 32)), QColor(Qt::green));
}

TEST(ContentPreviewTest, RefusesUndecodableGiants)
{
    const QString dir = makeTempDir();
    // TIFF cannot decode scaled, and 8000×6000 is over the full-decode budget.
    QImage big(8000, 6000, QImage::Format_Grayscale8);
    big.fill(0);
    QImageWriter writer(dir + "/giant.tiff", "tiff");
    writer.setCompression(1);
    ASSERT_TRUE(writer.write(big));
    auto image = ImagePreview::fromFile(dir + "/giant.tiff", QSize(512, 512));
    ASSERT_FALSE(image.has_value());
    EXPECT_EQ(image.error().code, ContentError::TooLarge);
}

TEST(ContentPreviewTest, UsesCurrentDesktopThumbnailsForOtherKinds)
{
    const QString dir = makeTempDir();
    const QString video = dir + "/Clip März 2024.unknownvideo";
    writeFile(video, QByteArray("\x00\x00\x00\x18" "ftypmp42", 12));
    const QString cached = testsupport::homeDir() + "/.cache/thumbnails/large/" + desktopThumbnailName(video);
    const auto writeThumb = [&](qint64 mtime) {
        QImage thumb(256, 144, QImage::Format_RGB32);
        thumb.fill(Qt::green);
        thumb.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
        writeFile(cached, pngBytes(thumb));
    };
    const qint64 mtime = QFileInfo(video).lastModified().toSecsSinceEpoch();

    // A thumbnail of an older version of the file is ignored.
    writeThumb(mtime - 100);
    EXPECT_FALSE(ContentPreview::shared().thumbnail(video).has_value());

    writeThumb(mtime);
    const QImage image = previewOk(video);
    EXPECT_EQ(image.size(), QSize(256, 144));
    EXPECT_EQ(QColor(image.pixel(10, 10)), QColor(Qt::green));
}

TEST(DesktopThumbnailCacheTest, ForgettingAFileTakesEveryCachedPictureOfItAndNoOther)
{
    // The rule checked against a name worked out outside this program.
    ASSERT_EQ(desktopThumbnailName(QStringLiteral("/home/jens/photos/me.png")),
              QStringLiteral("c6ee772d9e49320e97ec29a7eb5b1697.png"));
    const QString dir = makeTempDir();
    const QString gone = dir + "/Rechnung März #3.pdf";
    const QString other = dir + "/other.pdf";
    const QString root = testsupport::homeDir() + "/.cache/thumbnails/";
    QStringList pictures;
    for (const char* folder : {"normal", "large", "x-large", "xx-large", "fail/gnome-thumbnail-factory"}) {
        pictures << root + folder + "/" + desktopThumbnailName(gone);
        writeFile(pictures.last(), "picture of the invoice");
    }
    const QString kept = root + "large/" + desktopThumbnailName(other);
    writeFile(kept, "picture of another file");

    DesktopThumbnailCache::forget(gone);
    for (const QString& picture : pictures)
        EXPECT_FALSE(QFileInfo::exists(picture)) << picture.toStdString();
    EXPECT_TRUE(QFileInfo::exists(kept));
}
