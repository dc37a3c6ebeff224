// How a save or a merge settles properties that changed both in the store (or the incoming
// save) and in the context since the context last read them. To-many relationships are merged
// as sets under every policy: links added or removed on either side all survive.
#pragma once

namespace platform {

enum class MergePolicy {
    Error,                 // a save fails with a conflict error; a merge keeps local changes
    Overwrite,             // the object's whole state is written as the context has it
    ObjectTrumpByProperty, // properties the context changed win; others take the store's
    StoreTrumpByProperty,  // properties changed in the store win; others keep the context's
};

} // namespace platform
