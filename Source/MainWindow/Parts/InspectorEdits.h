// The inspector's edits of the grid's selection: another folder, a rating, a flag, a new title,
// and the folder pop-up it offers.
//
// A title edit renames one document only. A document of an index folder or of the SafeBox is
// a file the user sees, so its file is renamed too: the title must make a usable file name
// (no "/", NUL or leading dot, at most 255 bytes with its extension) and no file may already
// carry it; nothing is replaced. A refusal says why and hands the typed title back to the
// inspector's title field for correcting. A library document only changes its title, which others may
// share.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemData.h"

#include <QString>
#include <functional>
#include <memory>

class ContentSwitch;
class DBFileInfoMetadata;
class DBNode;
class KPLibraryFileManager;
class QMenu;
struct MainWindowContext;

class InspectorEdits {
public:
    static inline const QString kNameTakenText =
        QStringLiteral("The name \"%@\" is already taken. Plase choose a different name.");
    static inline const QString kUnusableNameText = QStringLiteral("The name \"%@\" cannot be used as a file name.");

    InspectorEdits(MainWindowContext& ctx, ContentSwitch& content);

    // The library's files (null: the program's).
    const KPLibraryFileManager* files = nullptr;

    // ---- the inspector's delegate callbacks ----
    void onFolderChange(const DBNode& newFolder);
    void onRateChange(int rate);
    void onFlagChange(int flag);
    // Renames the one selected document.
    void onTitleChange(const QString& title);
    // Renames item, the document the title was typed for, whatever is selected by now.
    void onTitleChange(const KPItemDataPtr& item, const QString& title);
    // Fills menu with the collection tree; picking a folder calls action with it.
    void onFolderNameMenu(QMenu* menu, const std::function<void(const DBNode&)>& action);
    void refreshPropertyViewInfo() {}

    // Flags items and saves: the inspector and the grid's context menu both come here, so a
    // document without its metadata row gets one either way.
    static void setFlag(MainWindowContext& ctx, const QList<KPItemDataPtr>& items, int flag);

private:
    // Renames item's file to title; false (with the alert) when the name cannot be had.
    bool renameFile(const KPItemDataPtr& item, const QString& title, bool isSafeBox);
    // Applies edit to every selected document and its metadata row, then saves and redraws.
    void editMetadata(const std::function<void(KPItemData&, DBFileInfoMetadata&)>& edit);
    static void editMetadata(MainWindowContext& ctx, const QList<KPItemDataPtr>& items,
                             const std::function<void(KPItemData&, DBFileInfoMetadata&)>& edit);
    // Says why title was refused for item (key: the message, reason: why, may be empty), then
    // hands title back to the inspector's title field for correcting.
    void refuseTitle(const KPItemDataPtr& item, const QString& key, const QString& title, const QString& reason);
    void redrawSelection();

    MainWindowContext& m_ctx;
    ContentSwitch& m_content;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
