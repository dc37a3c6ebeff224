// EPUB books: the package document found through the container, its spine resolved and every
// chapter read.
#include "ContentLimits.h"
#include "FuzzSupport.h"

#include "Platform/Content/EpubPackage.h"

using platform::EpubPackage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const fuzz::ScratchFolder scratch;
    const auto package = platform::PackageReader::open(scratch.write(QStringLiteral("book.epub"), fuzz::bytes(data, size)));
    if (!package)
        return 0;
    {
        platform::ExtractionContext ctx(fuzz::contentLimits());
        if (const auto manifest = EpubPackage::readManifest(*package, ctx))
            for (const QString& chapter : manifest->spine)
                if (EpubPackage::resolve(manifest->packagePath, chapter).split(QLatin1Char('/')).contains(QLatin1String("..")))
                    fuzz::fail("a resolved chapter climbs out of the package", chapter);
    }
    platform::ExtractionContext ctx(fuzz::contentLimits());
    EpubPackage::extractText(*package, ctx);
    return 0;
}
