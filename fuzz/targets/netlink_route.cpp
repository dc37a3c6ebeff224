// A read from the logger's route socket: a chain of route messages whose lengths say where each
// ends. Nothing may be read past the bytes given, whatever the lengths claim.
#include "FuzzSupport.h"

#include "Utilities/KPLogger/KPLogReachability.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    // A copy of exactly the bytes given, so that a read past them is seen by the sanitizer.
    const std::vector<unsigned char> bytes(data, data + size);
    (void)KPLogReachability::announcesChange(bytes.data(), bytes.size());
    return 0;
}
