// The "MergePDFWindow" sheet: while the merge runs a busy bar, a line of text and Cancel; at the
// end the hint view (a text and the finish button) in its place.
#pragma once

#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

struct MergePDFOutlets {
    QPointer<QWidget> window;   // the sheet's content
    QWidget* workView = nullptr;
    QProgressBar* progress = nullptr;
    QPushButton* btnCancel = nullptr;
    QWidget* hintView = nullptr;
    QLabel* txtHint = nullptr;
    QPushButton* btnFinished = nullptr;
};

// Builds the content (without a parent) and fills the outlets; the hint view starts hidden.
void buildMergePDFWindow(MergePDFOutlets& outlets);
