// The section view of titled sections: a header strip across the section's top with a tiled
// background, the expand/collapse triangle, the section's title and a badge counting its items.
//
// A click on the triangle flips the section's isExpand and asks the grid to lay out again; any
// other left press on the header posts "SectionHeaderViewDoubleClick" with the section's
// KPSectionDataPtr as object (the window selects the section's items). Other buttons pass on to
// the grid.
//
// The header's background is one tile of 50 × height points, cached once per height and device
// pixel ratio for all headers and tiled across the header's width, so resizing the window adds
// no entries. resetTheme() empties the cache and fetches the theme anew.
//
// The grid places the header (pinned to the top of the section's visible part); the header is
// kept across reuse. Threads: main thread only.
#pragma once

#include "Browser/KPCollectionSectionView.h"
#include "Browser/KPSectionData.h"

#include <QRectF>

class KPCoustomDrawBGView;
class QPainter;

class KPSectionView : public KPCollectionSectionView {
public:
    static inline const QString kSectionHeaderViewDoubleClickNotification = QStringLiteral("SectionHeaderViewDoubleClick");
    // Where the triangle is drawn and clicked, y-up in the header.
    static constexpr QRectF kTriangleRect{6, 7, 12, 12};
    static constexpr double kDefaultHeaderHeight = 26;

    explicit KPSectionView(QWidget* parent = nullptr);
    ~KPSectionView() override;

    const KPSectionDataPtr& sectionData() const { return m_sectionData; }
    void setSectionData(KPSectionDataPtr data);
    // Makes the header the first time; later calls do nothing.
    void loadContent();
    bool bLoadContent() const { return m_bLoadContent; }

    // Forgets the cached backgrounds and theme objects; the next draw fetches them again.
    static void resetTheme();
    // Cached background tiles (one per height and pixel ratio).
    static int backgroundCacheCount();

private:
    void onDrawBG(KPCoustomDrawBGView* view, QPainter& painter);
    void onMouseEvent(QEvent* event);

    KPSectionDataPtr m_sectionData;
    bool m_bLoadContent = false;
};
