#include "Browser/ItemViews/ItemViewServices.h"

#include "Controls/KPTokenAttachmentCell.h"
#include "Controls/KPTokenEditorView.h"
#include "Browser/KPThumbnailLoader.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"

#include <QDrag>
#include <QMimeData>
#include <QPixmap>

ItemViewServices ItemViewServices::shared()
{
    ItemViewServices s;
    s.library = DataBaseEngine::dataBaseEngine();
    s.files = &KPLibraryFileManager::defaultManager();
    s.workspace = &platform::Workspace::shared();
    s.tagEditor = &ItemViewServices::tokenTagEditor;
    s.requestThumbnail = [](const KPItemDataPtr& item) { KPThumbnailLoader::shared().addResourceToQueue(item); };
    return s;
}

QWidget* ItemViewServices::tokenTagEditor(const QStringList& tags, TagEditorCallbacks callbacks)
{
    auto* editor = new KPTokenEditorView(QRect(0, 0, 220, 160));
    KPTokenEditorViewDelegate delegate;
    delegate.cellForString = [](KPTokenEditorView*, const QString& text) -> KPTokenCellPtr {
        return std::make_shared<KPTokenTagAttachmentCell>(text);
    };
    delegate.attachmentType = [](KPTokenEditorView*, const QString& type) -> KPTokenCellPtr {
        if (type == QLatin1String("KPTokenTagAttachmentCell"))
            return std::make_shared<KPTokenTagAttachmentCell>();
        return nullptr;
    };
    delegate.textDidChange = [valueChange = callbacks.valueChange](KPTokenEditorView* view) {
        if (valueChange)
            valueChange(view->tokenValues());
    };
    delegate.enterDone = callbacks.done;
    editor->setDelegate(std::move(delegate));
    editor->setTokenValues(tags);
    return editor;
}
