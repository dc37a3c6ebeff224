#include "Glyphs.h"

#include <QPainterPath>
#include <QtMath>

namespace themegen {

namespace {

// Stroke width on the 16-point grid.
constexpr qreal kLine = 1.3;

QPainterPath folderPath()
{
    QPainterPath p;
    p.moveTo(1.5, 4);
    p.lineTo(1.5, 13.5);
    p.lineTo(14.5, 13.5);
    p.lineTo(14.5, 5);
    p.lineTo(7.5, 5);
    p.lineTo(6, 3);
    p.lineTo(2.5, 3);
    p.closeSubpath();
    return p;
}

QPainterPath pagePath()
{
    QPainterPath p;
    p.moveTo(3, 1.5);
    p.lineTo(10, 1.5);
    p.lineTo(13, 4.5);
    p.lineTo(13, 14.5);
    p.lineTo(3, 14.5);
    p.closeSubpath();
    return p;
}

QPainterPath starPath(qreal cx, qreal cy, qreal outer, qreal inner)
{
    QPainterPath p;
    for (int i = 0; i < 10; ++i) {
        const qreal a = qDegreesToRadians(-90.0 + i * 36.0);
        const qreal r = (i % 2) ? inner : outer;
        const QPointF pt(cx + r * qCos(a), cy + r * qSin(a));
        if (i == 0)
            p.moveTo(pt);
        else
            p.lineTo(pt);
    }
    p.closeSubpath();
    return p;
}

void gear(QPainter& p, QPointF c, qreal r)
{
    QPainterPath teeth;
    for (int i = 0; i < 8; ++i) {
        const qreal a = qDegreesToRadians(i * 45.0);
        teeth.addEllipse(QPointF(c.x() + r * qCos(a), c.y() + r * qSin(a)), r * 0.28, r * 0.28);
    }
    teeth.addEllipse(c, r * 0.85, r * 0.85);
    p.fillPath(teeth.simplified(), p.pen().color());
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setBrush(Qt::black);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, r * 0.35, r * 0.35);
    p.restore();
}

} // namespace

