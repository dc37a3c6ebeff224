#include "Platform/Kit/MenuModel.h"

#include "Platform/Kit/CommandDispatcher.h"

#include <QAction>
#include <QMenu>

namespace platform::kit {

namespace {

constexpr char kDataKey[] = "DataObj";
constexpr char kCommandKey[] = "MenuCommand";

// Titles are shown as they are: many come from the user (collection, tag and program names),
// and an "&" in them must not turn into a shortcut underline.
QString shownText(const QString& title)
{
    QString text = title;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString titleOf(const QString& shown)
{
    QString title = shown;
    return title.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

void apply(QAction* action, const MenuItemModel& model)
{
    action->setData(model.tag);
    if (model.data.isValid())
        action->setProperty(kDataKey, model.data);
    if (!model.command.isEmpty())
        action->setProperty(kCommandKey, model.command);
    action->setEnabled(model.enabled);
    // A checked item shows its mark whether or not it was called checkable.
    action->setCheckable(model.checkable || model.checked);
    action->setChecked(model.checked);
    action->setShortcut(model.keyEquivalent);
}

void fill(QMenu* menu, const std::vector<MenuItemModel>& items, const std::function<void(QAction*)>& onTriggered)
{
    for (const MenuItemModel& item : items) {
        switch (item.kind) {
        case MenuItemModel::Kind::Separator:
            menu->addSeparator();
            break;
        case MenuItemModel::Kind::Submenu: {
            QMenu* sub = menu->addMenu(shownText(item.title));
            apply(sub->menuAction(), item);
            fill(sub, item.items, onTriggered);
            break;
        }
        case MenuItemModel::Kind::Item: {
            QAction* action = menu->addAction(shownText(item.title));
            apply(action, item);
            QObject::connect(action, &QAction::triggered, action, [action, onTriggered] {
                if (onTriggered)
                    onTriggered(action);
                else
                    CommandDispatcher::shared().performFromAction(action);
            });
            break;
        }
        }
    }
}

std::vector<MenuItemModel> read(const QMenu* menu)
{
    std::vector<MenuItemModel> items;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            items.push_back(MenuItemModel::separator());
            continue;
        }
        MenuItemModel item;
        item.title = titleOf(action->text());
        item.tag = menuItemTag(action);
        item.enabled = action->isEnabled();
        item.checkable = action->isCheckable();
        item.checked = action->isChecked();
        item.keyEquivalent = action->shortcut();
        item.data = menuItemData(action);
        item.command = menuItemCommand(action);
        if (const QMenu* sub = QMenu::menuInAction(action)) {
            item.kind = MenuItemModel::Kind::Submenu;
            item.items = read(sub);
        }
        items.push_back(std::move(item));
    }
    return items;
}

const MenuItemModel* findIn(const std::vector<MenuItemModel>& items, int tag)
{
    for (const MenuItemModel& item : items) {
        if (item.kind == MenuItemModel::Kind::Separator)
            continue;
        if (item.tag == tag)
            return &item;
        if (const MenuItemModel* found = findIn(item.items, tag))
            return found;
    }
    return nullptr;
}

} // namespace

MenuItemModel MenuItemModel::item(const QString& title, int tag, const QString& command, const QVariant& data)
{
    MenuItemModel model;
    model.title = title;
    model.tag = tag;
    model.command = command;
    model.data = data;
    return model;
}

MenuItemModel MenuItemModel::separator()
{
    MenuItemModel model;
    model.kind = Kind::Separator;
    return model;
}

MenuItemModel MenuItemModel::submenu(const QString& title, std::vector<MenuItemModel> items)
{
    MenuItemModel model;
    model.kind = Kind::Submenu;
    model.title = title;
    model.items = std::move(items);
    return model;
}

bool operator==(const MenuItemModel& a, const MenuItemModel& b)
{
    // A separator is only a line: whatever else it was given does not show.
    if (a.kind == MenuItemModel::Kind::Separator || b.kind == MenuItemModel::Kind::Separator)
        return a.kind == b.kind;
    return a.kind == b.kind && a.title == b.title && a.tag == b.tag && a.enabled == b.enabled
        && a.checkable == b.checkable && a.checked == b.checked && a.keyEquivalent == b.keyEquivalent
        && a.data == b.data && a.command == b.command && a.items == b.items;
}

const MenuItemModel* MenuModel::findTag(int tag) const
{
    return findIn(items, tag);
}

QStringList MenuModel::titles() const
{
    QStringList result;
    for (const MenuItemModel& item : items)
        result.append(item.kind == MenuItemModel::Kind::Separator ? QStringLiteral("-") : item.title);
    return result;
}

QMenu* toQMenu(const MenuModel& model, QWidget* parent, std::function<void(QAction*)> onTriggered)
{
    auto* menu = new QMenu(shownText(model.title), parent);
    fill(menu, model.items, onTriggered);
    return menu;
}

void fillQMenu(QMenu* menu, const std::vector<MenuItemModel>& items, std::function<void(QAction*)> onTriggered)
{
    fill(menu, items, onTriggered);
}

MenuModel fromQMenu(const QMenu* menu)
{
    if (!menu)
        return {};
    return MenuModel{titleOf(menu->title()), read(menu)};
}

int menuItemTag(const QAction* action)
{
    return action ? action->data().toInt() : 0;
}

QVariant menuItemData(const QAction* action)
{
    return action ? action->property(kDataKey) : QVariant();
}

QString menuItemCommand(const QAction* action)
{
    return action ? action->property(kCommandKey).toString() : QString();
}

} // namespace platform::kit
