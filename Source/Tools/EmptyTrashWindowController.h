// Empties the library's trash into the desktop's Trash, as a sheet on the main window: a
// confirmation naming how many documents are in the library's trash, then a progress view while
// the file of every document with "isTrash == YES && isNeedDelete == NO" goes to the Trash
// (library and index-folder documents alike), its thumbnail is deleted and its record is
// marked for deletion and then purged with its full-text index entry (DataBaseEngine::
// purgeDocuments) once the marks are saved; a purge that cannot finish is done at the next start.
//
// Nothing the user did not trash is lost: a record is purge-marked, and its thumbnail deleted,
// only when its file went to the Trash or was already gone. A file that could not be moved
// (no usable trash on its volume, no permission) is logged and its document stays in the
// library's trash as it was; when any stayed, an alert names how many. A document with a stored
// path that does not lead to a file of its own is never handed to the Trash.
//
// Calling order: construct, setupCloseBlock(block), beginSheet(mainWindow). The close block runs
// once on the main thread: at once after the confirmation's Cancel, else after the purge-marks
// are saved, also when the user cancelled the work (the sheet closes at once and the work ends
// after the file in hand). Once begun, the sheet owns the controller: it deletes itself when the
// sheet has ended; the work, which may outlive it, shares a state object with it.
//
// Threads: main thread, except the fetch, the moves and the marking on a global queue; every
// view update is a synchronous hop to the main thread. The cancel flag is atomic.
#pragma once

#include "Tools/EmptyTrashWindow.h"

#include <QObject>
#include <functional>
#include <memory>

namespace platform::kit {
class Sheet;
}

class EmptyTrashWindowController : public QObject {
public:
    using CloseBlock = std::function<void()>;

    // The pause between the end of the work and the sheet's closing.
    static constexpr int kClosePauseMs = 500;

    // Builds the sheet's content; the confirmation counts the documents in the library's trash.
    EmptyTrashWindowController();
    ~EmptyTrashWindowController() override;

    void setupCloseBlock(CloseBlock block);
    // Shows the content as a sheet on window's top-level window.
    void beginSheet(QWidget* window);

    // Starts the work.
    void btnOKClick();
    // 1: the progress view's Cancel (stops the work after the file in hand); any tag closes.
    void btnCancelClick(int tag);

    // The number the confirmation shows.
    qsizetype trashCount() const { return m_trashCount; }
    const EmptyTrashOutlets& outlets() const { return m_outlets; }

private:
    struct State;

    void closeWindow();

    EmptyTrashOutlets m_outlets;
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    std::shared_ptr<State> m_state;
    qsizetype m_trashCount = 0;
    bool m_started = false;
};
