// What the side bars put on and read from a drag: the node drag of the collections and tags
// side bar, the tags it carries to the grid, documents dragged out of the grid and files from
// the file manager.
//
// - "DragDropSideBarNode" carries only a marker naming the dragging side bar in this process;
//   the nodes themselves stay with it. A marker from another process or side bar is not ours.
// - "DragDropTagNode" is the dragged tags' object URIs joined by "," (UTF-8).
// - Documents from the grid are marked by "DragResourceItemsToNode"; their object URIs travel
//   as a property-list array of strings under "FileInfoURIs", their paths as file URLs.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

class DBTag;
class QMimeData;

namespace sidebarpasteboard {

// The "DragDropTagNode" text of tags (nils left out); empty when there are none.
QByteArray tagNodeString(const QList<DBTag>& tags);
// A node drag of owner: the marker, and the tags' text when there is any.
QMimeData* nodeDragData(const void* owner, const QList<DBTag>& tags, bool withTags);
bool isNodeDragOf(const QMimeData& data, const void* owner);

bool hasGridDocuments(const QMimeData& data);
// The grid documents' object URIs (empty when absent or malformed).
QStringList fileInfoURIs(const QMimeData& data);
// The local paths of the dragged files.
QStringList filePaths(const QMimeData& data);
// Whether dragged files may be imported: a plain folder or a supported file among them.
bool hasImportableFiles(const QMimeData& data);

} // namespace sidebarpasteboard
