#include "Browser/ItemViews/KPSectionFlagItemView.h"

#include "Platform/Kit/Canvas.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"
#include "Utilities/FlagNames.h"

#include <QPainter>
#include <cmath>

void KPSectionFlagItemView::setItemData(const FlagGroupRecord& record)
{
    m_record = record;
    update();
}

QVariant KPSectionFlagItemView::clickObject() const
{
    return m_record ? QVariant(m_record->toVariantMap()) : QVariant();
}

void KPSectionFlagItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    platform::kit::Canvas canvas(painter, height());
    const double w = width();
    const double h = height();
    KPCustomThemeObject* theme = KPThemeObject::customThemeObjectWithName(QStringLiteral("FlagView"));
    auto color = [&](const char* name) -> std::optional<QColor> {
        auto* c = theme ? theme->themeObjectWithName<KPColor>(QLatin1String(name)) : nullptr;
        return c ? c->color() : std::nullopt;
    };
    auto style = [&](const char* name) {
        auto* s = theme ? theme->themeObjectWithName<KPTextStyle>(QLatin1String(name)) : nullptr;
        return s ? s->textAttribute() : platform::kit::TextAttributes::plain(QFont());
    };
    const QColor fill = theme ? color("BGColor").value_or(QColor(Qt::white)) : QColor(Qt::white);
    const QColor frame = theme ? color("FrameColor").value_or(palette().color(QPalette::Button)) : palette().color(QPalette::Button);
    canvas.fillPath(platform::kit::Canvas::roundRectPath(QRectF(2, 2, w - 4, h - 4), 4), fill);
    canvas.strokePath(platform::kit::Canvas::roundRectPath(QRectF(1.5, 1.5, w - 3, h - 3), 4), QPen(frame, 1));
    if (!m_record)
        return;
    canvas.drawText(QRectF(0, 5, w, 20), grouptile::countText(m_record->items.size()), style("NumberFont"));
    canvas.drawText(QRectF(0, 22, w, 20), flagNameForIndex(m_record->label), style("TextFont"));
    if (theme) {
        if (auto* sprite = theme->themeObjectWithName<KPSprite>(QString::number(m_record->label))) {
            const QSizeF s = sprite->size();
            canvas.drawImage(QRectF(std::round((w - s.width()) / 2), h - (12 + s.height()), s.width(), s.height()),
                             sprite->image(), grouptile::fadeOpacity(isMouseIn()));
        }
    }
}
