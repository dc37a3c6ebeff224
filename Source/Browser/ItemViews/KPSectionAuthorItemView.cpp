#include "Browser/ItemViews/KPSectionAuthorItemView.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Store/DBFileInfo.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"

#include <QPainter>

void KPSectionAuthorItemView::setAuthor(const DBAuthor& author)
{
    m_author = author;
    m_authorName = author.name();
    m_itemCount = 0;
    for (const DBFileInfo& file : author.fileInfos()) {
        if (!file.isTrash())
            ++m_itemCount;
    }
    update();
}

QVariant KPSectionAuthorItemView::clickObject() const
{
    return m_author ? m_author.ref() : QVariant();
}

void KPSectionAuthorItemView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    platform::kit::Canvas canvas(painter, height());
    const double w = width();
    const double h = height();
    KPCustomThemeObject* theme = KPThemeObject::customThemeObjectWithName(QStringLiteral("AuthorView"));
    if (theme) {
        if (auto* bg = theme->themeObjectWithName<KPSprite>(QStringLiteral("AuthorBG")))
            canvas.drawImage(QRectF(0, 10, bg->size().width(), bg->size().height()), bg->image());
    }
    if (m_authorName.isEmpty())
        return;
    platform::kit::TextAttributes name = platform::kit::TextAttributes::plain(
        platform::kit::FontResolver::fontNamed(QStringLiteral("Geneva"), 16).value_or(platform::kit::FontResolver::systemFont(16)));
    name.color = QColor(Qt::black);
    name.hasParagraphStyle = true;
    name.alignment = 2;
    name.lineBreakMode = 4;
    canvas.drawText(QRectF(20, h - 184, w - 40, 30), m_authorName, name);
    if (theme) {
        if (auto* picture = theme->themeObjectWithName<KPSprite>(QStringLiteral("DefaultIcon")))
            canvas.drawImage(QRectF(19, 62, 128, 128), picture->image(), grouptile::fadeOpacity(isMouseIn()));
    }
    auto* count = theme ? theme->themeObjectWithName<KPTextStyle>(QStringLiteral("NumberFont")) : nullptr;
    canvas.drawText(QRectF(0, 0, w, 20), grouptile::countText(m_itemCount),
                    count ? count->textAttribute() : platform::kit::TextAttributes::plain(QFont()));
}
