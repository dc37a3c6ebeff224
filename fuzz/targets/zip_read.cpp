// Zip packages as the document readers open them (office, EPUB, iWork): the directory listed and
// every entry inflated under small caps.
#include "FuzzSupport.h"

#include "Platform/Content/ZipArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const fuzz::ScratchFolder scratch;
    const QString path = scratch.write(QStringLiteral("input.zip"), fuzz::bytes(data, size));
    auto archive = platform::ZipArchive::open(path);
    if (!archive)
        return 0;
    platform::ExtractionLimits limits;
    limits.maxEntryBytes = 8 * 1024 * 1024;
    limits.maxTotalBytes = 32 * 1024 * 1024;
    limits.timeoutMs = 5000;
    platform::ExtractionContext ctx(limits);
    for (const QString& name : archive->entryNames()) {
        const auto bytes = archive->read(name, ctx);
        if (bytes && bytes->size() > limits.maxEntryBytes)
            fuzz::fail("an entry was inflated past its cap", name);
    }
    return 0;
}