void drawGlyph(QPainter& p, Glyph glyph, const QRectF& box, const QColor& color)
{
    if (glyph == Glyph::None || box.isEmpty())
        return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(box.topLeft());
    p.scale(box.width() / 16.0, box.height() / 16.0);
    QPen pen(color, kLine, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QColor fill = color;

    switch (glyph) {
    case Glyph::Document:
        p.drawPath(pagePath());
        p.drawLine(QPointF(5, 7), QPointF(11, 7));
        p.drawLine(QPointF(5, 9.5), QPointF(11, 9.5));
        p.drawLine(QPointF(5, 12), QPointF(9, 12));
        break;
    case Glyph::PageCorner:
        p.drawPath(pagePath());
        p.drawPolyline(QPolygonF({QPointF(10, 1.5), QPointF(10, 4.5), QPointF(13, 4.5)}));
        break;
    case Glyph::Folder:
        p.drawPath(folderPath());
        p.drawLine(QPointF(1.5, 6.5), QPointF(14.5, 6.5));
        break;
    case Glyph::IndexFolder:
        p.drawPath(folderPath());
        p.drawEllipse(QPointF(7.5, 9.2), 2.2, 2.2);
        p.drawLine(QPointF(9.2, 10.9), QPointF(11.5, 13));
        break;
    case Glyph::SmartFolder:
        p.drawPath(folderPath());
        gear(p, QPointF(8, 9.5), 2.4);
        break;
    case Glyph::Question:
        p.drawPath(folderPath());
        p.drawLine(QPointF(6, 7.5), QPointF(10, 11.5));
        p.drawLine(QPointF(10, 7.5), QPointF(6, 11.5));
        break;
    case Glyph::Briefcase:
        p.drawRoundedRect(QRectF(1.5, 4.5, 13, 9.5), 1.5, 1.5);
        p.drawRect(QRectF(5.5, 2, 5, 2.5));
        p.drawLine(QPointF(1.5, 8.5), QPointF(14.5, 8.5));
        break;
    case Glyph::Collection:
        p.drawRoundedRect(QRectF(2.5, 6.5, 11, 7), 1, 1);
        p.drawLine(QPointF(3.5, 4.5), QPointF(12.5, 4.5));
        p.drawLine(QPointF(5, 2.5), QPointF(11, 2.5));
        break;
    case Glyph::TagGroup:
    case Glyph::Tag: {
        QPainterPath tag;
        tag.moveTo(1.5, 8);
        tag.lineTo(6.5, 3);
        tag.lineTo(14.5, 3);
        tag.lineTo(14.5, 13);
        tag.lineTo(6.5, 13);
        tag.closeSubpath();
        p.drawPath(tag);
        p.drawEllipse(QPointF(6.5, 8), 1.2, 1.2);
        if (glyph == Glyph::TagGroup)
            p.drawLine(QPointF(9, 15), QPointF(15, 15));
        break;
    }
    case Glyph::Clock:
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.drawPolyline(QPolygonF({QPointF(8, 4), QPointF(8, 8), QPointF(11, 10)}));
        break;
    case Glyph::Flag:
        p.drawLine(QPointF(3, 1.5), QPointF(3, 15));
        p.setBrush(fill);
        p.drawPolygon(QPolygonF({QPointF(3, 2), QPointF(13.5, 2), QPointF(11, 5.5), QPointF(13.5, 9), QPointF(3, 9)}));
        break;
    case Glyph::Calendar:
        p.drawRoundedRect(QRectF(1.5, 3, 13, 11.5), 1.5, 1.5);
        p.drawLine(QPointF(1.5, 6.5), QPointF(14.5, 6.5));
        p.drawLine(QPointF(5, 1.5), QPointF(5, 4.5));
        p.drawLine(QPointF(11, 1.5), QPointF(11, 4.5));
        p.setBrush(fill);
        p.drawRect(QRectF(4.5, 8.5, 2, 2));
        p.drawRect(QRectF(9.5, 10.5, 2, 2));
        break;
    case Glyph::Person:
        p.drawEllipse(QPointF(8, 5), 3, 3);
        p.drawArc(QRectF(2.5, 9.5, 11, 10), 0, 180 * 16);
        break;
    case Glyph::Cloud: {
        QPainterPath c;
        c.addEllipse(QRectF(1.5, 7, 6, 6));
        c.addEllipse(QRectF(4.5, 3.5, 7.5, 7.5));
        c.addEllipse(QRectF(8.5, 6.5, 6, 6.5));
        c.addRect(QRectF(4.5, 9, 7, 4));
        p.drawPath(c.simplified());
        break;
    }
    case Glyph::Inbox:
    case Glyph::Import:
        p.drawPolyline(QPolygonF({QPointF(1.5, 9), QPointF(1.5, 14), QPointF(14.5, 14), QPointF(14.5, 9)}));
        p.drawPolyline(QPolygonF({QPointF(1.5, 9), QPointF(5, 9), QPointF(6, 11), QPointF(10, 11), QPointF(11, 9), QPointF(14.5, 9)}));
        p.drawLine(QPointF(8, 1.5), QPointF(8, 8));
        p.drawPolyline(QPolygonF({QPointF(5.5, 5.5), QPointF(8, 8), QPointF(10.5, 5.5)}));
        break;
    case Glyph::Lock:
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(3, 7, 10, 7.5), 1.2, 1.2);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(5, 2, 6, 9), 0, 180 * 16);
        break;
    case Glyph::Trash:
        p.drawLine(QPointF(2, 4), QPointF(14, 4));
        p.drawRect(QRectF(6, 1.8, 4, 2.2));
        p.drawPolygon(QPolygonF({QPointF(3.5, 4), QPointF(4.5, 14.5), QPointF(11.5, 14.5), QPointF(12.5, 4)}));
        p.drawLine(QPointF(6.5, 6.5), QPointF(6.7, 12));
        p.drawLine(QPointF(9.5, 6.5), QPointF(9.3, 12));
        break;
    case Glyph::Plus:
        pen.setWidthF(2);
        p.setPen(pen);
        p.drawLine(QPointF(8, 3), QPointF(8, 13));
        p.drawLine(QPointF(3, 8), QPointF(13, 8));
        break;
    case Glyph::Minus:
        pen.setWidthF(2);
        p.setPen(pen);
        p.drawLine(QPointF(3, 8), QPointF(13, 8));
        break;
    case Glyph::Cross:
        pen.setWidthF(1.8);
        p.setPen(pen);
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    case Glyph::Stop:
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.setBrush(fill);
        p.drawRect(QRectF(5.5, 5.5, 5, 5));
        break;
    case Glyph::Magnifier:
        pen.setWidthF(1.6);
        p.setPen(pen);
        p.drawEllipse(QPointF(6.8, 6.8), 4.3, 4.3);
        pen.setWidthF(2.2);
        p.setPen(pen);
        p.drawLine(QPointF(10, 10), QPointF(13.8, 13.8));
        break;
    case Glyph::Info:
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.setBrush(fill);
        p.drawEllipse(QPointF(8, 5), 0.9, 0.9);
        p.drawLine(QPointF(8, 7.5), QPointF(8, 11.5));
        break;
    case Glyph::Eye:
        p.drawPath([] {
            QPainterPath e;
            e.moveTo(1.5, 8);
            e.quadTo(8, 1, 14.5, 8);
            e.quadTo(8, 15, 1.5, 8);
            return e;
        }());
        p.setBrush(fill);
        p.drawEllipse(QPointF(8, 8), 2.2, 2.2);
        break;
    case Glyph::Reveal:
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
        p.drawPolyline(QPolygonF({QPointF(8.5, 5.5), QPointF(11, 8), QPointF(8.5, 10.5)}));
        break;
    case Glyph::Star:
        p.setBrush(fill);
        p.drawPath(starPath(8, 8.5, 7, 3));
        break;
    case Glyph::StarOutline:
        p.drawPath(starPath(8, 8.5, 6.5, 2.8));
        break;
    case Glyph::TriangleRight:
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawPolygon(QPolygonF({QPointF(5, 3), QPointF(12, 8), QPointF(5, 13)}));
        break;
    case Glyph::TriangleDown:
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawPolygon(QPolygonF({QPointF(3, 5), QPointF(13, 5), QPointF(8, 12)}));
        break;
    case Glyph::Grid:
        p.setBrush(fill);
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                p.drawRect(QRectF(2.5 + c * 6.5, 2.5 + r * 6.5, 4.5, 4.5));
        break;
    case Glyph::List:
        for (int i = 0; i < 3; ++i) {
            p.drawLine(QPointF(5.5, 4.5 + i * 4), QPointF(14, 4.5 + i * 4));
            p.drawPoint(QPointF(2.5, 4.5 + i * 4));
        }
        break;
    case Glyph::SidebarToggle:
        p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 1.5, 1.5);
        p.drawLine(QPointF(6.5, 2.5), QPointF(6.5, 13.5));
        break;
    case Glyph::InspectorToggle:
        p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 1.5, 1.5);
        p.drawLine(QPointF(10.5, 2.5), QPointF(10.5, 13.5));
        break;
    case Glyph::Gear:
        gear(p, QPointF(8, 8), 5);
        break;
    case Glyph::Check:
        pen.setWidthF(2);
        p.setPen(pen);
        p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
        break;
    case Glyph::ArrowUp:
        p.drawLine(QPointF(8.5, 2.5), QPointF(8.5, 13.5));
        p.drawPolyline(QPolygonF({QPointF(4.5, 6.5), QPointF(8.5, 2.5), QPointF(12.5, 6.5)}));
        break;
    case Glyph::ArrowDown:
        p.drawLine(QPointF(8.5, 2.5), QPointF(8.5, 13.5));
        p.drawPolyline(QPolygonF({QPointF(4.5, 9.5), QPointF(8.5, 13.5), QPointF(12.5, 9.5)}));
        break;
    case Glyph::Merge:
        p.drawRect(QRectF(1.5, 1.5, 7, 9));
        p.drawRect(QRectF(7.5, 5.5, 7, 9));
        break;
    case Glyph::Share:
        p.drawPolyline(QPolygonF({QPointF(5, 6), QPointF(2.5, 6), QPointF(2.5, 14.5), QPointF(13.5, 14.5), QPointF(13.5, 6), QPointF(11, 6)}));
        p.drawLine(QPointF(8, 1.5), QPointF(8, 10));
        p.drawPolyline(QPolygonF({QPointF(5.5, 4), QPointF(8, 1.5), QPointF(10.5, 4)}));
        break;
    case Glyph::ImageSmall:
        p.drawRect(QRectF(4.5, 4.5, 7, 7));
        break;
    case Glyph::ImageLarge:
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.drawPolyline(QPolygonF({QPointF(1.5, 12), QPointF(6, 7.5), QPointF(10, 11.5), QPointF(14.5, 7)}));
        break;
    case Glyph::More:
        p.setBrush(fill);
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF(3.5 + i * 4.5, 8), 1.3, 1.3);
        break;
    case Glyph::None:
        break;
    }
    p.restore();
}

} // namespace themegen
