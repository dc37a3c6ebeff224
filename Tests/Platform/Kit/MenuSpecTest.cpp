#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/MenuSpec.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

using namespace platform::kit;

namespace {

// A context menu the way the program builds them: tagged items, a checked one, a shortcut,
// items carrying data, a separator, and a submenu whose items carry user-named objects.
MenuSpec documentMenu()
{
    MenuItemSpec open = MenuItemSpec::item(QStringLiteral("Open"), 8801, QStringLiteral("menuOpenFile"));
    open.keyEquivalent = QKeySequence(Qt::CTRL | Qt::Key_O);
    MenuItemSpec flag = MenuItemSpec::item(QStringLiteral("Flagged"), 8802);
    flag.checkable = true;
    flag.checked = true;
    MenuItemSpec trash = MenuItemSpec::item(QStringLiteral("Move to Trash"), 8803, QStringLiteral("menuMoveToTrash"));
    trash.enabled = false;
    MenuItemSpec rd = MenuItemSpec::item(QStringLiteral("R&D"), 8888, QStringLiteral("menuAddToCollection"),
                                         QStringLiteral("/collections/R&D"));
    MenuItemSpec unchecked = MenuItemSpec::item(QStringLiteral("Taxes"), 8888, QStringLiteral("menuAddToCollection"), 17);
    unchecked.checkable = true;
    return MenuSpec{QStringLiteral("Document"),
                    {open, flag, MenuItemSpec::separator(), trash,
                     MenuItemSpec::submenu(QStringLiteral("Add to Collection"), {rd, unchecked})}};
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

TEST(MenuSpec, RoundTripsThroughQMenuAndShowsTitlesLiterally)
{
    const MenuSpec spec = documentMenu();
    QWidget parent;
    QMenu* menu = toQMenu(spec, &parent);
    EXPECT_EQ(fromQMenu(menu), spec);

    // "R&D" is drawn with its ampersand, not as "RD" with an underlined D.
    QAction* rd = actionTitled(menu, QStringLiteral("R&&D"));
    ASSERT_NE(rd, nullptr);
    EXPECT_EQ(menuItemTag(rd), 8888);
    EXPECT_EQ(menuItemData(rd), QVariant(QStringLiteral("/collections/R&D")));

    // Any difference shows in the comparison, down inside submenus.
    MenuSpec other = spec;
    other.items[4].items[1].checked = true;
    EXPECT_NE(fromQMenu(menu), other);
    other = spec;
    other.items[4].items[0].data = QStringLiteral("/collections/Other");
    EXPECT_NE(fromQMenu(menu), other);
    EXPECT_EQ(spec.findTag(8803)->title, QStringLiteral("Move to Trash"));
    EXPECT_EQ(spec.findTag(8888)->data, QVariant(QStringLiteral("/collections/R&D")));
    EXPECT_EQ(spec.findTag(1), nullptr);

    // A checked item always shows its mark, even when its spec forgot to call it checkable.
    MenuItemSpec checked = MenuItemSpec::item(QStringLiteral("Show Title"), 3);
    checked.checked = true;
    QMenu* second = toQMenu(MenuSpec{QString(), {checked}}, &parent);
    EXPECT_TRUE(second->actions().first()->isChecked());
}

TEST(MenuSpec, ChosenItemPerformsItsCommandWithItsTagAndData)
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
