#include "WindowChromeTestSupport.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/ItemViews/SortViewSettingController.h"
#include "Browser/KPDataSourceManager.h"
#include "Browser/KPDataSourceSortManager.h"
#include "Browser/KPSortFunctions.h"
#include "Controls/KPButtonGroups.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainMenu.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "MainWindow/Parts/SortDisplayThemeHandlers.h"
#include "Platform/Kit/MenuModel.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QMenu>

using namespace browsertest;

class SortDisplayThemeHandlersTest : public GridContextTest {
protected:
    void SetUp() override
    {
        GridContextTest::SetUp();
        grid.show();
        grid.resize(600, 400);
        setUpContext(&grid);
        handlers = std::make_unique<SortDisplayThemeHandlers>(ctx);
        handlers->setControls({.setViewModeButtonImage = [this](const QString& name) { buttonImage = name; },
                               .reloadChromeTheme = [this] { ++chromeReloads; }});
    }

    void TearDown() override
    {
        handlers.reset();
        GridContextTest::TearDown();
    }

    // Sections whose documents are titled in a shuffled order, so that any sort shows.
    void fill(int sections, int perSection)
    {
        source->dataSource().clear();
        for (int s = 0; s < sections; ++s) {
            QList<KPSectionItem> items;
            for (int i = 0; i < perSection; ++i) {
                const int n = (i * 7 + 3) % perSection;
                items.append(KPItemData::create(addDocument(QStringLiteral("s%1-%2").arg(s).arg(n, 2, 10, QLatin1Char('0')))));
            }
            source->dataSource().append(KPSectionData::create(QStringLiteral("S%1").arg(s), items));
        }
        grid.reloadData();
        QApplication::processEvents();
    }

    QStringList titles(qsizetype section) const
    {
        QStringList out;
        for (const KPSectionItem& item : source->dataSource()[section]->datas())
            out << item.itemData()->data().title();
        return out;
    }

    QStringList sectionTitles() const
    {
        QStringList out;
        for (const KPSectionDataPtr& section : source->dataSource())
            out << section->title();
        return out;
    }

    static QStringList sorted(QStringList list, bool ascending)
    {
        std::sort(list.begin(), list.end());
        if (!ascending)
            std::reverse(list.begin(), list.end());
        return list;
    }

    KPCollectionView grid;
    std::unique_ptr<SortDisplayThemeHandlers> handlers;
    QString buttonImage;
    int chromeReloads = 0;
};

TEST_F(SortDisplayThemeHandlersTest, FileSortReordersVisibleAndHiddenSectionsAndIgnoresUnknownTypesAndTheSafeBox)
{
    fill(12, 9); // far more than 400 points show
    ASSERT_FALSE(grid.visibleItemIndexSets().isEmpty());
    ASSERT_LT(grid.visibleItemIndexSets().last().sectionIndex(), 11) << "the last sections must be off screen";
    const QStringList before = titles(0);
    const QStringList beforeHidden = titles(11);

    // An unknown type: nothing moves anywhere.
    sort.setFileSortType(9);
    center.post(SortViewSettingController::kFileSortSettingChange);
    EXPECT_EQ(titles(0), before);
    EXPECT_EQ(titles(11), beforeHidden);

    // The SafeBox listing keeps its own order.
    sort.setFileSortType(KPFileSortTypeTitle);
    sort.setFileAscending(false);
    settings().setItemViewType(KPItemViewTypeSafeBox);
    center.post(SortViewSettingController::kFileSortSettingChange);
    EXPECT_EQ(titles(0), before);
    settings().setItemViewType(KPItemViewTypeGroupedDocuments);

    // Descending by title: every section, on screen or not.
    center.post(SortViewSettingController::kFileSortSettingChange);
    ASSERT_TRUE(testsupport::spinUntil([&] { return titles(0) == sorted(titles(0), false); }));
    for (qsizetype s = 0; s < source->dataSource().size(); ++s)
        EXPECT_EQ(titles(s), sorted(titles(s), false)) << "section " << s;
    // The documents stay in their sections.
    EXPECT_EQ(titles(0).size(), 9);
    EXPECT_TRUE(titles(11).front().startsWith(QStringLiteral("s11-")));
}

TEST_F(SortDisplayThemeHandlersTest, SectionOrderFlipsWithoutRegroupingAndTwiceRestoresIt)
{
    fill(4, 2);
    const QStringList first = sectionTitles();
    const QStringList firstItems = titles(0);
    sort.setGroupAscending(true);
    center.post(SortViewSettingController::kSectionSortChange);
    EXPECT_EQ(sectionTitles(), (QStringList{QStringLiteral("S3"), QStringLiteral("S2"), QStringLiteral("S1"), QStringLiteral("S0")}));
    EXPECT_FALSE(sort.groupAscending());
    EXPECT_EQ(titles(3), firstItems) << "a section's documents keep their order";
    center.post(SortViewSettingController::kSectionSortChange);
    EXPECT_EQ(sectionTitles(), first);
    EXPECT_TRUE(sort.groupAscending());
}

