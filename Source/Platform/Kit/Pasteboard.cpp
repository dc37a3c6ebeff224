#include "Platform/Kit/Pasteboard.h"

namespace platform::kit::pasteboard {

QString mimeTypeFor(const QString& type)
{
    if (type == QLatin1String("DragResourceItemsToNode"))
        return kDragResourceItemsToNode;
    if (type == QLatin1String("NSFilenamesPboardType"))
        return kFileNames;
    if (type == QLatin1String("FileInfoURIs"))
        return kFileInfoURIs;
    if (type == QLatin1String("DragDropSideBarNode"))
        return kDragDropSideBarNode;
    if (type == QLatin1String("DragDropTagNode"))
        return kDragDropTagNode;
    if (type == QLatin1String("KPTokenEditorPboardType"))
        return kTokenEditor;
    return type;
}

} // namespace platform::kit::pasteboard
