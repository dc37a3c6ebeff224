// The picture of a file's type, shown when a file has no preview of its own.
//
// The icon named by the file's MIME type (or its generic icon) is looked up in the installed
// icon themes as a PNG file, at the largest size on offer. QIcon is not used: it hands out
// QPixmaps, which belong to the main thread, and previews are made on workers. When no theme
// has the icon, a plain page with the file's extension on it is drawn.
#pragma once

#include <QImage>
#include <QSize>
#include <QStringList>

namespace platform {

class FileIcon {
public:
    // The icon fitted within box; never null for a non-empty box.
    static QImage iconFor(const QString& path, const QSize& box);
    // The same, searching only the given icon folders (each holding themes).
    static QImage iconFor(const QString& path, const QSize& box, const QStringList& iconRoots);

    // The icon file for a theme icon name, or empty.
    static QString findIconFile(const QString& iconName, const QStringList& iconRoots);
    // The folders that hold icon themes: ~/.icons and the "icons" folder of every XDG data folder.
    static QStringList defaultIconRoots();

    // The user's icon theme, searched before Adwaita and hicolor. The application sets it from
    // QIcon::themeName() on the main thread at start-up; workers only read it.
    static void setThemeName(const QString& theme);

    // A generic page with the extension (upper case) written on it.
    static QImage genericPage(const QString& extension, const QSize& box);
};

} // namespace platform
