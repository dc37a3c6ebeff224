// The import result window's two layouts and controls, built in code: the layout with the list
// of files that could not be imported, and the short one that only says how many arrived.
#pragma once

#include <QSize>

class QCheckBox;
class QDialog;
class QLabel;
class QPushButton;
class QStackedLayout;
class QTableWidget;
class QWidget;

struct ImportHintWindowOutlets {
    QDialog* window = nullptr;
    QStackedLayout* content = nullptr; // the shown layout is current
    QWidget* firstView = nullptr;
    QLabel* importHintTextFiled = nullptr;
    QTableWidget* tableView = nullptr; // one column, "PathValue"
    QWidget* secondView = nullptr;
    QLabel* importHintTextFiled2 = nullptr;
    // One check box and one OK button per layout.
    QCheckBox* checkBox = nullptr;
    QCheckBox* checkBox2 = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* okButton2 = nullptr;
    QSize firstViewSize;
    QSize secondViewSize;
};

// A new window (no parent unless given) holding both layouts; nothing is shown yet.
ImportHintWindowOutlets buildImportHintWindow(QWidget* parent = nullptr);
