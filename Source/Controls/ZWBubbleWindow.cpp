#include "Controls/ZWBubbleWindow.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <algorithm>

namespace zwbubble {

namespace {

bool arrowOnRight(int side) { return side == 0 || side == 4 || side == 5; }
bool arrowOnLeft(int side) { return side == 2 || side == 6 || side == 7; }
bool arrowOnBottom(int side) { return side == 3 || side == 8 || side == 9; }

} // namespace

double arrowInset(const Options& o)
{
    return o.arrowBaseWidth / 2 + (o.drawsRoundCornerBesideArrow ? o.cornerRadius : 0);
}

Geometry geometry(const QSizeF& view, const QPointF& p, int side, double d, const Options& o)
{
    const double m = o.viewMargin, a = o.arrowHeight, i = arrowInset(o);
    Geometry g;
    g.viewFrame = QRectF(QPointF(m, m), view);
    QSizeF size(view.width() + 2 * m, view.height() + 2 * m);
    if (arrowOnLeft(side) || arrowOnRight(side))
        size.rwidth() += a;
    else
        size.rheight() += a;
    if (arrowOnLeft(side))
        g.viewFrame.translate(a, 0);
    if (arrowOnBottom(side))
        g.viewFrame.translate(0, a);
    const double w = size.width(), h = size.height();
    QPointF origin;
    switch (side) {
    case 0: origin = {p.x() - w - d, p.y() - h / 2}; break;
    case 2: origin = {p.x() + d, p.y() - h / 2}; break;
    case 3: origin = {p.x() - w / 2, p.y() + d}; break;
    case 4: origin = {p.x() - w - d, p.y() - i}; break;
    case 5: origin = {p.x() - w - d, p.y() - h + i}; break;
    case 6: origin = {p.x() + d, p.y() - i}; break;
    case 7: origin = {p.x() + d, p.y() - h + i}; break;
    case 8: origin = {p.x() - w + i, p.y() + d}; break;
    case 9: origin = {p.x() - i, p.y() + d}; break;
    case 10: origin = {p.x() - w + i, p.y() - h - d}; break;
    case 11: origin = {p.x() - i, p.y() - h - d}; break;
    default: origin = {p.x() - w / 2, p.y() - h - d}; break;
    }
    g.frame = QRectF(origin, size);
    return g;
}

int bestSide(const QSizeF& view, const QPointF& p, double d, const Options& o, const QRectF& screen,
             const std::optional<QRectF>& parentFrame)
{
    const double W = view.width() + 2 * o.viewMargin, H = view.height() + 2 * o.viewMargin;
    const double g = d + o.arrowHeight, i = arrowInset(o);
    int side;
    if (p.y() - H - g >= screen.top())   // y-up: top() is the bottom edge
        side = 1;
    else if (p.x() + W + g <= screen.right())
        side = 2;
    else if (p.x() - W - g >= screen.left())
        side = 0;
    else if (p.y() + H + g <= screen.bottom())
        side = 3;
    else
        side = 1;

    const QRectF frame = parentFrame.value_or(screen);
    if (side == 1 || side == 3) {
        if (p.x() - W / 2 < frame.left() && p.x() + W - i <= screen.right())
            return side == 1 ? 11 : 9;
        if (p.x() + W / 2 > frame.right() && p.x() - W + i >= screen.left())
            return side == 1 ? 10 : 8;
    } else {
        if (p.y() - H / 2 < frame.top() && p.y() + H - i <= screen.bottom())
            return side == 0 ? 4 : 6;
        if (p.y() + H / 2 > frame.bottom() && p.y() - H + i >= screen.top())
            return side == 0 ? 5 : 7;
    }
    return side;
}

double clampedBorderWidth(double width, double viewMargin)
{
    return std::min(width, viewMargin);
}

double clampedViewMargin(double margin)
{
    return std::max(0.0, margin);
}

double clampedCornerRadius(double radius, double m, const QSizeF& view, double arrowBaseWidth)
{
    const double most = (2 * m + std::min(view.width(), view.height()) - arrowBaseWidth) / 2;
    return std::clamp(radius, 0.0, std::max(0.0, most));
}

double clampedArrowBaseWidth(double width, double m, const QSizeF& view, double r, bool roundBeside)
{
    double most = 2 * m + std::min(view.width(), view.height()) - r;
    if (roundBeside)
        most -= r;
    return std::min(width, most);
}

QPainterPath bubblePath(const Geometry& g, int side, const Options& o)
{
    const double m = o.viewMargin, a = o.arrowHeight, b = o.arrowBaseWidth, r = o.cornerRadius;
    // Edges on half points keep a one-point outline sharp.
    const QRectF body = g.viewFrame.adjusted(-m, -m, m, m).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(body, r, r);
    if (!o.hasArrow)
        return path;
    const QRectF f(QPointF(0, 0), g.frame.size());
    const double i = arrowInset(o);
    QPointF tip, along;   // along: the direction of the base
    switch (side) {
    case 0: tip = {f.width(), f.height() / 2}; break;
    case 4: tip = {f.width(), i}; break;
    case 5: tip = {f.width(), f.height() - i}; break;
    case 2: tip = {0, f.height() / 2}; break;
    case 6: tip = {0, i}; break;
    case 7: tip = {0, f.height() - i}; break;
    case 3: tip = {f.width() / 2, 0}; break;
    case 8: tip = {f.width() - i, 0}; break;
    case 9: tip = {i, 0}; break;
    case 10: tip = {f.width() - i, f.height()}; break;
    case 11: tip = {i, f.height()}; break;
    default: tip = {f.width() / 2, f.height()}; break;
    }
    QPointF inward;
    if (arrowOnRight(side))
        inward = {-a, 0}, along = {0, b / 2};
    else if (arrowOnLeft(side))
        inward = {a, 0}, along = {0, b / 2};
    else if (arrowOnBottom(side))
        inward = {0, a}, along = {b / 2, 0};
    else
        inward = {0, -a}, along = {b / 2, 0};
    QPainterPath arrow;
    // The base reaches a little into the body so the two shapes join without a seam.
    const QPointF base = tip + inward + inward / std::max(a, 1.0);
    arrow.moveTo(base - along);
    arrow.lineTo(tip);
    arrow.lineTo(base + along);
    arrow.closeSubpath();
    path = path.united(arrow);
    if (!o.drawsRoundCornerBesideArrow && r > 0 && side >= 4) {
        // The corner the arrow runs beside stays square.
        const bool top = side == 5 || side == 7 || side == 10 || side == 11;
        const bool right = side == 4 || side == 5 || side == 8 || side == 10;
        const double x = right ? body.right() - r : body.left();
        const double y = top ? body.bottom() - r : body.top();
        QPainterPath corner;
        corner.addRect(QRectF(x, y, r, r));
        path = path.united(corner);
    }
    return path;
}

} // namespace zwbubble

