// The rows of the Source pane and of the iCloud window: "SourceItemView" (a cloud-sync service:
// icon, title, the folder as a path, the not-found text, Connect and the disconnect button) and
// "SourceItemCloudView" (an iCloud app folder: the same without the path). Both are kRowSize,
// laid out by hand like the rows they stand for, and draw their background through their owner.
#pragma once

#include <QSize>

class KPCoustomDrawBGView;
class QLabel;
class QPushButton;
class QWidget;
class SourceItemDisconnectButton;

struct SourceItemOutlets {
    KPCoustomDrawBGView* view = nullptr;
    QLabel* iconView = nullptr;
    QLabel* txtTitle = nullptr;
    QLabel* pathControl = nullptr; // null in an iCloud row
    QPushButton* btnConnect = nullptr;
    SourceItemDisconnectButton* btnDisconnect = nullptr;
    QLabel* txtNotFound = nullptr;
};

inline constexpr QSize kSourceRowSize(556, 50);

void buildSourceItemView(SourceItemOutlets& outlets, QWidget* parent);
void buildSourceItemCloudView(SourceItemOutlets& outlets, QWidget* parent);
