// The upgrade window's two views and its buttons, built in code: the question with "Upgrade"
// and "Cancel", and the progress view with an indeterminate indicator.
#pragma once

#include <QSize>

class QDialog;
class QProgressBar;
class QPushButton;
class QStackedLayout;
class QWidget;

struct NeedUpgradLibraryWindowOutlets {
    QDialog* window = nullptr;
    QStackedLayout* content = nullptr; // holds the two views; the shown one is current
    QWidget* firstView = nullptr;
    QWidget* updateingView = nullptr;
    QProgressBar* indicator = nullptr;
    QPushButton* updateButton = nullptr;
    QPushButton* cancelButton = nullptr;
    // The sizes the views are designed for; the window takes the size of the one it shows.
    QSize firstViewSize;
    QSize updateingViewSize;
};

// A new window (no parent unless given) with both views; neither is shown yet.
NeedUpgradLibraryWindowOutlets buildNeedUpgradLibraryWindow(QWidget* parent = nullptr);
