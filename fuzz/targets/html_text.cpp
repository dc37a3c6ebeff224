// The text of HTML and XHTML pages, and the pieces the EPUB reader uses on its own.
#include "ContentLimits.h"
#include "FuzzSupport.h"

#include "Platform/Content/HtmlText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QByteArrayView html(data, qsizetype(size));
    platform::ExtractionContext ctx(fuzz::contentLimits());
    platform::HtmlText::extract(html, ctx);
    platform::HtmlText::declaredCharset(html);
    platform::HtmlText::decodeEntities(fuzz::utf8(data, size));
    return 0;
}
