// Which modifier keys are held right now, for the window's handlers that have no event of their
// own (a click's action, a load-time check). Command is Ctrl, Option is Alt and Control is Meta;
// handlers that do have an event read the event's modifiers instead. Tests hand the window a
// KeyState whose answers they set.
//
// Threads: main thread only.
#pragma once

#include "Platform/Kit/Input.h"

class KeyState {
public:
    virtual ~KeyState() = default;

    virtual platform::kit::Modifiers current() const { return platform::kit::Input::current(); }

    bool isCommandKeyDown() const { return current().testFlag(platform::kit::Modifier::Command); }
    bool isOptionKeyDown() const { return current().testFlag(platform::kit::Modifier::Option); }
    bool isShiftKeyDown() const { return current().testFlag(platform::kit::Modifier::Shift); }
    bool isControlKeyDown() const { return current().testFlag(platform::kit::Modifier::Control); }
};

// A KeyState that answers what it was told.
class FixedKeyState final : public KeyState {
public:
    explicit FixedKeyState(platform::kit::Modifiers mods = {}) : m_mods(mods) {}
    void set(platform::kit::Modifiers mods) { m_mods = mods; }
    platform::kit::Modifiers current() const override { return m_mods; }

private:
    platform::kit::Modifiers m_mods;
};
