#include "Platform/Kit/MenuSpec.h"

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

void apply(QAction* action, const MenuItemSpec& spec)
{
    action->setData(spec.tag);
    if (spec.data.isValid())
        action->setProperty(kDataKey, spec.data);
    if (!spec.command.isEmpty())
        action->setProperty(kCommandKey, spec.command);
    action->setEnabled(spec.enabled);
    // A checked item shows its mark whether or not it was called checkable.
    action->setCheckable(spec.checkable || spec.checked);
    action->setChecked(spec.checked);
    action->setShortcut(spec.keyEquivalent);
}

void fill(QMenu* menu, const std::vector<MenuItemSpec>& items, const std::function<void(QAction*)>& onTriggered)
{
    for (const MenuItemSpec& item : items) {
        switch (item.kind) {
        case MenuItemSpec::Kind::Separator:
            menu->addSeparator();
            break;
        case MenuItemSpec::Kind::Submenu: {
            QMenu* sub = menu->addMenu(shownText(item.title));
            apply(sub->menuAction(), item);
            fill(sub, item.items, onTriggered);
            break;
        }
        case MenuItemSpec::Kind::Item: {
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

std::vector<MenuItemSpec> read(const QMenu* menu)
{
    std::vector<MenuItemSpec> items;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            items.push_back(MenuItemSpec::separator());
            continue;
        }
        MenuItemSpec item;
        item.title = titleOf(action->text());
        item.tag = menuItemTag(action);
        item.enabled = action->isEnabled();
        item.checkable = action->isCheckable();
        item.checked = action->isChecked();
        item.keyEquivalent = action->shortcut();
        item.data = menuItemData(action);
        item.command = menuItemCommand(action);
        if (const QMenu* sub = QMenu::menuInAction(action)) {
            item.kind = MenuItemSpec::Kind::Submenu;
            item.items = read(sub);
        }
        items.push_back(std::move(item));
    }
    return items;
}

const MenuItemSpec* findIn(const std::vector<MenuItemSpec>& items, int tag)
{
    for (const MenuItemSpec& item : items) {
        if (item.kind == MenuItemSpec::Kind::Separator)
            continue;
        if (item.tag == tag)
            return &item;
        if (const MenuItemSpec* found = findIn(item.items, tag))
            return found;
    }
    return nullptr;
}

} // namespace

MenuItemSpec MenuItemSpec::item(const QString& title, int tag, const QString& command, const QVariant& data)
{
    MenuItemSpec spec;
    spec.title = title;
    spec.tag = tag;
    spec.command = command;
    spec.data = data;
    return spec;
}

MenuItemSpec MenuItemSpec::separator()
{
    MenuItemSpec spec;
    spec.kind = Kind::Separator;
    return spec;
}

MenuItemSpec MenuItemSpec::submenu(const QString& title, std::vector<MenuItemSpec> items)
{
    MenuItemSpec spec;
    spec.kind = Kind::Submenu;
    spec.title = title;
    spec.items = std::move(items);
    return spec;
}

bool operator==(const MenuItemSpec& a, const MenuItemSpec& b)
{
    // A separator is only a line: whatever else it was given does not show.
    if (a.kind == MenuItemSpec::Kind::Separator || b.kind == MenuItemSpec::Kind::Separator)
        return a.kind == b.kind;
    return a.kind == b.kind && a.title == b.title && a.tag == b.tag && a.enabled == b.enabled
        && a.checkable == b.checkable && a.checked == b.checked && a.keyEquivalent == b.keyEquivalent
        && a.data == b.data && a.command == b.command && a.items == b.items;
}

const MenuItemSpec* MenuSpec::findTag(int tag) const
{
    return findIn(items, tag);
}

QStringList MenuSpec::titles() const
{
    QStringList result;
    for (const MenuItemSpec& item : items)
        result.append(item.kind == MenuItemSpec::Kind::Separator ? QStringLiteral("-") : item.title);
    return result;
}

QMenu* toQMenu(const MenuSpec& spec, QWidget* parent, std::function<void(QAction*)> onTriggered)
{
    auto* menu = new QMenu(shownText(spec.title), parent);
    fill(menu, spec.items, onTriggered);
    return menu;
}

void fillQMenu(QMenu* menu, const std::vector<MenuItemSpec>& items, std::function<void(QAction*)> onTriggered)
{
    fill(menu, items, onTriggered);
}

MenuSpec fromQMenu(const QMenu* menu)
{
    if (!menu)
        return {};
    return MenuSpec{titleOf(menu->title()), read(menu)};
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
