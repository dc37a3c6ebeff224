// Makes a document's thumbnail again and puts it in place of the old one under the same name,
// so the store needs no change.
//
// The new picture is written to a temporary file beside the old one and renamed over it: until
// the rename, the old thumbnail stays whole, so a full disk or a crash never leaves a document
// without one. A picture that could not be made at all leaves the old thumbnail as it was.
//
// Threads: any thread; the preview provider must be callable from it.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

class DBFileInfo;

class KPThumbnailRebuilder {
public:
    // The document's picture at 512×512, else the icon of its kind (imageWithPreviewOfFileAtPath).
    using PreviewProvider = std::function<QImage(const QString& path, const QSize& size)>;

    static PreviewProvider defaultPreviewProvider();

    // PNG when the picture has an alpha channel, else JPEG.
    static QByteArray encodeThumbnail(const QImage& image);
    // Replaces the file at thumbPath by image's encoding, atomically.
    static platform::Result<void> replaceThumbnail(const QString& thumbPath, const QImage& image);
    // Rebuilds the thumbnail of a document read in the caller's context; showHint, when given,
    // is called with the document's title once its picture is made.
    static platform::Result<void> rebuildPreview(const DBFileInfo& fileInfo, const PreviewProvider& provider,
                                                 const std::function<void(const QString& title)>& showHint = {});
};
