// Opening documents with the desktop's applications, from the grid and the Open command alike.
//
// A document that cannot be opened (no application for its type, only one that needs a terminal
// when none is installed, a program that does not start) is said to the user in an alert on the
// window, through the dialog service, with the reason; the log gets it too. Without the alert the
// command would seem to do nothing at all.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;
namespace platform {
class Workspace;
namespace kit {
class DialogService;
}
} // namespace platform

namespace documentopening {

inline const QString kCannotOpenText = QStringLiteral("The document \"%@\" could not be opened.");

// Opens each path; answers how many opened. One alert names the first document that did not
// open and gives every distinct reason. dialogs null: the shared service.
int openDocuments(platform::Workspace& workspace, const QStringList& paths, QWidget* window,
                  platform::kit::DialogService* dialogs = nullptr);

} // namespace documentopening
