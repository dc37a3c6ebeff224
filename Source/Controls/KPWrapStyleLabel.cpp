#include "Controls/KPWrapStyleLabel.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QTextLayout>
#include <cmath>

KPWrapStyleLabel::KPWrapStyleLabel(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
    m_textStyle.font = QApplication::font();
}

KPWrapStyleLabel::~KPWrapStyleLabel() = default;

void KPWrapStyleLabel::setTitle(const QString& title)
{
    m_title = title.isNull() ? QString(QLatin1String("")) : title;
    update();
}

void KPWrapStyleLabel::setTextStyle(const platform::kit::TextAttributes& style)
{
    m_textStyle = style;
    update();
}

void KPWrapStyleLabel::setIsLink(bool link)
{
    m_isLink = link;
    if (!link && m_mouseIn) {
        m_mouseIn = false;
        unsetCursor();
        update();
    }
}

const platform::kit::TextAttributes& KPWrapStyleLabel::currentStyle() const
{
    if (m_isLink && m_mouseIn && m_linkTextStyle)
        return *m_linkTextStyle;
    return m_textStyle;
}

QList<KPWrapStyleLabel::Line> KPWrapStyleLabel::layoutLines() const
{
    QList<Line> lines;
    if (m_title.isEmpty() || width() <= 0)
        return lines;
    QTextLayout layout(m_title, m_textStyle.font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width());
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    if (layout.lineCount() == 0)
        return lines;
    const qreal lineHeight = layout.lineAt(0).height();
    // At least one line is drawn, even in a label lower than a line.
    const int fit = std::max(1, int(std::floor(height() / lineHeight)));
    for (int n = 0; n < layout.lineCount() && n < fit; ++n) {
        const QTextLine line = layout.lineAt(n);
        const bool last = n + 1 == fit;
        const QString text = last ? m_title.mid(line.textStart())
                                  : m_title.mid(line.textStart(), line.textLength());
        lines.append({QRectF(line.naturalTextRect().x(), n * lineHeight, width(), lineHeight), text});
    }
    return lines;
}

void KPWrapStyleLabel::paintEvent(QPaintEvent* event)
{
    if (m_title.isEmpty())
        return;
    QPainter painter(this);
    // Laid out in the bounds and only clipped to the dirty area.
    painter.setClipRegion(event->region());
    platform::kit::Canvas canvas(painter, height());
    platform::kit::TextAttributes style = currentStyle();
    for (const Line& line : layoutLines()) {
        // Each piece is one line: the wrapping is done, what overflows is shortened.
        if (style.wraps())
            style.lineBreakMode = 4;
        style.hasParagraphStyle = true;
        canvas.drawText(platform::kit::toUp(line.rect, height()), line.text.trimmed(), style);
    }
}

void KPWrapStyleLabel::mousePressEvent(QMouseEvent* event)
{
    if (!m_isLink || event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    QPointer<KPWrapStyleLabel> self(this);
    if (m_linkAction)
        m_linkAction(this);
    if (!self)
        return;
    m_mouseIn = false;
    update();
}

void KPWrapStyleLabel::enterEvent(QEnterEvent*)
{
    if (!m_isLink)
        return;
    m_mouseIn = true;
    setCursor(Qt::PointingHandCursor);
    update();
}

void KPWrapStyleLabel::leaveEvent(QEvent*)
{
    if (!m_isLink)
        return;
    m_mouseIn = false;
    unsetCursor();
    update();
}
