// The thumbnail of a page for the scan window's list: the page's image turned by its angle and
// fitted into 148 × 148, announced with "UpdateThumb" (object: the page) on the main queue once
// the thumbnail and its size are both set.
//
// Threads: thumbnail() and run() may run on any thread; the scan window queues run() on an
// operation queue of at most kMaxConcurrentThumbs.
#pragma once

#include "Scanner/KPCGImageStoreObj.h"

#include <QString>
#include <memory>

namespace platform {
class OperationQueue;
}

class KPCGImageStoreObjectThumbCreate {
public:
    static inline const QString UpdateThumbNotification = QStringLiteral("UpdateThumb");
    static constexpr double kThumbSide = 148;
    static constexpr int kMaxConcurrentThumbs = 3;

    explicit KPCGImageStoreObjectThumbCreate(KPCGImageStoreObj::Ptr page);
    const KPCGImageStoreObj::Ptr& storeObj() const { return m_page; }

    // Makes and stores the thumbnail, then posts "UpdateThumb" on the main queue. Nothing is
    // posted for a page without an image.
    void main();

    // The turned image and the size it is shown at, without storing anything.
    struct Thumb {
        QImage image;
        QSizeF actualSize;
    };
    static Thumb thumbnail(const QImage& image, double angle);

    // The queue a scan window makes its thumbnails on: at most kMaxConcurrentThumbs at once, so a
    // stack of large scans does not hold a turned copy of each in memory together.
    static std::unique_ptr<platform::OperationQueue> makeQueue();
    // Queues one operation for page on queue.
    static void enqueue(platform::OperationQueue& queue, const KPCGImageStoreObj::Ptr& page);

private:
    KPCGImageStoreObj::Ptr m_page;
};
