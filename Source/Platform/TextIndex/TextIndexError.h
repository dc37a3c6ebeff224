// Error codes of the full-text index, all in the domain "TextIndex".
#pragma once

#include "Platform/Foundation/Error.h"

namespace platform {

enum TextIndexErrorCode {
    TextIndexOpenError = 1,         // the file cannot be opened or created (missing folder, rights)
    TextIndexCorruptError = 2,      // the file is damaged or is no SQLite database at all
    TextIndexNotAnIndexError = 3,   // an SQLite database of some other kind
    TextIndexIncompatibleError = 4, // written by a newer version of the index
    TextIndexWriteError = 5,        // a change could not be written (disk full, read-only, …)
    TextIndexReadError = 6,
    TextIndexInvalidArgument = 7,
};

inline QString textIndexErrorDomain()
{
    return QStringLiteral("TextIndex");
}

} // namespace platform
