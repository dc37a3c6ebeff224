// The "NotFoundDataBaseWindow": a title, a hint and two buttons, choose (left) and create
// (right), whose actions the controller connects for its mode.
#pragma once

#include <QPointer>

class QDialog;
class QLabel;
class QPushButton;
class QWidget;

struct NotFoundDataBaseOutlets {
    QPointer<QDialog> window;
    QLabel* txtTitle = nullptr;
    QLabel* txtHint = nullptr;
    QPushButton* btnChoose = nullptr;
    QPushButton* btnCreate = nullptr;
};

void buildNotFoundDataBaseWindow(NotFoundDataBaseOutlets& outlets, QWidget* parent);
