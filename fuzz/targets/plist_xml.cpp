// Property lists in XML: arbitrary bytes read, and every value read must survive being written
// in both formats and read back.
#include "FuzzSupport.h"
#include "PlistRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    fuzz::checkPropertyList(fuzz::bytes(data, size));
    return 0;
}
