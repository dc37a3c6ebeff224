// The scan window's ordered pages without widgets: ids, filling the empty last page, the
// pixels they hold (under the window's budget), and the questions the window asks (may it save,
// must it ask before closing).
//
// Threads: main thread only; the budget is shared with the window's readers.
#pragma once

#include "Scanner/KPCGImageStoreObj.h"
#include "Scanner/KPScannerPixelBudget.h"

#include <QList>
#include <memory>

class KPScannerPageList {
public:
    explicit KPScannerPageList(std::shared_ptr<KPScannerPixelBudget> budget = std::make_shared<KPScannerPixelBudget>());

    const QList<KPCGImageStoreObj::Ptr>& pages() const { return m_pages; }
    int count() const { return int(m_pages.size()); }
    const std::shared_ptr<KPScannerPixelBudget>& budget() const { return m_budget; }

    // Adds the images in order; the first fills an empty last page. An image whose pixels no
    // longer fit the budget is left out and counted in leftOut. Answers the pages that got an
    // image (their thumbnails are to be made).
    QList<KPCGImageStoreObj::Ptr> addImages(const QList<QImage>& images, int* leftOut = nullptr);
    // A page's image replaced (a crop), its pixels counted anew; false, the page unchanged, when
    // the new image does not fit.
    bool setImage(const KPCGImageStoreObj::Ptr& page, const QImage& image);
    // "New Page": an empty page at the end, unless the last page is empty already or there is no
    // page at all. Answers it, or null.
    KPCGImageStoreObj::Ptr newPage();

    KPCGImageStoreObj::Ptr pageWithID(qint64 id) const;
    // True when at least one page holds an image: a PDF of empty pages is no document.
    bool hasImagePage() const;
    // Closing asks about saving only when there is something to save.
    bool needsCloseQuestion() const { return hasImagePage(); }

private:
    KPCGImageStoreObj::Ptr make(const QImage& image);

    std::shared_ptr<KPScannerPixelBudget> m_budget;
    QList<KPCGImageStoreObj::Ptr> m_pages;
    qint64 m_nextID = 1;
};
