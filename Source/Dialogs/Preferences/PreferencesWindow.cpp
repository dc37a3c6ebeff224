#include "Dialogs/Preferences/PreferencesWindow.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

struct PaneEntry {
    PreferencesPane pane;
    const char* identifier;
    const char* toolTipKey;
    const char* image;
    QSize size;
};

// The pane table: identifier (localised: label and window title), tool tip, tool-bar picture
// (drawn by the theme generator) and the pane's size.
const PaneEntry kPanes[kPreferencesPaneCount] = {
    {PreferencesPane::General, "General", "GeneralToolTip", "general", {580, 200}},
    {PreferencesPane::Source, "Source", "ResourcesToolTip", "sources", {580, 420}},
    {PreferencesPane::Flags, "Flags", "AppearanceToolTip", "flags", {580, 300}},
    {PreferencesPane::Formats, "Formats", "FormatToolTip", "format", {580, 380}},
    {PreferencesPane::Advanced, "Advanced", "UpdatesToolTip", "advanced", {580, 180}},
    {PreferencesPane::Devices, "Devices", "LibraryToolTip", "devices", {580, 160}},
};

QString tr(const char* key)
{
    return platform::localizedString(QLatin1String(key));
}

QLabel* label(const QString& text, QWidget* parent, const QRect& frame, Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(frame);
    l->setAlignment(align);
    return l;
}

void buildGeneral(PreferencesOutlets& o, QWidget* view)
{
    // y-down frames; the picker (y-up 42…82 in a 200-point pane) sits at 118…158.
    o.labTheme = label(tr("ThemeColorStr"), view, QRect(20, 122, 120, 32));
    label(tr("ThemeStr"), view, QRect(20, 70, 120, 24));
    o.themeMaxtrix = new QButtonGroup(view);
    auto* dark = new QRadioButton(tr("DarkThemeStr"), view);
    dark->setGeometry(156, 70, 120, 24);
    auto* light = new QRadioButton(tr("LightThemeStr"), view);
    light->setGeometry(286, 70, 120, 24);
    o.themeMaxtrix->addButton(dark, 1);
    o.themeMaxtrix->addButton(light, 2);
    label(tr("DefaultMailClientStr"), view, QRect(20, 24, 120, 26));
    o.mailClientPopButton = new QComboBox(view);
    o.mailClientPopButton->setGeometry(156, 24, 290, 26);
    o.mailClientPopButton->setIconSize(QSize(16, 16));
}

void buildFlags(PreferencesOutlets& o, QWidget* view)
{
    label(tr("FlagNamesStr"), view, QRect(40, 16, 500, 24), Qt::AlignLeft | Qt::AlignVCenter);
    int y = 52;
    for (int n : kFlagDisplayOrder) {
        auto* image = new QLabel(view);
        image->setGeometry(150, y + 4, 18, 18);
        o.flagImages.insert(n, image);
        auto* field = new QLineEdit(view);
        field->setGeometry(180, y, 240, 26);
        field->setMaxLength(kMaxFlagNameLength);
        o.flagFields.insert(n * 10 + n, field);
        y += 34;
    }
}

void buildFormats(PreferencesOutlets& o, QWidget* view)
{
    label(tr("FormatHintStr"), view, QRect(40, 12, 500, 24), Qt::AlignLeft | Qt::AlignVCenter);
    o.formatTableView = new QTableWidget(0, 1, view);
    o.formatTableView->setGeometry(40, 44, 500, 316);
    o.formatTableView->horizontalHeader()->hide();
    o.formatTableView->horizontalHeader()->setStretchLastSection(true);
    o.formatTableView->verticalHeader()->hide();
    o.formatTableView->verticalHeader()->setDefaultSectionSize(30);
    o.formatTableView->setSelectionMode(QAbstractItemView::NoSelection);
    o.formatTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void buildAdvanced(PreferencesOutlets& o, QWidget* view)
{
    label(tr("LibraryLocationStr"), view, QRect(20, 30, 130, 26));
    o.pathControl = new QPushButton(view);
    o.pathControl->setGeometry(156, 30, 400, 26);
    o.pathControl->setFlat(true);
    o.pathControl->setCursor(Qt::PointingHandCursor);
    o.pathControl->setStyleSheet(QStringLiteral("text-align: left; text-decoration: underline;"));
    o.btnChooseLibrary = new QPushButton(tr("ChooseLibraryStr"), view);
    o.btnChooseLibrary->setGeometry(156, 76, 190, 30);
    o.btnCreateLibrary = new QPushButton(tr("CreateNewLibraryStr"), view);
    o.btnCreateLibrary->setGeometry(356, 76, 190, 30);
    label(tr("LibraryChangeHintStr"), view, QRect(156, 116, 400, 40), Qt::AlignLeft | Qt::AlignTop)->setWordWrap(true);
}

} // namespace

QString preferencesPaneName(PreferencesPane pane)
{
    return tr(kPanes[int(pane)].identifier);
}

void buildPreferencesWindow(PreferencesOutlets& o, QWidget* parent)
{
    auto* window = new QDialog(parent);
    o.window = window;
    window->setObjectName(QStringLiteral("PreferencesWindow"));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetNoConstraint);

    o.toolBar = new QToolBar(QStringLiteral("preferencePanes"), window);
    o.toolBar->setObjectName(QStringLiteral("preferencePanes"));
    o.toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    o.toolBar->setIconSize(QSize(32, 32));
    o.toolBar->setMovable(false);
    o.toolBar->setFloatable(false);
    layout->addWidget(o.toolBar);
    o.paneGroup = new QActionGroup(window);
    o.paneGroup->setExclusive(true);

    o.stack = new QStackedWidget(window);
    layout->addWidget(o.stack, 1);
    const QString iconFolder = platform::Bundle::mainBundle().resourcePath() + QStringLiteral("/preferences/");
    for (const PaneEntry& entry : kPanes) {
        auto* view = new QWidget;
        view->setFixedSize(entry.size);
        o.views[int(entry.pane)] = view;
        o.stack->addWidget(view);
        if (entry.pane == PreferencesPane::Devices)
            continue;
        auto* item = o.toolBar->addAction(QIcon(iconFolder + QLatin1String(entry.image) + QStringLiteral(".png")),
                                          tr(entry.identifier));
        item->setToolTip(tr(entry.toolTipKey));
        item->setCheckable(true);
        item->setData(int(entry.pane));
        o.paneGroup->addAction(item);
        o.items.insert(entry.pane, item);
    }
    buildGeneral(o, o.views[int(PreferencesPane::General)]);
    buildFlags(o, o.views[int(PreferencesPane::Flags)]);
    buildFormats(o, o.views[int(PreferencesPane::Formats)]);
    buildAdvanced(o, o.views[int(PreferencesPane::Advanced)]);
}
