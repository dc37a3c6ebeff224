#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/Sheet.h"
#include "Platform/Kit/WindowAttachments.h"
#include "Support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace platform::kit;

namespace {

constexpr int kBar = 40;

// A window with a bar strip on top (still usable under a sheet) and content below it.
struct Window {
    std::unique_ptr<QWidget> widget = std::make_unique<QWidget>();
    QPushButton* barButton;
    QPushButton* contentButton;
    QLineEdit* contentField;
    int barClicks = 0;
    int contentClicks = 0;

    Window()
    {
        widget->resize(600, 400);
        barButton = new QPushButton(QStringLiteral("Bar"), widget.get());
        barButton->setGeometry(500, 8, 80, 24);
        contentButton = new QPushButton(QStringLiteral("Content"), widget.get());
        contentButton->setGeometry(20, 300, 100, 24);
        contentField = new QLineEdit(widget.get());
        contentField->setGeometry(20, 340, 100, 24);
        QObject::connect(barButton, &QPushButton::clicked, [this] { ++barClicks; });
        QObject::connect(contentButton, &QPushButton::clicked, [this] { ++contentClicks; });
        Sheet::setPositionCallback(widget.get(), [](const QRect& proposed) { return proposed.translated(0, kBar); });
        widget->show();
        widget->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
    }

    void clickAt(QWidget* w)
    {
        QTest::mouseClick(widget->windowHandle(), Qt::LeftButton, {}, w->mapTo(widget.get(), w->rect().center()));
    }
};

// Sheet content: fixed size, two buttons.
QWidget* makeContent(QPushButton** first = nullptr, QPushButton** second = nullptr)
{
    auto* content = new QWidget;
    content->setFixedSize(300, 120);
    auto* layout = new QVBoxLayout(content);
    auto* a = new QPushButton(QStringLiteral("First"));
    auto* b = new QPushButton(QStringLiteral("Second"));
    layout->addWidget(a);
    layout->addWidget(b);
    if (first)
        *first = a;
    if (second)
        *second = b;
    return content;
}

QPushButton* buttonTitled(const Sheet* sheet, const QString& title)
{
    for (QPushButton* b : sheet->panel()->findChildren<QPushButton*>()) {
        if (b->text() == title)
            return b;
    }
    return nullptr;
}

} // namespace

TEST(Sheet, HangsUnderTheBarBlocksTheContentAndRefusesToCloseTheWindow)
{
    QList<int> codes;
    Window w;
    VirtualScheduler clock;
    QPushButton* first = nullptr;
    QPushButton* second = nullptr;
    Sheet sheet(makeContent(&first, &second));
    w.contentField->setFocus();
    sheet.begin(w.widget.get(), [&](int code) { codes << code; });
    ASSERT_TRUE(sheet.isShown());
    EXPECT_EQ(Sheet::shownSheet(w.contentButton), &sheet);
    EXPECT_TRUE(WindowAttachments::shared().hasAttachment(w.widget.get()));

    // It slides down on the scheduler's clock to hang, centred, from the bar's bottom.
    QWidget* panel = sheet.panel();
    auto panelTop = [&] { return panel->mapTo(w.widget.get(), QPoint(0, 0)).y(); };
    QCoreApplication::processEvents();   // the content's first layout pass must not cut the slide short
    EXPECT_LE(panelTop(), kBar - 121);
    clock.advance(Sheet::kSlideInMs / 2);
    EXPECT_GT(panelTop(), kBar - 121);
    EXPECT_LT(panelTop(), kBar);
    clock.advance(Sheet::kSlideInMs / 2);
    EXPECT_EQ(QRect(panel->mapTo(w.widget.get(), QPoint(0, 0)), panel->size()), QRect(149, kBar, 302, 121));   // its border around the content

    // The scrim swallows clicks and keys meant for the content; the bar stays usable.
    w.clickAt(w.contentButton);
    EXPECT_EQ(w.contentClicks, 0);
    QTest::keyClicks(w.contentField, QStringLiteral("typed"));
    EXPECT_TRUE(w.contentField->text().isEmpty());
    w.clickAt(w.barButton);
    EXPECT_EQ(w.barClicks, 1);

    // Focus moved into the sheet, and Tab cycles inside it.
    first->setFocus();
    QTest::keyClick(first, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), second);
    QTest::keyClick(second, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), first);

    EXPECT_FALSE(w.widget->close());
    EXPECT_TRUE(w.widget->isVisible());

    // A popover opened from the sheet belongs to it: its field takes keys.
    Popover tags(Popover::Form::Overlay);
    auto* tagField = new QLineEdit;
    tags.setContentWidget(tagField);
    tags.show(first, QRect(), PopoverEdge::MinY);
    QTest::keyClicks(tagField, QStringLiteral("tag"));
    EXPECT_EQ(tagField->text(), QStringLiteral("tag"));
    tags.close();

    QObject::connect(first, &QPushButton::clicked, [&] { sheet.end(7); });
    w.clickAt(first);
    EXPECT_EQ(codes, QList<int>{7});
    EXPECT_FALSE(sheet.isShown());
    EXPECT_FALSE(WindowAttachments::shared().hasAttachment(w.widget.get()));
    EXPECT_EQ(QApplication::focusWidget(), w.contentField);
    sheet.end(8);   // ended already
    EXPECT_EQ(codes, QList<int>{7});
    w.clickAt(w.contentButton);
    EXPECT_EQ(w.contentClicks, 1);
    EXPECT_TRUE(w.widget->close());
}

