#include "Browser/ItemViews/KPImportDraggingView.h"

#include "Browser/BrowserText.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/ImageSlicing.h"
#include "Theme/KPThemeManager.h"

#include <QPainter>
#include <cmath>

KPImportDraggingView::KPImportDraggingView(QWidget* parent) : QWidget(parent)
{
    const bool is2x = KPThemeManager::themeManager()->is2x();
    const platform::Bundle& bundle = platform::Bundle::mainBundle();
    const QImage sheet(bundle.pathForResource(is2x ? QStringLiteral("importing_icons2x") : QStringLiteral("importing_icons"),
                                              QStringLiteral("png")));
    const qreal scale = is2x ? 2 : 1;
    for (int i = 0; i < 2; ++i) {
        m_icons[i] = platform::kit::cutImage(sheet, QRectF(i * kIconSize, 0, kIconSize, kIconSize), scale);
        m_highlighted[i] = platform::kit::cutImage(sheet, QRectF(i * kIconSize, kIconSize, kIconSize, kIconSize), scale);
    }
}

QRectF KPImportDraggingView::dragIconByIndex(int index) const
{
    // The visible rectangle is the whole view: the overlay is never scrolled.
    const QRectF v(0, 0, width(), height());
    const double x = std::round((v.width() - 198) / 2) + (index == 1 ? 94 : 0);
    const double y = std::round((v.height() - kIconSize) / 2) + v.y();
    return QRectF(x, y, kIconSize, kIconSize);
}

qint64 KPImportDraggingView::dragIconByPoint(const QPointF& p) const
{
    for (int i = 0; i < 2; ++i) {
        if (dragIconByIndex(i).contains(p))
            return i;
    }
    return kNotFound;
}

void KPImportDraggingView::trackMousePoint(const QPointF& p)
{
    if (p == m_lastTrackPoint)
        return;
    m_dragIconIndex = dragIconByPoint(p);
    m_lastTrackPoint = p;
    ++m_redrawRequests;
    update();
}

void KPImportDraggingView::setIsInTagOrCollection(bool inside)
{
    m_isInTagOrCollection = inside;
    update();
}

QString KPImportDraggingView::caption() const
{
    if (m_dragIconIndex == 0)
        return browsertext::text(QStringLiteral("Add tag after import"));
    if (m_dragIconIndex == 1)
        return browsertext::text(QStringLiteral("New Folder after import"));
    return browsertext::text(m_isInTagOrCollection ? QStringLiteral("Import to here") : QStringLiteral("Import to Documents"));
}

QString KPImportDraggingView::hint() const
{
    const bool moving = platform::kit::Input::current().testFlag(platform::kit::Modifier::Shift);
    return browsertext::text(moving ? QStringLiteral("Move into Folivo") : QStringLiteral("Press CMD to move into Library"));
}

void KPImportDraggingView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    platform::kit::Canvas canvas(painter, height());
    const QRectF bounds(0, 0, width(), height());
    canvas.fillRect(bounds, QColor(0, 0, 0, int(0.7 * 255)));
    if (m_dragIconIndex == kNotFound)
        canvas.strokeRect(bounds, QColor(17, 179, 254), 6);
    for (int i = 0; i < 2; ++i) {
        const QImage& image = m_dragIconIndex == i ? m_highlighted[i] : m_icons[i];
        if (!image.isNull())
            canvas.drawImage(dragIconByIndex(i), image);
    }
    const QRectF panel(std::round((width() - 280) / 2.0), bounds.y() + 48, 280, 72);
    canvas.fillPath(platform::kit::Canvas::roundRectPath(panel, 8), QColor(0, 0, 0, int(0.4 * 255)));
    auto comic = [](qreal size) {
        return platform::kit::FontResolver::fontNamed(QStringLiteral("Comic Sans MS"), size)
            .value_or(platform::kit::FontResolver::systemFont(size));
    };
    platform::kit::TextAttributes caption = platform::kit::TextAttributes::plain(comic(18));
    caption.color = QColor(Qt::white);
    caption.hasParagraphStyle = true;
    caption.alignment = 2;
    caption.lineBreakMode = 4;
    canvas.drawText(QRectF(panel.x(), panel.y() + 20, 280, 40), this->caption(), caption);
    platform::kit::TextAttributes hintAttrs = caption;
    hintAttrs.font = comic(12);
    hintAttrs.color = QColor(Qt::lightGray);
    canvas.drawText(QRectF(panel.x(), panel.y() + 8, 280, 20), hint(), hintAttrs);
}
