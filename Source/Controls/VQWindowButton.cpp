#include "Controls/VQWindowButton.h"

#include "Platform/Kit/TrackingArea.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPSprite.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <map>

VQWindowButtonGroup* VQWindowButtonGroup::groupWithIdentifier(const QString& identifier)
{
    static std::map<QString, std::unique_ptr<VQWindowButtonGroup>> registry;
    const QString key = identifier.isEmpty() ? kDefaultIdentifier : identifier;
    auto& slot = registry[key];
    if (!slot)
        slot = std::make_unique<VQWindowButtonGroup>(key);
    return slot.get();
}

void VQWindowButtonGroup::setNumberOfCaptures(qint64 count)
{
    // An exit without its entry (the pointer was already inside when the button appeared)
    // must not leave the group owing a capture.
    if (count == m_captures || count < 0)
        return;
    m_captures = count;
    platform::NotificationCenter::defaultCenter().post(kDidUpdateRolloverStateNotification,
                                                       QVariant::fromValue<QObject*>(this));
}

VQWindowButton::VQWindowButton(const QSize& size, const QString& groupIdentifier, QWidget* parent)
    : QAbstractButton(parent)
    , m_size(size)
    , m_groupIdentifier(groupIdentifier.isEmpty() ? VQWindowButtonGroup::kDefaultIdentifier : groupIdentifier)
{
    init();
}

VQWindowButton::VQWindowButton(Kind kind, QWidget* parent)
    : QAbstractButton(parent)
    , m_kind(kind)
    , m_size(kStandardSize)
    , m_groupIdentifier(VQWindowButtonGroup::kDefaultIdentifier)
{
    init();
}

VQWindowButton::~VQWindowButton()
{
    // The group outlives the button: give back a capture the pointer still holds.
    if (m_tracking && m_tracking->isInside())
        group()->didReleaseMousePointer();
    if (m_window)
        m_window->removeEventFilter(this);
}

void VQWindowButton::init()
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setFrame(QRect(QPoint(0, 0), m_size));
    m_tracking = std::make_unique<platform::kit::TrackingArea>(
        this, platform::kit::TrackingArea::Callbacks{[this] {
                                                         group()->didCaptureMousePointer();
                                                         update();
                                                     },
                                                     [this] {
                                                         group()->didReleaseMousePointer();
                                                         update();
                                                     },
                                                     {}});
    m_groupObserver = platform::NotificationCenter::defaultCenter().addObserver(
        VQWindowButtonGroup::kDidUpdateRolloverStateNotification, [this](const platform::Notification&) { update(); },
        QVariant::fromValue<QObject*>(group()));
    watchWindow();
}

VQWindowButtonGroup* VQWindowButton::group() const
{
    return VQWindowButtonGroup::groupWithIdentifier(m_groupIdentifier);
}

void VQWindowButton::setImages(const KPMultiSprite& sprite)
{
    auto image = [](const KPSprite* s) { return s ? s->image() : QImage(); };
    m_images[int(Look::Active)] = image(sprite.normalSprite());
    m_images[int(Look::Rollover)] = image(sprite.overSprite());
    m_images[int(Look::Pressed)] = image(sprite.downSprite());
    m_images[int(Look::ActiveNotKey)] = image(sprite.unactiveSprite());
    update();
}

QRect VQWindowButton::frame() const
{
    return geometry().adjusted(kTrackingMargin, kTrackingMargin, -kTrackingMargin, -kTrackingMargin);
}

void VQWindowButton::setFrame(const QRect& frame)
{
    m_size = frame.size();
    setGeometry(frame.adjusted(-kTrackingMargin, -kTrackingMargin, kTrackingMargin, kTrackingMargin));
}

bool VQWindowButton::isTracking() const
{
    return m_tracking && m_tracking->isInside();
}

