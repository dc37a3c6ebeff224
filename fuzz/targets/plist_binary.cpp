// Binary property lists. Inputs without the "bplist00" magic get it prepended, so the fuzzer
// spends its time on the object table instead of on finding the eight-byte header.
#include "FuzzSupport.h"
#include "PlistRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    QByteArray input = fuzz::bytes(data, size);
    if (!input.startsWith("bplist"))
        input.prepend("bplist00");
    fuzz::checkPropertyList(input);
    return 0;
}
