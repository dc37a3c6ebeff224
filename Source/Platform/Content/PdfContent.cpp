#include "Platform/Content/PdfContent.h"

#include "Platform/Foundation/Paths.h"

#include <QPainter>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QTemporaryFile>

namespace platform {

namespace {

Result<void> load(QPdfDocument& doc, const QString& path)
{
    const QPdfDocument::Error err = doc.load(path);
    switch (err) {
    case QPdfDocument::Error::None:
        break;
    case QPdfDocument::Error::FileNotFound:
        return contentError(ContentError::NotFound, QStringLiteral("no such PDF: %1").arg(path));
    case QPdfDocument::Error::IncorrectPassword:
    case QPdfDocument::Error::UnsupportedSecurityScheme:
        return contentError(ContentError::Encrypted, QStringLiteral("the PDF is protected: %1").arg(path));
    default:
        return contentError(ContentError::Unreadable, QStringLiteral("not a readable PDF: %1").arg(path));
    }
    if (doc.pageCount() <= 0)
        return contentError(ContentError::Unreadable, QStringLiteral("a PDF without pages: %1").arg(path));
    return {};
}

// Keeps in-memory PDF bytes in a file that lives as long as the job.
Result<std::unique_ptr<QTemporaryFile>> spill(const QByteArray& pdf)
{
    // The private temporary folder: the bytes may come from a protected document.
    auto folder = Paths::temporaryDirectory();
    if (!folder)
        return std::unexpected(folder.error());
    auto file = std::make_unique<QTemporaryFile>(*folder + QStringLiteral("/pdf-XXXXXX.pdf"));
    if (!file->open() || file->write(pdf) != pdf.size() || !file->flush())
        return contentError(ContentError::Unreadable, QStringLiteral("cannot stage the embedded PDF: %1").arg(file->errorString()));
    return file;
}

} // namespace

Result<ExtractedText> PdfContent::extractText(const QString& path, ExtractionContext& ctx)
{
    QPdfDocument doc;
    if (auto loaded = load(doc, path); !loaded)
        return std::unexpected(loaded.error());
    TextBuffer out(ctx);
    const int pages = qMin(doc.pageCount(), ctx.limits().maxPdfPages);
    if (pages < doc.pageCount())
        ctx.markTruncated();
    for (int page = 0; page < pages && !out.done(); ++page) {
        out.newline();
        out.append(doc.getAllText(page).text());
    }
    return finishExtraction(out, doc.metaData(QPdfDocument::MetaDataField::Title).toString());
}

Result<ExtractedText> PdfContent::extractText(const QByteArray& pdf, ExtractionContext& ctx)
{
    auto file = spill(pdf);
    if (!file)
        return std::unexpected(file.error());
    return extractText((*file)->fileName(), ctx);
}

Result<QImage> PdfContent::renderFirstPage(const QString& path, const QSize& box)
{
    QPdfDocument doc;
    if (auto loaded = load(doc, path); !loaded)
        return std::unexpected(loaded.error());
    const QSizeF points = doc.pagePointSize(0);
    if (points.isEmpty() || box.isEmpty())
        return contentError(ContentError::Unreadable, QStringLiteral("the first page has no size: %1").arg(path));
    const QSize size = points.scaled(QSizeF(box), Qt::KeepAspectRatio).toSize().expandedTo(QSize(1, 1));
    const QImage page = doc.render(0, size);
    if (page.isNull())
        return contentError(ContentError::Unreadable, QStringLiteral("the first page cannot be drawn: %1").arg(path));
    // Paper is opaque; a transparent page would otherwise be stored with an alpha channel.
    QImage opaque(page.size(), QImage::Format_RGB32);
    opaque.fill(Qt::white);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, page);
    painter.end();
    return opaque;
}

Result<QImage> PdfContent::renderFirstPage(const QByteArray& pdf, const QSize& box)
{
    auto file = spill(pdf);
    if (!file)
        return std::unexpected(file.error());
    return renderFirstPage((*file)->fileName(), box);
}

} // namespace platform
