#include "Browser/ItemViews/GroupTileSupport.h"

#include "Browser/BrowserText.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <QMouseEvent>

namespace grouptile {

QString countText(qint64 count)
{
    QString format = browsertext::text(count == 1 ? QStringLiteral("%ld file") : QStringLiteral("%ld files"));
    return format.replace(QLatin1String("%ld"), QString::number(count));
}

AuthorSearch authorSearchForName(const QString& name)
{
    const QStringList words = name.split(QLatin1Char(' '));
    AuthorSearch search;
    switch (words.size()) {
    case 1:
        search = {true, true, words[0], words[0], {}};
        break;
    case 2:
        search = {true, false, words[0], words[1], {}};
        break;
    case 3:
        search = {true, false, words[0], words[2], words[1]};
        break;
    default:
        break;
    }
    return search;
}

} // namespace grouptile

void KPGroupTileView::mouseEntered(const QPointF&)
{
    m_isMouseIn = true;
    update();
}

void KPGroupTileView::mouseExited()
{
    m_isMouseIn = false;
    update();
}

void KPGroupTileView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    const QVariant object = clickObject();
    if (object.isValid())
        platform::NotificationCenter::defaultCenter().post(clickNotification(), object);
}
