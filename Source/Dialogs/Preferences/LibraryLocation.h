// The checks and the defaults behind choosing another library or setting up a new one, shared
// by the preferences and the missing-library window. Both only change the user defaults: the
// library itself is opened (or, for a new one, created) by the next start-up.
//
// The checks refuse, with a text for the user, whatever would later fail or mix a library
// into unrelated files: a folder that is no library of this program or cannot be read and
// written, and, for a new library, a folder the user may not write to or whose "Folivo 2
// Library" already exists. Main thread only (the defaults are written here).
#pragma once

#include <QString>
#include <functional>
#include <optional>

class DataBaseEngine;
class QWidget;

namespace platform::kit {
class DialogService;
}

class LibraryLocation {
public:
    static inline const QString kLibraryPathKey = QStringLiteral("String_Library_Path");
    static inline const QString kFirstRunKey = QStringLiteral("Bool_ProgramIsFirstRun");
    static inline const QString kNewLibraryName = QStringLiteral("Folivo 2 Library");

    // What the user is told when a choice is refused: message and informative text.
    struct Refusal {
        QString message;
        QString informative;
    };

    // "<folder>/Folivo 2 Library".
    static QString newLibraryPathIn(const QString& folder);
    // The library now configured.
    static QString currentLibraryPath();

    // Whether path is a library of this program that can be opened for writing, and not inside
    // a folder that library (the open one when null) watches.
    static std::optional<Refusal> checkExistingLibrary(const QString& path, DataBaseEngine* library = nullptr);
    // Whether a new library may be set up inside folder: not inside another library, nor in a
    // folder that library (the open one when null) watches.
    static std::optional<Refusal> checkNewLibraryFolder(const QString& folder, DataBaseEngine* library = nullptr);

    // Stores the chosen library and lists it among the recent ones.
    static void useExistingLibrary(const QString& path);
    // Stores "<folder>/Folivo 2 Library" as a library to be made at the next start and lists
    // it among the recent ones; answers that path.
    static QString useNewLibraryIn(const QString& folder);

    // Asks, in an open panel on window, for an existing library (chosen) or for the folder a
    // new library goes into (newFolder). What passes the checks reaches accepted; a refusal is
    // shown as an alert on window and the question ends there; a cancelled panel does nothing.
    static void askForExistingLibrary(platform::kit::DialogService& dialogs, QWidget* window,
                                      std::function<void(const QString& path)> accepted);
    static void askForNewLibraryFolder(platform::kit::DialogService& dialogs, QWidget* window,
                                       std::function<void(const QString& folder)> accepted);

    LibraryLocation() = delete;
};
