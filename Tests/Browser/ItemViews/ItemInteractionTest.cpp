#include "ItemViewTestSupport.h"

#include "Browser/ItemViews/KPFlagPickerView.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Platform/Kit/Scheduler.h"
#include "Store/DBFileInfoMetadata.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>

using namespace itemtest;

class ItemInteraction : public ItemViewTest {
protected:
    void SetUp() override
    {
        ItemViewTest::SetUp();
        clock = std::make_unique<platform::kit::VirtualScheduler>();
    }
    void TearDown() override
    {
        grid.reset();
        clock.reset();
        ItemViewTest::TearDown();
    }
    static void key(QWidget* target, int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Escape ? QStringLiteral("\x1b") : QString());
        QApplication::sendEvent(target, &press);
    }
    KPSectionItemView* shownView(const QList<KPItemDataPtr>& items, qint64 index = 0)
    {
        showGrid(items);
        KPSectionItemView* view = itemView(index);
        paint(view);
        return view;
    }

    std::unique_ptr<platform::kit::VirtualScheduler> clock;
};

TEST_F(ItemInteraction, TitleClicksSelectThenEditAndADoubleClickOpensInstead)
{
    KPSectionItemView* view = shownView({document(QStringLiteral("Minutes")), document(QStringLiteral("Agenda"))});
    const QPointF title = view->actualTextRect().center();

    click(view, title);
    EXPECT_EQ(grid->selectedIndexs(), QList<KPSectionIndexSet>{KPSectionIndexSet(0, 0)});
    clock->advance(500);
    EXPECT_EQ(view->editTextField(), nullptr) << "a click that selects does nothing else";

    click(view, title);
    clock->advance(199);
    EXPECT_EQ(view->editTextField(), nullptr);
    clock->advance(1);
    ASSERT_NE(view->editTextField(), nullptr);
    EXPECT_EQ(view->editTextField()->text(), QStringLiteral("Minutes"));

    // Esc leaves the title as it was and gives the keyboard back to the grid.
    view->editTextField()->setText(QStringLiteral("Changed"));
    key(view->editTextField(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(view->editTextField(), nullptr);
    EXPECT_EQ(view->itemData()->title(), QStringLiteral("Minutes"));
    EXPECT_TRUE(grid->hasFocus());

    // A second press within the delay is a double click: the document opens, no editor.
    click(view, title);
    mouse(view, QEvent::MouseButtonDblClick, title);
    mouse(view, QEvent::MouseButtonRelease, title);
    clock->advance(1000);
    EXPECT_EQ(view->editTextField(), nullptr);
    ASSERT_EQ(launcher.launches.size(), 1);
    EXPECT_EQ(launcher.launches[0], (QStringList{QStringLiteral("xdg-open"), view->itemData()->filePath()}));

    // A document nothing can open is said to the user, not only to the log.
    {
        platform::kit::RecordingDialogService dialogs;
        platform::kit::DialogService* previous = platform::kit::DialogService::install(&dialogs);
        launcher.failing.insert(QStringLiteral("xdg-open"));
        click(view, title);
        mouse(view, QEvent::MouseButtonDblClick, title);
        mouse(view, QEvent::MouseButtonRelease, title);
        clock->advance(1000);
        platform::kit::DialogService::install(previous);
        launcher.failing.clear();
        ASSERT_EQ(dialogs.count(platform::kit::RecordingDialogService::Kind::Alert), 1);
        EXPECT_TRUE(dialogs.last(platform::kit::RecordingDialogService::Kind::Alert)
                        .informativeText.contains(QStringLiteral("cannot start xdg-open")));
    }

    // An editor whose item scrolls out of sight keeps what was typed, as losing focus does.
    QList<KPItemDataPtr> many;
    for (int i = 0; i < 40; ++i)
        many.append(document(QStringLiteral("Page %1").arg(i), QSize(30, 40)));
    showGrid(many, 720, 200);
    KPSectionItemView* first = itemView(0);
    paint(first);
    const QPointF firstTitle = first->actualTextRect().center();
    click(first, firstTitle);
    clock->advance(500);
    click(first, firstTitle);
    clock->advance(200);
    ASSERT_NE(first->editTextField(), nullptr);
    first->editTextField()->setText(QStringLiteral("Scrolled away"));
    grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum());
    QApplication::processEvents();
    ASSERT_EQ(itemView(0), nullptr) << "the first row left the screen";
    EXPECT_EQ(many[0]->title(), QStringLiteral("Scrolled away"));
    EXPECT_EQ(many[0]->data().title(), QStringLiteral("Scrolled away"));
}

TEST_F(ItemInteraction, RatingByDragIsStoredOnceAtTheRelease)
{
    auto item = document(browsertest::DocumentFields{.title = QStringLiteral("Rated"), .rate = 1});
    KPSectionItemView* view = shownView({item});
    const QRectF stars = view->actualRateRect();
    int saves = 0;
    const platform::ObserverToken counter =
        item->data().managedObjectContext()->addDidSaveObserver([&](const auto&) { ++saves; });
    mouse(view, QEvent::MouseButtonPress, QPointF(stars.x() + 20, stars.center().y()));
    EXPECT_EQ(item->rate(), 2);
    mouse(view, QEvent::MouseMove, QPointF(stars.right(), stars.center().y()));
    EXPECT_EQ(item->rate(), 5);
    EXPECT_EQ(item->data().metadata().rate(), 1) << "nothing is stored while dragging";
    QApplication::processEvents();
    EXPECT_EQ(saves, 0) << "nothing is stored while dragging";
    mouse(view, QEvent::MouseButtonRelease, QPointF(stars.right(), stars.center().y()));
    EXPECT_EQ(item->data().metadata().rate(), 5);
    EXPECT_TRUE(testsupport::spinUntil([&] { return saves >= 1; }));
    QApplication::processEvents();
    EXPECT_EQ(saves, 1);

    // Releasing left of the first star clears the rating.
    mouse(view, QEvent::MouseButtonPress, QPointF(stars.x() + 5, stars.center().y()));
    mouse(view, QEvent::MouseButtonRelease, QPointF(stars.x() - 30, stars.center().y()));
    EXPECT_EQ(item->data().metadata().rate(), 0);
    EXPECT_TRUE(drags.isEmpty());
}

TEST_F(ItemInteraction, DragsStartPastTheirThresholdAndCarryTheSelection)
{
    QList<KPItemDataPtr> items;
    for (int i = 0; i < 3; ++i)
        items.append(document(QStringLiteral("Doc %1").arg(i)));
    KPSectionItemView* view = shownView(items);
    const QPointF start = view->actualImageRect().center();

    // Inside the 8-point square: a click, not a drag.
    mouse(view, QEvent::MouseButtonPress, start);
    mouse(view, QEvent::MouseMove, start + QPointF(3.5, -3.5));
    mouse(view, QEvent::MouseButtonRelease, start + QPointF(3.5, -3.5));
    EXPECT_TRUE(drags.isEmpty());

    mouse(view, QEvent::MouseButtonPress, start);
    mouse(view, QEvent::MouseMove, start + QPointF(4.5, 0));
    mouse(view, QEvent::MouseButtonRelease, start + QPointF(4.5, 0));
    ASSERT_EQ(drags.size(), 1);
    EXPECT_EQ(drags[0].payload.filePaths, QStringList{items[0]->filePath()});
    EXPECT_EQ(drags[0].payload.fileInfoURIs, QStringList{items[0]->data().URIString()});

    grid->selectItemIndexWithSectionIndexSets({KPSectionIndexSet(0, 2), KPSectionIndexSet(0, 0), KPSectionIndexSet(0, 1)});
    const auto payload = view->dragPayload();
    EXPECT_EQ(payload.filePaths.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(payload.fileInfoURIs[i], items[grid->selectedIndexs()[i].itemIndex()]->data().URIString());
    // The badge counts, and stops at 999+.
    EXPECT_NE(view->dragImage(3), view->dragImage(1));
    EXPECT_NE(view->dragImage(1000), view->dragImage(999));
    EXPECT_EQ(view->dragImage(1000), view->dragImage(5000));

    // A list row drags past 3 points and carries the same documents.
    drags.clear();
    settings().setDisplayMode(KPDisplayModeList);
    grid->reloadData();
    QApplication::processEvents();
    KPSectionItemView* row = itemView(1);
    paint(row);
    mouse(row, QEvent::MouseButtonPress, QPointF(300, 25));
    mouse(row, QEvent::MouseMove, QPointF(302.5, 25));
    EXPECT_TRUE(drags.isEmpty());
    mouse(row, QEvent::MouseMove, QPointF(303.5, 25));
    mouse(row, QEvent::MouseButtonRelease, QPointF(303.5, 25));
    ASSERT_EQ(drags.size(), 1);
    EXPECT_EQ(drags[0].payload.filePaths, QStringList{items[1]->filePath()});
    EXPECT_EQ(drags[0].payload.fileInfoURIs.size(), 1);
}

TEST_F(ItemInteraction, TheFlagPickerAnswersTheItem)
{
    auto item = document(browsertest::DocumentFields{.title = QStringLiteral("Flagged"), .label = 2});
    KPSectionItemView* view = shownView({item});
    const QPointF zone = view->iconFlagZone().center();
    click(view, zone);
    ASSERT_NE(view->flagPopover(), nullptr);
    auto* picker = view->flagPopover()->contentWidget()->findChild<KPFlagPickerView*>();
    ASSERT_NE(picker, nullptr);
    // Every flag is offered, the current one too.
    EXPECT_EQ(picker->rows().size(), 8);
    const auto& row = picker->rows()[1]; // flag 7
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(50, picker->height() - row.y - 10), picker->mapToGlobal(QPointF(50, 0)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(picker, &release);
    EXPECT_EQ(item->label(), 7);
    EXPECT_EQ(item->data().metadata().label(), 7);
    QApplication::processEvents();
    EXPECT_EQ(view->flagPopover(), nullptr);

    // The popup closing by itself (a click elsewhere, the application going to the background)
    // chooses nothing.
    click(view, zone);
    ASSERT_NE(view->flagPopover(), nullptr);
    view->flagPopover()->close();
    QApplication::processEvents();
    EXPECT_EQ(view->flagPopover(), nullptr);
    EXPECT_EQ(item->data().metadata().label(), 7);

    // SafeBox files have no flag.
    auto safe = KPSafeBoxItemData::create({{QStringLiteral("Path"), item->filePath()}}, library);
    view->setItemData(safe);
    paint(view);
    click(view, zone);
    EXPECT_EQ(view->flagPopover(), nullptr);
}

TEST_F(ItemInteraction, RenamesKeepFilesSafeAndSayWhyTheyFail)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("indexed"));
    auto indexed = [&](const QString& title, const QString& ext) {
        const QString name = ext.isEmpty() ? title : title + QLatin1Char('.') + ext;
        return document(browsertest::DocumentFields{.title = title, .extension = ext, .isIndex = true, .path = folder + QLatin1Char('/') + name});
    };
    auto inLibrary = document(QStringLiteral("Contract"));
    const QString libraryFile = inLibrary->filePath();
    KPSectionItemView* view = shownView({inLibrary});
    auto rename = [&](const QString& text) {
        alerts.clear();
        alertReasons.clear();
        view->rename();
        ASSERT_NE(view->editTextField(), nullptr);
        view->editTextField()->setText(text);
        key(view->editTextField(), Qt::Key_Return);
        QApplication::processEvents();
    };

    // A library document changes its title only; "/" is fine there; blanks are trimmed.
    rename(QStringLiteral("  Contract a/b  "));
    EXPECT_EQ(inLibrary->title(), QStringLiteral("Contract a/b"));
    EXPECT_EQ(inLibrary->data().title(), QStringLiteral("Contract a/b"));
    EXPECT_EQ(inLibrary->filePath(), libraryFile);
    EXPECT_TRUE(QFileInfo::exists(libraryFile));
    rename(QStringLiteral("   "));
    EXPECT_EQ(inLibrary->title(), QStringLiteral("Contract a/b"));

    // The window going to the background keeps the editor; focus moving elsewhere commits.
    view->rename();
    view->editTextField()->setText(QStringLiteral("Contract v2"));
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(view->editTextField(), &away);
    ASSERT_NE(view->editTextField(), nullptr);
    QFocusEvent elsewhere(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(view->editTextField(), &elsewhere);
    QApplication::processEvents();
    EXPECT_EQ(view->editTextField(), nullptr);
    EXPECT_EQ(inLibrary->title(), QStringLiteral("Contract v2"));
    rename(QStringLiteral("Contract a/b"));

    // An index-folder document renames its file, with the record's extension.
    auto report = indexed(QStringLiteral("Report"), QStringLiteral("pdf"));
    view->setItemData(report);
    paint(view);
    rename(QStringLiteral("Report 2014"));
    EXPECT_EQ(report->filePath(), folder + QStringLiteral("/Report 2014.pdf"));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Report 2014.pdf")));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Report.pdf")));
    EXPECT_EQ(report->data().path(), folder + QStringLiteral("/Report 2014.pdf"));
    EXPECT_TRUE(alerts.isEmpty());

    // Taken names and forbidden names keep the file and the title, each with its alert saying
    // why, and the editor opens again on what was typed, for correcting. A leading dot would
    // hide the file from the folder's next walk, which then drops its record.
    indexed(QStringLiteral("Taken"), QStringLiteral("pdf"));
    const std::pair<QString, QString> refusals[] = {
        {QStringLiteral("Taken"), QString()},
        {QStringLiteral("../escape"), QStringLiteral("cannot contain \"/\"")},
        {QStringLiteral("a/b"), QStringLiteral("cannot contain \"/\"")},
        {QString(252, QLatin1Char('x')), QStringLiteral("at most 255 bytes")},
        {QStringLiteral(".Report"), QStringLiteral("starts with a dot")},
        {QStringLiteral(" .hidden"), QStringLiteral("starts with a dot")}};
    for (const auto& [bad, reason] : refusals) {
        rename(bad);
        EXPECT_EQ(report->title(), QStringLiteral("Report 2014")) << qPrintable(bad);
        EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Report 2014.pdf")));
        ASSERT_EQ(alerts.size(), 1) << qPrintable(bad);
        EXPECT_TRUE(alerts[0].contains(bad == QLatin1String("Taken") ? QStringLiteral("already taken") : QStringLiteral("cannot be used")))
            << qPrintable(alerts[0]);
        EXPECT_TRUE(alertReasons[0].contains(reason)) << qPrintable(alertReasons[0]);
        ASSERT_TRUE(testsupport::spinUntil([&] { return view->editTextField() != nullptr; })) << qPrintable(bad);
        EXPECT_EQ(view->editTextField()->text(), bad.trimmed());
        EXPECT_EQ(view->editTextField()->cursorPosition(), 0) << "the start of what was typed in sight";
        if (bad.size() < 20)
            EXPECT_GE(view->editTextField()->width(), view->editTextField()->fontMetrics().horizontalAdvance(bad.trimmed()));
    }
    // Left as it is, the text handed back is not sent again when focus moves away.
    alerts.clear();
    QFocusEvent leaving(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(view->editTextField(), &leaving);
    QApplication::processEvents();
    EXPECT_EQ(view->editTextField(), nullptr);
    EXPECT_TRUE(alerts.isEmpty());
    // Corrected, it renames.
    rename(QStringLiteral(".Report"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return view->editTextField() != nullptr; }));
    view->editTextField()->setText(QStringLiteral("Report"));
    key(view->editTextField(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(report->filePath(), folder + QStringLiteral("/Report.pdf"));
    rename(QStringLiteral("Report 2014"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2);

    // A file without an extension gets no trailing dot.
    auto bare = indexed(QStringLiteral("README"), QString());
    view->setItemData(bare);
    paint(view);
    rename(QStringLiteral("NOTES"));
    EXPECT_EQ(bare->filePath(), folder + QStringLiteral("/NOTES"));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/NOTES")));

    // A SafeBox file is renamed on disk too.
    const QString volume = testsupport::makeTempDir(QStringLiteral("safebox"));
    QFile(volume + QStringLiteral("/secret.txt")).open(QIODevice::WriteOnly);
    auto safe = KPSafeBoxItemData::create({{QStringLiteral("Path"), volume + QStringLiteral("/secret.txt")}}, volume);
    safe->loadDataContent();
    view->setItemData(safe);
    paint(view);
    rename(QStringLiteral("open"));
    EXPECT_TRUE(QFileInfo::exists(volume + QStringLiteral("/open.txt")));
    EXPECT_EQ(safe->title(), QStringLiteral("open"));
    rename(QStringLiteral(".open"));
    EXPECT_TRUE(QFileInfo::exists(volume + QStringLiteral("/open.txt")));
    EXPECT_EQ(safe->title(), QStringLiteral("open"));
    EXPECT_EQ(alerts.size(), 1);
}
