#include "Browser/ItemViews/SortListViewItem.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"

#include <QMouseEvent>
#include <QPainter>

SortListViewItem::SortListViewItem(const QString& title, int fileSortType, QWidget* parent)
    : QWidget(parent), m_title(title), m_fileSortType(fileSortType)
{
    setMouseTracking(true);
}

void SortListViewItem::setHighlight(bool highlight)
{
    if (highlight == m_highlight)
        return;
    m_highlight = highlight;
    update();
}

void SortListViewItem::setBDrawIconChecker(bool checked)
{
    m_checked = checked;
    update();
}

void SortListViewItem::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    platform::kit::Canvas canvas(painter, height());
    const double w = width();
    const double h = height();
    if (m_highlight)
        canvas.fillPath(platform::kit::Canvas::roundRectPath(QRectF(0, 0, w, h), 3), QColor(225, 225, 225));
    platform::kit::TextAttributes attrs = platform::kit::TextAttributes::plain(platform::kit::FontResolver::boldSystemFont(12));
    attrs.color = QColor(90, 90, 90);
    attrs.hasParagraphStyle = true;
    attrs.lineBreakMode = 4;
    attrs.shadow = platform::kit::TextShadow{QColor(Qt::white), QSizeF(0, -1), std::nullopt};
    const double textH = platform::kit::textSize(m_title, attrs).height();
    canvas.drawText(QRectF(28 + 3, (h - textH) / 2, w - 28 - 3, textH), m_title, attrs);
    if (m_checked) {
        KPCustomThemeObject* sorting = KPThemeObject::customThemeObjectWithName(QStringLiteral("Sorting"));
        if (auto* checker = sorting ? sorting->themeObjectWithName<KPSprite>(QStringLiteral("IconChecker")) : nullptr)
            canvas.drawImage(QRectF(QPointF(10, 5), checker->size()), checker->image());
    }
}

void SortListViewItem::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    if (m_onClick)
        m_onClick(this);
}