TEST(Sheet, OnePerWindowTheRestWaitInOrder)
{
    QStringList log;
    Window w;
    Sheet a(makeContent()), b(makeContent()), c(makeContent()), d(makeContent());
    for (Sheet* s : {&a, &b, &c, &d})
        s->setAnimates(false);
    a.begin(w.widget.get(), [&](int code) {
        log << QStringLiteral("a%1").arg(code);
        // Begun from a completion while b is waiting: it queues behind b.
        d.begin(w.widget.get(), [&](int code) { log << QStringLiteral("d%1").arg(code); });
    });
    b.begin(w.widget.get(), [&](int code) { log << QStringLiteral("b%1").arg(code); });
    c.begin(w.widget.get(), [&](int code) { log << QStringLiteral("c%1").arg(code); });
    EXPECT_TRUE(a.isShown());
    EXPECT_TRUE(b.isBegun());
    EXPECT_FALSE(b.isShown());

    c.end(5);   // ends while still waiting: it never shows
    EXPECT_EQ(log, QStringList{"c5"});
    a.end(1);
    EXPECT_TRUE(b.isShown());
    EXPECT_FALSE(d.isShown());
    b.end(0);
    EXPECT_TRUE(d.isShown());
    d.end(-1);
    EXPECT_EQ(log, QStringList({"c5", "a1", "b0", "d-1"}));
    EXPECT_EQ(Sheet::shownSheet(w.widget.get()), nullptr);
}

TEST(Sheet, WindowDestroyedCompletesEveryBegunSheetOnceWithItsCancelCode)
{
    auto w = std::make_unique<Window>();
    QStringList log;
    Sheet shown(makeContent());
    Sheet waiting(makeContent());
    waiting.setCancelCode(-1);
    shown.begin(w->widget.get(), [&](int code) { log << QStringLiteral("shown%1").arg(code); });
    waiting.begin(w->widget.get(), [&](int code) { log << QStringLiteral("waiting%1").arg(code); });
    w.reset();
    EXPECT_EQ(log, QStringList({"shown0", "waiting-1"}));
    EXPECT_FALSE(shown.isBegun());
    EXPECT_EQ(shown.content(), nullptr);   // it went with the window
    shown.end(1);
    EXPECT_EQ(log.size(), 2);

    // A Sheet destroyed while shown ends without completion and lets the next one in.
    Window other;
    int calls = 0;
    auto gone = std::make_unique<Sheet>(makeContent());
    Sheet next(makeContent());
    gone->begin(other.widget.get(), [&](int) { ++calls; });
    next.begin(other.widget.get(), [&](int) { ++calls; });
    gone.reset();
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(next.isShown());
    next.end(1);
    EXPECT_EQ(calls, 1);
}

