#include "Browser/ItemViews/KPSectionDateItemView.h"

#include "Platform/Kit/Canvas.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

void KPSectionDateItemView::setItemData(const MonthGroupRecord& record)
{
    m_record = record;
    update();
}

QString KPSectionDateItemView::monthName(int month)
{
    static const char* const names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return QLatin1String(names[std::clamp(month - 1, 0, 11)]);
}

QVariant KPSectionDateItemView::clickObject() const
{
    return m_record ? QVariant(m_record->toVariantMap()) : QVariant();
}

void KPSectionDateItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    platform::kit::Canvas canvas(painter, height());
    const double w = width();
    const double h = height();
    KPCustomThemeObject* theme = KPThemeObject::customThemeObjectWithName(QStringLiteral("SectionDateItemView"));
    if (theme) {
        if (auto* bg = theme->themeObjectWithName<KPSprite>(QStringLiteral("BGImage")))
            canvas.drawImage(QRectF(0, h - 120, 120, 120), bg->image(), grouptile::fadeOpacity(isMouseIn()));
    }
    if (!m_record)
        return;
    auto style = [&](const char* name) {
        auto* s = theme ? theme->themeObjectWithName<KPTextStyle>(QLatin1String(name)) : nullptr;
        return s ? s->textAttribute() : platform::kit::TextAttributes::plain(QFont());
    };
    const auto monthAttrs = style("MonthFont");
    const QString month = monthName(m_record->month.toInt());
    const double mh = platform::kit::textSize(month, monthAttrs).height();
    canvas.drawText(QRectF(0, std::round(h - 40 + (40 - mh) / 2), w - 6, mh), month, monthAttrs);
    canvas.drawText(QRectF(0, 1, w - 6, 18), grouptile::countText(m_record->items.size()), style("NumberFont"));
}
