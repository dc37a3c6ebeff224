// The pieces around the document item: the flag picker, the hover bar, the group tiles, the
// view-options popover, the import overlay and the outline model.
#include "ItemViewTestSupport.h"

#include "Browser/ItemViews/GroupTileSupport.h"
#include "Browser/ItemViews/KPFlagPickerView.h"
#include "Browser/ItemViews/KPImportDraggingView.h"
#include "Browser/ItemViews/KPSectionAuthorItemView.h"
#include "Browser/ItemViews/KPSectionDateItemView.h"
#include "Browser/ItemViews/KPSectionFileTypeItemView.h"
#include "Browser/ItemViews/KPSectionFlagItemView.h"
#include "Browser/ItemViews/KPSectionItemViewOverLayerToolBar.h"
#include "Browser/ItemViews/ListViewDataSource.h"
#include "Browser/ItemViews/SortListView.h"
#include "Browser/ItemViews/SortListViewItem.h"
#include "Browser/ItemViews/SortViewSettingController.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Controls/KPCoustomDrawBGView.h"
#include "Controls/KPThemeImageButton.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Scheduler.h"
#include "Utilities/FlagNames.h"

#include <QAbstractItemModelTester>
#include <QKeyEvent>

using namespace itemtest;

namespace {

// Counts the posts of the named notifications.
struct Posts {
    explicit Posts(const QStringList& names)
    {
        for (const QString& name : names)
            tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(name, [this, name](const platform::Notification& n) {
                counts[name] += 1;
                objects.append(n.object);
            }));
    }
    int operator[](const QString& name) const { return counts.value(name); }
    std::vector<platform::ObserverToken> tokens;
    QHash<QString, int> counts;
    QVariantList objects;
};

