#include "Platform/Kit/Input.h"

#include <QGuiApplication>

namespace platform::kit {

namespace {
std::optional<Modifiers> g_override;
}

Modifiers Input::fromQt(Qt::KeyboardModifiers mods)
{
    Modifiers out;
    if (mods & Qt::ShiftModifier)
        out |= Modifier::Shift;
    if (mods & Qt::ControlModifier)
        out |= Modifier::Command;
    if (mods & Qt::AltModifier)
        out |= Modifier::Option;
    if (mods & Qt::MetaModifier)
        out |= Modifier::Control;
    return out;
}

Qt::KeyboardModifiers Input::toQt(Modifiers mods)
{
    Qt::KeyboardModifiers out;
    if (mods & Modifier::Shift)
        out |= Qt::ShiftModifier;
    if (mods & Modifier::Command)
        out |= Qt::ControlModifier;
    if (mods & Modifier::Option)
        out |= Qt::AltModifier;
    if (mods & Modifier::Control)
        out |= Qt::MetaModifier;
    return out;
}

Modifiers Input::current()
{
    if (g_override)
        return *g_override;
    return fromQt(QGuiApplication::queryKeyboardModifiers());
}

void Input::setCurrentOverride(std::optional<Modifiers> mods)
{
    g_override = mods;
}

char16_t Input::keyCharacter(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape: return keychar::Escape;
    case Qt::Key_Return:
    case Qt::Key_Enter: return keychar::Return;
    case Qt::Key_Tab: return keychar::Tab;
    case Qt::Key_Backspace: return keychar::Delete;
    case Qt::Key_Delete: return keychar::ForwardDelete;
    case Qt::Key_Up: return keychar::UpArrow;
    case Qt::Key_Down: return keychar::DownArrow;
    case Qt::Key_Left: return keychar::LeftArrow;
    case Qt::Key_Right: return keychar::RightArrow;
    default: break;
    }
    const QString text = event->text();
    return text.isEmpty() ? char16_t(0) : text.at(0).unicode();
}

bool Input::isContextClick(const QMouseEvent* event)
{
    if (event->button() == Qt::RightButton)
        return true;
    return event->button() == Qt::LeftButton && (event->modifiers() & Qt::MetaModifier);
}

bool Input::isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return true;
    default:
        return false;
    }
}

} // namespace platform::kit
