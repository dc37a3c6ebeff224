// What travels when documents are dragged out of the document grid, and what a tag dragged from
// the tag side bar carries. Both are read by more than one view (the grid's items, the side
// bars, the SafeBox node), so the wire forms are fixed here once.
//
// Documents out of the grid: three formats in one QMimeData.
// - kDragResourceItemsToNode, no data: its presence marks a drag that started in the grid.
// - kFileNames (text/uri-list): the documents' absolute paths as file URLs, which other
//   programs (file managers, mail) take as a file drag.
// - kFileInfoURIs: an XML property list, an array of strings: the object URI of each
//   document's record, in the same order as the paths. A drag of SafeBox files has no records
//   and carries no URI list.
//
// A tag dragged from the tag side bar: kDragDropTagNode holds the UTF-8 text of the tags'
// object URIs joined with "," (object URIs never contain a comma).
//
// Reading is strict, since any program can put anything on a drag: a payload above its limit,
// a URI list of the wrong shape or one that does not pair with the paths is refused as a whole.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QString>
#include <QStringList>
#include <memory>

class QMimeData;

namespace platform::kit::pasteboard {

// Whole selections are dragged, so the grid's lists may be large: 20,000 documents take about
// 4 MB. Anything far above that is not ours.
inline constexpr qsizetype kMaxGridDragBytes = qsizetype(32) << 20;
inline constexpr qsizetype kMaxTagNodeBytes = qsizetype(1) << 20;

struct GridDragPayload {
    QStringList filePaths;    // absolute
    QStringList fileInfoURIs; // empty for SafeBox files; else one per path
};

// The drag data of documents dragged out of the grid.
std::unique_ptr<QMimeData> gridDragMimeData(const GridDragPayload& payload);

// Whether the data comes from a grid drag (the marker is present).
bool isGridDrag(const QMimeData& mime);

// The documents of a grid drag: refused without the marker, with an oversized or malformed URI
// list, or with a URI list whose length differs from the paths'. Non-file URLs are refused too.
Result<GridDragPayload> readGridDrag(const QMimeData& mime);

// The tag URIs of a tag drag, in order, empty parts and surrounding blanks dropped; an empty
// list when the format is absent, empty or above kMaxTagNodeBytes.
QStringList readTagNodeURIs(const QMimeData& mime);

} // namespace platform::kit::pasteboard
