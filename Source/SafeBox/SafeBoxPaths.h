// Where the SafeBox of a library is opened: a hidden folder, named by the hash of the library
// folder, inside the user's private runtime folder. Start-up looks for the same folder to find a
// box left open by a program that died.
#pragma once

#include <QString>

class SafeBoxPaths {
public:
    // "$XDG_RUNTIME_DIR/Folivo 2/SafeBox"; empty when the session has no runtime folder.
    static QString runtimeFolder();
    // runtimeFolder() + "/.<hash of the store's folder>"; empty without a runtime folder.
    static QString mountPoint(const QString& storeFile);
};
