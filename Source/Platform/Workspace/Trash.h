// Moving files to the user's trash as the desktop's file managers share it: the item goes into
// a trash's "files" folder and a "<name>.trashinfo" beside it in "info" records where it came
// from and when, so the file manager can put it back.
//
// Which trash: the home trash ("$XDG_DATA_HOME/Trash") for items on the file system that holds
// it; for an item on another file system (a second disk, a USB stick) the trash at the top of
// that file system, "$topdir/.Trash-$uid", made with mode 0700 when missing. The item is only
// ever renamed into a trash on its own file system: copying a large folder across devices is
// not a trash operation, so a volume without a usable trash gives the caller an error and the
// item stays where it was. Info files of a top-directory trash name the item relative to the
// top directory, so the volume may be mounted elsewhere later.
//
// The info file is created first and exclusively: that is what claims a name, so two programs
// trashing "report.pdf" at once take "report.pdf" and "report.2.pdf", and nothing already in
// the trash is ever replaced. The item then moves with a rename that refuses to overwrite; when
// that fails the claimed info file is removed again.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QDateTime>
#include <QString>

namespace platform {

class Trash {
public:
    // "$XDG_DATA_HOME/Trash".
    static QString homeTrashPath();

    // Moves the item (file, folder or link) at path to the trash of its file system; answers
    // its path in that trash's "files" folder. deletionDate is for tests; by default the
    // current local time.
    static Result<QString> moveToTrash(const QString& path, const QDateTime& deletionDate = QDateTime());

    // The ".trashinfo" text for an item ("[Trash Info]", Path percent-encoded, local date).
    static QByteArray trashInfo(const QString& originalPath, const QDateTime& deletionDate);

    // Test seam: answers the device an item is on (followLinks: of a link's target, else of the
    // link itself); nullptr restores the file system's own answer.
    using DeviceFunction = Result<quint64> (*)(const QString& path, bool followLinks);
    static void setDeviceFunctionForTesting(DeviceFunction function);
};

} // namespace platform
