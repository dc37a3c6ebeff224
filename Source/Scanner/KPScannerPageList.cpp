#include "Scanner/KPScannerPageList.h"

KPCGImageStoreObj::Ptr KPScannerPageList::make(const QImage& image)
{
    auto page = KPCGImageStoreObj::create(image);
    page->setStoreObjID(m_nextID++);
    m_pages.append(page);
    return page;
}

QList<KPCGImageStoreObj::Ptr> KPScannerPageList::addImages(const QList<QImage>& images)
{
    QList<KPCGImageStoreObj::Ptr> filled;
    for (const QImage& image : images) {
        if (image.isNull())
            continue;
        if (filled.isEmpty() && !m_pages.isEmpty() && !m_pages.last()->hasImage()) {
            m_pages.last()->setCGImage(image);
            filled.append(m_pages.last());
        } else {
            filled.append(make(image));
        }
    }
    return filled;
}

KPCGImageStoreObj::Ptr KPScannerPageList::newPage()
{
    if (m_pages.isEmpty() || !m_pages.last()->hasImage())
        return nullptr;
    return make({});
}

KPCGImageStoreObj::Ptr KPScannerPageList::pageWithID(qint64 id) const
{
    for (const auto& page : m_pages)
        if (page->storeObjID() == id)
            return page;
    return nullptr;
}

bool KPScannerPageList::hasImagePage() const
{
    for (const auto& page : m_pages)
        if (page->hasImage())
            return true;
    return false;
}
