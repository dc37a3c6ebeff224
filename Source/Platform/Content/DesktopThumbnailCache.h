// Thumbnails the desktop has already made, from the shared freedesktop cache
// ($XDG_CACHE_HOME/thumbnails), for kinds no provider here reads (videos, fonts, models…).
//
// A cached picture is used only while it still describes the file: its recorded modification
// time must equal the file's. Nothing is ever written to the cache; that is the desktop's job.
// A document that leaves the library for the SafeBox or for good takes its cached pictures with
// it (forget), so none of its pages stays readable in the user's home.
#pragma once

#include "Platform/Content/ExtractionContext.h"

#include <QImage>
#include <QSize>

namespace platform {

class DesktopThumbnailCache {
public:
    // The freshest cached thumbnail of the file, largest first, fitted within box; NotFound
    // when the cache has none that matches the file.
    static Result<QImage> lookup(const QString& path, const QSize& box);
    // The cache file name for a path: the MD5 of its file URI, in hexadecimal, plus ".png".
    static QString cacheName(const QString& path);
    // Deletes every cached thumbnail of the file at path (every size, and the failure marks).
    static void forget(const QString& path);
};

} // namespace platform