void send(QWidget* target, QEvent::Type type, QPointF qtPoint, Qt::MouseButtons buttons = Qt::LeftButton)
{
    QMouseEvent event(type, qtPoint, target->mapToGlobal(qtPoint), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class ItemParts : public ItemViewTest {
protected:
    void SetUp() override
    {
        ItemViewTest::SetUp();
        clock = std::make_unique<platform::kit::VirtualScheduler>();
        KPDataSourceSortManager::resetForTesting();
    }
    void TearDown() override
    {
        grid.reset();
        clock.reset();
        KPDataSourceSortManager::resetForTesting();
        platform::kit::Input::setCurrentOverride(std::nullopt);
        ItemViewTest::TearDown();
    }
    std::unique_ptr<platform::kit::VirtualScheduler> clock;
};

TEST_F(ItemParts, FlagPickerRowsHoverAndAnswers)
{
    auto flags = [](qint64 current) {
        KPFlagPickerView picker;
        picker.showLayerByLabelIndex(current);
        QList<qint64> out;
        for (const auto& row : picker.rows())
            out.append(row.flag);
        return std::pair(out, picker.rows().last().y);
    };
    EXPECT_EQ(flags(2), std::pair(QList<qint64>{6, 7, 5, 4, 3, 1, 0}, 20.0));
    EXPECT_EQ(flags(0), std::pair(QList<qint64>{6, 7, 5, 2, 4, 3, 1, 0}, 0.0));

    KPFlagPickerView picker;
    picker.showLayerByLabelIndex(2);
    std::vector<std::optional<qint64>> answers;
    picker.setAnswer([&](std::optional<qint64> flag) { answers.push_back(flag); });
    const double h = picker.height();
    // Hovering slides the row's icon in; the next row takes over.
    send(&picker, QEvent::MouseMove, QPointF(40, h - 150));
    clock->advance(KPFlagPickerView::kSlideMs);
    EXPECT_EQ(picker.rows()[0].iconX, 0);
    send(&picker, QEvent::MouseMove, QPointF(40, h - 130));
    clock->advance(KPFlagPickerView::kSlideMs);
    EXPECT_EQ(picker.rows()[0].iconX, -16);
    EXPECT_EQ(picker.rows()[1].iconX, 0);

    QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&picker, &a);
    EXPECT_TRUE(answers.empty());
    // A release in the gap below the rows answers none, once.
    send(&picker, QEvent::MouseButtonRelease, QPointF(40, h - 10));
    send(&picker, QEvent::MouseButtonRelease, QPointF(40, h - 150));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_FALSE(answers[0]);

    KPFlagPickerView escaped;
    escaped.showLayerByLabelIndex(0);
    std::optional<std::optional<qint64>> escAnswer;
    escaped.setAnswer([&](std::optional<qint64> flag) { escAnswer = flag; });
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
    QApplication::sendEvent(&escaped, &esc);
    ASSERT_TRUE(escAnswer.has_value());
    EXPECT_FALSE(*escAnswer);

    // A long flag name widens the picker.
    const int narrow = KPFlagPickerView::maxWidth();
    const QString old = flagNameForIndex(5);
    setFlagNameForIndex(5, QStringLiteral("A very long name for the green flag"));
    EXPECT_GT(KPFlagPickerView::maxWidth(), narrow + 50);
    setFlagNameForIndex(5, old);
}

TEST_F(ItemParts, HoverBarIsReusedLaidOutAndPostsWithoutSelecting)
{
    KPSectionItemViewOverLayerToolBar bar;
    bar.resize(150, 28);
    bar.show();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(bar.button(i)->geometry(), QRect(24 + 38 * i, 1, 26, 26)) << i;

    QList<KPItemDataPtr> items{document(QStringLiteral("One")), document(QStringLiteral("Two"))};
    showGrid(items);
    KPSectionItemView* view = itemView(0);
    paint(view);
    const int registered = KPThemeManager::themeManager()->themeObjectCount();
    for (int i = 0; i < 5; ++i) {
        view->mouseEntered(view->actualFrameRect().center());
        clock->advance(KPSectionItemViewOverLayerToolBar::kFadeMs);
        view->mouseExited();
        clock->advance(KPSectionItemViewOverLayerToolBar::kFadeMs);
    }
    EXPECT_EQ(KPThemeManager::themeManager()->themeObjectCount(), registered + 3);

    view->mouseEntered(view->actualFrameRect().center());
    clock->advance(KPSectionItemViewOverLayerToolBar::kFadeMs);
    KPSectionItemViewOverLayerToolBar* shown = view->overLayerToolBar();
    ASSERT_TRUE(shown && shown->isVisible());
    EXPECT_EQ(shown->opacity(), 1.0);
    Posts posts({KPSectionItemViewOverLayerToolBar::kButtonClickNotification});
    QWidget* quickLook = shown->button(1);
    send(quickLook, QEvent::MouseButtonPress, QPointF(13, 13));
    send(quickLook, QEvent::MouseButtonRelease, QPointF(13, 13));
    clock->advance(500);
    ASSERT_EQ(posts[KPSectionItemViewOverLayerToolBar::kButtonClickNotification], 1);
    const QVariantMap info = posts.objects[0].toMap();
    EXPECT_EQ(info.value(QStringLiteral("ButtonIndex")).toInt(), 1);
    EXPECT_EQ(info.value(QStringLiteral("ItemData")).value<KPItemDataPtr>(), items[0]);
    EXPECT_TRUE(grid->selectedIndexs().isEmpty());

    // Moving the item takes the bar away at once.
    view->move(view->pos() + QPoint(0, 10));
    EXPECT_FALSE(shown->isVisible());

    // With two selected there is no bar.
    view->mouseExited();
    grid->selectItemIndexWithSectionIndexSets({KPSectionIndexSet(0, 0), KPSectionIndexSet(0, 1)});
    view->mouseEntered(view->actualFrameRect().center());
    clock->advance(KPSectionItemViewOverLayerToolBar::kFadeMs);
    EXPECT_FALSE(shown->isVisible());
}

TEST_F(ItemParts, GroupTilesClampShowCountsAndPostTheirRecords)
{
    EXPECT_EQ(KPSectionDateItemView::monthName(0), QStringLiteral("Jan"));
    EXPECT_EQ(KPSectionDateItemView::monthName(13), QStringLiteral("Dec"));
    EXPECT_EQ(grouptile::countText(1), QStringLiteral("1 file"));
    EXPECT_EQ(grouptile::countText(0), QStringLiteral("0 files"));

    using grouptile::authorSearchForName;
    EXPECT_TRUE(authorSearchForName(QStringLiteral("Plato")).eitherName);
    const auto two = authorSearchForName(QStringLiteral("Ada Lovelace"));
    EXPECT_EQ(std::tuple(two.first, two.last, two.eitherName), std::tuple(QStringLiteral("Ada"), QStringLiteral("Lovelace"), false));
    EXPECT_EQ(authorSearchForName(QStringLiteral("Mary Ann Evans")).maiden, QStringLiteral("Ann"));
    EXPECT_FALSE(authorSearchForName(QStringLiteral("Juan de la Cruz")).searchable);

    // The kind tile falls back to the "-1" icon.
    KPSectionFileTypeItemView kind;
    kind.setItemData(FileTypeGroupRecord{987654, 3});
    EXPECT_TRUE(kind.iconFileName().startsWith(QStringLiteral("987654")));
    EXPECT_FALSE(kind.icon().isNull());

    // A flag tile draws its card.
    KPSectionFlagItemView flag;
    flag.resize(120, 132);
    auto item = document(browsertest::DocumentFields{.title = QStringLiteral("Red"), .label = 3});
    flag.setItemData(FlagGroupRecord{3, {item}});
    const QImage drawn = flag.grab().toImage();
    EXPECT_EQ(drawn.pixelColor(QPoint(60, 66) * drawn.devicePixelRatio()).alpha(), 255);

    DBAuthor author = authorNamed(QStringLiteral("Ada Lovelace"));
    DBFileInfo notes = addDocument(browsertest::DocumentFields{.title = QStringLiteral("Notes"), .authors = {QStringLiteral("Ada Lovelace")}});
    DBFileInfo binned = addDocument(browsertest::DocumentFields{.title = QStringLiteral("Binned"), .authors = {QStringLiteral("Ada Lovelace")}});
    binned.setIsTrash(true);
    KPSectionAuthorItemView authorTile;
    authorTile.setAuthor(author);
    EXPECT_EQ(authorTile.itemCount(), 1);

    Posts posts({KPSectionDateItemView::kClickNotification, KPSectionFlagItemView::kClickNotification,
                 KPSectionFileTypeItemView::kClickNotification, KPSectionAuthorItemView::kClickNotification});
    KPSectionDateItemView month;
    month.setItemData(MonthGroupRecord{QStringLiteral("2014"), QStringLiteral("13"), {}});
    for (QWidget* tile : std::initializer_list<QWidget*>{&month, &flag, &kind, &authorTile})
        send(tile, QEvent::MouseButtonPress, QPointF(5, 5));
    EXPECT_EQ(posts.objects.size(), 4);
    EXPECT_EQ(posts.objects[0].toMap().value(QStringLiteral("Month")), QStringLiteral("13"));
    EXPECT_EQ(posts.objects[1].toMap().value(QStringLiteral("Label")).toInt(), 3);
    EXPECT_EQ(posts.objects[3], author.ref());
}

TEST_F(ItemParts, SortPopoverPostsOnlyRealChanges)
{
    SortViewSettingController controller;
    QWidget* view = controller.view();
    view->show();
    Posts posts({SortViewSettingController::kViewModeChange, SortViewSettingController::kSectionSortChange,
                 SortViewSettingController::kFileSortSettingChange, KPDataSourceSortManager::kSortingChangeNotification});
    auto press = [](QWidget* w) {
        send(w, QEvent::MouseButtonPress, QPointF(5, 5));
        send(w, QEvent::MouseButtonRelease, QPointF(5, 5));
    };
    press(controller.btnIconView);
    EXPECT_EQ(posts[SortViewSettingController::kViewModeChange], 0);
    press(controller.btnListView);
    EXPECT_EQ(posts[SortViewSettingController::kViewModeChange], 1);
    EXPECT_EQ(settings().displayMode(), KPDisplayModeList);

    press(controller.btnSectionSort);
    press(controller.btnSectionSort);
    EXPECT_EQ(posts[SortViewSettingController::kSectionSortChange], 2);

    auto& sort = KPDataSourceSortManager::shareDataSourceSortManager();
    sort.setFileSortType(6);
    controller.sortListView->refreshValue();
    posts.counts.clear();
    SortListViewItem* modified = controller.sortListView->items()[5];
    SortListViewItem* size = controller.sortListView->items()[1];
    EXPECT_TRUE(modified->bDrawIconChecker());
    press(modified);
    EXPECT_EQ(posts[SortViewSettingController::kFileSortSettingChange], 0);
    press(size);
    EXPECT_EQ(posts[SortViewSettingController::kFileSortSettingChange], 1);
    EXPECT_EQ(posts[KPDataSourceSortManager::kSortingChangeNotification], 1);
    EXPECT_TRUE(size->bDrawIconChecker());
    EXPECT_FALSE(modified->bDrawIconChecker());

    // The file order changes once per press, and the pointer passing over does nothing.
    posts.counts.clear();
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(controller.btnFileDescending, &enter);
    EXPECT_TRUE(sort.fileAscending());
    const QImage descendingOff = controller.buttonImage(controller.btnFileDescending);
    const QImage ascendingOn = controller.buttonImage(controller.btnFileAscending);
    press(controller.btnFileDescending);
    press(controller.btnFileDescending);
    EXPECT_FALSE(sort.fileAscending());
    EXPECT_EQ(posts[SortViewSettingController::kFileSortSettingChange], 1);
    // Both buttons are drawn again from the sprite's other state.
    EXPECT_FALSE(controller.buttonImage(controller.btnFileDescending).isNull());
    EXPECT_NE(controller.buttonImage(controller.btnFileDescending), descendingOff);
    EXPECT_NE(controller.buttonImage(controller.btnFileAscending), ascendingOn);

    // The first row the pointer reaches lights up at once.
    QWidget* list = controller.sortListView;
    send(list, QEvent::MouseMove, QPointF(50, 12), Qt::NoButton);
    EXPECT_EQ(controller.sortListView->lastMoveView(), controller.sortListView->items()[0]);
    EXPECT_TRUE(controller.sortListView->items()[0]->highlight());
}

TEST_F(ItemParts, ImportOverlayZonesCaptionsAndTheShiftHint)
{
    KPImportDraggingView overlay;
    overlay.resize(600, 400);
    EXPECT_TRUE(overlay.iconsLoaded());
    EXPECT_EQ(overlay.dragIconByIndex(0), QRectF(201, 158, 84, 84));
    EXPECT_EQ(overlay.dragIconByIndex(1), QRectF(295, 158, 84, 84));

    overlay.trackMousePoint(QPointF(220, 200));
    EXPECT_EQ(overlay.dragIconIndex(), 0);
    EXPECT_EQ(overlay.caption(), QStringLiteral("Add tags after import"));
    overlay.trackMousePoint(QPointF(290, 200)); // between the icons
    EXPECT_EQ(overlay.dragIconIndex(), KPImportDraggingView::kNotFound);
    EXPECT_EQ(overlay.caption(), QStringLiteral("Import to Documents"));
    overlay.setIsInTagOrCollection(true);
    EXPECT_EQ(overlay.caption(), QStringLiteral("Import here"));
    const int redraws = overlay.redrawRequests();
    overlay.trackMousePoint(QPointF(290, 200));
    EXPECT_EQ(overlay.redrawRequests(), redraws);

    const QImage between = overlay.grab().toImage();
    EXPECT_EQ(between.pixelColor(QPoint(1, 1) * between.devicePixelRatio()), QColor(17, 179, 254));

    platform::kit::Input::setCurrentOverride(platform::kit::Modifiers());
    EXPECT_TRUE(overlay.hint().contains(QStringLiteral("Shift")));
    platform::kit::Input::setCurrentOverride(platform::kit::Modifier::Shift);
    EXPECT_EQ(overlay.hint(), QStringLiteral("The files will be moved into Folivo"));
}

TEST_F(ItemParts, OutlineModelGroupsSectionsAndTheirDocuments)
{
    auto a = document(QStringLiteral("Alpha"), QSize());
    auto b = document(QStringLiteral("Beta"), QSize());
    QList<KPSectionDataPtr> sections{KPSectionData::create(QStringLiteral("A"), QList<KPItemDataPtr>{a, b}),
                                     KPSectionData::create(QStringLiteral("Months"), QList<KPSectionItem>{MonthGroupRecord{}}),
                                     KPSectionData::create(QStringLiteral("Empty"), QList<KPItemDataPtr>{})};
    ListViewDataSource model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setDelegate([&] { return sections; });
    ASSERT_EQ(model.rowCount(), 3);
    const QModelIndex group = model.index(0, 0);
    EXPECT_EQ(model.data(group).toString(), QStringLiteral("A"));
    EXPECT_EQ(model.rowCount(group), 2);
    EXPECT_EQ(model.data(model.index(1, 0, group)).toString(), QStringLiteral("Beta"));
    EXPECT_EQ(model.rowCount(model.index(1, 0)), 0);
    sections.removeFirst();
    model.reload();
    EXPECT_EQ(model.rowCount(), 2);
}
