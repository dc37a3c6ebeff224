// The "PreferencesWindow": a tool bar of panes over a stack of pane views, and the controls of
// each pane. The tool bar holds one exclusive, checkable action per pane except Devices, which
// has none; the actions carry the pane as data and the localised pane name as text.
#pragma once

#include <QMap>
#include <QPointer>
#include <array>

class QAction;
class QActionGroup;
class QButtonGroup;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableWidget;
class QToolBar;
class QWidget;

enum class PreferencesPane { General, Source, Flags, Formats, Advanced, Devices };
inline constexpr int kPreferencesPaneCount = 6;

struct PreferencesOutlets {
    QPointer<QDialog> window;
    QToolBar* toolBar = nullptr;
    QActionGroup* paneGroup = nullptr;
    QMap<PreferencesPane, QAction*> items; // no entry for Devices
    QStackedWidget* stack = nullptr;
    std::array<QWidget*, kPreferencesPaneCount> views{}; // by pane

    // General: the theme picker is added by the controller; the two-cell theme matrix (tags 1
    // dark, 2 light) and the default mail program.
    QLabel* labTheme = nullptr;
    QButtonGroup* themeMaxtrix = nullptr;
    QComboBox* mailClientPopButton = nullptr;

    // Flags: the picture of flag n has tag n, its name field tag "nn" (66, 77, 55 …).
    QMap<int, QLabel*> flagImages;
    QMap<int, QLineEdit*> flagFields;

    QTableWidget* formatTableView = nullptr;

    // Advanced: the library's location (clicking reveals it) and the two library buttons.
    QPushButton* pathControl = nullptr;
    QPushButton* btnChooseLibrary = nullptr;
    QPushButton* btnCreateLibrary = nullptr;
};

// The flags in the order the Flags pane lists them.
inline constexpr std::array<int, 7> kFlagDisplayOrder{6, 7, 5, 2, 4, 3, 1};
// The longest flag name kept.
inline constexpr int kMaxFlagNameLength = 40;
// Where the theme picker sits in the General pane (y-up, as the pane is laid out).
inline constexpr int kThemePickerX = 146, kThemePickerY = 42, kThemePickerWidth = 300, kThemePickerHeight = 40;

QString preferencesPaneName(PreferencesPane pane);

// Builds the window (a dialog with the given parent) and fills the outlets.
void buildPreferencesWindow(PreferencesOutlets& outlets, QWidget* parent);
