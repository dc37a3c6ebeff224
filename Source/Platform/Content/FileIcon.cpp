#include "Platform/Content/FileIcon.h"

#include "Platform/Content/ImagePreview.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>

#include <mutex>

namespace platform {

namespace {

// Largest first: the icon is scaled down to the preview size.
const char* const kSizes[] = {"512x512", "256x256", "128x128", "96x96", "64x64", "48x48", "32x32"};
const char* const kContexts[] = {"mimetypes", "places"};

std::mutex themeLock;
QString preferredTheme; // guarded by themeLock

QStringList themeNames()
{
    QStringList themes;
    {
        std::lock_guard lock(themeLock);
        if (!preferredTheme.isEmpty())
            themes.append(preferredTheme);
    }
    for (const QString& fallback : {QStringLiteral("Adwaita"), QStringLiteral("hicolor")}) {
        if (!themes.contains(fallback))
            themes.append(fallback);
    }
    return themes;
}

} // namespace

void FileIcon::setThemeName(const QString& theme)
{
    std::lock_guard lock(themeLock);
    preferredTheme = theme;
}

QStringList FileIcon::defaultIconRoots()
{
    QStringList roots{QDir::homePath() + QStringLiteral("/.icons")};
    roots += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                       QStandardPaths::LocateDirectory);
    if (!roots.contains(QStringLiteral("/usr/share/icons")))
        roots.append(QStringLiteral("/usr/share/icons"));
    return roots;
}

QString FileIcon::findIconFile(const QString& iconName, const QStringList& iconRoots)
{
    if (iconName.isEmpty() || iconName.contains(QLatin1Char('/')))
        return {};
    const QStringList themes = themeNames();
    for (const QString& root : iconRoots) {
        for (const QString& theme : themes) {
            for (const char* size : kSizes) {
                for (const char* context : kContexts) {
                    const QString file = QStringLiteral("%1/%2/%3/%4/%5.png")
                                             .arg(root, theme, QLatin1String(size), QLatin1String(context), iconName);
                    if (QFileInfo(file).isFile())
                        return file;
                }
            }
        }
    }
    return {};
}

QImage FileIcon::iconFor(const QString& path, const QSize& box)
{
    return iconFor(path, box, defaultIconRoots());
}

QImage FileIcon::iconFor(const QString& path, const QSize& box, const QStringList& iconRoots)
{
    if (box.isEmpty())
        return {};
    static const QMimeDatabase db;
    const QFileInfo info(path);
    // A missing file is named by its extension alone; a present one is also sniffed.
    const QMimeType type = info.exists() ? db.mimeTypeForFile(info) : db.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    QStringList names{type.iconName(), type.genericIconName()};
    for (const QString& ancestor : type.allAncestors()) {
        const QMimeType parent = db.mimeTypeForName(ancestor);
        names << parent.iconName() << parent.genericIconName();
    }
    // Themes draw few specific types; the generic icons of the type's ancestors cover the rest
    // (a C++ file falls back to text-x-generic).
    names.removeDuplicates();
    for (const QString& name : names) {
        const QString file = findIconFile(name, iconRoots);
        if (file.isEmpty())
            continue;
        if (auto image = ImagePreview::fromFile(file, box); image && !image->isNull())
            return ImagePreview::fitted(*image, box);
    }
    return genericPage(info.isDir() ? QString() : info.suffix(), box);
}

QImage FileIcon::genericPage(const QString& extension, const QSize& box)
{
    if (box.isEmpty())
        return {};
    const int side = qMin(box.width(), box.height());
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // A sheet with a folded top-right corner, in the proportions of paper.
    const double h = side * 0.9, w = h * 0.75;
    const QRectF sheet((side - w) / 2, (side - h) / 2, w, h);
    const double fold = w * 0.25;
    QPainterPath outline;
    outline.moveTo(sheet.topLeft());
    outline.lineTo(sheet.right() - fold, sheet.top());
    outline.lineTo(sheet.right(), sheet.top() + fold);
    outline.lineTo(sheet.bottomRight());
    outline.lineTo(sheet.bottomLeft());
    outline.closeSubpath();
    painter.setPen(QPen(QColor(0x9A, 0x9A, 0x9A), qMax(1.0, side / 128.0)));
    painter.setBrush(Qt::white);
    painter.drawPath(outline);
    QPainterPath corner;
    corner.moveTo(sheet.right() - fold, sheet.top());
    corner.lineTo(sheet.right() - fold, sheet.top() + fold);
    corner.lineTo(sheet.right(), sheet.top() + fold);
    painter.setBrush(QColor(0xE4, 0xE4, 0xE4));
    painter.drawPath(corner);

    const QString label = extension.left(6).toUpper();
    if (!label.isEmpty()) {
        QFont font(QStringLiteral("Sans Serif"));
        font.setBold(true);
        font.setPixelSize(qMax(4, int(w / qMax<qsizetype>(4, label.size() + 1))));
        painter.setFont(font);
        painter.setPen(QColor(0x60, 0x60, 0x60));
        painter.drawText(sheet.adjusted(0, h * 0.45, 0, 0), Qt::AlignHCenter | Qt::AlignTop, label);
    }
    painter.end();
    return image;
}

} // namespace platform