VQWindowButton::Look VQWindowButton::currentLook() const
{
    if (!isEnabled())
        return Look::Inactive;
    if (isDown())
        return Look::Pressed;
    if (group()->shouldDisplayRollOver())
        return Look::Rollover;
    return window()->isActiveWindow() ? Look::Active : Look::ActiveNotKey;
}

bool VQWindowButton::hitButton(const QPoint& pos) const
{
    return QRect(QPoint(kTrackingMargin, kTrackingMargin), m_size).contains(pos);
}

void VQWindowButton::watchWindow()
{
    QWidget* w = window();
    if (w == m_window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = w;
    if (w != this)
        w->installEventFilter(this);
}

bool VQWindowButton::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange)
        watchWindow();
    // A press in the tracking margin fails hitButton and so goes on to the bar below.
    return QAbstractButton::event(event);
}

bool VQWindowButton::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::ActivationChange:
        update();
        break;
    case QEvent::WindowStateChange: {
        const bool fullScreen = m_window->isFullScreen();
        group()->resetMouseCaptures();
        setVisible(!fullScreen);
        break;
    }
    case QEvent::Resize:
        m_resizeSettle = platform::kit::Scheduler::current().after(kResizeSettleMs, [this] { group()->resetMouseCaptures(); });
        break;
    default:
        break;
    }
    return false;
}

void VQWindowButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF r(QPointF(kTrackingMargin, kTrackingMargin), QSizeF(m_size));
    const Look look = currentLook();
    const QImage& img = m_images[int(look)];
    if (!img.isNull()) {
        painter.drawImage(r, img);
        return;
    }
    if (m_kind != Kind::Custom)
        drawGlyph(painter, r, look);
}

void VQWindowButton::drawGlyph(QPainter& painter, const QRectF& r, Look look) const
{
    // A round light in the bar's usual colours; its symbol shows under the pointer.
    const double d = std::min(r.width(), r.height()) - 2;
    const QRectF disc(r.center().x() - d / 2, r.center().y() - d / 2, d, d);
    QColor fill;
    switch (m_kind) {
    case Kind::Close: fill = QColor(0xff, 0x5f, 0x57); break;
    case Kind::Minimize: fill = QColor(0xfe, 0xbc, 0x2e); break;
    case Kind::Zoom: fill = QColor(0x28, 0xc8, 0x40); break;
    default: fill = QColor(0x9a, 0x9a, 0x9a); break;
    }
    if (look == Look::ActiveNotKey || look == Look::Inactive)
        fill = QColor(0xb8, 0xb8, 0xb8);
    else if (look == Look::Pressed)
        fill = fill.darker(130);
    painter.setPen(QPen(fill.darker(125), 0.8));
    painter.setBrush(fill);
    painter.drawEllipse(disc);
    if (look != Look::Rollover && look != Look::Pressed)
        return;
    const QPointF c = disc.center();
    const double s = d * 0.24;
    painter.setPen(QPen(QColor(0, 0, 0, 150), 1.2, Qt::SolidLine, Qt::RoundCap));
    switch (m_kind) {
    case Kind::Close:
        painter.drawLine(c + QPointF(-s, -s), c + QPointF(s, s));
        painter.drawLine(c + QPointF(-s, s), c + QPointF(s, -s));
        break;
    case Kind::Minimize:
        painter.drawLine(c + QPointF(-s - 1, 0), c + QPointF(s + 1, 0));
        break;
    case Kind::Zoom:
        painter.drawLine(c + QPointF(-s - 1, 0), c + QPointF(s + 1, 0));
        painter.drawLine(c + QPointF(0, -s - 1), c + QPointF(0, s + 1));
        break;
    default:
        painter.drawLine(c + QPointF(-s, s), c + QPointF(s, -s));
        painter.drawLine(c + QPointF(s, -s), c + QPointF(s - 2, -s));
        painter.drawLine(c + QPointF(-s, s), c + QPointF(-s + 2, s));
        break;
    }
}
