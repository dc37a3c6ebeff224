// What the document grid shows (the item view type) and how (the display mode), and which
// section layout each item view type takes. The main window switches on these numbers, and the
// per-node view settings keep them, so the values never change.
#pragma once

enum KPItemViewType : int {
    KPItemViewTypeDocuments = 0,        // plain document list in one untitled section
    KPItemViewTypeGroupedDocuments = 1, // documents grouped into titled sections
    KPItemViewTypeMonth = 2,            // month tiles, titled by year
    KPItemViewTypeFlag = 3,             // flag (colour label) tiles
    KPItemViewTypeFileType = 4,         // kind tiles, titled by kind group
    KPItemViewTypeAuthor = 5,           // author tiles
    KPItemViewTypeSafeBox = 6,          // files of the open SafeBox
};

enum KPDisplayMode : int {
    KPDisplayModeIcon = 1, // items in a grid of columns
    KPDisplayModeList = 2, // one item per row, full width
};

// Whether sections of this item view type have a header (KPDefaultSectionLayoutManager and a
// titled section view) or none (KPNotTitleLayoutManager and KPNotTitleSectionView).
constexpr bool itemViewTypeHasSectionTitles(KPItemViewType type)
{
    return type == KPItemViewTypeGroupedDocuments || type == KPItemViewTypeMonth || type == KPItemViewTypeFileType;
}

// Whether the item views of this type show documents (KPSectionItemView) rather than tiles.
constexpr bool itemViewTypeShowsDocuments(KPItemViewType type)
{
    return type == KPItemViewTypeDocuments || type == KPItemViewTypeGroupedDocuments || type == KPItemViewTypeSafeBox;
}
