// The "NeedUpgradProgramWindow": shown by start-up instead of everything else when the library
// was written by a newer version of the program. It says so and offers only to quit; the
// library is left untouched.
#pragma once

#include <QPointer>
#include <functional>

class QDialog;
class QLabel;
class QPushButton;
class QWidget;

struct NeedUpgradProgramOutlets {
    QPointer<QDialog> window;
    QLabel* txtTitle = nullptr;
    QLabel* txtHint = nullptr;
    QPushButton* btnQuit = nullptr;
};

void buildNeedUpgradProgramWindow(NeedUpgradProgramOutlets& outlets, QWidget* parent);

// Builds the window, centred over parent (or the screen), and shows it; the window goes when it
// closes, and onQuit runs then, whether by its button or by the window manager.
QDialog* showNeedUpgradProgramWindow(QWidget* parent, std::function<void()> onQuit);
