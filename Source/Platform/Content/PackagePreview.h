// The preview pictures that document packages carry inside themselves.
//
// Office programs save a small picture of the first page with the document (Office Open XML
// when asked to, OpenDocument always, iWork always), and an EPUB names its cover. Reading
// those is far cheaper and truer than laying the document out, which nothing here can do.
#pragma once

#include "Platform/Content/PackageReader.h"

#include <QImage>
#include <QSize>

namespace platform {

class PackagePreview {
public:
    // "docProps/thumbnail.jpeg" and its siblings (.png, .jpg; Windows metafiles are skipped).
    static Result<QImage> officeThumbnail(const PackageReader& package, const QSize& box, ExtractionContext& ctx);
    // "Thumbnails/thumbnail.png".
    static Result<QImage> openDocumentThumbnail(const PackageReader& package, const QSize& box, ExtractionContext& ctx);
    // "preview.jpg", "QuickLook/Thumbnail.jpg", else the first page of "QuickLook/Preview.pdf".
    static Result<QImage> iWorkPreview(const PackageReader& package, const QSize& box, ExtractionContext& ctx);
    // The cover image the package document names.
    static Result<QImage> epubCover(const PackageReader& package, const QSize& box, ExtractionContext& ctx);
};

} // namespace platform
