#include "Controls/KPProgressIndicator.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/ImageSlicing.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPSprite.h"

#include <QPainter>
#include <cmath>

using platform::kit::Canvas;
using platform::kit::pointSize;

namespace {

const QString kGroup = QStringLiteral("ImportingProgressBar");

KPCustomThemeObject* barGroup()
{
    return KPThemeObject::customThemeObjectWithName(kGroup);
}

// Track and fill share this shape: left cap at its own size, middle stretched to a given
// width at the left cap's height, right cap at its own size at a given x.
void drawSlices(Canvas& canvas, KPHorizontalSprite* slices, qreal middleWidth, qreal rightX)
{
    if (!slices)
        return;
    const QImage left = slices->leftSprite() ? slices->leftSprite()->image() : QImage();
    const QImage mid = slices->centerSprite() ? slices->centerSprite()->image() : QImage();
    const QImage right = slices->rightSprite() ? slices->rightSprite()->image() : QImage();
    const QSizeF l = pointSize(left);
    canvas.drawImage(QRectF(QPointF(0, 0), l), left);
    if (middleWidth > 0)
        canvas.drawImage(QRectF(l.width(), 0, middleWidth, l.height()), mid);
    canvas.drawImage(QRectF(QPointF(rightX, 0), pointSize(right)), right);
}

} // namespace

KPProgressIndicator::KPProgressIndicator(const QRect& frame, QWidget* parent)
    : View(parent)
{
    if (frame.isValid())
        setGeometry(frame);
    buildStripeBand(frame.size());
    startSteps();
}

void KPProgressIndicator::startSteps()
{
    m_timer = platform::kit::Scheduler::current().every(kStepMs, [this] { updateMainThrad(); });
}

KPProgressIndicator::~KPProgressIndicator() = default;

void KPProgressIndicator::buildStripeBand(const QSize& frame)
{
    KPCustomThemeObject* group = barGroup();
    auto* tile = group ? group->themeObjectWithName<KPSprite>(QStringLiteral("animationBG")) : nullptr;
    if (!tile || tile->imageRef().isNull())
        return;
    const QImage& sprite = tile->imageRef();
    const qreal scale = sprite.devicePixelRatio();
    const QSizeF s = tile->size();
    const QImage cut = platform::kit::cutImage(sprite, QRectF(QPointF(0, 0), s), scale);
    QImage band(QSizeF((frame.width() + s.width()) * scale, frame.height() * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    if (band.isNull())
        return;
    band.setDevicePixelRatio(scale);
    band.fill(Qt::transparent);
    QPainter painter(&band);
    Canvas canvas(painter, frame.height());
    canvas.drawTiled(QRectF(0, 0, frame.width() + s.width(), frame.height()), cut, QSizeF(kTileWidth, kTileHeight));
    painter.end();
    m_fillAnimationRef = band;
}

void KPProgressIndicator::requestRedraw()
{
    ++m_redrawRequests;
    update();
}

void KPProgressIndicator::setMinValue(int value)
{
    if (value == m_minValue)
        return;
    m_minValue = value;
    m_currentValue = std::max(m_currentValue, m_minValue);
    requestRedraw();
}

void KPProgressIndicator::setMaxValue(int value)
{
    if (value == m_maxValue)
        return;
    m_maxValue = value;
    m_currentValue = std::min(m_currentValue, m_maxValue);
    requestRedraw();
}

void KPProgressIndicator::setCurrentValue(int value)
{
    if (value == m_currentValue)
        return;
    m_currentValue = std::min(std::max(value, m_minValue), m_maxValue);
    requestRedraw();
}

void KPProgressIndicator::setDoAnimation(bool animate)
{
    if (animate == m_doAnimation)
        return;
    m_doAnimation = animate;
    if (m_isNeedBreakThread)
        return;
    if (animate) {
        startSteps();
    } else {
        m_timer.cancel();
        requestRedraw();
    }
}

void KPProgressIndicator::removeFromSuperview()
{
    m_isNeedBreakThread = true;
    m_timer.cancel();
    View::removeFromSuperview();
}

void KPProgressIndicator::themeUpdateWithName(const QString&)
{
    buildStripeBand(size());
    requestRedraw();
}

void KPProgressIndicator::updateMainThrad()
{
    m_translateX += 1;
    requestRedraw();
    if (m_translateX == 0)
        m_translateX = kFirstShift;
}

int KPProgressIndicator::fillWidth(qreal trackWidth) const
{
    // An empty range has no proportion to show.
    if (m_maxValue == m_minValue)
        return 0;
    const double t = std::trunc(trackWidth - kFillInset);
    return int(std::floor((m_currentValue - m_minValue) * (t / double(m_maxValue - m_minValue))));
}

void KPProgressIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Canvas canvas(painter, height());
    const qreal W = width();
    const qreal H = height();
    KPCustomThemeObject* group = barGroup();
    if (!group)
        return;

    auto* track = group->themeObjectWithName<KPHorizontalSprite>(QStringLiteral("barBG"));
    if (track) {
        const qreal l = track->leftSprite() ? track->leftSprite()->size().width() : 0;
        const qreal r = track->rightSprite() ? track->rightSprite()->size().width() : 0;
        drawSlices(canvas, track, W - l - r, W - r);
    }

    if (!m_doAnimation) {
        auto* fill = group->themeObjectWithName<KPHorizontalSprite>(QStringLiteral("fillBG"));
        if (!fill || m_maxValue == m_minValue)
            return;
        const int F = fillWidth(W);
        const qreal l = fill->leftSprite() ? fill->leftSprite()->size().width() : 0;
        drawSlices(canvas, fill, F, l + F);
        return;
    }

    canvas.save();
    canvas.clipPath(Canvas::roundRectPath(QRectF(0, 1, W, H - 1), kClipRadius));
    canvas.translate(m_translateX, 0);
    canvas.drawImage(QRectF(0, 0, W + kTileWidth, kTileHeight), m_fillAnimationRef);
    canvas.restore();
}
