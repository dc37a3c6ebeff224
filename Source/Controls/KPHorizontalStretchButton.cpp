#include "Controls/KPHorizontalStretchButton.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/ImageSlicing.h"
#include "Platform/Kit/TrackingArea.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPCustomThemeObjectValue.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPTextStyle.h"
#include "Theme/ThemeValueText.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

using platform::kit::Canvas;
using platform::kit::TextAttributes;

namespace {

QRect settingRect(const QVariant& value)
{
    if (value.canConvert<QRectF>() && value.typeId() != QMetaType::QString)
        return value.toRectF().toRect();
    return themeRectFromString(value.toString()).toRect();
}

std::optional<QColor> groupColor(KPCustomThemeObject* group, const char* name)
{
    auto* color = group ? group->themeObjectWithName<KPColor>(QLatin1String(name)) : nullptr;
    return color ? color->color() : std::nullopt;
}

} // namespace

KPHorizontalStretchButton::KPHorizontalStretchButton(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
}

KPHorizontalStretchButton::KPHorizontalStretchButton(const QRect& frame, const QVariantMap& setting, QWidget* parent)
    : KPHorizontalStretchButton(frame, parent)
{
    const QImage image = setting.value(QStringLiteral("Highlight")).value<QImage>();
    if (image.isNull())
        return;
    for (int i = 0; i < 3; ++i)
        m_settingSlices[i] = platform::kit::cutPixels(image, settingRect(setting.value(QString::number(i + 1))));
}

KPHorizontalStretchButton::~KPHorizontalStretchButton() = default;

void KPHorizontalStretchButton::setCustomThemeObject(KPCustomThemeObject* group)
{
    m_group = group;
    if (group && group->themeObjectWithName(QStringLiteral("Over"))) {
        m_tracking.reset();   // the old area hands the view's mouse tracking back first
        m_tracking = std::make_unique<platform::kit::TrackingArea>(this, platform::kit::TrackingArea::Callbacks{
            [this] { m_bMouseIn = true; update(); },
            [this] { m_bMouseIn = false; update(); },
            {},
        });
    }
    // The group brings the title's insets and font: a width measured without them cuts the title.
    if (m_autoResizeByTitle)
        setTitle(m_title);
    update();
}

void KPHorizontalStretchButton::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    update();
}

void KPHorizontalStretchButton::setIsHightlight(bool highlight)
{
    if (m_isHightlight == highlight)
        return;
    m_isHightlight = highlight;
    update();
}

std::optional<TextAttributes> KPHorizontalStretchButton::textAttributes() const
{
    auto* style = m_group ? m_group->themeObjectWithName<KPTextStyle>(QStringLiteral("Text")) : nullptr;
    if (!style)
        return std::nullopt;
    TextAttributes attrs;
    style->load();
    attrs.font = platform::kit::FontResolver::fontNamed(style->fontName(), style->fontSize())
                     .value_or(platform::kit::FontResolver::systemFont(KPTextStyle::kDefaultFontSize));
    const QColor standardText(Qt::black);
    const QColor standardShadow(0, 0, 0, 85);
    const QColor standardDisabled(Qt::gray);
    const QColor fontColor = style->fontColor().value_or(standardText);
    const QColor selected = groupColor(m_group, "TextSelectedColor").value_or(standardText);
    const QColor disabled = groupColor(m_group, "TextDisabledColor").value_or(standardDisabled);
    attrs.color = !m_enabled ? disabled : m_isHightlight ? selected : fontColor;
    attrs.hasParagraphStyle = true;
    attrs.alignment = int(style->alignment());
    attrs.lineBreakMode = 4;   // truncate the tail
    const auto disabledShadow = groupColor(m_group, "TextDisabledShadowColor");
    if (style->shadowColor() || disabledShadow) {
        const QColor shadow = !m_enabled ? disabledShadow.value_or(standardShadow)
                            : m_isHightlight ? groupColor(m_group, "TextSelectedShadowColor").value_or(standardShadow)
                                             : style->shadowColor().value_or(standardShadow);
        attrs.shadow = platform::kit::TextShadow{shadow, QSizeF(0, -1), 1.0};
    }
    return attrs;
}

int KPHorizontalStretchButton::titleWidth(const QString& title, const TextAttributes& attrs)
{
    return int(std::ceil(platform::kit::textSize(title, attrs).width()));
}

