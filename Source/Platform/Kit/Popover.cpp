#include "Platform/Kit/Popover.h"

#include "Platform/Kit/AnimationPolicy.h"
#include "Platform/Kit/PopoverMarker.h"
#include "Platform/Kit/WindowAttachments.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRegion>
#include <QScreen>

namespace platform::kit {

using namespace popover_metrics;

namespace {

const QString kResignNotification = QStringLiteral("MonitorResignWindowResign");

// The outline of body plus arrow, in frame coordinates.
QPainterPath popoverPath(const PopoverPlacement& p)
{
    const QRectF body = QRectF(p.body).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(body, kCornerRadius, kCornerRadius);
    const qreal half = kArrowBase / 2.0;
    const qreal c = p.arrowCenter;
    QPolygonF arrow;
    switch (p.edge) {
    case PopoverEdge::MinY:   // below the anchor: the arrow points up
        arrow << QPointF(c - half, body.top() + 1) << QPointF(c, 0.5) << QPointF(c + half, body.top() + 1);
        break;
    case PopoverEdge::MaxY:
        arrow << QPointF(c - half, body.bottom() - 1) << QPointF(c, p.frame.height() - 0.5)
              << QPointF(c + half, body.bottom() - 1);
        break;
    case PopoverEdge::MaxX:   // right of the anchor: the arrow points left
        arrow << QPointF(body.left() + 1, c - half) << QPointF(0.5, c) << QPointF(body.left() + 1, c + half);
        break;
    case PopoverEdge::MinX:
        arrow << QPointF(body.right() - 1, c - half) << QPointF(p.frame.width() - 0.5, c)
              << QPointF(body.right() - 1, c + half);
        break;
    }
    QPainterPath arrowPath;
    arrowPath.addPolygon(arrow);
    arrowPath.closeSubpath();
    return path.united(arrowPath).simplified();
}

} // namespace

// The frame around the content: draws the body and the arrow, closes on an Esc the content left
// unhandled, and tells its popover when it is hidden (Qt hides a popup on an outside click).
class PopoverFrame : public QWidget {
public:
    explicit PopoverFrame(Popover* owner)
        : m_owner(owner)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setFocusPolicy(Qt::NoFocus);
        markAsPopoverWindow(this);
    }

    Popover* owner() const { return m_owner; }

    void setPlacement(const PopoverPlacement& p)
    {
        m_placement = p;
        // A popup is a window of its own, and its see-through parts (beside the arrow, the
        // rounded corners) are only see-through where a compositing manager blends windows;
        // without one the X server shows them black. Shaping the window to the outline leaves
        // them out of it on every display.
        if (isWindow()) {
            QRegion shape;
            for (const QPolygonF& polygon : popoverPath(p).toFillPolygons())
                shape += QRegion(polygon.toPolygon(), Qt::WindingFill);
            setMask(shape);
        } else if (!mask().isEmpty()) {
            clearMask();
        }
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0, 0, 0, 64), 1));
        painter.setBrush(QColor(252, 252, 252));
        painter.drawPath(popoverPath(m_placement));
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape && m_owner) {
            event->accept();
            m_owner->close();
            return;
        }
        QWidget::keyPressEvent(event);
    }

    void hideEvent(QHideEvent* event) override
    {
        QWidget::hideEvent(event);
        if (m_owner)
            m_owner->finish();
    }

private:
    QPointer<Popover> m_owner;
    PopoverPlacement m_placement;
};

Popover::Popover(Form form, QObject* parent)
    : QObject(parent)
    , m_form(form)
    , m_frame(new PopoverFrame(this))
{
    // Until first shown it is a hidden top-level of its own; showing moves it into place.
    // A widget reports its destruction before its weak pointers are cleared: forget it first.
    QObject::connect(m_frame, &QObject::destroyed, this, [this] {
        m_frame = nullptr;
        finish();
    });
}

Popover::~Popover()
{
    m_shown = false;   // no closed() from a popover that is being destroyed
    m_resignObserver.remove();
    QObject::disconnect(m_anchorGone);
    QObject::disconnect(m_appState);
    if (m_window)
        m_window->removeEventFilter(this);
    WindowAttachments::shared().detach(m_attachedWindow);
    if (m_frame) {
        // Later, not now: the popover may be destroyed from a handler of its own content.
        m_frame->hide();
        m_frame->deleteLater();
    }
}

QWidget* Popover::frameWidget() const
{
    return m_frame;
}

void Popover::setContentWidget(QWidget* content)
{
    if (content == m_content)
        return;
    if (m_content)
        m_content->deleteLater();
    m_content = content;
    if (m_content && m_frame) {
        m_content->setParent(m_frame);
        m_content->show();
        if (m_shown)
            place();
    }
}

void Popover::setContentSize(const QSize& size)
{
    m_contentSize = size;
    if (m_shown)
        place();
}

QSize Popover::contentSize() const
{
    if (m_contentSize.isValid())
        return m_contentSize;
    return m_content ? m_content->sizeHint().expandedTo(QSize(1, 1)) : QSize();
}

void Popover::addCompletionPopup(QWidget* popup)
{
    if (!popup)
        return;
    markAsPopoverWindow(popup);
    if (!m_completionPopups.contains(popup))
        m_completionPopups.append(popup);
}

Popover* Popover::owning(const QWidget* widget)
{
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (auto* frame = dynamic_cast<const PopoverFrame*>(w))
            return frame->owner();
    return nullptr;
}

