// The window as it is drawn, in every generated theme, with the window active and inactive:
// each glyph and text the chrome shows stands out from what is behind it (a contrast of 4.5:1
// at least, measured in grabs of the window). Setting FOLIVO_GRAB_DIR keeps the grabs for a look.
#include "MainWindowTestSupport.h"
#include "Support/GrabContrast.h"

#include "Browser/CollectionView/KPCollectionView.h"
#include "Controls/KPHorizontalStretchButton.h"
#include "Controls/VQTitlebarWindow.h"
#include "Controls/VQTitlebarView.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowParts.h"
#include "Controls/KPTokenEditorView.h"
#include "Inspector/TagEditorViewController.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/Popover.h"
#include "SideBar/SideBarNodeType.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QTest>
#include <QToolButton>

namespace {

using namespace mainwindowtest;

const QStringList kThemes{"gray", "light", "dark", "blue", "red", "green", "yellow"};

class MainWindowLookTest : public MainWindowFixture {
protected:
    void TearDown() override
    {
        KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray"));
        MainWindowFixture::TearDown();
    }

    // Rectangle of widget (or of part of it) in the window's grab, in device pixels.
    static QRect inGrab(QWidget* window, QWidget* widget, QRect part = {})
    {
        if (part.isNull())
            part = widget->rect();
        const double dpr = window->devicePixelRatioF();
        const QRect r(widget->mapTo(window, part.topLeft()), part.size());
        return QRect(int(r.x() * dpr), int(r.y() * dpr), int(r.width() * dpr), int(r.height() * dpr));
    }

    void expectReadable(const QImage& image, const QString& what, const QRect& rect)
    {
        const testsupport::InkContrast m = testsupport::inkContrast(image, rect);
        EXPECT_GE(m.ratio, themecontrast::kMinimum) << qPrintable(what) << ": ink " << qPrintable(QColor(m.ink).name())
                                                    << " on " << qPrintable(QColor(m.ground).name());
    }

    static void keep(const QImage& image, const QString& name)
    {
        const QString dir = qEnvironmentVariable("FOLIVO_GRAB_DIR");
        if (!dir.isEmpty() && QDir().mkpath(dir))
            image.save(dir + u'/' + name + QStringLiteral(".png"));
    }
};

TEST_F(MainWindowLookTest, EveryGlyphAndTextOfTheChromeStandsOutInEveryTheme)
{
    addDocument({.title = QStringLiteral("Alpha")});
    addDocument({.title = QStringLiteral("Beta"), .extension = QStringLiteral("txt")});
    MainWindowController& c = open();
    VQTitlebarWindow* window = c.window();
    WindowChrome& chrome = c.parts().chrome;
    auto* menuBar = window->titleBarView()->findChild<QMenuBar*>();
    ASSERT_TRUE(menuBar);
    ASSERT_TRUE(testsupport::spinUntil([&] { return chrome.labItemCount()->isVisible(); }));

    for (const QString& theme : kThemes) {
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(theme));
        for (const bool active : {true, false}) {
            SCOPED_TRACE(QStringLiteral("%1, %2").arg(theme, active ? "active" : "inactive").toStdString());
            if (active) {
                window->activateWindow();
                QApplication::setActiveWindow(window);
            } else {
                QApplication::setActiveWindow(nullptr);
            }
            ASSERT_TRUE(testsupport::spinUntil([&] { return window->isActiveWindow() == active; }));
            QCoreApplication::processEvents();
            const QImage image = window->grab().toImage();
            keep(image, QStringLiteral("%1-%2").arg(theme, active ? "active" : "inactive"));

            for (QToolButton* glyph : {chrome.btnShowHideSideBar(), chrome.btnShowHidePropertyView(), chrome.btnViewMode()})
                if (glyph->isVisible())
                    expectReadable(image, glyph->toolTip(), inGrab(window, glyph));
            for (QAction* title : menuBar->actions())
                expectReadable(image, QStringLiteral("menu title ") + title->text(),
                               inGrab(window, menuBar, menuBar->actionGeometry(title)));
            // The bar's centred icon: its glyph against its own disc.
            QWidget* bar = window->titleBarView();
            const QRect icon(bar->width() / 2 - 9, bar->height() / 2 - 9, 18, 18);
            expectReadable(image, QStringLiteral("title-bar icon"), inGrab(window, bar, icon));
            QLabel* status = chrome.labItemCount();
            expectReadable(image, QStringLiteral("status text"), inGrab(window, status));
        }
    }
}