std::unique_ptr<ZWBubbleWindow> ZWBubbleWindow::create(QWidget* view, const QPoint& point, QWidget* parent, int side,
                                                       double distance)
{
    if (!view)
        return nullptr;
    return std::unique_ptr<ZWBubbleWindow>(new ZWBubbleWindow(view, point, parent, side, distance));
}

ZWBubbleWindow::ZWBubbleWindow(QWidget* view, const QPoint& point, QWidget* parent, int side, double distance)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint)
    , m_view(view)
    , m_parentWindow(parent ? parent->window() : nullptr)
    , m_side(side)
    , m_distance(distance)
{
    setAttribute(Qt::WA_TranslucentBackground);
    if (parent) {
        winId();
        parent->window()->winId();
        windowHandle()->setTransientParent(parent->window()->windowHandle());
    }
    m_point = screenPoint(parent ? parent->mapToGlobal(point) : point);
    view->setParent(this);
    if (m_side < 0 || m_side >= zwbubble::kAutomaticSide) {
        QScreen* screen = QGuiApplication::screenAt(point);
        if (m_parentWindow && m_parentWindow->screen())
            screen = m_parentWindow->screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        const QRectF visible = screen ? platform::kit::toUp(QRectF(screen->availableGeometry()), 0) : QRectF();
        std::optional<QRectF> parentFrame;
        if (m_parentWindow)
            parentFrame = platform::kit::toUp(QRectF(m_parentWindow->frameGeometry()), 0);
        m_side = zwbubble::bestSide(view->size(), m_point, m_distance, m_options, visible, parentFrame);
    }
    relayout();
    view->show();
}

