// mimeapps.list (and defaults.list) as any program may have written it.
#include "FuzzSupport.h"

#include "Platform/Workspace/MimeAppsList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const auto list = platform::MimeAppsList::parse(fuzz::bytes(data, size), QStringLiteral("/tmp/mimeapps.list"));
    for (const auto* table : {&list.defaults, &list.added, &list.removed})
        for (auto it = table->cbegin(); it != table->cend(); ++it)
            if (it.key() != it.key().toLower())
                fuzz::fail("a MIME type kept its upper case", it.key());
    return 0;
}
