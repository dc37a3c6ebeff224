#include "Scanner/KPScannerDropReader.h"

#include "Platform/Content/ExtractionContext.h"
#include "Platform/Content/PdfContent.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace {

bool looksLikePdf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Readers accept the signature anywhere in the first kilobyte.
    return file.read(1024).contains("%PDF-");
}

// Pages keep the pixel format they came in (gray stays gray), but one the PDF writer and the
// thumbnails handle alike.
QImage normalised(QImage image)
{
    switch (image.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGB888:
        return image;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        return image.convertToFormat(QImage::Format_Grayscale8);
    default:
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    }
}

} // namespace

QImage KPScannerDropReader::readImage(const QString& path, QString* error)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!reader.canRead()) {
        *error = QStringLiteral("%1 is not an image or a PDF").arg(QFileInfo(path).fileName());
        return {};
    }
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxImagePixels) {
        *error = QStringLiteral("%1 is too large to add as a page").arg(QFileInfo(path).fileName());
        return {};
    }
    // Bounds the decoder even where the header lied about the size.
    reader.setAllocationLimit(int(kMaxImagePixels * 8 / (1024 * 1024)));
    QImage image = reader.read();
    if (image.isNull()) {
        *error = QStringLiteral("%1 could not be read: %2").arg(QFileInfo(path).fileName(), reader.errorString());
        return {};
    }
    return normalised(std::move(image));
}

KPScannerDropReader::Result KPScannerDropReader::read(const QStringList& paths)
{
    Result out;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        if (!QFileInfo(path).isFile()) {
            out.errors.append(QStringLiteral("%1 is not a file").arg(name));
            continue;
        }
        if (looksLikePdf(path)) {
            platform::ExtractionContext ctx;
            const auto pages = platform::PdfContent::renderPages(path, kMaxPdfPages, kMaxPdfPagePixels, ctx);
            if (!pages) {
                out.errors.append(QStringLiteral("%1 could not be read: %2").arg(name, pages.error().message));
                continue;
            }
            for (const QImage& page : pages->pages)
                out.images.append(normalised(page));
            if (pages->truncated)
                out.errors.append(QStringLiteral("Only the first %1 pages of %2 were added").arg(kMaxPdfPages).arg(name));
            continue;
        }
        QString error;
        const QImage image = readImage(path, &error);
        if (image.isNull())
            out.errors.append(error);
        else
            out.images.append(image);
    }
    return out;
}
