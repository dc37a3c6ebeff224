#include "Controls/KPRatingView.h"

#include "Platform/Kit/Canvas.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeManager.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

KPRatingView::KPRatingView(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
    KPThemeManager::themeManager()->addThemeObject(this);
}

KPRatingView::~KPRatingView() = default;

void KPRatingView::setRateValue(qint64 value)
{
    value = std::clamp<qint64>(value, 0, kStarCount);
    if (value == m_rateValue)
        return;
    m_rateValue = value;
    update();
}

qint64 KPRatingView::ratingByPoint(QPointF point)
{
    const qreal x = point.x();
    if (x <= 0)
        return 0;
    if (x > kPitch * kStarCount)
        return kStarCount;
    return std::min<qint64>(kStarCount, qint64(std::ceil(x / kPitch)));
}

void KPRatingView::themeUpdateWithName(const QString&)
{
    update();
}

void KPRatingView::paintEvent(QPaintEvent*)
{
    KPCustomThemeObject* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("RateIcon"));
    if (!group)
        return;
    auto* none = group->themeObjectWithName<KPSprite>(QStringLiteral("Rate_None"));
    auto* rate = group->themeObjectWithName<KPSprite>(QStringLiteral("Rate"));
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    platform::kit::Canvas canvas(painter, height());
    const qreal y = std::round((height() - kStarSize) / 2);
    for (int i = 0; i < kStarCount; ++i) {
        const QRectF star(kPitch * i, y, kStarSize, kStarSize);
        if (none && !none->image().isNull())
            canvas.drawImage(star, none->image());
        if (m_rateValue > i && rate && !rate->image().isNull())
            canvas.drawImage(star, rate->image());
    }
}

void KPRatingView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    // Qt's implicit grab keeps the moves and the release coming here even when the pointer
    // leaves the stars, so a drag past either end still ends at 0 or the top rating.
    m_tracking = true;
    setRateValue(ratingByPoint(event->position()));
}

void KPRatingView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_tracking && (event->buttons() & Qt::LeftButton))
        setRateValue(ratingByPoint(event->position()));
}

void KPRatingView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_tracking || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    m_tracking = false;
    setRateValue(ratingByPoint(event->position()));
    if (m_delegate.onRatingViewValueChanged)
        m_delegate.onRatingViewValueChanged(this);
}
