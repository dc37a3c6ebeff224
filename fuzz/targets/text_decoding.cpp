// Plain text of unknown encoding. The first line names a charset and the next two bytes a code
// page, so labels, detection and RTF's code pages all get hostile bytes.
#include "FuzzSupport.h"

#include "Platform/Content/TextDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using platform::TextDecoding;
    const QByteArrayView bytes(data, qsizetype(size));
    TextDecoding::decode(bytes);
    const qsizetype eol = bytes.indexOf('\n');
    if (eol >= 0) {
        const QByteArray charset = bytes.first(qMin<qsizetype>(eol, 64)).toByteArray();
        TextDecoding::decodeAs(bytes.sliced(eol + 1), charset);
    }
    if (size >= 2)
        TextDecoding::decodeCodePage(bytes.sliced(2), data[0] << 8 | data[1]);
    return 0;
}
