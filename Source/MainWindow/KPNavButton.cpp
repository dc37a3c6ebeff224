#include "MainWindow/KPNavButton.h"

#include "Theme/KPThemeManager.h"

#include <QMouseEvent>

KPNavButton::KPNavButton(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    setGeometry(QRect(frame.topLeft(), kSize));
    setFixedSize(kSize);
    KPThemeManager::themeManager()->addThemeObject(this);
}

void KPNavButton::themeUpdateWithName(const QString&)
{
    update();
}

void KPNavButton::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}
