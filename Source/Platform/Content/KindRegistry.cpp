#include "Platform/Content/KindRegistry.h"

#include <QMimeDatabase>

namespace platform {

QStringList mimeTypeCandidates(const QFileInfo& file)
{
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(file);
    QStringList candidates{type.name()};
    candidates += type.aliases();
    candidates += type.allAncestors();
    return candidates;
}

} // namespace platform
