// The "SourceSetupView" pane: a bordered content view with the iCloud area (title and Manage…)
// at the top and room for the six service rows below it, laid out by hand 52 points apart.
#pragma once

#include <QRect>

class KPCoustomDrawBGView;
class QLabel;
class QPushButton;
class QWidget;

struct SourceSetupOutlets {
    KPCoustomDrawBGView* view = nullptr;
    KPCoustomDrawBGView* iCloudView = nullptr;
    QLabel* iCloudIcon = nullptr;
    QLabel* txtiCloudTitle = nullptr;
    QPushButton* btnManageCloud = nullptr;
};

// The distance from one row's top to the next, and the rows' left edge (y-up numbers).
inline constexpr int kSourceRowStep = 52;
inline constexpr int kSourceRowX = 2;

// The frame (Qt's y-down) of the element at index in a view viewHeight high: the iCloud area
// (0) or a row, whose y-up origin lies index + 1 steps below the view's top.
QRect sourceRowFrame(int index, int viewHeight);
// The height that holds count elements.
int sourceRowsHeight(int count);

// Builds the pane with room for rowCount rows below the iCloud area.
void buildSourceSetupView(SourceSetupOutlets& outlets, int rowCount, QWidget* parent);
