// Every question the windows put to the user goes through here: alerts and sheets on a window,
// open and save panels, and application-modal windows. Nothing runs a nested event loop: each
// is opened with open() (or begun as a sheet) and its answer comes through a callback on a
// later pass of the event loop. Tests use RecordingDialogService, which shows nothing, records
// every request and answers from a script.
//
// Threads: main thread only.
#pragma once

#include "Platform/Kit/Alert.h"

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace platform::kit {

class Sheet;

struct OpenPanelOptions {
    QString title;
    QString prompt;             // the accept button's text; empty: the panel's own
    QString directory;          // where the panel opens; empty: the panel's own choice
    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    bool allowsMultipleSelection = false;
    QStringList allowedSuffixes; // lower-case, without the dot; empty: any file
};

struct SavePanelOptions {
    QString title;
    QString prompt;
    QString directory;
    QString nameFieldStringValue; // the proposed file name
    QStringList allowedSuffixes;
    bool canCreateDirectories = true;
};

class DialogService {
public:
    virtual ~DialogService() = default;

    // The program's one service (the real one unless a test installed another).
    static DialogService& shared();
    // Makes service the shared one (null: back to the real one); answers the one it replaces.
    static DialogService* install(DialogService* service);

    // An alert as a sheet on window's top-level; with no window, a window-modal dialog over
    // the active window. completion receives the alert's return code.
    virtual void alert(QWidget* window, const Alert& alert, Alert::Completion completion) = 0;
    // Begins sheet on window; completion receives its return code when it ends.
    virtual void beginSheet(QWidget* window, Sheet& sheet, std::function<void(int)> completion) = 0;
    // The chosen paths; empty when the user cancelled.
    virtual void openPanel(QWidget* window, const OpenPanelOptions& options,
                           std::function<void(const QStringList& paths)> completion) = 0;
    // The chosen path; empty when the user cancelled.
    virtual void savePanel(QWidget* window, const SavePanelOptions& options,
                           std::function<void(const QString& path)> completion) = 0;
    // Shows window application-modal (opened with open(), centred over parent when given);
    // closed tells when it has closed.
    virtual void runModalWindow(QWidget* window, QWidget* parent, std::function<void()> closed = {}) = 0;
};

// The real service: what it asks is shown on the screen.
// - Alerts: a Sheet on the window, or a window-modal dialog opened with open() without one.
// - Panels: a QFileDialog opened with open(), window-modal over the given window (application-
//   modal without one), which deletes itself once answered. A panel that allows both files and
//   folders accepts a selected folder instead of opening it; one for folders alone chooses one
//   folder. A save panel asks before replacing an existing file. A panel whose window goes away
//   first answers empty then, while the window is being destroyed: the completion must not use
//   that window.
// - Modal windows: made application-modal and shown, raised and focused; closed runs once, when
//   the window is hidden, closed or destroyed (a refused close request keeps it open).
class QtDialogService final : public DialogService {
public:
    void alert(QWidget* window, const Alert& alert, Alert::Completion completion) override;
    void beginSheet(QWidget* window, Sheet& sheet, std::function<void(int)> completion) override;
    void openPanel(QWidget* window, const OpenPanelOptions& options,
                   std::function<void(const QStringList& paths)> completion) override;
    void savePanel(QWidget* window, const SavePanelOptions& options,
                   std::function<void(const QString& path)> completion) override;
    void runModalWindow(QWidget* window, QWidget* parent, std::function<void()> closed = {}) override;
};

} // namespace platform::kit
