#include "Controls/KPSlider.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPThemeManager.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

using platform::kit::Canvas;

KPSlider::KPSlider(const QRect& frame, int, QWidget* parent)
    : QWidget(parent)
{
    setGeometry(frame);
    loadTheme();
    m_countPixel = int(std::trunc(double(frame.width()) - kEndsWidth));
    recompute();
    KPThemeManager::themeManager()->addThemeObject(this);
}

KPSlider::~KPSlider() = default;

void KPSlider::loadTheme()
{
    KPCustomThemeObject* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("ZoomSlider"));
    m_barSprite = group ? group->themeObjectWithName<KPHorizontalSprite>(QStringLiteral("Bar")) : nullptr;
    m_leftIcon = group ? group->themeObjectWithName<KPSprite>(QStringLiteral("Left_icon")) : nullptr;
    m_rightIcon = group ? group->themeObjectWithName<KPSprite>(QStringLiteral("Right_icon")) : nullptr;
    m_slideButton = group ? group->themeObjectWithName<KPMultiSprite>(QStringLiteral("SlideButton")) : nullptr;
}

void KPSlider::themeUpdateWithName(const QString&)
{
    loadTheme();
    update();
}

void KPSlider::recompute()
{
    const double range = m_maxValue - m_minValue;
    // An empty range or no travel would divide by zero; the knob then rests at the start.
    m_pixelValue = m_countPixel > 0 ? range / m_countPixel : 0.0;
    m_sliderButtonX = range != 0.0 ? (m_currentValue - m_minValue) / range * m_countPixel + kTravelStart : kTravelStart;
    update();
}

void KPSlider::setMinValue(double value)
{
    m_minValue = value;
    m_currentValue = std::max(m_currentValue, m_minValue);
    recompute();
}

void KPSlider::setMaxValue(double value)
{
    m_maxValue = value;
    m_currentValue = std::min(m_currentValue, m_maxValue);
    recompute();
}

void KPSlider::setCurrentValue(double value)
{
    m_currentValue = std::min(std::max(value, m_minValue), m_maxValue);
    recompute();
}

void KPSlider::sliderChange(double value)
{
    if (value == m_lastValue)
        return;
    if (m_delegate.sliderChange)
        m_delegate.sliderChange(value);
    m_lastValue = value;
}

bool KPSlider::inMouseDownInSlideButton(const QPointF& up) const
{
    // Four points right of the drawn knob; kept as the callers and users know it.
    return QRectF(m_sliderButtonX - 4.0, height() / 2.0 - 10.0, 16, 16).contains(up);
}

KPSprite* KPSlider::knobSprite() const
{
    if (!m_slideButton)
        return nullptr;
    return m_isMouseDown ? m_slideButton->highlightSprite() : m_slideButton->normalSprite();
}

void KPSlider::jumpTo(double x)
{
    m_sliderButtonX = std::clamp(x, kTravelStart, double(m_countPixel) + kTravelStart);
    m_currentValue = std::round((m_sliderButtonX - kTravelStart) * m_pixelValue) + m_minValue;
    sliderChange(m_currentValue);
}

void KPSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF up = platform::kit::toUp(event->position(), height());
    m_isMouseDown = inMouseDownInSlideButton(up);
    if (!m_isMouseDown)
        jumpTo(up.x());
    update();
}

void KPSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_isMouseDown || !(event->buttons() & Qt::LeftButton))
        return;
    jumpTo(event->position().x());
    update();
}

void KPSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_isMouseDown = false;
    update();
}

void KPSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Canvas canvas(painter, height());
    const double W = width();
    const double y0 = height() / 2.0 - 7.0;
    auto image = [](const KPSprite* s) { return s ? s->image() : QImage(); };
    canvas.drawImage(QRectF(1.0, y0, 11, 11), image(m_leftIcon));
    if (m_barSprite) {
        canvas.drawImage(QRectF(17.0, y0, 4.0, 11.0), image(m_barSprite->leftSprite()));
        canvas.drawImage(QRectF(19.0, y0, W - 38.0, 11.0), image(m_barSprite->centerSprite()));
        canvas.drawImage(QRectF(W - 19.0, y0, 4.0, 11.0), image(m_barSprite->rightSprite()));
    }
    canvas.drawImage(QRectF(W - 11.0, y0, 11, 11), image(m_rightIcon));
    canvas.drawImage(QRectF(m_sliderButtonX - 8.0, y0 - 3.0, 16, 16), image(knobSprite()));
}
