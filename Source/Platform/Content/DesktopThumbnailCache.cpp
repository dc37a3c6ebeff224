#include "Platform/Content/DesktopThumbnailCache.h"

#include "Platform/Content/ImageDecodeLimit.h"
#include "Platform/Content/ImagePreview.h"
#include "Platform/Foundation/Paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QUrl>

namespace platform {

namespace {
// The largest cached size is 1024 pixels a side (xx-large); 16 bits a channel at most.
constexpr qint64 kMaxThumbnailBytes = 1024LL * 1024 * 8;
} // namespace

QString DesktopThumbnailCache::cacheName(const QString& path)
{
    const QByteArray uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
}

Result<QImage> DesktopThumbnailCache::lookup(const QString& path, const QSize& box)
{
    const QFileInfo info(path);
    if (!info.exists())
        return contentError(ContentError::NotFound, QStringLiteral("no such file: %1").arg(path));
    const QString mtime = QString::number(info.lastModified().toSecsSinceEpoch());
    const QString name = cacheName(path);
    for (const char* folder : {"x-large", "xx-large", "large", "normal"}) {
        const QString file = QStringLiteral("%1/thumbnails/%2/%3").arg(Paths::cacheHome(), QLatin1String(folder), name);
        if (!QFileInfo(file).isFile())
            continue;
        // Read whole (thumbnails are small): QImageReader::text() splits keys at the first
        // colon, which garbles "Thumb::MTime"; the decoded image keeps the keys intact.
        QImageReader reader(file, "png");
        QImage image;
        if (!ImageDecodeLimit::headerWithin(reader, kMaxThumbnailBytes) || !reader.read(&image))
            continue;
        // A thumbnail of an older version of the file is worse than none.
        if (image.text(QStringLiteral("Thumb::MTime")) != mtime)
            continue;
        return ImagePreview::normalised(ImagePreview::fitted(image, box));
    }
    return contentError(ContentError::NotFound, QStringLiteral("no cached thumbnail of %1").arg(path));
}

void DesktopThumbnailCache::forget(const QString& path)
{
    if (path.isEmpty())
        return;
    const QString name = cacheName(path);
    const QString root = Paths::cacheHome() + QStringLiteral("/thumbnails");
    QStringList folders{QStringLiteral("normal"), QStringLiteral("large"), QStringLiteral("x-large"),
                        QStringLiteral("xx-large")};
    // Failure marks live one folder deeper, one folder per thumbnailer.
    for (const QString& failer : QDir(root + QStringLiteral("/fail")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        folders << QStringLiteral("fail/") + failer;
    for (const QString& folder : std::as_const(folders))
        QFile::remove(root + QLatin1Char('/') + folder + QLatin1Char('/') + name);
}

} // namespace platform
