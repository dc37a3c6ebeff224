#include "Utilities/HelperServices.h"

#include "Platform/Content/ContentPreview.h"
#include "Platform/Content/FileIcon.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/Workspace/Workspace.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/FinderInfo.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFileInfo>
#include <mutex>

namespace {

// The Finder label of the flags, else the colour of the first Finder tag that carries one
// ("Red\n6"): files tagged by a Mac keep their colour that way.
int defaultFinderLabel(const QString& path)
{
    const auto info = FinderInfo::read(path);
    if (!info)
        return 0;
    if (info->label() != 0)
        return info->label();
    const auto value = platform::XAttr::get(path, kFinderTagsAttribute);
    if (!value || value->isEmpty())
        return 0;
    const auto decoded = platform::PropertyList::read(*value);
    if (!decoded)
        return 0;
    for (const QVariant& entry : decoded->toList()) {
        const QString text = entry.toString();
        const qsizetype newline = text.indexOf(u'\n');
        if (newline < 0)
            continue;
        bool ok = false;
        const int colour = text.mid(newline + 1).trimmed().toInt(&ok);
        if (ok && colour >= 1 && colour <= 7)
            return colour;
    }
    return 0;
}

bool defaultIsInvisible(const QString& path)
{
    const auto info = FinderInfo::read(path);
    if (!info)
        return false;
    return platform::Workspace::isInvisibleFile(path) || info->hasFlag(FinderInfo::kIsInvisible);
}

// Uniform type identifiers of the kinds the helpers tell apart by type.
QString defaultContentType(const QString& path)
{
    const QFileInfo info(QDir::cleanPath(path));
    const QString extension = info.suffix().toLower();
    if (extension == QLatin1String("rtfd"))
        return QStringLiteral("com.apple.rtfd");
    if (extension == QLatin1String("key"))
        return QStringLiteral("com.apple.iwork.keynote.key");
    if (extension == QLatin1String("numbers"))
        return QStringLiteral("com.apple.iwork.numbers.numbers");
    if (extension == QLatin1String("pages"))
        return QStringLiteral("com.apple.iwork.pages.pages");
    if (extension == QLatin1String("app") && info.isDir())
        return QStringLiteral("com.apple.application-bundle");
    return {};
}

QImage defaultPreview(const QString& path, const QSize& size, bool)
{
    const auto thumbnail = platform::ContentPreview::shared().thumbnail(path, size);
    return thumbnail ? *thumbnail : QImage();
}

QStringList defaultApplications(const QString& path)
{
    const auto found = platform::Workspace::shared().applicationsForFile(path);
    if (!found.defaultApplication)
        return {};
    QStringList paths{found.defaultApplication->path};
    for (const auto& application : found.otherApplications)
        paths.append(application.path);
    return paths;
}

bool defaultSetFolderIcon(const QString& iconPath, const QString& folder)
{
    const auto set = platform::Workspace::setFolderIcon(folder, iconPath);
    if (!set)
        KPLogLogMessage(set.error().toString());
    return set.has_value();
}

std::mutex& tableMutex()
{
    static std::mutex mutex;
    return mutex;
}

HelperServices& table()
{
    static HelperServices services = HelperServices::defaults();
    return services;
}

} // namespace

HelperServices HelperServices::defaults()
{
    HelperServices services;
    services.previewImage = defaultPreview;
    services.fileIcon = [](const QString& path, const QSize& size) {
        return platform::FileIcon::iconFor(path, size);
    };
    services.authors = [](const QString&) { return QStringList(); };
    services.displayName = [](const QString&) { return QString(); };
    services.lastUsedDate = [](const QString&) { return std::optional<QDateTime>(); };
    services.contentType = defaultContentType;
    services.finderLabel = defaultFinderLabel;
    services.isInvisible = defaultIsInvisible;
    services.applications = defaultApplications;
    services.setFolderIcon = defaultSetFolderIcon;
    return services;
}

const HelperServices& HelperServices::current()
{
    std::lock_guard lock(tableMutex());
    return table();
}

HelperServices HelperServices::replace(HelperServices services)
{
    std::lock_guard lock(tableMutex());
    std::swap(table(), services);
    return services;
}
