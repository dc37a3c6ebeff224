#include "Browser/CollectionView/KPCollectionDrawRectView.h"

#include "Platform/Kit/Canvas.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"

#include <QPainter>

namespace {

QColor themeColor(const KPCustomThemeObject* group, const char* name, qreal alpha)
{
    QColor color(Qt::white);
    if (auto* member = group->themeObjectWithName<KPColor>(QLatin1String(name)); member && member->color())
        color = *member->color();
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

KPCollectionDrawRectView::KPCollectionDrawRectView(QWidget* parent)
    : platform::kit::View(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void KPCollectionDrawRectView::drawFrameWithRect(const QRectF& rect)
{
    m_frameRect = rect;
    update();
}

void KPCollectionDrawRectView::paintEvent(QPaintEvent*)
{
    const KPCustomThemeObject* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("CollectionView"));
    if (!group || m_frameRect.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    platform::kit::Canvas canvas(painter, height());
    canvas.fillRect(m_frameRect, themeColor(group, "SelectFrameFillColor", 0.3));
    canvas.strokeRect(m_frameRect, themeColor(group, "SelectFrameColor", 0.9));
}
