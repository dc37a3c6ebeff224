// Windows of their own placed on the screen: larger than its free area, they shrink so that
// their buttons stay in reach; a fixed size is kept; centred over a window at the screen's edge,
// they stay on the screen.
#include "Platform/Kit/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

using platform::kit::kWindowFrameAllowance;
using platform::kit::placeCentred;

TEST(WindowPlacement, AWindowTallerThanTheScreenShrinksOntoItAndAFixedOneIsOnlyCentred)
{
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget big;
    big.setMinimumSize(200, 150);
    big.resize(free.width() + 300, free.height() + 200);
    placeCentred(&big);
    EXPECT_LE(big.height() + kWindowFrameAllowance, free.height());
    EXPECT_LE(big.width(), free.width());
    EXPECT_TRUE(free.contains(big.geometry())) << big.geometry().x() << "," << big.geometry().y();
    EXPECT_NEAR(big.geometry().center().x(), free.center().x(), 1);

    QWidget small;
    small.resize(300, 200);
    placeCentred(&small);
    EXPECT_EQ(small.size(), QSize(300, 200));
    EXPECT_NEAR(small.geometry().center().x(), free.center().x(), 1);
    EXPECT_NEAR(small.geometry().center().y(), free.center().y(), 1);

    QWidget fixed;
    fixed.setFixedSize(free.width() + 50, 100);
    placeCentred(&fixed);
    EXPECT_EQ(fixed.width(), free.width() + 50);

    // Over a window in the screen's corner, the sheet-like window stays on the screen.
    QWidget owner;
    owner.setGeometry(free.right() - 100, free.bottom() - 80, 200, 160);
    QWidget hint;
    hint.resize(300, 200);
    placeCentred(&hint, &owner);
    EXPECT_TRUE(free.contains(hint.geometry()));
}
