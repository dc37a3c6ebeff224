// Helpers of the library set-up and the inspector: the library folder's icon, writing a
// document's dates back to its file, and the list of recently used libraries.
//
// GlobalFun has no instances; it only groups class-level helpers, most of which forward to the
// file and image helpers under their older names. Linux keeps no resource forks or Finder
// information for folder icons, so the icon goes wherever the desktop looks for one (through
// HelperServices::setFolderIcon). A file's birth time cannot be set on Linux, so setting a
// creation date answers false rather than pretending. Main thread for the recent list and the
// icon; the rest on any thread.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <optional>

class GlobalFun {
public:
    // Gives directory the icon in iconPath; failures are logged.
    static void setIcon(const QString& iconPath, const QString& directory);
    // False when directory is no folder or the icon could not be applied.
    static bool setAsCustomIconForDirectory(const QString& directory, const QString& iconPath);

    static QImage LoadImage(const QString& path);
    static QImage NSImageToCGImage(const QImage& image);
    static QImage imageWithAlpha(qreal alpha, const QImage& source);
    static QImage CreateBitmapContextRef(const QSizeF& size);
    static QPainterPath bezierPathWithRoundRectInRect(const QRectF& rect, qreal radius);
    // Radius 3.0 when none is given.
    static QPainterPath CreateRoundRectPathInRect(const QRectF& rect, qreal radius = 3.0);

    static QVariant AttributeFromFile(const QString& path, const QString& type);
    static std::optional<QDateTime> dateLastOpenDateByFile(const QString& path);
    static int finderLabelForURL(const QUrl& url);
    static bool isAlias(const QString& path);
    static bool hasBundle(const QString& path);
    // Set the has-bundle or the invisible Finder flag of the item; false when not written.
    static bool ChangeFileKind(const QString& path);
    static bool SetFileWithHidenAttr(const QString& path);
    // The low byte of the reserved word of the item's Finder information; 0 when unreadable.
    static int flagForPath(const QString& path);
    static bool setFlagForPath(const QString& path, bool isFlag);
    static QString volnameNameForPath(const QString& urlString);
    static bool isCommandKeyDownRightNow();
    // Whether the user's first preferred language is German.
    static bool isGermanVersion();

    // Processor time between the two calls, logged and answered in whole seconds.
    static void begin();
    static qint64 end();

    GlobalFun() = delete;
};

// False when the file is missing, the date invalid or the write failed. The creation date
// cannot be changed on Linux: always false.
bool setFileCreationDate(const QDateTime& date, const QString& path);
bool setFileModificationDate(const QDateTime& date, const QString& path);

// Appends {"Path": path} to "Array_RecentLibrary_Paths" unless an entry has exactly that path,
// and writes the defaults at once. An empty path is ignored.
void addRecentLibraryPath(const QString& path);
