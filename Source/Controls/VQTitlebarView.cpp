#include "Controls/VQTitlebarView.h"

#include "Controls/VQTitlebarWindow.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPCustomThemeObjectValue.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeManager.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <cstdlib>

using platform::kit::Canvas;
using platform::kit::TextAttributes;

namespace {

QColor white(double level, double alpha = 1.0)
{
    return QColor::fromRgbF(float(level), float(level), float(level), float(alpha));
}

// Start colour at the bottom of rect, end colour at its top.
void fillGradient(Canvas& canvas, const QRectF& up, const QColor& start, const QColor& end)
{
    const QRectF qt = canvas.toQtRect(up);
    QLinearGradient gradient(qt.center().x(), qt.bottom(), qt.center().x(), qt.top());
    gradient.setColorAt(0, start);
    gradient.setColorAt(1, end);
    canvas.painter().fillRect(qt, gradient);
}

// The grain reaches one point lower where no baseline takes the bottom row.
QRectF noiseRect(const QRectF& b, bool baseline)
{
    QRectF r = b.adjusted(1, 1, -1, -1);
    if (!baseline)
        r.adjust(0, -1, 0, 0);
    return r;
}

} // namespace

VQTitlebarView::VQTitlebarView(QWidget* parent)
    : QWidget(parent)
{
    fetchTheme();
    KPThemeManager::themeManager()->addThemeObject(this);
}

VQTitlebarView::~VQTitlebarView() = default;

void VQTitlebarView::setThemeGroupName(const QString& name)
{
    m_groupName = name;
    fetchTheme();
    update();
}

void VQTitlebarView::fetchTheme()
{
    m_group = KPThemeObject::customThemeObjectWithName(m_groupName);
    m_titleIcon = KPThemeObject::themeObjectWithName<KPSprite>(QStringLiteral("TitleIcon"));
}

void VQTitlebarView::themeUpdateWithName(const QString&)
{
    fetchTheme();
    update();
}

const QImage& VQTitlebarView::noiseTile()
{
    static const QImage tile = [] {
        QImage img(kNoiseTileSize, kNoiseTileSize, QImage::Format_Grayscale8);
        ::srand(120);
        for (int y = 0; y < kNoiseTileSize; ++y) {
            uchar* row = img.scanLine(y);
            for (int x = 0; x < kNoiseTileSize; ++x)
                row[x] = uchar(::rand() & 0xff);
        }
        return img;
    }();
    return tile;
}

bool VQTitlebarView::isActiveLook() const
{
    if (auto* w = qobject_cast<const VQTitlebarWindow*>(window()))
        return w->isMainWindow();
    return isActiveWindow();
}

double VQTitlebarView::centredTitleY(const QRectF& b, double titleHeight)
{
    return std::floor(float(0.5 * b.height() + b.y() - 0.5 * titleHeight));
}

VQTitlebarView::TitleLayout VQTitlebarView::titleLayout(const QString& title, const QRectF& b,
                                                        const VQTitlebarWindow* w, bool active)
{
    TitleLayout out;
    TextAttributes& a = out.attributes;
    const auto& shadow = w ? (active ? w->titleTextShadow : w->inactiveTitleTextShadow) : std::nullopt;
    a.shadow = shadow.value_or(platform::kit::TextShadow{white(1.0, 0.5), QSizeF(0, -1), 0.0});
    const auto& colour = w ? (active ? w->titleTextColor : w->inactiveTitleTextColor) : std::nullopt;
    a.color = colour.value_or(QColor::fromRgbF(56 / 255.0f, 56 / 255.0f, 56 / 255.0f, active ? 1.0f : 0.5f));
    a.font = (w && w->titleFont) ? *w->titleFont : platform::kit::FontResolver::boldSystemFont(13);
    const QSizeF size = platform::kit::textSize(title, a);
    out.frame = QRectF(QPointF(b.center().x() - size.width() / 2, b.bottom() - size.height() - 2.0), size);
    if (w && w->verticallyCenterTitle())
        out.frame.moveTop(centredTitleY(b, size.height()));
    return out;
}

void VQTitlebarView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_generalStyle)
        drawPlain(painter);
    else
        drawThemed(painter);
}

void VQTitlebarView::drawThemed(QPainter& painter)
{
    Canvas canvas(painter, height());
    const QRectF b(0, 0, width(), height());
    auto colour = [this](const char* name, const QColor& fallback) {
        auto* c = m_group ? m_group->themeObjectWithName<KPColor>(QLatin1String(name)) : nullptr;
        return c && c->color() ? *c->color() : fallback;
    };
    const QColor start = colour("StartColor", Qt::black);
    const QColor end = colour("EndColor", Qt::black);
    const QColor topLine = colour("TopLineColor", Qt::black);
    const QColor bottomLine = colour("BottomLineColor", white(0.408));
    // A theme without the group gets the grain; a group without the switch does not.
    bool grain = true;
    if (m_group) {
        auto* value = m_group->themeObjectWithName<KPCustomThemeObjectValue>(QStringLiteral("DrawNoise"));
        grain = value && value->objectValue().toBool();
    }
    const auto* w = qobject_cast<const VQTitlebarWindow*>(window());
    const bool baseline = !w || w->showsBaselineSeparator();
    const bool active = isActiveLook();

    if (window()->isFullScreen())
        canvas.fillRect(b, Qt::black);
    canvas.save();
    canvas.clipPath(Canvas::roundedTopPath(b, kCornerRadius));
    canvas.fillRect(b, topLine);
    if (grain) {
        canvas.save();
        canvas.clipPath(Canvas::roundedTopPath(b.adjusted(0, 0, 0, -1), kCornerRadius));
        fillGradient(canvas, b, start, end);
        canvas.restore();
    }
    if (baseline)
        canvas.fillRect(QRectF(0, b.y(), b.width(), 1.0), bottomLine);
    if (active && grain)
        drawNoise(painter, noiseRect(b, baseline), kThemedNoiseOpacity);
    canvas.restore();
    drawTitle(painter, active);
    if (const QRect at = titleIconRect(); !at.isEmpty() && !m_titleIconHidden)
        canvas.drawImage(QRectF(at), m_titleIcon->image());
}

