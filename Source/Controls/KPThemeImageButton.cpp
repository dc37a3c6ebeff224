#include "Controls/KPThemeImageButton.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/TrackingArea.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPThemeManager.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

using platform::kit::Canvas;

KPThemeImageButton::KPThemeImageButton(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
    KPThemeManager::themeManager()->addThemeObject(this);
}

KPThemeImageButton::~KPThemeImageButton() = default;

void KPThemeImageButton::setMultiSprite(KPMultiSprite* sprite)
{
    m_multiSprite = sprite;
    if (sprite && sprite->overSprite()) {
        m_tracking.reset();   // the old area hands the view's mouse tracking back first
        m_tracking = std::make_unique<platform::kit::TrackingArea>(this, platform::kit::TrackingArea::Callbacks{
            [this] { m_isMouseEnter = true; update(); },
            [this] { m_isMouseEnter = false; update(); },
            {},
        });
    }
    update();
}

void KPThemeImageButton::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    update();
}

void KPThemeImageButton::setIsHighlight(bool highlight)
{
    if (m_isHighlight == highlight)
        return;
    m_isHighlight = highlight;
    update();
}

void KPThemeImageButton::themeUpdateWithName(const QString&)
{
    // Only top-level multi-sprites can be refetched here; owners of group members set theirs
    // again when the change notification arrives.
    const QString name = m_multiSprite ? m_multiSprite->themeObjectName() : QString();
    setMultiSprite(KPThemeObject::themeObjectWithName<KPMultiSprite>(name));
}

KPSprite* KPThemeImageButton::currentSprite() const
{
    if (!m_multiSprite)
        return nullptr;
    KPSprite* chosen = m_multiSprite->normalSprite();
    if (m_isMouseEnter)
        chosen = m_multiSprite->overSprite();
    if (m_pressLook)
        chosen = m_isDownAndMouseIn || !m_isMouseDown ? m_multiSprite->downSprite() : m_multiSprite->normalSprite();
    if (m_isHighlight)
        chosen = m_multiSprite->highlightSprite();
    if (!m_enabled)
        chosen = m_multiSprite->disabledSprite();
    return chosen ? chosen : m_multiSprite->normalSprite();
}

qreal KPThemeImageButton::currentOpacity() const
{
    if (m_enabled || !m_multiSprite || m_multiSprite->disabledSprite())
        return 1.0;
    return kDisabledOpacity;
}

void KPThemeImageButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Canvas canvas(painter, height());
    const QRectF bounds(0, 0, width(), height());
    if (m_drawBG)
        m_drawBG(this, painter, bounds);
    if (!m_multiSprite) {
        // No picture: the current fill, if the background hook left one.
        painter.fillRect(rect(), painter.brush());
        return;
    }
    const KPSprite* sprite = currentSprite();
    if (!sprite)
        return;
    const qreal opacity = currentOpacity();
    if (m_isFillAll) {
        canvas.drawImage(bounds, sprite->image(), opacity);
    } else {
        const QSizeF s = sprite->size();
        const QRectF at(std::round((width() - s.width()) * 0.5), std::round((height() - s.height()) * 0.5), s.width(), s.height());
        canvas.drawImage(at, sprite->image(), opacity);
    }
}

void KPThemeImageButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_delayed.cancelAll();
    // A menu opened by the previous press may have swallowed that press's release.
    m_ignoreRelease = false;
    m_isMouseDown = true;
    m_isDownAndMouseIn = true;
    m_pressLook = true;
    m_mouseDownTime.start();
    update();
    if (m_popupBlock) {
        // The block (usually a menu) takes the release itself.
        m_ignoreRelease = true;
        m_popupBlock(this, event);
        m_isMouseDown = false;
        m_isDownAndMouseIn = false;
        m_pressLook = false;
        update();
    }
}

void KPThemeImageButton::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_isMouseDown)
        return;
    const bool inside = rect().contains(event->position().toPoint());
    if (inside != m_isDownAndMouseIn) {
        m_isDownAndMouseIn = inside;
        update();
    }
}

void KPThemeImageButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_ignoreRelease) {
        m_ignoreRelease = false;
        return;
    }
    mouseUp(event->position());
}

void KPThemeImageButton::mouseUp(const QPointF& qtPoint)
{
    const bool wasDownInside = m_isDownAndMouseIn;
    m_isDownAndMouseIn = false;
    if (m_isMouseDown) {
        m_isMouseDown = false;
        if (m_mouseDownTime.isValid() && m_mouseDownTime.elapsed() < kMinimumPressLookMs && wasDownInside) {
            m_delayed.perform(kMinimumPressLookMs, [this] {
                m_pressLook = false;
                update();
            });
        } else {
            m_pressLook = false;
            update();
        }
    }
    if (m_isMouseEnter) {
        m_isMouseEnter = false;
        m_pressLook = false;
        update();
    }
    const bool inside = QRectF(rect()).contains(qtPoint);
    if (inside && !m_popupMenu && m_action)
        m_action(this);
}
