// Figures of an open SafeBox as the settings and copy sheets show them, and the writer of user
// attributes into an open box.
//
// The box is a sealed archive, not a file system, so its "free space" is the least of three
// limits: the capacity recorded in the container less what the box holds, what the runtime
// folder can still take, and what the library's file system can take for the next seal.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace platform {

struct SafeBoxVolumeInfo {
    quint64 capacity = 0;
    quint64 used = 0; // allocated bytes under the mount folder
    quint64 free = 0;

    // Empty when mount is not a box the tool attached.
    static std::optional<SafeBoxVolumeInfo> forMount(const QString& mount);
};

class SafeBoxAttributes {
public:
    // Sets a user attribute of an item inside the open box at mount: as a "user." attribute
    // where the file system takes it, else in the box's sidecar, which the next seal reads.
    static Result<void> setAttribute(const QString& mount, const QString& itemPath, const QString& name,
                                     const QByteArray& value);
};

} // namespace platform
