// Keyed archives, as peers send them and libraries keep them: whatever is decoded must archive
// again and decode to the same value.
#include "FuzzSupport.h"
#include "PlistCheck.h"

#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/KeyedUnarchiver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using platform::KeyedArchiver;
    using platform::KeyedUnarchiver;
    const auto value = KeyedUnarchiver::unarchiveObject(fuzz::bytes(data, size));
    if (!value)
        return 0;
    const auto archived = KeyedArchiver::archivedData(*value);
    if (!archived) {
        fuzz::fail("a decoded value cannot be archived",
                   archived.error().toString() + QStringLiteral(" — ") + fuzz::describe(*value));
        return 0;
    }
    const auto again = KeyedUnarchiver::unarchiveObject(*archived);
    if (!again) {
        fuzz::fail("an archived value cannot be decoded", again.error().toString());
        return 0;
    }
    if (const QString d = fuzz::difference(*value, *again); !d.isEmpty())
        fuzz::fail("a value changed through archiving", d);
    return 0;
}
