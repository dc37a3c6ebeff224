// The export of the collection tree, run as a sheet on the main window: a progress bar, the
// title of the document being copied and Cancel. The copying runs on a background child of the
// default context (after the default context has been saved, so the worker sees the user's
// last edits); at the end, cancelled or not, the sheet ends and the export folder is shown in
// the file manager. When documents could not be exported, an alert says how many first. The
// sheet and the alerts go through the DialogService.
//
// The controller belongs to the window it runs on and deletes itself at the end; closing or
// destroying the window cancels the worker at its next check.
//
// Threads: main thread; the worker reports back through the main queue.
#pragma once

#include "Dialogs/Export/ExportDocumentWindow.h"
#include "Dialogs/Export/ExportOperation.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QWidget;

namespace platform {
class Workspace;
namespace kit {
class Sheet;
}
} // namespace platform

class ExportWindowController : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Shows the export folder at the end; null: the shared workspace.
        platform::Workspace* workspace = nullptr;
        // Test seam for the document copies (ExportOperation::setCopyFunction).
        ExportOperation::CopyFunction copy;
    };

    // Starts exporting into chosenFolder as a sheet on window. Null when no export started (the
    // folder could not be made, or no library is open): an alert on window has said why.
    static ExportWindowController* exportToFolder(QWidget* window, const QString& chosenFolder);
    static ExportWindowController* exportToFolder(QWidget* window, const QString& chosenFolder, Options options);

    ~ExportWindowController() override;

    QString exportFolder() const { return m_operation->exportFolder(); }
    const ExportDocumentWindowOutlets& outlets() const { return m_outlets; }
    void btnCancel();

Q_SIGNALS:
    // The work has ended and the folder has been revealed; the controller goes next.
    void finished(int copied, int failed, bool cancelled);

private:
    ExportWindowController(QWidget* window, std::shared_ptr<ExportOperation> operation, Options options);
    void start();
    void showProgress(int maximum, int value, const QString& title);
    void finish(const ExportOperation::Summary& summary);
    void reveal(const ExportOperation::Summary& summary);

    QPointer<QWidget> m_window;
    std::shared_ptr<ExportOperation> m_operation;
    Options m_options;
    ExportDocumentWindowOutlets m_outlets;
    platform::kit::Sheet* m_sheet = nullptr; // child of this controller
};
