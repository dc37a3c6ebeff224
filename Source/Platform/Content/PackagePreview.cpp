#include "Platform/Content/PackagePreview.h"

#include "Platform/Content/EpubPackage.h"
#include "Platform/Content/IWorkPackage.h"
#include "Platform/Content/ImagePreview.h"
#include "Platform/Content/PdfContent.h"

namespace platform {

namespace {

Result<QImage> imageEntry(const PackageReader& package, const QStringList& names, const QSize& box,
                          ExtractionContext& ctx)
{
    auto bytes = package.readFirst(names, ctx);
    if (!bytes)
        return std::unexpected(bytes.error());
    return ImagePreview::fromData(*bytes, box);
}

} // namespace

Result<QImage> PackagePreview::officeThumbnail(const PackageReader& package, const QSize& box, ExtractionContext& ctx)
{
    return imageEntry(package,
                      {QStringLiteral("docProps/thumbnail.jpeg"), QStringLiteral("docProps/thumbnail.jpg"),
                       QStringLiteral("docProps/thumbnail.png")},
                      box, ctx);
}

Result<QImage> PackagePreview::openDocumentThumbnail(const PackageReader& package, const QSize& box,
                                                     ExtractionContext& ctx)
{
    return imageEntry(package, {QStringLiteral("Thumbnails/thumbnail.png")}, box, ctx);
}

// The pictures are cheaper than drawing the PDF, and newer packages carry no PDF at all.
Result<QImage> PackagePreview::iWorkPreview(const PackageReader& package, const QSize& box, ExtractionContext& ctx)
{
    auto image = imageEntry(package, IWorkPackage::previewImageNames(), box, ctx);
    if (image || image.error().code != ContentError::NotFound)
        return image;
    auto pdf = package.read(IWorkPackage::previewPdfName(), ctx);
    if (!pdf)
        return std::unexpected(pdf.error());
    return PdfContent::renderFirstPage(*pdf, box, ctx);
}

Result<QImage> PackagePreview::epubCover(const PackageReader& package, const QSize& box, ExtractionContext& ctx)
{
    auto manifest = EpubPackage::readManifest(package, ctx);
    if (!manifest)
        return std::unexpected(manifest.error());
    if (manifest->coverImage.isEmpty())
        return contentError(ContentError::NotFound, QStringLiteral("the book names no cover"));
    return imageEntry(package, {manifest->coverImage}, box, ctx);
}

} // namespace platform
