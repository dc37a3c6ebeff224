// Small caps for the document readers' targets: enough for every seed, small enough that one
// input cannot make a run slow.
#pragma once

#include "Platform/Content/ExtractionContext.h"

namespace fuzz {

inline platform::ExtractionLimits contentLimits()
{
    platform::ExtractionLimits limits;
    limits.maxTextChars = 256 * 1024;
    limits.maxEntryBytes = 8 * 1024 * 1024;
    limits.maxTotalBytes = 32 * 1024 * 1024;
    limits.maxFileBytes = 8 * 1024 * 1024;
    limits.timeoutMs = 5000;
    return limits;
}

} // namespace fuzz
