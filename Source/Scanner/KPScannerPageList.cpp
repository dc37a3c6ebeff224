#include "Scanner/KPScannerPageList.h"

KPCGImageStoreObj::Ptr KPScannerPageList::make(const QImage& image)
{
    auto page = KPCGImageStoreObj::create(image);
    page->setStoreObjID(m_nextID++);
    m_pages.append(page);
    return page;
}

KPScannerPageList::KPScannerPageList(std::shared_ptr<KPScannerPixelBudget> budget)
    : m_budget(budget ? std::move(budget) : std::make_shared<KPScannerPixelBudget>())
{
}

QList<KPCGImageStoreObj::Ptr> KPScannerPageList::addImages(const QList<QImage>& images, int* leftOut)
{
    QList<KPCGImageStoreObj::Ptr> filled;
    for (const QImage& image : images) {
        if (image.isNull())
            continue;
        if (!m_budget->take(KPScannerPixelBudget::pixelsOf(image))) {
            if (leftOut)
                ++*leftOut;
            continue;
        }
        if (filled.isEmpty() && !m_pages.isEmpty() && !m_pages.last()->hasImage()) {
            m_pages.last()->setCGImage(image);
            filled.append(m_pages.last());
        } else {
            filled.append(make(image));
        }
    }
    return filled;
}

bool KPScannerPageList::setImage(const KPCGImageStoreObj::Ptr& page, const QImage& image)
{
    if (!page)
        return false;
    const qint64 before = KPScannerPixelBudget::pixelsOf(page->CGImage());
    const qint64 after = KPScannerPixelBudget::pixelsOf(image);
    if (after > before && !m_budget->take(after - before))
        return false;
    m_budget->give(before - after);
    page->setCGImage(image);
    return true;
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
