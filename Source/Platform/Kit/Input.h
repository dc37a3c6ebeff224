// Keyboard and mouse conventions of the program mapped onto Linux: Command is Ctrl, Option is
// Alt, Control is Meta, and a Control-click counts as a right click. Handlers read the
// modifiers of their event; code that asks "which keys are held right now" goes through
// current(), which tests can override without touching the real keyboard.
#pragma once

#include <QFlags>
#include <QKeyEvent>
#include <QMouseEvent>
#include <optional>

namespace platform::kit {

enum class Modifier {
    None = 0,
    Shift = 1 << 0,
    Control = 1 << 1,
    Option = 1 << 2,
    Command = 1 << 3,
};
Q_DECLARE_FLAGS(Modifiers, Modifier)
Q_DECLARE_OPERATORS_FOR_FLAGS(Modifiers)

// Characters the handlers compare key presses with.
namespace keychar {
constexpr char16_t Escape = 27;
constexpr char16_t Return = 13;
constexpr char16_t Tab = 9;
constexpr char16_t Delete = 127;          // Backspace
constexpr char16_t UpArrow = 0xF700;
constexpr char16_t DownArrow = 0xF701;
constexpr char16_t LeftArrow = 0xF702;
constexpr char16_t RightArrow = 0xF703;
constexpr char16_t ForwardDelete = 0xF728;
} // namespace keychar

class Input {
public:
    static Modifiers fromQt(Qt::KeyboardModifiers mods);
    static Qt::KeyboardModifiers toQt(Modifiers mods);

    // The modifiers held now: the override when one is set, else the keyboard's state.
    static Modifiers current();
    static void setCurrentOverride(std::optional<Modifiers> mods);

    // The character a key press stands for (the constants above for special keys, else the
    // first character of its text; 0 when it has none).
    static char16_t keyCharacter(const QKeyEvent* event);

    // A right click, or a left click with Control (Meta) held.
    static bool isContextClick(const QMouseEvent* event);

    // Whether the key is a modifier pressed on its own: no key press of its own to the program.
    static bool isModifierKey(int key);
};

} // namespace platform::kit
