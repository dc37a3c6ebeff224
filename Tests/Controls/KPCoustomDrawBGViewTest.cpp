#include "Controls/KPCoustomDrawBGView.h"
#include "ControlsTestSupport.h"

#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

using namespace controlstest;

TEST(KPCoustomDrawBGView, ColourFirstThenTheOwnersDrawing)
{
    KPCoustomDrawBGView view(QRect(0, 0, 40, 30));
    view.setBgColor(QColor(10, 20, 30));
    EXPECT_EQ(pixel(view, QPoint(5, 5)), QColor(10, 20, 30));

    QRectF dirty;
    view.setDrawBackgroudWithSelector([&](KPCoustomDrawBGView* v, QPainter& p, const QRectF& r) {
        EXPECT_EQ(v, &view);
        dirty = r;
        p.fillRect(0, 0, 10, 10, Qt::white);
    });
    const QImage img = render(view);
    EXPECT_EQ(dirty, QRectF(0, 0, 40, 30));
    EXPECT_EQ(img.pixelColor(5, 5), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(20, 20), QColor(10, 20, 30));
}

TEST(KPCoustomDrawBGView, MovesReachTheOwnerOnlyWhileTracking)
{
    KPCoustomDrawBGView view(QRect(0, 0, 40, 30));
    QList<QEvent::Type> seen;
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(5, 5));   // no handler yet: nothing happens
    view.setMouseEventSelector([&](QEvent* e) { seen << e->type(); });

    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(5, 5));
    move(view, QPoint(6, 6), false);
    enter(view, QPoint(6, 6));
    EXPECT_EQ(seen, QList<QEvent::Type>({QEvent::MouseButtonPress, QEvent::MouseButtonRelease}));

    seen.clear();
    view.setTrackMouseMoveEvent(true);
    view.setFrame(QRect(0, 0, 80, 60));
    enter(view, QPoint(70, 50));
    move(view, QPoint(70, 50), false);
    move(view, QPoint(71, 50), true);   // a drag is not a move
    leave(view);
    EXPECT_EQ(seen, QList<QEvent::Type>({QEvent::Enter, QEvent::MouseMove, QEvent::Leave}));

    seen.clear();
    view.setTrackMouseMoveEvent(false);
    move(view, QPoint(6, 6), false);
    EXPECT_TRUE(seen.isEmpty());
}
