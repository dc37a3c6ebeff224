// A menu as a value: its items with title, tag, enabled and checked state, key equivalent,
// carried data, separators and submenus, and the command an item performs. Menus are built as
// models and turned into QMenus at the one place that shows them, so tests compare models
// instead of opening menus, and read a QMenu back into a model where the menu was built by Qt.
//
// Where an action keeps what Qt has no field for: the tag in QAction::data() (an int, as the
// hand-built menus of the side bars already do), the carried data in the dynamic property
// "DataObj" (the property the program's menu items use for their object), the command name in
// the property "MenuCommand". Read them through menuItemTag/menuItemData/menuItemCommand.
// Titles are shown literally ("R&D" shows an ampersand, no shortcut underline).
//
// Threads: main thread only (QMenu).
#pragma once

#include <QKeySequence>
#include <QString>
#include <QVariant>
#include <functional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace platform::kit {

struct MenuItemModel {
    enum class Kind { Item, Separator, Submenu };

    Kind kind = Kind::Item;
    QString title;
    int tag = 0;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;   // a checked item is shown checkable
    QKeySequence keyEquivalent;
    QVariant data;
    // Performed through the command dispatcher when the item is chosen; empty: none.
    QString command;
    // The items of a submenu (Kind::Submenu).
    std::vector<MenuItemModel> items;

    static MenuItemModel item(const QString& title, int tag = 0, const QString& command = {}, const QVariant& data = {});
    static MenuItemModel separator();
    static MenuItemModel submenu(const QString& title, std::vector<MenuItemModel> items);

    friend bool operator==(const MenuItemModel&, const MenuItemModel&);
};

struct MenuModel {
    QString title;
    std::vector<MenuItemModel> items;

    // The first item (depth first, submenus included) with tag, or null.
    const MenuItemModel* findTag(int tag) const;
    QStringList titles() const;

    friend bool operator==(const MenuModel&, const MenuModel&) = default;
};

// Builds the menu, owned by parent. Choosing an item calls onTriggered with its action; without
// onTriggered an item with a command performs it on the shared dispatcher (performFromAction).
QMenu* toQMenu(const MenuModel& model, QWidget* parent, std::function<void(QAction*)> onTriggered = {});
// Appends items to an existing menu (one filled again each time it opens), as toQMenu would.
void fillQMenu(QMenu* menu, const std::vector<MenuItemModel>& items, std::function<void(QAction*)> onTriggered = {});
// Reads a menu back, submenus included.
MenuModel fromQMenu(const QMenu* menu);

int menuItemTag(const QAction* action);
QVariant menuItemData(const QAction* action);
QString menuItemCommand(const QAction* action);

} // namespace platform::kit
