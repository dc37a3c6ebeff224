// The "RemoveDocumentSourceWindow" sheet content: the question, a busy bar, Cancel and Remove,
// and the disabled "Removing…" button that stands in place of the two while the removal runs.
#pragma once

#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

struct RemoveDocumentSourceOutlets {
    QPointer<QWidget> content;
    QLabel* txtHint = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QPushButton* btnRemove = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnRemoving = nullptr;
};

// Builds the content (no parent: a sheet takes it) and fills the outlets.
void buildRemoveDocumentSourceWindow(RemoveDocumentSourceOutlets& outlets);
