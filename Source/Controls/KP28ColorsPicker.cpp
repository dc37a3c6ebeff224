#include "Controls/KP28ColorsPicker.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Canvas.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

using platform::kit::Canvas;

KP28ColorsPickerAnimation::KP28ColorsPickerAnimation(KP28ColorsPicker* picker) : m_picker(picker)
{
    setDuration(KP28ColorsPicker::kSlideMs);
    setStartValue(0.0);
    setEndValue(1.0);
    setEasingCurve(QEasingCurve::InOutQuad);
}

void KP28ColorsPickerAnimation::updateCurrentValue(const QVariant& value)
{
    m_picker->updateProgress(value.toReal());
}

KP28ColorsPicker::KP28ColorsPicker(const QStringList& colorInfos, const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    int skipped = 0;
    for (const QString& info : colorInfos) {
        const QStringList fields = info.split(u',');
        if (fields.size() < 4) {
            ++skipped;
            continue;
        }
        m_names.append(fields.at(0));
        m_colors.push_back(QColor::fromRgbF(float(fields.at(1).toDouble() / 255.0), float(fields.at(2).toDouble() / 255.0),
                                            float(fields.at(3).toDouble() / 255.0)));
    }
    if (skipped > 0)
        KPLogLogMessage(QStringLiteral("28ColorsPicker: %1 colour entries without name,r,g,b skipped").arg(skipped));
    setGeometry(frame);
    setColorToolTip();
}

KP28ColorsPicker::~KP28ColorsPicker() = default;

QRectF KP28ColorsPicker::rowRect() const
{
    return QRectF(0, 0, width(), height()).adjusted(10, 8, -10, -8);
}

qreal KP28ColorsPicker::swatchWidth() const
{
    return m_colors.empty() ? 0.0 : rowRect().width() / qreal(m_colors.size());
}

QRectF KP28ColorsPicker::swatchRect(int index) const
{
    const QRectF row = rowRect();
    const qreal s = swatchWidth();
    return {row.x() + index * s, 8, s, row.height()};
}

int KP28ColorsPicker::swatchAtX(qreal x) const
{
    for (int i = 0; i < int(m_colors.size()); ++i) {
        const QRectF r = swatchRect(i);
        if (x >= r.left() && x < r.right())
            return i;
    }
    return -1;
}

void KP28ColorsPicker::setColorToolTip()
{
    m_toolTips.clear();
    for (int i = 0; i < int(m_colors.size()); ++i)
        m_toolTips.push_back(swatchRect(i));
}

QString KP28ColorsPicker::toolTipAt(const QPoint& point) const
{
    const QPointF up = toUp(point);
    for (int i = 0; i < int(m_toolTips.size()); ++i) {
        if (m_toolTips[i].contains(up))
            return m_names.value(i);
    }
    return {};
}

bool KP28ColorsPicker::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = toolTipAt(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(event);
}

void KP28ColorsPicker::selectWithName(const QString& name)
{
    const int index = int(m_names.indexOf(name));
    if (index < 0)
        return;
    m_selectedIndex = index;
    // The marker follows at the next draw, also when the picker has been drawn before.
    m_inited = false;
    update();
}

void KP28ColorsPicker::resizeEvent(QResizeEvent*)
{
    m_inited = false;
    setColorToolTip();
}

