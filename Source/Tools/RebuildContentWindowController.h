// Rebuilds thumbnails and the full-text index, for the whole library (an application-modal
// window with a check box for each) or for the documents selected in the grid (a window-modal
// sheet that rebuilds their previews at once, without asking).
//
// The work runs off the main thread and may outlive the window: the user can close it, and a
// sheet deletes its controller when it closes. What the work needs after that (the cancel flag,
// the completion block, a guarded pointer to the window's hint) lives in a state object the work
// shares, so a late step never touches a deleted controller and the completion block still runs
// exactly once. Every change of the window happens on the main thread.
#pragma once

#include "Platform/ObjectStore/ObjectID.h"
#include "Tools/KPThumbnailRebuilder.h"
#include "Tools/RebuildContentWindow.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>

class KPIndexManager;
namespace platform::kit {
class Sheet;
}

class RebuildContentWindowController : public QObject {
public:
    using CompletedBlock = std::function<void()>;

    // The whole-library form; show it with open() (or runModal()).
    explicit RebuildContentWindowController(QWidget* parent = nullptr);
    // The selection form over the DBFileInfo records of the grid's selected items (their data);
    // completedBlock runs on the main thread when the rebuild ends, also after a cancel. Show it
    // with beginSheet(): a sheet hanging in parentWindow (a window-modal dialog without one).
    // It deletes itself when the sheet ends.
    RebuildContentWindowController(const QList<platform::ObjectID>& needRebuildItems, CompletedBlock completedBlock,
                                   QWidget* parentWindow);
    ~RebuildContentWindowController() override;

    // Runs the window application-modal until it closes.
    int runModal();
    // Shows the whole-library window application-modal through the dialog service, without a
    // nested event loop, and hands the controller to its window: made with new, it is deleted
    // once the window has closed. A rebuild started in it goes on after that, and its completed
    // block still runs. A second call does nothing.
    void open();
    // A whole-library controller made and opened at once; null once it has gone.
    static QPointer<RebuildContentWindowController> openLibraryWindow(QWidget* parent);
    // Shows the form as a sheet of its parent window and starts the rebuild.
    void beginSheet();

    void btnRebuild();
    // 2: stop the rebuild and close; 1: close; other tags do nothing.
    void btnCancel(int tag);
    void btnChangeClick();

    bool isCancel() const;
    const RebuildContentOutlets& outlets() const { return m_outlets; }
    QDialog* window() const;

    // A block for the whole-library form too, run on the main thread when its work has ended.
    void setCompletedBlock(CompletedBlock block);
    // Replaces how pictures are made (tests; another preview source).
    void setPreviewProvider(KPThumbnailRebuilder::PreviewProvider provider);
    // The indexer to rebuild; the shared one unless set.
    void setIndexManager(KPIndexManager* manager) { m_indexManager = manager; }

private:
    struct State;

    void setUp(QWidget* parent);
    void showProgressLayout();
    void rebuildSelection();
    void rebuildLibrary(bool previews, bool index);

    RebuildContentOutlets m_outlets;
    QList<platform::ObjectID> m_needRebuildItems;
    std::shared_ptr<State> m_state;
    KPIndexManager* m_indexManager = nullptr;
    bool m_started = false;
    bool m_ownsWindow = true; // the sheet's window owns its controller instead
    bool m_opened = false;
    // The selection form's sheet, which owns the form, and the window it hangs in.
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    QPointer<QWidget> m_sheetWindow;
};