QRect VQTitlebarView::titleIconRect() const
{
    if (m_generalStyle || !m_titleIcon || m_titleIcon->image().isNull())
        return {};
    const QSizeF s = m_titleIcon->size();
    return QRectF(std::round((width() - s.width()) * 0.5), std::round((height() - s.height()) * 0.5), s.width(), s.height())
        .toRect();
}

void VQTitlebarView::setTitleIconHidden(bool hidden)
{
    if (hidden == m_titleIconHidden)
        return;
    m_titleIconHidden = hidden;
    update(titleIconRect());
}

void VQTitlebarView::drawPlain(QPainter& painter)
{
    Canvas canvas(painter, height());
    const QRectF b(0, 0, width(), height());
    const auto* w = qobject_cast<const VQTitlebarWindow*>(window());
    const bool active = isActiveLook();
    if (w && w->titleBarDrawingBlock) {
        painter.save();
        w->titleBarDrawingBlock(painter, active, canvas.toQtRect(b), canvas.toQtPath(Canvas::roundedTopPath(b, kCornerRadius)));
        painter.restore();
        drawTitle(painter, active);
        return;
    }
    auto pick = [&](const std::optional<QColor>& activeColour, const std::optional<QColor>& inactiveColour,
                    double activeGrey, double inactiveGrey) {
        const auto& c = w ? (active ? activeColour : inactiveColour) : std::nullopt;
        return c.value_or(white(active ? activeGrey : inactiveGrey));
    };
    const QColor start = w ? pick(w->titleBarStartColor, w->inactiveTitleBarStartColor, 0.66, 0.878) : white(active ? 0.66 : 0.878);
    const QColor end = w ? pick(w->titleBarEndColor, w->inactiveTitleBarEndColor, 0.9, 0.976) : white(active ? 0.9 : 0.976);
    const QColor line = w ? pick(w->baselineSeparatorColor, w->inactiveBaselineSeparatorColor, 0.408, 0.655)
                          : white(active ? 0.408 : 0.655);
    const bool baseline = !w || w->showsBaselineSeparator();

    if (window()->isFullScreen())
        canvas.fillRect(b, Qt::black);
    canvas.save();
    canvas.clipPath(Canvas::roundedTopPath(b.adjusted(0, 0, 0, -1), kCornerRadius));
    fillGradient(canvas, b, start, end);
    canvas.restore();
    if (baseline) {
        canvas.fillRect(QRectF(0, b.y(), b.width(), 1.0), line);
        canvas.fillRect(QRectF(0, b.y() + 1, b.width(), 1.0), white(1.0, 0.12));
    }
    if (active)
        drawNoise(painter, noiseRect(b, baseline), kPlainNoiseOpacity);
    drawTitle(painter, active);
}

void VQTitlebarView::drawTitle(QPainter& painter, bool active)
{
    const auto* w = qobject_cast<const VQTitlebarWindow*>(window());
    if (!w || !w->showsTitle() || (w->isFullScreen() && !w->showsTitleInFullscreen))
        return;
    Canvas canvas(painter, height());
    const TitleLayout t = titleLayout(w->windowTitle(), QRectF(0, 0, width(), height()), w, active);
    canvas.drawText(t.frame, w->windowTitle(), t.attributes);
}

void VQTitlebarView::drawNoise(QPainter& painter, const QRectF& clipUp, qreal opacity)
{
    Canvas canvas(painter, height());
    canvas.save();
    canvas.clipPath(Canvas::roundedTopPath(clipUp, kCornerRadius));
    painter.setOpacity(opacity);
    painter.setCompositionMode(QPainter::CompositionMode_Screen);
    // One tile pixel per device pixel, whatever the scale.
    // The device transform holds the scale also when the view is rendered into another device.
    const qreal dpr = painter.deviceTransform().m11() > 0 ? painter.deviceTransform().m11() : 1.0;
    painter.scale(1 / dpr, 1 / dpr);
    painter.drawTiledPixmap(QRectF(0, 0, width() * dpr, height() * dpr), QPixmap::fromImage(noiseTile()));
    canvas.restore();
}

void VQTitlebarView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton
        && platform::UserDefaults::standardUserDefaults().boolForKey(kMiniaturizeOnDoubleClickKey)) {
        window()->showMinimized();
        event->accept();
        return;
    }
    event->ignore();
}