void Popover::show(QWidget* anchor, const QRect& anchorRect, PopoverEdge preferredEdge)
{
    if (!anchor || !m_content || !m_frame)
        return;
    QWidget* window = anchor->window();
    if (m_shown && (anchor != m_anchor || window != m_window))
        close();
    m_anchorRect = anchorRect.isEmpty() ? anchor->rect() : anchorRect;
    m_preferred = preferredEdge;
    if (m_shown) {
        place();
        return;
    }

    m_anchor = anchor;
    m_window = window;
    if (m_form == Form::Popup) {
        const Qt::WindowFlags flags = Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint;
        if (m_frame->parentWidget() != window || m_frame->windowFlags() != flags)
            m_frame->setParent(window, flags);
    } else if (m_frame->parentWidget() != window) {
        m_frame->setParent(window);
    }
    place();

    m_shown = true;
    m_attachedWindow = window;
    WindowAttachments::shared().attach(window);
    m_anchorGone = QObject::connect(anchor, &QObject::destroyed, this, [this] { close(); });
    if (m_form == Form::Popup) {
        m_appState = QObject::connect(qApp, &QGuiApplication::applicationStateChanged, this,
                                      [this](Qt::ApplicationState state) {
                                          if (state != Qt::ApplicationActive)
                                              close();
                                      });
    } else {
        m_resignObserver = NotificationCenter::defaultCenter().addObserver(
            kResignNotification, [self = QPointer<Popover>(this)](const Notification&) {
                if (self)
                    self->close();
            });
        window->installEventFilter(this);
        if (m_followsAnchor)
            anchor->installEventFilter(this);
    }
    m_previousFocus = QApplication::focusWidget();

    if (m_animates && AnimationPolicy::current().animates())
        startFadeIn();
    m_frame->show();
    m_frame->raise();
    if (m_focusesContent)
        focusContent();
}

void Popover::focusContent()
{
    if (!m_content)
        return;
    QWidget* target = nullptr;
    if (m_content->focusPolicy() & Qt::TabFocus) {
        target = m_content;
    } else {
        for (QWidget* w = m_content->nextInFocusChain(); w && w != m_content; w = w->nextInFocusChain()) {
            if (m_content->isAncestorOf(w) && w->isVisibleTo(m_content) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
                target = w;
                break;
            }
        }
    }
    if (target)
        target->setFocus(Qt::PopupFocusReason);
}

void Popover::place()
{
    if (!m_anchor || !m_frame || !m_window)
        return;
    const QSize body = contentSize() + QSize(2 * kBorder, 2 * kBorder);
    if (m_form == Form::Popup) {
        const QRect anchor(m_anchor->mapToGlobal(m_anchorRect.topLeft()), m_anchorRect.size());
        QScreen* screen = m_anchor->screen();
        const QRect bounds = screen ? screen->availableGeometry() : QRect(anchor.center() - QPoint(5000, 5000), QSize(10000, 10000));
        m_placement = placePopover(anchor, body, m_preferred, bounds);
    } else {
        const QRect anchor(m_anchor->mapTo(m_window, m_anchorRect.topLeft()), m_anchorRect.size());
        m_placement = placePopover(anchor, body, m_preferred, m_window->rect());
    }
    m_frame->setPlacement(m_placement);
    m_frame->setGeometry(m_placement.frame);
    if (m_content)
        m_content->setGeometry(m_placement.body.adjusted(kBorder, kBorder, -kBorder, -kBorder));
}

void Popover::startFadeIn()
{
    auto* fade = new QVariantAnimation(this);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setDuration(kFadeInMs);
    if (m_form == Form::Popup) {
        m_frame->setWindowOpacity(0.0);
        QObject::connect(fade, &QVariantAnimation::valueChanged, m_frame, [frame = m_frame.data()](const QVariant& v) {
            frame->setWindowOpacity(v.toDouble());
        });
    } else {
        auto* effect = new QGraphicsOpacityEffect(m_frame);
        effect->setOpacity(0.0);
        m_frame->setGraphicsEffect(effect);
        QObject::connect(fade, &QVariantAnimation::valueChanged, effect, [effect](const QVariant& v) {
            effect->setOpacity(v.toDouble());
        });
        // The effect renders the frame off-screen; it goes once the fade is done.
        QObject::connect(fade, &QVariantAnimation::finished, m_frame, [frame = m_frame.data()] {
            frame->setGraphicsEffect(nullptr);
        });
    }
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

bool Popover::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_anchor && m_shown && m_form == Form::Overlay
        && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        place();
    if (watched == m_window && m_shown && m_form == Form::Overlay) {
        if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)
            place();
        else if (event->type() == QEvent::Hide)
            close();
    }
    return QObject::eventFilter(watched, event);
}

void Popover::close()
{
    finish();
}

void Popover::finish()
{
    if (!m_shown)
        return;
    m_shown = false;

    if (m_fade)
        m_fade->stop();
    if (m_frame) {
        m_frame->setGraphicsEffect(nullptr);
        if (m_form == Form::Popup)
            m_frame->setWindowOpacity(1.0);
    }
    QObject::disconnect(m_anchorGone);
    QObject::disconnect(m_appState);
    m_resignObserver.remove();
    if (m_window)
        m_window->removeEventFilter(this);
    if (m_anchor)
        m_anchor->removeEventFilter(this);
    for (const QPointer<QWidget>& popup : std::as_const(m_completionPopups)) {
        if (popup && popup->isVisible())
            popup->hide();
    }
    const bool focusWasInside = m_frame && m_frame->isAncestorOf(QApplication::focusWidget());
    if (m_frame && m_frame->isVisible())
        m_frame->hide();
    if (focusWasInside && m_previousFocus && m_form == Form::Overlay)
        m_previousFocus->setFocus(Qt::PopupFocusReason);
    WindowAttachments::shared().detach(std::exchange(m_attachedWindow, nullptr));

    const auto onClosed = m_onClosed;
    const QPointer<Popover> self(this);
    if (onClosed)
        onClosed();
    if (self)
        Q_EMIT closed();
}

} // namespace platform::kit
