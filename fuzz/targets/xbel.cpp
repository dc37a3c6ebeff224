// The desktop's recently-used list ("recently-used.xbel"), written by other programs.
#include "FuzzSupport.h"

#include "Platform/Metadata/RecentlyUsed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using platform::RecentlyUsed;
    const auto table = RecentlyUsed::parse(fuzz::bytes(data, size));
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        if (!it.value().isValid())
            fuzz::fail("a bookmark kept an invalid time", it.key());
    RecentlyUsed::parseTime(fuzz::utf8(data, qMin<size_t>(size, 64)));
    return 0;
}
