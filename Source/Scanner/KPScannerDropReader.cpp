#include "Scanner/KPScannerDropReader.h"

#include "Platform/Content/ExtractionContext.h"
#include "Platform/Content/ImageDecodeLimit.h"
#include "Platform/Content/JpegScans.h"
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

// The size the decoder draws into, as far as the header tells: a GIF's logical screen, which
// the reader's size leaves out when it is much larger than the first frame.
QSize drawnSize(QImageReader& reader, const QString& path)
{
    QSize size = reader.size();
    if (reader.format() != "gif")
        return size;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return size;
    const QByteArray header = file.read(10);
    if (header.size() < 10 || !header.startsWith("GIF"))
        return size;
    const auto u16 = [&header](int at) { return int(uchar(header[at])) | int(uchar(header[at + 1])) << 8; };
    const QSize screen(u16(6), u16(8));
    return size.isValid() ? size.expandedTo(screen) : screen;
}

// The scans a JPEG of this size may have: each is a pass over all of its pixels.
int scansAllowed(const QSize& size, const KPScannerDropReader::Caps& caps)
{
    const qint64 pixels = std::max<qint64>(1, KPScannerPixelBudget::pixelsOf(size));
    return int(std::clamp<qint64>(caps.maxJpegScanPixels / pixels, 1, caps.maxJpegScans));
}

// More scans than allowed, counted before decoding.
bool tooManyScans(QImageReader& reader, const QString& path, int allowed)
{
    if (reader.format() != "jpeg")
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && platform::JpegScans::count(file, allowed) > allowed;
}

} // namespace

QImage KPScannerDropReader::readImage(const QString& path, QString* error, KPScannerPixelBudget* budget, const Caps& caps)
{
    const QString name = QFileInfo(path).fileName();
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // Asked before the size: some handlers (ICO) answer no more once they have read a header.
    if (!reader.canRead()) {
        *error = QStringLiteral("%1 is not an image or a PDF").arg(name);
        return {};
    }
    const QSize size = drawnSize(reader, path);
    // A header without a size leaves the bound to the check of the decoded image below.
    if (size.isValid()
        && (KPScannerPixelBudget::pixelsOf(size) > caps.maxImagePixels
            || platform::ImageDecodeLimit::decodedBytes(size, reader.imageFormat()) > kMaxImageBytes)) {
        *error = QStringLiteral("%1 is too large to add as a page").arg(name);
        return {};
    }
    if (const int allowed = scansAllowed(size, caps); tooManyScans(reader, path, allowed)) {
        *error = QStringLiteral("%1 is a JPEG of more than %2 scans, too many to decode as a page").arg(name).arg(allowed);
        return {};
    }
    // The header's size is taken before decoding; a header that lied is set right below.
    const qint64 claimed = KPScannerPixelBudget::pixelsOf(size);
    if (budget && !budget->take(claimed)) {
        *error = QStringLiteral("%1 was left out. %2").arg(name, budget->fullText());
        return {};
    }
    QImage image = reader.read();
    if (KPScannerPixelBudget::pixelsOf(image) > caps.maxImagePixels) {
        if (budget)
            budget->give(claimed);
        *error = QStringLiteral("%1 is too large to add as a page").arg(name);
        return {};
    }
    if (budget) {
        budget->give(claimed);
        if (!image.isNull() && !budget->take(KPScannerPixelBudget::pixelsOf(image))) {
            *error = QStringLiteral("%1 was left out. %2").arg(name, budget->fullText());
            return {};
        }
    }
    if (image.isNull()) {
        *error = QStringLiteral("%1 could not be read: %2").arg(name, reader.errorString());
        return {};
    }
    return normalised(std::move(image));
}

KPScannerDropReader::Result KPScannerDropReader::read(const QStringList& paths,
                                                     const std::shared_ptr<KPScannerPixelBudget>& budget, const Caps& caps)
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
        const QImage image = readImage(path, &error, budget.get(), caps);
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
