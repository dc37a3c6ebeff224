#include "SideBar/SideBarServices.h"

#include "Platform/Workspace/Workspace.h"
#include "Store/DataBaseEngine.h"
#include "Utilities/IndexFolder/FSEventsListener.h"
#include "Utilities/IndexFolder/KPIndexFolderManager.h"

SideBarServices SideBarServices::shared()
{
    SideBarServices s;
    s.library = DataBaseEngine::dataBaseEngine();
    s.eventsListener = &FSEventsListener::instance();
    s.indexFolderManager = &KPIndexFolderManager::IndexFolderManager();
    s.workspace = &platform::Workspace::shared();
    return s;
}
