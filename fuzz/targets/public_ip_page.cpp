// The page that echoes the public address: any text, tags or none, the word "Address:" or not.
// The answer must be a word of the page's first 64 KiB, found in time linear in the page.
#include "FuzzSupport.h"

#include "Analytics/PublicIP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QString text = fuzz::utf8(data, size);
    const auto address = PublicIP::addressFromEchoPage(text);
    if (address && (address->contains(u' ') || address->size() > 64 * 1024))
        fuzz::fail("an address that is not one word of the page", fuzz::printable(*address));
    return 0;
}
