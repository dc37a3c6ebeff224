// One change reported by a file-event stream: the item's path, the watched root it lies in,
// and what happened, as flag bits.
//
// The flags of one path's events in a batch are or-ed together, so each kind has a bit of its
// own; they show in the log as one number, read with the values below. Paths are absolute, never end in "/", and are valid UTF-8 (an
// item whose name is not is not reported).
#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace platform {

using FileEventFlags = quint32;

namespace FileEventFlag {
inline constexpr FileEventFlags None = 0;
// Something below the path changed that was not seen item by item: look at all of it.
inline constexpr FileEventFlags MustScanSubDirs = 0x1;
// The kernel's queue overflowed and events were lost (comes with MustScanSubDirs).
inline constexpr FileEventFlags KernelDropped = 0x4;
// The watched root itself was removed, moved or replaced.
inline constexpr FileEventFlags RootChanged = 0x20;
// The file system holding the root was unmounted.
inline constexpr FileEventFlags Unmount = 0x80;
inline constexpr FileEventFlags ItemCreated = 0x100;
inline constexpr FileEventFlags ItemRemoved = 0x200;
inline constexpr FileEventFlags ItemInodeMetaMod = 0x400;
inline constexpr FileEventFlags ItemRenamed = 0x800;
inline constexpr FileEventFlags ItemModified = 0x1000;
inline constexpr FileEventFlags ItemIsFile = 0x10000;
inline constexpr FileEventFlags ItemIsDir = 0x20000;
// Not a kernel event: the periodic look at a root that cannot be watched (comes with
// MustScanSubDirs).
inline constexpr FileEventFlags Polled = 0x1000000;
} // namespace FileEventFlag

struct FileEvent {
    QString path;
    QString root;
    FileEventFlags flags = FileEventFlag::None;

    bool has(FileEventFlags bits) const { return (flags & bits) != 0; }
    friend bool operator==(const FileEvent&, const FileEvent&) = default;
};

using FileEventBatch = QList<FileEvent>;

} // namespace platform
