// The alias records kept in backups ("bu_alias"): damaged data gives nothing, and a record that
// is read writes back to data that reads as the same record.
#include "FuzzSupport.h"

#include "TagMeta/TagMetaAlias.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const auto alias = TagMetaAlias::fromData(fuzz::bytes(data, size));
    if (!alias)
        return 0;
    const auto again = TagMetaAlias::fromData(alias->toData());
    if (!again || again->device != alias->device || again->inode != alias->inode
        || again->birthTimeNs != alias->birthTimeNs || again->size != alias->size || again->path != alias->path)
        fuzz::fail("an alias record changes when written back", alias->path);
    return 0;
}
