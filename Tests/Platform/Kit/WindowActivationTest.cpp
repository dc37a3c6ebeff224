// Top-level windows brought before the user: shown with the keyboard, and restored from the
// minimised state when the user asks to see them again. (That a window minimised before the
// program sees it shown stays minimised needs a window manager: the user-level suite shows it.)
#include "Platform/Kit/WindowActivation.h"
#include "Support/TestSupport.h"

#include <QWidget>
#include <gtest/gtest.h>

using namespace platform::kit;
using testsupport::spinUntil;

TEST(WindowActivation, AShownWindowGetsTheKeyboardAndComesBackFromMinimisedWhenAskedFor)
{
    QWidget window;
    showAndActivateWhenShown(&window);
    EXPECT_TRUE(window.isVisible());
    ASSERT_TRUE(spinUntil([&] { return window.isActiveWindow(); }));

    QWidget other;
    other.show();
    other.activateWindow();
    window.showMinimized();
    ASSERT_TRUE(spinUntil([&] { return window.isMinimized() && other.isActiveWindow(); }));
    // Shown again as it was the first time: brought back, not left minimised.
    showAndActivateWhenShown(&window);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(spinUntil([&] { return window.isActiveWindow(); }));

    window.showMinimized();
    ASSERT_TRUE(spinUntil([&] { return window.isMinimized(); }));
    bringToFront(&window);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(spinUntil([&] { return window.isActiveWindow(); }));
}
