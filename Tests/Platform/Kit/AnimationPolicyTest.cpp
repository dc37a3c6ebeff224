#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/Kit/Sheet.h"

#include <QPropertyAnimation>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using namespace platform::kit;

TEST(AnimationPolicy, InstantMovesAtOnceAnimatedFollowsTheClockAndTheScopeRestores)
{
    auto window = std::make_unique<QWidget>();
    window->resize(600, 400);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    VirtualScheduler clock;
    auto* pane = new QWidget(window.get());
    pane->setGeometry(0, 0, 100, 400);
    EXPECT_TRUE(AnimationPolicy::current().animates());
    {
        AnimationPolicy instant(AnimationPolicy::Mode::Instant);
        AnimationPolicy::Scope scope(instant);
        EXPECT_EQ(AnimationPolicy::current().duration(300), 0);
        EXPECT_EQ(AnimationPolicy::current().animate(pane, "pos", QPoint(280, 0), 300), nullptr);
        EXPECT_EQ(pane->pos(), QPoint(280, 0));

        // The Kit's own sheets follow the policy too: shown in place at once.
        auto* content = new QWidget;
        content->setFixedSize(200, 80);
        Sheet sheet(content);
        sheet.begin(window.get(), {});
        QCoreApplication::processEvents();
        EXPECT_EQ(sheet.panel()->pos().y(), 0);
        sheet.end(1);
    }
    EXPECT_TRUE(AnimationPolicy::current().animates());
    EXPECT_EQ(AnimationPolicy::current().duration(-5), 0);

    QPointer<QPropertyAnimation> slide = AnimationPolicy::current().animate(pane, "pos", QPoint(0, 0), 200);
    ASSERT_TRUE(slide);
    clock.advance(100);
    EXPECT_GT(pane->pos().x(), 0);
    EXPECT_LT(pane->pos().x(), 280);
    clock.advance(100);
    EXPECT_EQ(pane->pos(), QPoint(0, 0));
    EXPECT_TRUE(slide.isNull() || slide->state() == QAbstractAnimation::Stopped);
}
