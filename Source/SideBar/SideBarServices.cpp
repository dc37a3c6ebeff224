#include "SideBar/SideBarServices.h"

#include "Platform/Workspace/Workspace.h"
#include "Store/DataBaseEngine.h"
#include "Tools/Sources/RemoveDocumentSourceWindowContorllerWindowController.h"
#include "IndexFolder/FSEventsListener.h"
#include "IndexFolder/KPIndexFolderManager.h"

SideBarServices SideBarServices::shared()
{
    SideBarServices s;
    s.library = DataBaseEngine::dataBaseEngine();
    s.eventsListener = &FSEventsListener::instance();
    s.indexFolderManager = &KPIndexFolderManager::IndexFolderManager();
    s.workspace = &platform::Workspace::shared();
    s.removeDocumentSource = removalSheet(IndexFolderServices::shared());
    return s;
}

std::function<void(const QString&, const QString&, QWidget*, std::function<void(int)>)>
SideBarServices::removalSheet(const IndexFolderServices& stores)
{
    return [stores](const QString& path, const QString& title, QWidget* window, std::function<void(int)> completion) {
        // The sheet's controller deletes itself once its sheet has ended.
        auto* sheet = new RemoveDocumentSourceWindowContorllerWindowController(stores);
        sheet->removeSourceWithPath(path, title, window, [completion = std::move(completion)](bool removed) {
            if (completion)
                completion(removed ? 1 : 0);
        });
    };
}
