// A picture of any file: its preview (a PDF's first page, the image itself, a package's
// embedded preview, the first lines of a text), else the icon of its kind. Imports and received
// files ask for 512×512 ("points" are pixels here). Made synchronously on the caller's thread,
// which is a worker during imports; everything is QImage, so any thread will do.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// Tuning: the preview size of imported and received documents.
inline constexpr QSize kQuickLookPreviewSize{512, 512};

// The preview at its own pixel size within size, else the kind's icon at size marked as a
// template image; null for an empty path. asIcon asks for the decorated icon form where the
// preview source offers one.
QImage imageWithPreviewOfFileAtPath(const QString& path, const QSize& size, bool asIcon);

// Whether the image is a kind icon standing in for a missing preview.
bool isTemplateImage(const QImage& image);
