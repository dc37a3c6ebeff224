// The "RebuildContent" window: two check boxes (previews, full-text index) with Cancel (tag 1)
// and Rebuild, and the progress layout (busy indicator, hint, Cancel with tag 2) that replaces
// them while the rebuild runs.
#pragma once

#include "Tools/TaggedButton.h"

#include <QPointer>

class QCheckBox;
class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QWidget;

struct RebuildContentOutlets {
    QPointer<QDialog> window;
    QStackedWidget* pages = nullptr;
    QCheckBox* btnPreviewChecker = nullptr;
    QCheckBox* btnIndexChecker = nullptr;
    QPushButton* btnRebuild = nullptr;
    QPushButton* btnClose = nullptr; // tag 1
    QWidget* viewBuilding = nullptr;
    QProgressBar* progressIndicator = nullptr;
    QLabel* txtHint = nullptr;
    QPushButton* btnStop = nullptr;  // tag 2
};

// Builds the window (a dialog with the given parent) and fills the outlets.
void buildRebuildContent(RebuildContentOutlets& outlets, QWidget* parent);