// A keyboard leaves a sheet as it leaves a dialog; keys its field takes stay the field's.
TEST(Sheet, ReturnPressesTheDefaultButtonAndEscTheCancelButton)
{
    Window w;
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.widget.get()));
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        auto* content = new QWidget;
        auto* layout = new QVBoxLayout(content);
        auto* field = new QLineEdit;
        auto* cancel = new QPushButton(QStringLiteral("Cancel"));
        auto* ok = new QPushButton(QStringLiteral("OK"));
        ok->setDefault(true);
        layout->addWidget(field);
        layout->addWidget(cancel);
        layout->addWidget(ok);
        Sheet sheet(content);
        sheet.setAnimates(false);
        QObject::connect(cancel, &QPushButton::clicked, &sheet, [&sheet] { sheet.end(0); });
        QObject::connect(ok, &QPushButton::clicked, &sheet, [&sheet] { sheet.end(1); });
        int answer = -1;
        sheet.begin(w.widget.get(), [&](int code) { answer = code; });
        ASSERT_TRUE(sheet.isShown());
        field->setFocus();
        QTest::keyClicks(field, QStringLiteral("name"));
        EXPECT_EQ(field->text(), QStringLiteral("name"));
        QTest::keyClick(field, Qt::Key_Escape, Qt::ShiftModifier);
        EXPECT_TRUE(sheet.isShown()) << "only the plain key answers";
        QTest::keyClick(field, key);
        EXPECT_EQ(answer, key == Qt::Key_Return ? 1 : 0);
        EXPECT_FALSE(sheet.isShown());
    }

    // Without a default or a Cancel button the keys do nothing to the sheet.
    Sheet plain(makeContent());
    plain.setAnimates(false);
    plain.begin(w.widget.get(), [](int) {});
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_TRUE(plain.isShown());
    plain.end(1);
}

TEST(Sheet, WhileShownOnlyItsOwnShortcutsAct)
{
    // Menu commands are window actions: under a sheet, Ctrl+Q or any command would act on what
    // the sheet is asking about.
    Window w;
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.widget.get()));
    int quits = 0;
    auto* quit = new QAction(w.widget.get());
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit, &QAction::triggered, [&] { ++quits; });
    w.widget->addAction(quit);

    QWidget* content = makeContent();
    int saves = 0;
    auto* save = new QAction(content);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QObject::connect(save, &QAction::triggered, [&] { ++saves; });
    content->addAction(save);

    Sheet sheet(content);
    sheet.setAnimates(false);
    sheet.begin(w.widget.get(), [](int) {});
    ASSERT_TRUE(sheet.isShown());
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, Qt::Key_Q, Qt::ControlModifier);
    QTest::keyClick(focus, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(saves, 1);

    // Nor does the window's own menu bar, above the sheet, open its menus.
    auto* bar = new QMenuBar(w.widget.get());
    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->addAction(quit);
    bar->setGeometry(0, 0, 200, 20);
    bar->show();
    const QPoint title = bar->actionGeometry(file->menuAction()).center();
    QTest::mouseClick(bar, Qt::LeftButton, {}, title);
    EXPECT_FALSE(file->isVisible());

    sheet.end(1);
    QTest::keyClick(w.widget.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1);
    QTest::mouseClick(bar, Qt::LeftButton, {}, title);
    EXPECT_TRUE(file->isVisible());
    file->hide();
}

