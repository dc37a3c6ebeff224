#include "Controls/ProgressIndicatorCellView.h"

#include "Platform/Kit/HeartBeat.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

// Spoke geometry as fractions of the indicator's size.
constexpr float kLineWidth = 0.08f;
constexpr float kInnerSmall = 0.27f, kOuterSmall = 0.48f;
constexpr float kInnerLarge = 0.23f, kOuterLarge = 0.38f;
// Widget coordinates are y-down, so angles grow clockwise on screen.
constexpr float kFlip = 1.0f;
constexpr float kDegrees = 3.14159265358979f / 180.0f;

} // namespace

ProgressIndicatorCellView::ProgressIndicatorCellView(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(0, 0, 16, 16);
    m_displayedWhenStopped = true;
}

ProgressIndicatorCellView::ProgressIndicatorCellView(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    setGeometry(frame);
}

ProgressIndicatorCellView::~ProgressIndicatorCellView()
{
    platform::kit::HeartBeat::shared().remove(this);
}

void ProgressIndicatorCellView::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color.toRgb();
    m_color.setAlphaF(1.0f);
}

void ProgressIndicatorCellView::setDoubleValue(double value)
{
    if (value == m_doubleValue)
        return;
    m_doubleValue = std::clamp(value, 0.0, 1.0);
}

void ProgressIndicatorCellView::setObjectValue(const QVariant& value)
{
    m_spinning = value.isValid() && value.canConvert<bool>() ? value.toBool() : false;
}

void ProgressIndicatorCellView::startAnimation()
{
    if (m_isRunning)
        return;
    platform::kit::HeartBeat::shared().add(this, [this] { heartBeat(); });
    m_isRunning = true;
}

void ProgressIndicatorCellView::stopAnimation()
{
    if (!m_isRunning)
        return;
    platform::kit::HeartBeat::shared().remove(this);
    m_isRunning = false;
}

void ProgressIndicatorCellView::heartBeat()
{
    if (!m_isRunning || !m_isExpand)
        return;
    setDoubleValue(std::fmod(m_doubleValue + 1.0 / kSpokes, 1.0));
    update();
}

qreal ProgressIndicatorCellView::lineWidth(const QRectF& rect) const
{
    return kLineWidth * float(std::min(rect.width(), rect.height()));
}

std::vector<ProgressIndicatorCellView::Spoke> ProgressIndicatorCellView::spokes(const QRectF& rect) const
{
    std::vector<Spoke> out;
    if (!m_spinning && !m_displayedWhenStopped)
        return out;
    const int step = int(std::lround(m_doubleValue / (1.0 / kSpokes)));
    const float size = float(std::min(rect.width(), rect.height()));
    const QPointF centre(rect.x() + size / 2, rect.y() + rect.height() / 2);
    float angle = (m_spinning ? float(step * 30 + 270) * kDegrees : 4.712389f) * kFlip;
    const bool large = size >= kLargeSize;
    const float inner = (large ? kInnerLarge : kInnerSmall) * size;
    const float outer = (large ? kOuterLarge : kOuterSmall) * size;
    for (int i = 0; i < kSpokes; ++i) {
        const QPointF dir(std::cos(angle), std::sin(angle));
        out.push_back({QLineF(centre + inner * dir, centre + outer * dir), 1.0 - 0.25 * std::sqrt(double(i))});
        angle -= 30.0f * kDegrees * kFlip;
    }
    return out;
}

void ProgressIndicatorCellView::paintEvent(QPaintEvent*)
{
    // A stopped spinner, or one in a collapsed row, leaves the row's background alone.
    if (!m_isRunning || !m_isExpand)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_bgColor)
        painter.fillRect(rect(), *m_bgColor);
    const QRectF bounds(0, 0, width(), height());
    for (const Spoke& spoke : spokes(bounds)) {
        QColor c = m_color;
        c.setAlphaF(float(spoke.alpha));
        painter.setPen(QPen(c, lineWidth(bounds), Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(spoke.line);
    }
}