void KP28ColorsPicker::paintEvent(QPaintEvent*)
{
    if (m_colors.empty())
        return;
    if (!m_inited) {
        m_tmpSelectedRect = swatchRect(m_selectedIndex);
        m_inited = true;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    Canvas canvas(painter, height());
    for (int i = 0; i < int(m_colors.size()); ++i) {
        const QRectF s = swatchRect(i);
        const qreal x = s.x();
        const qreal h = s.height();
        const qreal rho = std::min(2.0, std::min(s.width(), h) / 2);
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        if (i == 0) {
            path.addRoundedRect(QRectF(x + 2 - rho, 8, 2 * rho, h), rho, rho);
            path.addRect(QRectF(x + 2, 8, s.width() - 2, h));
        } else if (i == 27) {
            path.addRoundedRect(QRectF(x + s.width() - 2 - rho, 8, 2 * rho, h), rho, rho);
            path.addRect(QRectF(x, 8, s.width() - 2, h));
        } else {
            path.addRect(s);
        }
        canvas.fillPath(path, m_colors[size_t(i)]);
        canvas.fillRect(QRectF(x, 8 + h / 2, s.width(), h / 2), QColor(255, 255, 255, 77));
    }
    const QRectF row = rowRect();
    QPen frame(QColor(130, 130, 130));
    frame.setWidthF(1.0);
    canvas.strokePath(Canvas::roundRectPath(QRectF(row.x() - 1, row.y(), row.width() + 1, row.height()).translated(0.5, 0.5), 2.0), frame);
    const QRectF plate = m_tmpSelectedRect.adjusted(-3, -3, 3, 3);
    // A one-point black shadow under the plate.
    canvas.fillPath(Canvas::roundRectPath(plate.adjusted(-1, -1, 1, 1), 4.0), QColor(0, 0, 0, 90));
    canvas.fillPath(Canvas::roundRectPath(plate, 3.0), QColor(232, 232, 232));
    canvas.fillRect(m_tmpSelectedRect, m_colors[size_t(std::clamp(m_selectedIndex, 0, int(m_colors.size()) - 1))]);
}

void KP28ColorsPicker::stopSlide()
{
    if (m_moveAnimation) {
        m_moveAnimation->stop();
        m_moveAnimation.reset();
    }
}

void KP28ColorsPicker::mousePressEvent(QMouseEvent* event)
{
    const QPointF up = toUp(event->position());
    for (int i = 0; i < int(m_colors.size()); ++i) {
        const QRectF r = swatchRect(i);
        if (!r.contains(up))
            continue;
        if (!m_inited) {
            m_tmpSelectedRect = swatchRect(m_selectedIndex);
            m_inited = true;
        }
        m_isMouseDown = true;
        m_selectedIndex = i;
        stopSlide();
        m_toRect = r;
        m_moveAnimation = std::make_unique<KP28ColorsPickerAnimation>(this);
        QObject::connect(m_moveAnimation.get(), &QAbstractAnimation::finished, this, [this] { slideEnded(); });
        m_moveAnimation->start();
        return;
    }
}

void KP28ColorsPicker::updateProgress(qreal p)
{
    m_tmpSelectedRect.moveTo(m_tmpSelectedRect.x() + (m_toRect.x() - m_tmpSelectedRect.x()) * p,
                             m_tmpSelectedRect.y() + (m_toRect.y() - m_tmpSelectedRect.y()) * p);
    update();
}

void KP28ColorsPicker::slideEnded()
{
    // The animation may not be destroyed inside its own finished signal.
    if (m_moveAnimation)
        m_moveAnimation.release()->deleteLater();
    announce();
}

void KP28ColorsPicker::announce()
{
    if (m_selectedIndex >= 0 && m_selectedIndex < m_names.size())
        platform::NotificationCenter::defaultCenter().post(kChangeNotification, m_names.at(m_selectedIndex));
}

void KP28ColorsPicker::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_isMouseDown || !(event->buttons() & Qt::LeftButton))
        return;
    stopSlide();
    const int i = swatchAtX(event->position().x());
    if (i < 0)
        return;
    m_selectedIndex = i;
    m_tmpSelectedRect = swatchRect(i);
    m_inited = true;
    update();
    m_timer = platform::kit::Scheduler::current().after(kDragSettleMs, [this] {
        m_timer.cancel();
        announce();
    });
}

void KP28ColorsPicker::mouseReleaseEvent(QMouseEvent* event)
{
    const int i = swatchAtX(event->position().x());
    if (i >= 0)
        m_selectedIndex = i;
}