// A tile's documents slide in with a Back button; with the side bar hidden the library button
// names the node. Both titles read on their plates.
TEST_F(MainWindowLookTest, BackAndLibraryButtonsShowReadableTitles)
{
    addDocument({.title = QStringLiteral("Alpha")});
    addDocument({.title = QStringLiteral("Beta"), .extension = QStringLiteral("txt")});
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    VQTitlebarWindow* window = c.window();
    WindowChrome& chrome = c.parts().chrome;
    KPNode* fileTypes = nullptr;
    for (int row = 0; row < sideBarView().numberOfRows() && !fileTypes; ++row)
        if (KPNode* node = sideBarView().nodeAtRow(row); node && node->nodeType() == SideBarNodeType::FileTypeNode)
            fileTypes = node;
    ASSERT_TRUE(fileTypes);
    sideBarView().selectNode(fileTypes);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !ctx.collectionView->visibleItemViews().isEmpty(); }));
    QWidget* tile = ctx.collectionView->visibleItemViews().first();
    QTest::mouseClick(tile, Qt::LeftButton, {}, QPoint(tile->width() / 2, tile->height() / 2));
    ASSERT_TRUE(testsupport::spinUntil([&] { return chrome.btnBack()->isVisible(); }));
    chrome.setBLeftSideBarExpand(false);

    for (const QString& theme : kThemes) {
        SCOPED_TRACE(theme.toStdString());
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(theme));
        QCoreApplication::processEvents();
        const QImage image = window->grab().toImage();
        keep(image, QStringLiteral("%1-back").arg(theme));
        KPHorizontalStretchButton* back = chrome.btnBack();
        EXPECT_EQ(back->title(), QStringLiteral("Back"));
        // Inside the plate, clear of its rounded ends.
        expectReadable(image, QStringLiteral("Back"), inGrab(window, back, back->rect().adjusted(6, 4, -6, -4)));
    }

    // Back at the tiles, the library button takes Back's place.
    chrome.onBackButtonClick();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !chrome.btnBack()->isVisible() && chrome.btnLibraryNav()->isVisible(); }));
    KPHorizontalStretchButton* library = chrome.btnLibraryNav();
    for (const QString& theme : kThemes) {
        SCOPED_TRACE(theme.toStdString());
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(theme));
        QCoreApplication::processEvents();
        const QImage image = window->grab().toImage();
        keep(image, QStringLiteral("%1-library").arg(theme));
        EXPECT_FALSE(library->title().isEmpty());
        expectReadable(image, QStringLiteral("Library"), inGrab(window, library, library->rect().adjusted(6, 8, -6, -8)));
        // The node's icon, left of the title.
        expectReadable(image, QStringLiteral("Library icon"), inGrab(window, library, QRect(8, 8, 24, library->height() - 16)));
    }
}

// A narrow window (a small screen at a large scale) brings the menu titles to the middle of the
// bar: its centred icon gives way rather than showing through a title.
TEST_F(MainWindowLookTest, TheTitleBarIconGivesWayToMenuTitlesInTheMiddle)
{
    MainWindowController& c = open();
    VQTitlebarWindow* window = c.window();
    auto* bar = static_cast<VQTitlebarView*>(window->titleBarView());
    auto* menuBar = bar->findChild<QMenuBar*>();
    ASSERT_TRUE(menuBar && menuBar->isVisible());
    auto titlesEnd = [&] {
        int end = 0;
        for (QAction* title : menuBar->actions())
            if (!menuBar->actionGeometry(title).isEmpty())
                end = std::max(end, menuBar->x() + menuBar->actionGeometry(title).right());
        return end;
    };
    window->setMinimumSize(200, 200);
    window->resize(2 * titlesEnd() + 400, 700);
    QCoreApplication::processEvents();
    ASSERT_FALSE(bar->titleIconRect().isEmpty());
    EXPECT_FALSE(bar->isTitleIconHidden());
    for (int width = 2 * titlesEnd(); width > 300; width -= 40) {
        window->resize(width, 700);
        QCoreApplication::processEvents();
        const bool reached = titlesEnd() >= bar->titleIconRect().left();
        EXPECT_EQ(bar->isTitleIconHidden(), reached) << "at a width of " << width;
    }
}

// The action bar's tag popover: a bordered field that says what to type.
TEST_F(MainWindowLookTest, TagPopoverShowsAFieldWithItsHint)
{
    addDocument({.title = QStringLiteral("Alpha")});
    MainWindowController& c = open();
    MainWindowContext& ctx = c.context();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !ctx.collectionView->visibleItemViews().isEmpty(); }));
    ctx.collectionView->selectAll();
    ctx.collectionView->doCollectionViewItemSelectedNotify();
    ctx.commands->perform(SelectionSharing::kShowTagsCommand);
    platform::kit::Popover* popover = c.parts().sharing.tagPopover();
    ASSERT_TRUE(popover);
    ASSERT_TRUE(testsupport::spinUntil([&] { return popover->isShown(); }));
    auto* editor = dynamic_cast<TagEditorViewController*>(popover->contentWidget());
    ASSERT_TRUE(editor);
    KPTokenEditorView* field = editor->tagEditView();
    QCoreApplication::processEvents();
    const QImage image = editor->grab().toImage();
    keep(image, QStringLiteral("tag-popover"));
    EXPECT_FALSE(field->placeHolderString().isEmpty());
    const double dpr = image.devicePixelRatio();
    auto device = [dpr](const QRect& r) { return QRect((QRectF(r).topLeft() * dpr).toPoint(), (QSizeF(r.size()) * dpr).toSize()); };
    // The field's outline stands out from the popover around it, and its hint from the field.
    const QRect field1 = field->geometry();
    EXPECT_GE(testsupport::inkContrast(image, device(field1.adjusted(-2, -2, 2, 2))).ratio, 1.5);
    const testsupport::InkContrast hint = testsupport::inkContrast(image, device(field1.adjusted(3, 3, -3, -3)));
    EXPECT_GE(hint.ratio, themecontrast::kMinimum) << qPrintable(QColor(hint.ink).name()) << " on "
                                                   << qPrintable(QColor(hint.ground).name());
}

} // namespace
