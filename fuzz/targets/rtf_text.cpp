// The text of RTF documents.
#include "ContentLimits.h"
#include "FuzzSupport.h"

#include "Platform/Content/RtfText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    platform::ExtractionContext ctx(fuzz::contentLimits());
    platform::RtfText::extract(QByteArrayView(data, qsizetype(size)), ctx);
    return 0;
}
