#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/MenuModel.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

using namespace platform::kit;

namespace {

// A context menu the way the program builds them: tagged items, a checked one, a shortcut,
// items carrying data, a separator, and a submenu whose items carry user-named objects.
MenuModel documentMenu()
{
    MenuItemModel open = MenuItemModel::item(QStringLiteral("Open"), 8801, QStringLiteral("menuOpenFile"));
    open.keyEquivalent = QKeySequence(Qt::CTRL | Qt::Key_O);
    MenuItemModel flag = MenuItemModel::item(QStringLiteral("Flagged"), 8802);
    flag.checkable = true;
    flag.checked = true;
    MenuItemModel trash = MenuItemModel::item(QStringLiteral("Move to Trash"), 8803, QStringLiteral("menuMoveToTrash"));
    trash.enabled = false;
    MenuItemModel rd = MenuItemModel::item(QStringLiteral("R&D"), 8888, QStringLiteral("menuAddToCollection"),
                                         QStringLiteral("/collections/R&D"));
    MenuItemModel unchecked = MenuItemModel::item(QStringLiteral("Taxes"), 8888, QStringLiteral("menuAddToCollection"), 17);
    unchecked.checkable = true;
    return MenuModel{QStringLiteral("Document"),
                    {open, flag, MenuItemModel::separator(), trash,
                     MenuItemModel::submenu(QStringLiteral("Add to Collection"), {rd, unchecked})}};
}

QAction* actionTitled(const QMenu* menu, const QString& text)
{
    for (QAction* a : menu->findChildren<QAction*>()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

} // namespace

TEST(MenuModel, RoundTripsThroughQMenuAndShowsTitlesLiterally)
{
    const MenuModel model = documentMenu();
    QWidget parent;
    QMenu* menu = toQMenu(model, &parent);
    EXPECT_EQ(fromQMenu(menu), model);

    // "R&D" is drawn with its ampersand, not as "RD" with an underlined D.
    QAction* rd = actionTitled(menu, QStringLiteral("R&&D"));
    ASSERT_NE(rd, nullptr);
    EXPECT_EQ(menuItemTag(rd), 8888);
    EXPECT_EQ(menuItemData(rd), QVariant(QStringLiteral("/collections/R&D")));

    // Any difference shows in the comparison, down inside submenus.
    MenuModel other = model;
    other.items[4].items[1].checked = true;
    EXPECT_NE(fromQMenu(menu), other);
    other = model;
    other.items[4].items[0].data = QStringLiteral("/collections/Other");
    EXPECT_NE(fromQMenu(menu), other);
    EXPECT_EQ(model.findTag(8803)->title, QStringLiteral("Move to Trash"));
    EXPECT_EQ(model.findTag(8888)->data, QVariant(QStringLiteral("/collections/R&D")));
    EXPECT_EQ(model.findTag(1), nullptr);

    // A checked item always shows its mark, even when its model forgot to call it checkable.
    MenuItemModel checked = MenuItemModel::item(QStringLiteral("Show Title"), 3);
    checked.checked = true;
    QMenu* second = toQMenu(MenuModel{QString(), {checked}}, &parent);
    EXPECT_TRUE(second->actions().first()->isChecked());
}

TEST(MenuModel, ChosenItemPerformsItsCommandWithItsTagAndData)
{
    CommandDispatcher& commands = CommandDispatcher::shared();
    QList<std::pair<int, QVariant>> received;
    QStringList unanswered;
    commands.setUnansweredHook([&](const QString& name) { unanswered << name; });
    auto token = commands.add(QStringLiteral("menuAddToCollection"), [&](const QVariant& sender) {
        received.append({senderTag(sender), senderData(sender)});
    });

    QWidget parent;
    QMenu* menu = toQMenu(documentMenu(), &parent);
    actionTitled(menu, QStringLiteral("R&&D"))->trigger();
    actionTitled(menu, QStringLiteral("Taxes"))->trigger();
    EXPECT_EQ(received, (QList<std::pair<int, QVariant>>{{8888, QStringLiteral("/collections/R&D")}, {8888, 17}}));

    // Nobody holds "menuOpenFile": the item's command is reported, not dropped silently.
    actionTitled(menu, QStringLiteral("Open"))->trigger();
    EXPECT_EQ(unanswered, QStringList{QStringLiteral("menuOpenFile")});
    // An item without a command performs nothing and is no unanswered command either.
    actionTitled(menu, QStringLiteral("Flagged"))->trigger();
    EXPECT_EQ(unanswered.size(), 1);

    // A menu with its own handler decides instead.
    QList<int> tags;
    QMenu* custom = toQMenu(documentMenu(), &parent, [&](QAction* a) { tags << menuItemTag(a); });
    actionTitled(custom, QStringLiteral("R&&D"))->trigger();
    EXPECT_EQ(tags, QList<int>{8888});
    EXPECT_EQ(received.size(), 2);
    commands.setUnansweredHook({});
}

TEST(MenuSender, TagsComeFromSendersOrPlainNumbersOnly)
{
    EXPECT_EQ(senderTag(makeSender(9001, QStringLiteral("/docs"))), 9001);
    EXPECT_EQ(senderData(makeSender(9001, QStringLiteral("/docs"))), QVariant(QStringLiteral("/docs")));
    EXPECT_EQ(senderTag(QVariant(7)), 7);
    EXPECT_EQ(senderTag(QVariant(qulonglong(7))), 7);
    EXPECT_FALSE(senderData(QVariant(7)).isValid());
    // Not tags: a text, nothing, and a number that would be cut down to another item's tag.
    EXPECT_EQ(senderTag(QVariant(QStringLiteral("7"))), 0);
    EXPECT_EQ(senderTag(QVariant()), 0);
    EXPECT_EQ(senderTag(QVariant(qlonglong(1) << 32 | 7)), 0);
    EXPECT_EQ(senderTag(QVariant(2.5)), 0);
    EXPECT_EQ(senderTag(QVariant(3.0)), 3);   // a number read from a property list
    EXPECT_EQ(makeSender(1, 2), makeSender(1, 2));
    EXPECT_NE(makeSender(1, 2), makeSender(1, 3));
}