TEST_F(SortDisplayThemeHandlersTest, ViewModeChangeKeepsTheSelectionAndRefetchesThumbnails)
{
    fill(2, 3);
    const QList<KPSectionIndexSet> chosen{KPSectionIndexSet(0, 1), KPSectionIndexSet(1, 2)};
    grid.selectItemIndexWithSectionIndexSets(chosen);
    settings().setDisplayMode(KPDisplayModeList);
    center.post(SortViewSettingController::kViewModeChange);
    EXPECT_EQ(grid.selectedIndexs(), chosen);
    EXPECT_EQ(ctx.state.lastInnerDisplayMode, int(KPDisplayModeList));
    for (const KPSectionDataPtr& section : source->dataSource())
        for (const KPSectionItem& item : section->datas())
            EXPECT_TRUE(item.itemData()->bNeedReloadResource());
}

TEST_F(SortDisplayThemeHandlersTest, DisplayModeSetsMenusButtonAndRubberBandAndThemeShowsTheIconImage)
{
    settings().setDisplayMode(KPDisplayModeList); // posts to the default center, not ours
    handlers->onDisplayModeChange();
    EXPECT_EQ(buttonImage, SortDisplayThemeHandlers::kListViewIcon);
    EXPECT_TRUE(menu.itemListView()->isChecked());
    EXPECT_FALSE(menu.itemIconView()->isChecked());
    EXPECT_FALSE(grid.allowRegionSelection());

    // A theme that loads: the chrome re-reads, and the button shows icons though the grid lists.
    center.post(KPThemeManager::kThemeChangeNotification);
    EXPECT_EQ(chromeReloads, 1);
    EXPECT_EQ(buttonImage, SortDisplayThemeHandlers::kIconViewIcon);
    EXPECT_TRUE(settings().isListMode());

    settings().setDisplayMode(KPDisplayModeIcon);
    handlers->onDisplayModeChange();
    EXPECT_TRUE(menu.itemIconView()->isChecked());
    EXPECT_TRUE(grid.allowRegionSelection());

    // The group selector, rebuilt by the theme, still names the grouping the grid shows.
    KPButtonGroups groups(QRect(0, 0, 400, 30));
    groups.setupDatas({QVariantMap{{"Title", "Title"}, {"Tag", 1}}, QVariantMap{{"Title", "Kind"}, {"Tag", 5}}});
    handlers->setControls({.groupButtons = &groups, .reloadChromeTheme = [this] { ++chromeReloads; }});
    sort.setGroupSortType(5);
    handlers->onDataSourceSortingChange();
    groups.themeUpdateWithName(QStringLiteral("gray"));
    center.post(KPThemeManager::kThemeChangeNotification);
    ASSERT_EQ(groups.buttons().size(), 2u);
    EXPECT_FALSE(groups.buttons()[0]->isHightlight());
    EXPECT_TRUE(groups.buttons()[1]->isHightlight());
}

TEST_F(SortDisplayThemeHandlersTest, SortingChangeChecksOneTypeAndOneDirectionInEachMenu)
{
    QMenu popup;
    QMenu* groupOrder = popup.addMenu(QStringLiteral("Order"));
    groupOrder->menuAction()->setData(3);
    QMenu* fileSort = popup.addMenu(QStringLiteral("Sort"));
    fileSort->menuAction()->setData(4);
    for (int tag : {1, 2, 3, 4, 5, 6, 7, mainmenu::kAscendingTag, mainmenu::kDescendingTag})
        fileSort->addAction(QString::number(tag))->setData(tag);
    for (int tag : {mainmenu::kAscendingTag, mainmenu::kDescendingTag})
        groupOrder->addAction(QString::number(tag))->setData(tag);
    handlers->setControls({.viewModeMenu = &popup});

    const auto checkedTags = [](const QMenu* m) {
        QList<int> tags;
        for (QAction* a : m->actions())
            if (a->isChecked())
                tags << platform::kit::menuItemTag(a);
        return tags;
    };
    sort.setFileSortType(1);
    handlers->onDataSourceSortingChange();
    sort.setFileSortType(3);
    sort.setFileAscending(false);
    sort.setGroupAscending(false);
    handlers->onDataSourceSortingChange();
    EXPECT_EQ(checkedTags(menu.itemSortBy()->menu()), (QList<int>{3, mainmenu::kDescendingTag}));
    EXPECT_EQ(checkedTags(fileSort), (QList<int>{3, mainmenu::kDescendingTag}));
    EXPECT_EQ(checkedTags(menu.itemOrderBy()->menu()), (QList<int>{mainmenu::kDescendingTag}));
    EXPECT_EQ(checkedTags(groupOrder), (QList<int>{mainmenu::kDescendingTag}));
}
