// The program's pasteboard types and the MIME types they travel as between Qt widgets and
// other programs.
#pragma once

#include <QString>

namespace platform::kit::pasteboard {

inline const QString kDragResourceItemsToNode = QStringLiteral("application/x-kp-drag-resource-items");
inline const QString kFileNames = QStringLiteral("text/uri-list");
inline const QString kFileInfoURIs = QStringLiteral("application/x-kp-fileinfo-uris");
inline const QString kDragDropSideBarNode = QStringLiteral("application/x-kp-sidebar-node");
inline const QString kDragDropTagNode = QStringLiteral("application/x-kp-tag-node");
inline const QString kTokenEditor = QStringLiteral("application/x-kp-token-editor");

// The MIME type a program pasteboard type name travels as; unknown names pass unchanged.
QString mimeTypeFor(const QString& pasteboardType);

} // namespace platform::kit::pasteboard
