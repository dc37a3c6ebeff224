#include "Platform/DiskImage/SafeBoxVolumeInfo.h"

#include "Platform/DiskImage/DiskImageRuntime.h"
#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/XAttr.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace platform {

namespace {

// Kept free in the runtime folder (memory-backed on most systems) and for the seal's records.
constexpr qint64 kRuntimeMargin = 64ll * 1024 * 1024;
constexpr qint64 kSealMargin = 16ll * 1024 * 1024;

quint64 clampedDifference(qint64 a, qint64 b)
{
    return a > b ? quint64(a - b) : 0;
}

} // namespace

std::optional<SafeBoxVolumeInfo> SafeBoxVolumeInfo::forMount(const QString& mount)
{
    const auto record = sbx::readAttachedRecord(mount);
    if (!record)
        return std::nullopt;
    SafeBoxVolumeInfo info;
    info.capacity = record->capacity;
    const sbx::TreeSize tree = sbx::measureTree(QFile::encodeName(mount));
    info.used = tree.allocatedBytes;
    quint64 free = info.capacity > info.used ? info.capacity - info.used : 0;
    const qint64 runtimeFree = sbx::freeBytes(mount);
    if (runtimeFree >= 0)
        free = std::min(free, clampedDifference(runtimeFree, kRuntimeMargin));
    const qint64 storeFree = sbx::freeBytes(QFileInfo(record->image).absolutePath());
    if (storeFree >= 0)
        free = std::min(free, clampedDifference(storeFree, qint64(tree.contentBytes) + kSealMargin));
    info.free = free;
    return info;
}

Result<void> SafeBoxAttributes::setAttribute(const QString& mount, const QString& itemPath, const QString& name,
                                             const QByteArray& value)
{
    if (!Paths::isPathInside(itemPath, mount) || QDir::cleanPath(itemPath) == QDir::cleanPath(mount))
        return fail(QStringLiteral("SafeBoxAttributes"), 1, QStringLiteral("%1 is not inside the open SafeBox").arg(itemPath));
    auto set = XAttr::set(itemPath, name, value);
    if (set || !XAttr::isNotSupported(set.error()))
        return set;
    const QByteArray root = QFile::encodeName(QDir::cleanPath(mount));
    const QByteArray relative = QFile::encodeName(QDir::cleanPath(itemPath)).mid(root.size() + 1);
    sbx::Sidecar sidecar = sbx::readSidecar(root);
    sidecar[relative].attributes.insert(name, value);
    return sbx::writeSidecar(root, sidecar);
}

} // namespace platform
