// Buttons that carry a tag, as the tools' windows tell their Cancel buttons apart by it.
#pragma once

#include <QString>

class QPushButton;
class QWidget;

// The name of the property that holds a button's tag.
inline constexpr char kButtonTagProperty[] = "tag";

// A push button titled with the localised title, holding tag, never pressed by Return unless
// made the default.
QPushButton* taggedButton(const QString& title, int tag, QWidget* parent);
// The tag of a button made above (0 when it has none).
int buttonTag(const QPushButton* button);
