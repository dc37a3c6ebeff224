#include "Tools/KPThumbnailRebuilder.h"

#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Utilities/ImageQuickLook.h"

#include <QBuffer>
#include <QSaveFile>

using namespace platform;

namespace {

const QString kDomain = QStringLiteral("RebuildContent");

} // namespace

KPThumbnailRebuilder::PreviewProvider KPThumbnailRebuilder::defaultPreviewProvider()
{
    return [](const QString& path, const QSize& size) { return imageWithPreviewOfFileAtPath(path, size, false); };
}

QByteArray KPThumbnailRebuilder::encodeThumbnail(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, image.hasAlphaChannel() ? "PNG" : "JPEG"))
        return {};
    return bytes;
}

Result<void> KPThumbnailRebuilder::replaceThumbnail(const QString& thumbPath, const QImage& image)
{
    const QByteArray bytes = encodeThumbnail(image);
    if (bytes.isEmpty())
        return fail(kDomain, 1, QStringLiteral("The preview of %1 could not be encoded").arg(thumbPath));
    QSaveFile file(thumbPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return fail(kDomain, 2, QStringLiteral("%1: %2").arg(thumbPath, file.errorString()));
    return {};
}

Result<void> KPThumbnailRebuilder::rebuildPreview(const DBFileInfo& fileInfo, const PreviewProvider& provider,
                                                  const std::function<void(const QString& title)>& showHint)
{
    const QString path = DBHelper::CombinFileAbsolutePath(fileInfo);
    const QString thumbPath = DBHelper::CombinThumbAbsolutePath(fileInfo);
    // Without a thumbnail name there is nothing to replace, and a new name would need the store.
    if (thumbPath.isEmpty())
        return fail(kDomain, 3, QStringLiteral("%1 has no thumbnail").arg(fileInfo.title()));
    const QImage preview = provider(path, kQuickLookPreviewSize);
    if (showHint)
        showHint(fileInfo.title());
    if (preview.isNull())
        return fail(kDomain, 4, QStringLiteral("No preview of %1").arg(path));
    return replaceThumbnail(thumbPath, preview);
}