ZWBubbleWindow::~ZWBubbleWindow() = default;

QPointF ZWBubbleWindow::screenPoint(const QPoint& global) const
{
    // y-up screen space: y flipped about 0, which keeps every distance and order.
    return QPointF(global.x(), -global.y());
}

void ZWBubbleWindow::relayout()
{
    if (!m_view || m_resizing)
        return;
    m_resizing = true;
    m_geometry = zwbubble::geometry(m_view->size(), m_point, m_side, m_distance, m_options);
    setGeometry(platform::kit::toQt(m_geometry.frame, 0).toRect());
    m_view->setGeometry(platform::kit::toQt(m_geometry.viewFrame, m_geometry.frame.height()).toRect());
    m_resizing = false;
    update();
}

void ZWBubbleWindow::setPoint(const QPoint& point, int side)
{
    m_point = screenPoint(m_parentWindow ? m_parentWindow->mapToGlobal(point) : point);
    m_side = side;
    relayout();
}

void ZWBubbleWindow::setBackgroundColor(const QColor& colour)
{
    m_fill = colour;
    update();
}

void ZWBubbleWindow::setBorderColor(const QColor& colour)
{
    m_border = colour;
    update();
}

void ZWBubbleWindow::setBorderWidth(double width)
{
    m_options.borderWidth = zwbubble::clampedBorderWidth(width, m_options.viewMargin);
    update();
}

void ZWBubbleWindow::setViewMargin(double margin)
{
    m_options.viewMargin = zwbubble::clampedViewMargin(margin);
    setCornerRadius(m_options.cornerRadius);
}

void ZWBubbleWindow::setCornerRadius(double radius)
{
    const QSizeF view = m_view ? QSizeF(m_view->size()) : QSizeF();
    m_options.cornerRadius = zwbubble::clampedCornerRadius(radius, m_options.viewMargin, view, m_options.arrowBaseWidth);
    setArrowBaseWidth(m_options.arrowBaseWidth);
}

void ZWBubbleWindow::setArrowBaseWidth(double width)
{
    const QSizeF view = m_view ? QSizeF(m_view->size()) : QSizeF();
    m_options.arrowBaseWidth = zwbubble::clampedArrowBaseWidth(width, m_options.viewMargin, view, m_options.cornerRadius,
                                                               m_options.drawsRoundCornerBesideArrow);
    relayout();
}

void ZWBubbleWindow::setArrowHeight(double height)
{
    m_options.arrowHeight = height;
    relayout();
}

void ZWBubbleWindow::setHasArrow(bool hasArrow)
{
    m_options.hasArrow = hasArrow;
    update();
}

void ZWBubbleWindow::setDrawsRoundCornerBesideArrow(bool round)
{
    m_options.drawsRoundCornerBesideArrow = round;
    relayout();
}

void ZWBubbleWindow::setCanBeKeyWindow(bool canBeKey)
{
    m_canBeKey = canBeKey;
    setAttribute(Qt::WA_ShowWithoutActivating, !canBeKey);
    setWindowFlag(Qt::WindowDoesNotAcceptFocus, !canBeKey);
}

void ZWBubbleWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    platform::kit::Canvas canvas(painter, height());
    const QPainterPath path = zwbubble::bubblePath(m_geometry, m_side, m_options);
    canvas.save();
    canvas.clipPath(path);
    canvas.fillPath(path, m_fill);
    // Half of the doubled pen falls outside the clip, leaving an outline borderWidth wide.
    if (m_options.borderWidth > 0) {
        QPen pen(m_border, 2 * m_options.borderWidth);
        pen.setJoinStyle(Qt::RoundJoin);
        canvas.strokePath(path, pen);
    }
    canvas.restore();
}

void ZWBubbleWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    relayout();
}
