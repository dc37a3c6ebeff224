// The export sheet's content: the line naming the document being copied, a determinate
// progress bar and Cancel.
#pragma once

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

struct ExportDocumentWindowOutlets {
    QWidget* content = nullptr;
    QLabel* txtHint = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QPushButton* btnCancel = nullptr;
};

// The content is made without a parent; its owner (the sheet) takes it.
void buildExportDocumentWindow(ExportDocumentWindowOutlets& outlets);
