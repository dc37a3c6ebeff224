// The scan window's ordered pages without widgets: ids, filling the empty last page, and the
// questions the window asks (may it save, must it ask before closing).
//
// Threads: main thread only.
#pragma once

#include "Scanner/KPCGImageStoreObj.h"

#include <QList>

class KPScannerPageList {
public:
    const QList<KPCGImageStoreObj::Ptr>& pages() const { return m_pages; }
    int count() const { return int(m_pages.size()); }

    // Adds the images in order; the first fills an empty last page. Answers the pages that got
    // an image (their thumbnails are to be made).
    QList<KPCGImageStoreObj::Ptr> addImages(const QList<QImage>& images);
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

    QList<KPCGImageStoreObj::Ptr> m_pages;
    qint64 m_nextID = 1;
};
