// Where the program's folders are on Linux.
//
// The program's data lives where the desktop's other programs keep theirs, in the XDG base
// folders: its support folder (logs, settings it keeps as files) is $XDG_DATA_HOME/<name>,
// the documents folder is Qt's documents location, and the temporary folder is
// a private per-user folder, so no other account can read what is staged there. Every lookup reads the
// environment at call time (nothing is cached), so tests that point HOME and XDG_* at a scratch
// folder get scratch paths. Paths are compared exactly and by whole components: Linux file
// names are case-sensitive, and "/a/bc" is not inside "/a/b".
#pragma once

#include "Platform/Foundation/Error.h"

#include <QString>

namespace platform {

class Paths {
public:
    // $HOME when it is an absolute path, else the account's home from the password database.
    static QString homeDirectory();
    // The account's home from the password database (ignoring $HOME); empty when the user has
    // no entry. Only for building paths the user sees; tests should not write there.
    static QString realHomeDirectory();

    // $XDG_DATA_HOME, $XDG_CONFIG_HOME, $XDG_CACHE_HOME when absolute, else the defaults under
    // the home folder (.local/share, .config, .cache). Not created.
    static QString dataHome();
    static QString configHome();
    static QString cacheHome();

    // The folder under which the program keeps its own support files: the XDG data home.
    static QString applicationSupportDirectory();

    // The user's documents folder (QStandardPaths::DocumentsLocation, so XDG_DOCUMENTS_DIR).
    static QString documentsDirectory();

    // The program's private temporary folder: "$XDG_RUNTIME_DIR/Folivo 2" when the runtime
    // folder exists, else "<system temp>/Folivo 2-<uid>". The second form sits in a folder
    // everyone may write to, so it is made 0700 and refused when it is not ours.
    static QString temporaryDirectoryPath();
    // The same folder, created when missing and checked: a real folder (not a link) owned by
    // this user with mode 0700 (a wider mode is narrowed). Fails when another user owns it.
    static Result<QString> temporaryDirectory();
    // The check above for any folder path; exposed for tests and other private folders.
    static Result<QString> ensurePrivateDirectory(const QString& path);

    // "~" and "~/x" become the home folder (homeDirectory); "~name/x" the home of user name.
    // Anything else, and "~name" for an unknown user, comes back unchanged.
    static QString expandTilde(const QString& path);

    // Whether path is folder itself or lies below it, by whole components after lexical
    // cleaning ("//", "/./", "/x/.." and trailing "/" removed). Case-sensitive; empty or
    // relative inputs are never inside anything.
    static bool isPathInside(const QString& path, const QString& folder);
};

} // namespace platform
