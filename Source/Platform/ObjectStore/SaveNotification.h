// What a successful save changed, handed to did-save observers and to mergeChanges. IDs only:
// the merging context reads the new state from the store's cache (or its parent), which is
// at least as new as the save that announced it.
#pragma once

#include "Platform/ObjectStore/ObjectID.h"

#include <QList>
#include <QMetaType>

namespace platform {

struct SaveNotification {
    const void* context = nullptr; // the context that saved (compare only)
    bool toParent = false;         // a child context's save into its parent, not the store
    QList<ObjectID> inserted;
    QList<ObjectID> updated;
    QList<ObjectID> deleted;

    bool isEmpty() const { return inserted.isEmpty() && updated.isEmpty() && deleted.isEmpty(); }
};

} // namespace platform

Q_DECLARE_METATYPE(platform::SaveNotification)
