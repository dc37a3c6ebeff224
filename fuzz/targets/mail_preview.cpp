// The preview window's reading of a mail message: its header block and the text under it.
#include "FuzzSupport.h"

#include "Platform/Preview/PreviewContentLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using platform::PreviewContentLoader;
    const QByteArray bytes = fuzz::bytes(data, size);
    for (const auto& [name, value] : PreviewContentLoader::mailHeaders(bytes)) {
        if (name.isEmpty() || name != name.toLower())
            fuzz::fail("header names are lower case and never empty", QString::fromLatin1(name));
    }
    PreviewContentLoader::mailPreview(bytes);
    return 0;
}
