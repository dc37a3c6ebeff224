// Moving files to the user's trash as the desktop's file managers share it: the item goes into
// "$XDG_DATA_HOME/Trash/files" and a "<name>.trashinfo" beside it in "info" records where it
// came from and when, so the file manager can put it back.
//
// The info file is created first and exclusively: that is what claims a name, so two programs
// trashing "report.pdf" at once take "report.pdf" and "report.2.pdf", and nothing already in
// the trash is ever replaced. The item then moves with a rename that refuses to overwrite; when
// that fails the claimed info file is removed again. Only items on the same file system as the
// trash are taken: copying a large folder across devices is not a trash operation, and the
// caller gets an error saying so.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QDateTime>
#include <QString>

namespace platform {

class Trash {
public:
    // "$XDG_DATA_HOME/Trash".
    static QString homeTrashPath();

    // Moves the item (file, folder or link) at path to the trash; answers its path in
    // "Trash/files". deletionDate is for tests; by default the current local time.
    static Result<QString> moveToTrash(const QString& path, const QDateTime& deletionDate = QDateTime());

    // The ".trashinfo" text for an item ("[Trash Info]", Path percent-encoded, local date).
    static QByteArray trashInfo(const QString& originalPath, const QDateTime& deletionDate);
};

} // namespace platform
