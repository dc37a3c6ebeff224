#include "Utilities/HelperServices.h"

#include "Platform/Content/ContentPreview.h"
#include "Platform/Content/FileIcon.h"
#include "Platform/Metadata/FileMetadata.h"
#include "Platform/Workspace/Workspace.h"
#include "Utilities/FinderInfo.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <mutex>

namespace {

bool defaultIsInvisible(const QString& path)
{
    const auto info = FinderInfo::read(path);
    if (!info)
        return false;
    return platform::Workspace::isInvisibleFile(path) || info->hasFlag(FinderInfo::kIsInvisible);
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
    services.authors = platform::FileMetadata::authors;
    services.displayName = platform::FileMetadata::displayName;
    services.lastUsedDate = platform::FileMetadata::lastUsedDate;
    services.contentType = platform::FileMetadata::contentType;
    services.finderLabel = platform::FileMetadata::finderLabel;
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
