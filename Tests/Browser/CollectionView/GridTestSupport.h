// The grid's test fixture: a shown grid with a fixed-size viewport over a FakeGrid, the "gray"
// theme, and helpers that address views by where they appear in the viewport.
#pragma once

#include "FakeGrid.h"

#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace gridtest {

class GridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
        KPSectionView::resetTheme();
        CountingItemView::constructed = 0;
    }

    // A grid whose viewport is width × height, over sections of the given sizes.
    FakeGrid& make(const std::vector<qint64>& counts, bool titled = false, int width = 600, int height = 400,
                   KPSectionContentLayoutManager* layout = nullptr)
    {
        grid.show();
        const QSize chrome = grid.size() - grid.viewport()->size();
        grid.resize(width + chrome.width(), height + chrome.height());
        QApplication::processEvents();
        fake = std::make_unique<FakeGrid>(&grid, layout ? layout : titled ? &titledLayout : &plainLayout, titled);
        fake->setSections(counts);
        grid.reloadData();
        return *fake;
    }

    // The view's rectangle in viewport pixels.
    QRect inViewport(const QWidget* view) const
    {
        return QRect(view->mapTo(grid.viewport(), QPoint(0, 0)), view->size());
    }

    void sendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
                   Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QMouseEvent event(type, at, target->mapToGlobal(QPointF(at)), button, buttons, mods);
        QApplication::sendEvent(target, &event);
    }

    int scrollTop() const { return grid.verticalScrollBar()->value(); }

    KPCollectionView grid;
    FixedTitledLayout titledLayout;
    KPSectionContentLayoutManager plainLayout;
    std::unique_ptr<FakeGrid> fake;
};

} // namespace gridtest
