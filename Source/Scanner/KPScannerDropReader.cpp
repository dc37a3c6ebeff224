#include "Scanner/KPScannerDropReader.h"

#include "Platform/Content/ExtractionContext.h"
#include "Platform/Content/PdfContent.h"
#include "Scanner/KPScannerPixelBudget.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <mutex>

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

// A PDF's pages taking their share of the budget as they are drawn. The drawing may go on on a
// thread of the PDF reader's own after the read gave up on it; once closed, nothing more is
// admitted, and what was admitted but not handed over is given back.
class Admission {
public:
    explicit Admission(std::shared_ptr<KPScannerPixelBudget> budget) : m_budget(std::move(budget)) {}

    bool admit(const QSize& size)
    {
        if (!m_budget)
            return true;
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        const qint64 pixels = KPScannerPixelBudget::pixelsOf(size);
        if (!m_budget->take(pixels)) {
            m_refused = true;
            return false;
        }
        m_taken += pixels;
        return true;
    }
    // Ends the admission with the images handed over; answers the pixels they keep taken.
    qint64 close(const QList<QImage>& kept)
    {
        if (!m_budget)
            return 0;
        qint64 keptPixels = 0;
        for (const QImage& image : kept)
            keptPixels += KPScannerPixelBudget::pixelsOf(image);
        std::lock_guard lock(m_mutex);
        m_closed = true;
        // A page drawn at a size a little off the admitted one keeps the admitted share.
        keptPixels = std::min(keptPixels, m_taken);
        m_budget->give(m_taken - keptPixels);
        m_taken = keptPixels;
        return keptPixels;
    }
    bool refused() const
    {
        std::lock_guard lock(m_mutex);
        return m_refused;
    }

private:
    const std::shared_ptr<KPScannerPixelBudget> m_budget;
    mutable std::mutex m_mutex;
    qint64 m_taken = 0;
    bool m_closed = false;
    bool m_refused = false;
};

// The decoder's memory limit for an image of the most pixels a dropped image may hold, in the
// format it says it decodes into, never less than 32 bits a pixel (what most decoders draw into
// whatever they report).
int decoderLimitMegabytes(QImage::Format format)
{
    const int bits = format == QImage::Format_Invalid ? 32 : std::max(32, int(QImage::toPixelFormat(format).bitsPerPixel()));
    const qint64 bytes = KPScannerDropReader::kMaxImagePixels * bits / 8;
    return int((bytes + (1 << 20) - 1) >> 20);
}

} // namespace

QImage KPScannerDropReader::readImage(const QString& path, QString* error, KPScannerPixelBudget* budget)
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
    // The header's size is taken before decoding; a header that lied is set right below.
    const qint64 claimed = KPScannerPixelBudget::pixelsOf(size);
    if (budget && !budget->take(claimed)) {
        *error = QStringLiteral("%1 was left out. %2").arg(QFileInfo(path).fileName(), budget->fullText());
        return {};
    }
    // Bounds the decoder even where the header lied about the size (a GIF's screen may be far
    // larger than the frame the header reports): no more than the image limit in the decoder's
    // pixels. What still gets through is refused once decoded.
    QImageReader::setAllocationLimit(decoderLimitMegabytes(reader.imageFormat()));
    QImage image = reader.read();
    if (KPScannerPixelBudget::pixelsOf(image) > kMaxImagePixels) {
        if (budget)
            budget->give(claimed);
        *error = QStringLiteral("%1 is too large to add as a page").arg(QFileInfo(path).fileName());
        return {};
    }
    if (budget) {
        budget->give(claimed);
        if (!image.isNull() && !budget->take(KPScannerPixelBudget::pixelsOf(image))) {
            *error = QStringLiteral("%1 was left out. %2").arg(QFileInfo(path).fileName(), budget->fullText());
            return {};
        }
    }
    if (image.isNull()) {
        *error = QStringLiteral("%1 could not be read: %2").arg(QFileInfo(path).fileName(), reader.errorString());
        return {};
    }
    return normalised(std::move(image));
}

KPScannerDropReader::Result KPScannerDropReader::read(const QStringList& paths,
                                                     const std::shared_ptr<KPScannerPixelBudget>& budget)
{
    Result out;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        if (!QFileInfo(path).isFile()) {
            out.errors.append(QStringLiteral("%1 is not a file").arg(name));
            continue;
        }
        if (looksLikePdf(path)) {
            const auto admission = std::make_shared<Admission>(budget);
            platform::ExtractionContext ctx;
            const auto pages = platform::PdfContent::renderPages(
                path, kMaxPdfPages, kMaxPdfPagePixels, ctx, [admission](const QSize& size) { return admission->admit(size); });
            QList<QImage> images;
            if (pages)
                for (const QImage& page : pages->pages)
                    images.append(normalised(page));
            out.reserved += admission->close(images);
            if (!pages) {
                out.errors.append(QStringLiteral("%1 could not be read: %2").arg(name, pages.error().message));
                continue;
            }
            out.images.append(images);
            if (admission->refused())
                out.errors.append(QStringLiteral("Only the first %1 pages of %2 were added. %3")
                                      .arg(images.size())
                                      .arg(name, budget->fullText()));
            else if (pages->truncated)
                out.errors.append(QStringLiteral("Only the first %1 pages of %2 were added").arg(kMaxPdfPages).arg(name));
            continue;
        }
        QString error;
        const QImage image = readImage(path, &error, budget.get());
        if (image.isNull()) {
            out.errors.append(error);
            continue;
        }
        out.images.append(image);
        if (budget)
            out.reserved += KPScannerPixelBudget::pixelsOf(image);
    }
    return out;
}