TEST(Alert, ButtonsAnswerTheirCodesReturnAndEscAsSheetAndDialog)
{
    const Alert alert = Alert::withMessage(QStringLiteral("Delete the file?"), QStringLiteral("Delete"),
                                           QStringLiteral("Cancel"), QStringLiteral("Keep Both"),
                                           QStringLiteral("It cannot be undone."));
    EXPECT_EQ(alert.buttonTitles(), QStringList({"Delete", "Cancel", "Keep Both"}));
    EXPECT_EQ(alert.escapeReturnCode(), std::optional<int>(Alert::kAlternateReturn));
    const Alert other = Alert::withMessage(QStringLiteral("Other only"), QString(), QString(), QStringLiteral("More"));
    ASSERT_EQ(other.buttons().size(), 2);
    EXPECT_EQ(other.buttons().at(0).title, QStringLiteral("OK"));
    EXPECT_EQ(other.buttons().at(1).returnCode, Alert::kOtherReturn);
    EXPECT_FALSE(other.escapeReturnCode().has_value());
    Alert full;
    EXPECT_TRUE(full.addButton(QStringLiteral("1")) && full.addButton(QStringLiteral("2")) && full.addButton(QStringLiteral("3")));
    EXPECT_FALSE(full.addButton(QStringLiteral("4")));

    QList<int> codes;   // before the window: what is open when it goes still answers
    Window w;
    VirtualScheduler clock;   // so the sheets are in place when clicked
    auto answer = [&](int code) { codes << code; };
    auto shown = [&] {
        clock.advance(Sheet::kSlideInMs);
        return Sheet::shownSheet(w.widget.get());
    };

    alert.beginSheet(w.widget.get(), answer);
    ASSERT_NE(shown(), nullptr);
    // Return presses the default button whichever button has focus.
    QTest::keyClick(buttonTitled(shown(), QStringLiteral("Cancel")), Qt::Key_Return);
    alert.beginSheet(w.widget.get(), answer);
    QTest::keyClick(buttonTitled(shown(), QStringLiteral("Delete")), Qt::Key_Escape);
    alert.beginSheet(w.widget.get(), answer);
    w.clickAt(buttonTitled(shown(), QStringLiteral("Keep Both")));
    EXPECT_EQ(codes, QList<int>({1, 0, -1}));

    // Without a Cancel button, Esc does nothing.
    other.beginSheet(w.widget.get(), answer);
    QTest::keyClick(buttonTitled(shown(), QStringLiteral("OK")), Qt::Key_Escape);
    EXPECT_NE(shown(), nullptr);
    QTest::keyClick(buttonTitled(shown(), QStringLiteral("More")), Qt::Key_Return);
    EXPECT_EQ(codes.last(), 1);
    EXPECT_EQ(shown(), nullptr);

    // The window-modal dialog: same keys; the window manager's close answers the cancel code.
    codes.clear();
    QPointer<QDialog> dialog = alert.open(w.contentButton, answer);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->parentWidget(), w.widget.get());
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(dialog->isVisible());
    auto dialogButton = [&](const char* title) {
        for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
            if (b->text() == QLatin1String(title))
                return b;
        }
        return static_cast<QPushButton*>(nullptr);
    };
    QTest::keyClick(dialogButton("Delete"), Qt::Key_Escape);
    dialog = alert.open(w.widget.get(), answer);
    QTest::keyClick(dialogButton("Cancel"), Qt::Key_Return);
    dialog = other.open(w.widget.get(), answer);
    QTest::keyClick(dialogButton("OK"), Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());
    dialog->close();
    EXPECT_EQ(codes, QList<int>({0, 1, 0}));
    EXPECT_TRUE(testsupport::spinUntil([&] { return dialog.isNull(); }));
    EXPECT_EQ(codes.size(), 3);
}

TEST(Alert, AWindowClosedUnderAnAlertAnswersItsCancelCodeOnce)
{
    const Alert alert = Alert::withMessage(QStringLiteral("Quit?"), QStringLiteral("Quit"), QStringLiteral("Stay"),
                                           QStringLiteral("Cancel"));
    QList<int> codes;
    {
        Window w;
        alert.beginSheet(w.widget.get(), [&](int code) { codes << code; });
        alert.open(w.widget.get(), [&](int code) { codes << code; });
    }
    EXPECT_EQ(codes, QList<int>({-1, -1}));
}

TEST(Alert, AScriptedPresenterAnswersWithoutShowing)
{
    QStringList asked;
    Alert::setPresenterForTesting([&](const Alert& alert) {
        asked << alert.messageText();
        return *alert.returnCodeForTitle(QStringLiteral("Replace"));
    });
    QList<int> codes;
    Window w;
    const Alert alert = Alert::withMessage(QStringLiteral("Replace it?"), QStringLiteral("Keep"), QStringLiteral("Replace"));
    alert.beginSheet(w.widget.get(), [&](int code) { codes << code; });
    EXPECT_EQ(Sheet::shownSheet(w.widget.get()), nullptr);
    EXPECT_EQ(alert.open(w.widget.get(), [&](int code) { codes << code; }), nullptr);
    EXPECT_TRUE(codes.isEmpty());   // answered later, as a person would
    EXPECT_TRUE(testsupport::spinUntil([&] { return codes.size() == 2; }));
    EXPECT_EQ(codes, QList<int>({0, 0}));
    EXPECT_EQ(asked, QStringList({"Replace it?", "Replace it?"}));
    Alert::setPresenterForTesting({});
}
