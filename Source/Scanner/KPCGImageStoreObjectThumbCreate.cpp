#include "Scanner/KPCGImageStoreObjectThumbCreate.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/OperationQueue.h"

#include <QPainter>
#include <QTransform>
#include <algorithm>

KPCGImageStoreObjectThumbCreate::KPCGImageStoreObjectThumbCreate(KPCGImageStoreObj::Ptr page)
    : m_page(std::move(page))
{
}

KPCGImageStoreObjectThumbCreate::Thumb KPCGImageStoreObjectThumbCreate::thumbnail(const QImage& image, double angle)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    // The page's angle turns counter-clockwise with y pointing up; QImage's y points down, so
    // the same turn is a negative one here.
    const int a = KPQuarterTurn(angle);
    const QImage turned = a == 0 ? image : image.transformed(QTransform().rotate(-a));
    const double r = double(turned.width()) / double(turned.height());
    const QSizeF size = r >= 1 ? QSizeF(kThumbSide, kThumbSide / r) : QSizeF(kThumbSide * r, kThumbSide);
    // A scan of 1 × 20,000 pixels still gets a thumbnail one pixel wide.
    const QSize pixels(std::max(1, qRound(size.width())), std::max(1, qRound(size.height())));
    QImage thumb(pixels, QImage::Format_ARGB32_Premultiplied);
    thumb.fill(Qt::transparent);
    {
        QPainter painter(&thumb);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(QPoint(0, 0), pixels), turned);
    }
    return {thumb, size};
}

void KPCGImageStoreObjectThumbCreate::main()
{
    if (!m_page)
        return;
    const Thumb made = thumbnail(m_page->CGImage(), m_page->angle());
    if (made.image.isNull())
        return;
    m_page->setThumbImage(made.image, made.actualSize);
    platform::Dispatch::main([page = m_page] {
        platform::NotificationCenter::defaultCenter().post(UpdateThumbNotification, QVariant::fromValue(page));
    });
}

void KPCGImageStoreObjectThumbCreate::enqueue(platform::OperationQueue& queue, const KPCGImageStoreObj::Ptr& page)
{
    queue.addOperation([op = KPCGImageStoreObjectThumbCreate(page)]() mutable { op.main(); });
}

std::unique_ptr<platform::OperationQueue> KPCGImageStoreObjectThumbCreate::makeQueue()
{
    auto queue = std::make_unique<platform::OperationQueue>();
    queue->setName(QStringLiteral("ScanThumbnails"));
    queue->setMaxConcurrentOperationCount(kMaxConcurrentThumbs);
    return queue;
}
