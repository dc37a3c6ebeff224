// The changes of one context save as the coordinator receives them: full new rows, the rows
// they were based on (for conflict detection) and which slots the context itself changed.
#pragma once

#include "Platform/ObjectStore/ObjectID.h"
#include "Platform/ObjectStore/Row.h"

#include <vector>

namespace platform {

struct ObjectChange {
    enum class Kind { Insert, Update, Delete };
    Kind kind = Kind::Update;
    ObjectID id;
    RowPtr row;  // Insert, Update: the state to write
    RowPtr base; // Update, Delete: the state the context read; null when it read none
    SlotMask changedValues;
    SlotMask changedToOne;
};

struct ChangeSet {
    std::vector<ObjectChange> changes;
};

} // namespace platform
