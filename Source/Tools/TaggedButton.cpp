#include "Tools/TaggedButton.h"

#include "Platform/Foundation/Localization.h"

#include <QPushButton>

QPushButton* taggedButton(const QString& title, int tag, QWidget* parent)
{
    auto* button = new QPushButton(platform::localizedString(title), parent);
    button->setProperty(kButtonTagProperty, tag);
    button->setAutoDefault(false);
    return button;
}

int buttonTag(const QPushButton* button)
{
    return button->property(kButtonTagProperty).toInt();
}
