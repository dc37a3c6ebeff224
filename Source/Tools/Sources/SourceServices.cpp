#include "Tools/Sources/SourceServices.h"

#include "Utilities/SystemHelpers.h"

SourceServices SourceServices::shared()
{
    SourceServices services;
    services.stores = IndexFolderServices::shared();
    services.realHome = realHomeDirectory();
    return services;
}
