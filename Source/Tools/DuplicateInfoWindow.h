// The "DuplicationInfoWindow": a busy bar centred while the finder works, the scroll view that
// lists the groups, and a bottom bar of 42 points with the group count, Cancel and Remove.
#pragma once

#include <QPointer>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QWidget;

struct DuplicateInfoOutlets {
    QPointer<QDialog> window;
    QProgressBar* progressIndicator = nullptr;
    QScrollArea* scrollView = nullptr;
    QWidget* documentView = nullptr;   // the scroll view's content, holding the groups
    QPushButton* btnRemoveSelected = nullptr;
    QPushButton* btnCancel = nullptr;
    QLabel* txtLabelInfo = nullptr;
};

inline constexpr int kDuplicateBottomBarHeight = 42;

// Builds the window (a dialog with the given parent) and fills the outlets.
void buildDuplicationInfoWindow(DuplicateInfoOutlets& outlets, QWidget* parent);
