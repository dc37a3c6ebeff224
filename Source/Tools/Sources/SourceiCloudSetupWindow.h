// The "SourceiCloudSetupWindow": an introduction page (what iCloud sources are, Next, and the
// help-page button) and a setting page (the app-folder rows, Done).
#pragma once

#include <QPointer>

class QDialog;
class QLabel;
class QPushButton;
class QStackedWidget;
class QWidget;

struct SourceiCloudSetupOutlets {
    QPointer<QDialog> window;
    QStackedWidget* pages = nullptr;
    QWidget* introView = nullptr;
    QLabel* txtIntro = nullptr;
    QPushButton* btnNextToSetting = nullptr;
    QPushButton* btnHowToSetup = nullptr;
    QWidget* settingView = nullptr;
    QWidget* rowsView = nullptr; // the rows go here, laid out by hand
    QPushButton* btnDone = nullptr;
};

// Builds the window (a dialog over parent) with room for rowCount rows.
void buildSourceiCloudSetupWindow(SourceiCloudSetupOutlets& outlets, int rowCount, QWidget* parent);
