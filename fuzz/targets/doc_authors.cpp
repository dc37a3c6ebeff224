// The small XML parts that name a document's authors: Office core properties, OpenDocument
// meta and the EPUB package document. The same bytes go to all three readers.
#include "FuzzSupport.h"

#include "Platform/Metadata/DocumentAuthors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using platform::DocumentAuthors;
    const QByteArray xml = fuzz::bytes(data, size);
    for (const auto& names : {DocumentAuthors::fromCoreProperties(xml), DocumentAuthors::fromOpenDocumentMeta(xml),
                              DocumentAuthors::fromPackageDocument(xml)})
        if (names.size() > DocumentAuthors::kMaxAuthors)
            fuzz::fail("more authors than the cap", QString::number(names.size()));
    return 0;
}
