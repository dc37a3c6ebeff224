// The "EmptyTrashWindow" sheet: the confirmation (text, Cancel with tag 0, OK) and the progress
// view shown in its place while the trash is emptied (the file in work, a progress bar, Cancel
// with tag 1).
#pragma once

#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

struct EmptyTrashOutlets {
    QPointer<QWidget> window;   // the sheet's content
    QWidget* confirmView = nullptr;
    QLabel* textField = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;      // tag 0
    QWidget* progressView = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QLabel* textFileName = nullptr;
    QPushButton* btnStop = nullptr;        // tag 1
};

// Builds the content (without a parent) and fills the outlets; the progress view starts hidden.
void buildEmptyTrashWindow(EmptyTrashOutlets& outlets);
