#include "Platform/Content/ContentPreview.h"

#include "Platform/Content/DesktopThumbnailCache.h"
#include "Platform/Content/FileIcon.h"
#include "Platform/Content/ImagePreview.h"
#include "Platform/Content/PackagePreview.h"
#include "Platform/Content/PdfContent.h"
#include "Platform/Content/TextExtractor.h"
#include "Platform/Content/TextPagePreview.h"
#include "Platform/Foundation/RegularFile.h"

#include <QFileInfo>
#include <QImageReader>

#include <mutex>

namespace platform {

namespace {

using PackagePicture = Result<QImage> (*)(const PackageReader&, const QSize&, ExtractionContext&);

// A package's own picture, else its first lines of text.
ContentPreview::Provider packageProvider(PackagePicture picture)
{
    return [picture](const QString& path, const QSize& box) -> Result<QImage> {
        ExtractionContext ctx(ExtractionLimits::forPreview());
        auto package = PackageReader::open(path);
        if (!package)
            return std::unexpected(package.error());
        auto image = picture(*package, box, ctx);
        if (image)
            return image;
        return ContentPreview::textPage(path, box);
    };
}

Result<QImage> pdfPage(const QString& path, const QSize& box)
{
    ExtractionContext ctx(ExtractionLimits::forPreview());
    return PdfContent::renderFirstPage(path, box, ctx);
}

Result<QImage> imageFile(const QString& path, const QSize& box)
{
    return ImagePreview::fromFile(path, box);
}

} // namespace

ContentPreview& ContentPreview::shared()
{
    static ContentPreview registry;
    static std::once_flag filled;
    std::call_once(filled, [] { registry.registerBuiltIns(); });
    return registry;
}

void ContentPreview::registerBuiltIns()
{
    // Text-like kinds first, so that the kinds below can claim their own extensions.
    registerProvider({QStringLiteral("txt"), QStringLiteral("text"), QStringLiteral("md"), QStringLiteral("csv"),
                      QStringLiteral("log"), QStringLiteral("rtf"), QStringLiteral("rtfd"), QStringLiteral("html"),
                      QStringLiteral("htm"), QStringLiteral("eml"), QStringLiteral("emlx")},
                     {QStringLiteral("text/plain"), QStringLiteral("text/rtf"), QStringLiteral("application/rtf"),
                      QStringLiteral("message/rfc822")},
                     textPage, true);

    QStringList imageExtensions, imageTypes;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        imageExtensions.append(QString::fromLatin1(format).toLower());
    for (const QByteArray& type : QImageReader::supportedMimeTypes())
        imageTypes.append(QString::fromLatin1(type));
    registerProvider(imageExtensions, imageTypes, imageFile);

    registerProvider({QStringLiteral("pdf")}, {QStringLiteral("application/pdf")}, pdfPage);
    registerProvider({QStringLiteral("docx"), QStringLiteral("docm"), QStringLiteral("xlsx"), QStringLiteral("xlsm"),
                      QStringLiteral("pptx"), QStringLiteral("pptm"), QStringLiteral("ppsx")},
                     {QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document"),
                      QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"),
                      QStringLiteral("application/vnd.openxmlformats-officedocument.presentationml.presentation")},
                     packageProvider(PackagePreview::officeThumbnail));
    registerProvider({QStringLiteral("odt"), QStringLiteral("ods"), QStringLiteral("odp"), QStringLiteral("odg"),
                      QStringLiteral("ott"), QStringLiteral("ots"), QStringLiteral("otp")},
                     {QStringLiteral("application/vnd.oasis.opendocument.text"),
                      QStringLiteral("application/vnd.oasis.opendocument.spreadsheet"),
                      QStringLiteral("application/vnd.oasis.opendocument.presentation"),
                      QStringLiteral("application/vnd.oasis.opendocument.graphics")},
                     packageProvider(PackagePreview::openDocumentThumbnail));
    registerProvider({QStringLiteral("pages"), QStringLiteral("numbers"), QStringLiteral("key")},
                     {QStringLiteral("application/vnd.apple.pages"), QStringLiteral("application/vnd.apple.numbers"),
                      QStringLiteral("application/vnd.apple.keynote")},
                     packageProvider(PackagePreview::iWorkPreview), true);
    registerProvider({QStringLiteral("epub")}, {QStringLiteral("application/epub+zip")},
                     packageProvider(PackagePreview::epubCover));
}

void ContentPreview::registerProvider(const QStringList& extensions, const QStringList& mimeTypes, Provider provider,
                                      bool acceptsFolders)
{
    m_providers.add(extensions, mimeTypes, provider, acceptsFolders);
}

Result<QImage> ContentPreview::thumbnail(const QString& path, const QSize& box) const
{
    if (path.isEmpty() || box.isEmpty())
        return contentError(ContentError::NotFound, QStringLiteral("no file to preview"));
    const QFileInfo info(path);
    if (!info.exists())
        return contentError(ContentError::NotFound, QStringLiteral("no such file: %1").arg(path));
    // Opening a pipe or a device would block or never end; providers open the path again.
    if (!info.isDir()) {
        if (auto regular = RegularFile::check(path, -1); !regular)
            return contentErrorOfOpen(regular.error());
    }
    const Provider provider = m_providers.find(info, info.isDir());
    if (!provider) {
        if (auto cached = DesktopThumbnailCache::lookup(path, box))
            return ImagePreview::normalised(*cached);
        return contentError(ContentError::Unsupported, QStringLiteral("no preview for %1").arg(path));
    }
    auto image = provider(path, box);
    if (!image)
        return image;
    // Providers may hand back more than asked (an embedded picture, a cached thumbnail).
    if (image->isNull())
        return contentError(ContentError::Unreadable, QStringLiteral("empty preview for %1").arg(path));
    return ImagePreview::normalised(ImagePreview::fitted(*image, box));
}

QImage ContentPreview::preview(const QString& path, const QSize& box) const
{
    if (path.isEmpty() || box.isEmpty())
        return {};
    if (auto image = thumbnail(path, box))
        return *image;
    return ImagePreview::normalised(FileIcon::iconFor(path, box));
}

Result<QImage> ContentPreview::textPage(const QString& path, const QSize& box)
{
    auto text = TextExtractor::shared().extract(path, ExtractionLimits::forPreview());
    if (!text)
        return std::unexpected(text.error());
    return TextPagePreview::render(text->text, box);
}

} // namespace platform
