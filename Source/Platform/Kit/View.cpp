#include "Platform/Kit/View.h"

#include <QEvent>

namespace platform::kit {

View::View(QWidget* parent)
    : QWidget(parent)
{
}

void View::removeFromSuperview()
{
    takeFromSuperview();
    deleteLater();
}

void View::takeFromSuperview()
{
    hide();
    setParent(nullptr);
}

bool View::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange)
        viewDidMoveToSuperview();
    return QWidget::event(event);
}

} // namespace platform::kit
