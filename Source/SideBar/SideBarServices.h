// What the main side bar works with beyond its view: the library store, the file-system event
// listener and the index-folder manager, the desktop's file manager, the confirmation and
// removal of a document source, and a question to the application. The program uses the
// shared objects; tests hand in their own (a scratch library, a manager over it, a workspace
// over a fake launcher).
#pragma once

#include "IndexFolder/IndexFolderServices.h"

#include <QString>
#include <functional>

class DataBaseEngine;
class FSEventsListener;
class KPIndexFolderManager;
class QWidget;
namespace platform {
class Workspace;
}

struct SideBarServices {
    DataBaseEngine* library = nullptr;
    FSEventsListener* eventsListener = nullptr;
    KPIndexFolderManager* indexFolderManager = nullptr;
    platform::Workspace* workspace = nullptr;
    // Asks in a sheet on window whether the document source at path (shown as title) may be
    // removed; on yes it writes the removal to the library (its rows and documents) and answers
    // 1, else 0. Empty: sources cannot be removed from the side bar.
    std::function<void(const QString& path, const QString& title, QWidget* window,
                       std::function<void(int result)> completion)>
        removeDocumentSource;
    // Whether a tag pop-over is open (a finished index folder is then not shown again).
    std::function<bool()> isTagPopoverOpen;
    // Where the open SafeBox is mounted; empty (or unset) while it is closed, and then nothing
    // is dropped on it.
    std::function<QString()> safeBoxDisk;

    // The shared store, listener, manager and workspace of the running program, and the
    // removal sheet over the shared stores.
    static SideBarServices shared();
    // The removal sheet over the given stores, for removeDocumentSource.
    static std::function<void(const QString&, const QString&, QWidget*, std::function<void(int)>)>
    removalSheet(const IndexFolderServices& stores);
};
