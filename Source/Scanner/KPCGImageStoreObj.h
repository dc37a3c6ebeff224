// One page of the scan window: its bitmap (empty for a page made by "New Page" until an image
// fills it), its quarter-turn angle and the thumbnail the page list draws.
//
// Threads: the image and angle are written on the main thread and read by the thumbnail
// operations; the thumbnail and its size are written by those operations. Every field is
// guarded by the page's own mutex, so a reader never sees a thumbnail without its size.
#pragma once

#include <QImage>
#include <QMetaType>
#include <QSizeF>
#include <memory>
#include <mutex>

class KPCGImageStoreObj {
public:
    using Ptr = std::shared_ptr<KPCGImageStoreObj>;

    explicit KPCGImageStoreObj(const QImage& image = {});
    static Ptr create(const QImage& image = {}) { return std::make_shared<KPCGImageStoreObj>(image); }

    QImage CGImage() const;
    void setCGImage(const QImage& image);
    bool hasImage() const;

    QImage thumbImage() const;
    QSizeF actualSize() const;
    // Both values at once, so a drawing of the list never pairs a new thumbnail with an old size.
    void setThumbImage(const QImage& thumb, const QSizeF& actualSize);

    double angle() const;
    void setAngle(double angle);

    // The image's size once turned by angle: quarter turns swap the sides.
    QSize turnedSize() const;

    qint64 storeObjID() const { return m_storeObjID; }
    void setStoreObjID(qint64 id) { m_storeObjID = id; }

private:
    mutable std::mutex m_mutex;
    QImage m_image;
    QImage m_thumb;
    QSizeF m_actualSize;
    double m_angle = 0;
    qint64 m_storeObjID = 0;
};

Q_DECLARE_METATYPE(KPCGImageStoreObj::Ptr)

// The whole-degree angle as one of 0, 90, 180 or 270 (anything else counts as 0).
int KPQuarterTurn(double angle);
