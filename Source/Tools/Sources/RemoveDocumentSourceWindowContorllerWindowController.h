// The sheet that asks whether a document source or index folder should be removed and then
// removes it from both stores (DocumentSourceRemoval). Its block learns the outcome once, when
// the sheet has ended: YES when the source was removed (or no live record had its path, so the
// caller goes on as after a removal), NO when the user cancelled, the sheet's window went away,
// or the library change could not be saved; NO always means that nothing changed, and the
// caller then keeps the source. A failed save is also told to the user in an alert.
//
// Make it with new: it deletes itself once its sheet has ended and the block has run. It runs on
// the main thread; the removal runs there too, one turn of the event loop after Remove was
// pressed, so the busy state shows first.
#pragma once

#include "Tools/Sources/RemoveDocumentSourceWindow.h"

#include "Platform/Kit/Sheet.h"
#include "IndexFolder/IndexFolderServices.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class RemoveDocumentSourceWindowContorllerWindowController : public QObject {
public:
    using CompletedBlock = std::function<void(bool removed)>;

    explicit RemoveDocumentSourceWindowContorllerWindowController(
        IndexFolderServices services = IndexFolderServices::shared());
    ~RemoveDocumentSourceWindowContorllerWindowController() override;

    // Keeps the block, the path and the title, and shows the sheet on sheetWindow's window.
    // Without a window the block answers NO at once.
    void removeSourceWithPath(const QString& path, const QString& title, QWidget* sheetWindow,
                              CompletedBlock completedBlock);

    void btnCancel();
    void btnRemove();

    const QString& folderPath() const { return m_folderPath; }
    const QString& folderTitle() const { return m_folderTitle; }
    const RemoveDocumentSourceOutlets& outlets() const { return m_outlets; }
    // The sheet while it is begun.
    platform::kit::Sheet* sheet() const { return m_sheet.get(); }

private:
    void performRemoval();
    void alertDidEnd(int returnCode);

    IndexFolderServices m_services;
    RemoveDocumentSourceOutlets m_outlets;
    std::unique_ptr<platform::kit::Sheet> m_sheet;
    QPointer<QWidget> m_window;
    QString m_folderPath;
    QString m_folderTitle;
    CompletedBlock m_completedBlock;
    bool m_removing = false;
    bool m_saveFailed = false;
};
