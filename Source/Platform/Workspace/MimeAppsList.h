// One "mimeapps.list" file: the user's and the system's choices of applications per MIME type
// (URL schemes appear as "x-scheme-handler/<scheme>").
//
// Several of these files apply at once, most important first: the desktop-specific and plain
// lists of the config home, of the config dirs, of the data home's and data dirs'
// "applications" folders (where the older "defaults.list" also counts). filesFromEnvironment()
// gives that order; the application database combines them.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace platform {

struct MimeAppsList {
    QString path;
    QHash<QString, QStringList> defaults; // MIME type (lower case) → desktop IDs, best first
    QHash<QString, QStringList> added;
    QHash<QString, QStringList> removed;

    // A missing or unreadable file is an empty list: most of the candidate files never exist.
    static MimeAppsList read(const QString& path);
    static MimeAppsList parse(const QByteArray& data, const QString& path);

    // Every candidate path, most important first, whether it exists or not.
    static QStringList filesFromEnvironment();
};

// The XDG folder lists, read from the environment at each call (with the standard defaults).
QStringList xdgDataDirs();   // data home first, then $XDG_DATA_DIRS
QStringList xdgConfigDirs(); // config home first, then $XDG_CONFIG_DIRS

} // namespace platform
