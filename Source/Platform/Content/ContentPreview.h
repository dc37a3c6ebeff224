// Preview pictures of files, as a file browser or import shows them (at most 512×512 by
// default, aspect kept).
//
// Providers are registered by extension and MIME type, like the text readers: PDFs show their
// first page, images themselves (decoded small and upright), office, OpenDocument, iWork and
// EPUB packages the picture they carry (else their first lines of text), and text-like files
// their first lines drawn on a page. Kinds without a provider use the desktop's own thumbnail
// cache when it holds a current picture. preview() falls back to the icon of the file's type,
// so callers always get a picture for a path.
//
// Threads: everything works on QImage and may run on any thread, several at once; a job is
// bounded by ExtractionLimits::forPreview(). Registration is for start-up (write lock).
#pragma once

#include "Platform/Content/ExtractionContext.h"
#include "Platform/Content/KindRegistry.h"

#include <QImage>
#include <QSize>
#include <QStringList>
#include <functional>

namespace platform {

class ContentPreview {
public:
    static constexpr int kPreviewSide = 512;
    static constexpr QSize kPreviewSize{kPreviewSide, kPreviewSide};

    using Provider = std::function<Result<QImage>(const QString& path, const QSize& box)>;

    // The registry with the built-in providers.
    static ContentPreview& shared();

    ContentPreview() = default;
    void registerBuiltIns();
    // A later registration for the same extension or type replaces the earlier one; only
    // providers registered with acceptsFolders are given folders (document packages).
    void registerProvider(const QStringList& extensions, const QStringList& mimeTypes, Provider provider,
                          bool acceptsFolders = false);

    // The file's own picture fitted within box; fails when its kind has no provider
    // (Unsupported) or the file cannot be read.
    Result<QImage> thumbnail(const QString& path, const QSize& box = kPreviewSize) const;
    // The thumbnail, else the icon of the file's type. Null only for an empty path or box.
    QImage preview(const QString& path, const QSize& box = kPreviewSize) const;

    // The first lines of the file's text drawn as a page (any kind TextExtractor reads).
    static Result<QImage> textPage(const QString& path, const QSize& box);

private:
    KindRegistry<Provider> m_providers;
};

} // namespace platform
