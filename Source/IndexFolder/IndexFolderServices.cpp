#include "IndexFolder/IndexFolderServices.h"

#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"
#include "Search/KPIndexManager.h"

IndexFolderServices IndexFolderServices::shared()
{
    IndexFolderServices services;
    services.library = DataBaseEngine::dataBaseEngine();
    services.indexStore = &KPIndexFolderDBEngine::IndexFolderDBEngine();
    services.files = &KPLibraryFileManager::defaultManager();
    services.libraryPath = services.files->workFolder();
    services.startIndexer = [] { KPIndexManager::indexManager().buildNeedIndexItem(); };
    return services;
}