void KPHorizontalStretchButton::setTitle(const QString& title)
{
    m_title = title;
    if (m_autoResizeByTitle) {
        const TextAttributes attrs = textAttributes().value_or(TextAttributes::plain(platform::kit::FontResolver::systemFont(12)));
        QPointF insets;
        if (auto* v = m_group ? m_group->themeObjectWithName<KPCustomThemeObjectValue>(QStringLiteral("BGLeftRightSize")) : nullptr)
            insets = v->objectValue().toPointF();
        // Rounding the title's advance to the nearest point would leave the drawing room a
        // fraction short for about half of all titles, and the title would lose its last letter.
        int w = int(std::lround(titleWidth(title, attrs) + insets.x() + insets.y() + kTitleSlack));
        if (!m_icon.isNull())
            w += int(platform::kit::pointSize(m_icon).width()) + kIconGap;
        w = std::clamp(w, kMinimumAutoWidth, kMaximumAutoWidth);
        resize(w, height());
    }
    update();
}

KPHorizontalSprite* KPHorizontalStretchButton::currentBackground() const
{
    if (!m_group)
        return nullptr;
    const char* state = "Normal";
    if (m_bMouseIn)
        state = "Over";
    if (m_bMouseDown)
        state = "Down";
    if (m_isHightlight)
        state = "Highlight";
    if (!m_enabled)
        state = "Disabled";
    return m_group->themeObjectWithName<KPHorizontalSprite>(QLatin1String(state));
}

void KPHorizontalStretchButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    Canvas canvas(painter, height());
    const qreal W = width();
    const qreal H = height();

    if (KPHorizontalSprite* bg = currentBackground()) {
        const QImage left = bg->leftSprite() ? bg->leftSprite()->image() : QImage();
        const QImage mid = bg->centerSprite() ? bg->centerSprite()->image() : QImage();
        const QImage right = bg->rightSprite() ? bg->rightSprite()->image() : QImage();
        const qreal midHeight = platform::kit::pointSize(mid).height();
        platform::kit::drawThreeSlice(canvas, QRectF(0, 0, W, midHeight), left, mid, right);
    } else if (m_isHightlight && m_enabled && !m_settingSlices[1].isNull()) {
        platform::kit::drawThreeSlice(canvas, QRectF(0, 0, W, H), m_settingSlices[0], m_settingSlices[1], m_settingSlices[2]);
    }

    QPointF insets;
    if (auto* v = m_group ? m_group->themeObjectWithName<KPCustomThemeObjectValue>(QStringLiteral("BGLeftRightSize")) : nullptr)
        insets = v->objectValue().toPointF();
    qreal x = insets.x();
    if (!m_icon.isNull()) {
        const QSizeF s = platform::kit::pointSize(m_icon);
        canvas.drawImage(QRectF(x, std::round((H - s.height()) * 0.5), s.width(), s.height()), m_icon);
        x += s.width() + kIconGap;
    }
    if (m_title.isEmpty())
        return;
    const TextAttributes attrs = textAttributes().value_or(TextAttributes::plain(platform::kit::FontResolver::systemFont(12)));
    const qreal textHeight = platform::kit::textSize(m_title, attrs).height();
    canvas.drawText(QRectF(x, std::round((H - textHeight) * 0.5) + 2, W - (insets.y() + x + kTitleSlack), textHeight), m_title, attrs);
}

void KPHorizontalStretchButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // A menu opened by the previous press may have swallowed that press's release.
    m_ignoreRelease = false;
    m_bMouseDown = true;
    update();
    QMenu* menu = m_delegate.onHorizontalStretchButtonMenu ? m_delegate.onHorizontalStretchButtonMenu(this) : nullptr;
    if (!menu)
        return;
    // The menu takes the release; the button's own release must not act on it.
    m_ignoreRelease = true;
    QFont font = menu->font();
    font.setPixelSize(int(std::lround(m_popMenuFontSize)));
    menu->setFont(font);
    const QPoint at(int(m_popMenuPopupOffPoint.x()), int(height() - m_popMenuPopupOffPoint.y()));
    QPointer<KPHorizontalStretchButton> self(this);
    menu->exec(mapToGlobal(at));
    if (self)
        menuDidClose();
}

void KPHorizontalStretchButton::menuDidClose()
{
    m_bMouseDown = false;
    update();
}

void KPHorizontalStretchButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_ignoreRelease) {
        m_ignoreRelease = false;
        return;
    }
    m_bMouseDown = false;
    update();
    if (QRectF(rect()).contains(event->position()) && m_action)
        m_action(this);
}
