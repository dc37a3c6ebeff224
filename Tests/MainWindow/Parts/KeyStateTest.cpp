#include "MainWindow/KeyState.h"

#include <gtest/gtest.h>

using platform::kit::Input;
using platform::kit::Modifier;

// The window asks "which keys are held" through KeyState; the real one must follow the kit's
// override (what tests and the event rules set) and map each key on its own.
TEST(KeyState, MapsEachModifierOnItsOwn)
{
    KeyState keys;
    Input::setCurrentOverride(Modifier::Command | Modifier::Option);
    EXPECT_TRUE(keys.isCommandKeyDown());
    EXPECT_TRUE(keys.isOptionKeyDown());
    EXPECT_FALSE(keys.isShiftKeyDown());
    EXPECT_FALSE(keys.isControlKeyDown());

    Input::setCurrentOverride(platform::kit::Modifiers(Modifier::Control));
    EXPECT_FALSE(keys.isCommandKeyDown());
    EXPECT_TRUE(keys.isControlKeyDown());
    Input::setCurrentOverride(std::nullopt);

    // Ctrl on the keyboard is the program's Command key, Meta its Control key.
    EXPECT_EQ(Input::fromQt(Qt::ControlModifier), platform::kit::Modifiers(Modifier::Command));
    EXPECT_EQ(Input::fromQt(Qt::MetaModifier), platform::kit::Modifiers(Modifier::Control));
    EXPECT_EQ(Input::fromQt(Qt::AltModifier), platform::kit::Modifiers(Modifier::Option));

    FixedKeyState fixed(Modifier::Shift);
    EXPECT_TRUE(fixed.isShiftKeyDown());
    EXPECT_FALSE(fixed.isCommandKeyDown());
}
