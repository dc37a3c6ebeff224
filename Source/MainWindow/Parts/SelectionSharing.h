// What the window does with the grid's selection as a group: edit the tags the selected
// documents share in a popover, hand the files to a mail program, copy them for the file
// manager, show them there, or send them to another running copy of the program.
//
// Tags typed in the popover name tags exactly (case and accents aside) and only live ones: a
// typed "a*" is a new tag, never a pattern that matches "apple", and a tag in the Trash is not
// brought back by typing its name. The edits apply to the documents selected when the popover
// opened, and closing it always writes their tags into the files' attributes.
//
// A folder is sent as a zip made in the private temporary folder under a fresh UUID; the
// archive is removed once the upload has ended, whether it worked or not, and a zip that could
// not be written sends nothing and leaves no file behind. Once every document of a send has
// arrived or failed, the user sees one notice naming those that did not arrive and why (none
// when all arrived); the log has the details.
//
// Threads: main thread; zipping runs on a global queue and comes back to the main thread.
#pragma once

#include "Browser/ItemViews/ItemViewServices.h"
#include "Browser/KPItemData.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/MenuModel.h"

#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <vector>

struct MainWindowContext;
class QMimeData;
class QWidget;
class DataBaseEngine;

namespace platform {
class Workspace;
namespace kit {
class Popover;
}
} // namespace platform

class SelectionSharing {
public:
    static inline const QString kShowTagsCommand = QStringLiteral("onShowTagsAction");
    // The action bar's Share button; its sender's data is the button the menu opens under.
    static inline const QString kShareCommand = QStringLiteral("onShareClick");
    static inline const QString kShareItemCommand = QStringLiteral("onShareItemClick");
    static inline const QString kMailClientCommand = QStringLiteral("onMailClientClick");
    static inline const QString kSendFileToCommand = QStringLiteral("onSendFileTo");
    static inline const QString kNewTagNotification = QStringLiteral("NewTagNotification");
    // The tags of the Share menu's own items.
    enum ShareTag { ShareEmail = 1, ShareCopy = 2, ShareShowInFolder = 3 };
    // The keys of the upload info a peer receives before the file.
    static inline const QString kSizeKey = QStringLiteral("Size");
    static inline const QString kNameKey = QStringLiteral("Name");
    static inline const QString kExtentionKey = QStringLiteral("Extention");
    static inline const QString kFromKey = QStringLiteral("From");
    static inline const QString kTagsKey = QStringLiteral("Tags");
    static inline const QString kIsFolderKey = QStringLiteral("IsFolder");
    // The data of a Send-to item.
    static inline const QString kAddressKey = QStringLiteral("Address");
    static inline const QString kPortKey = QStringLiteral("Port");

    explicit SelectionSharing(MainWindowContext& ctx);
    ~SelectionSharing();
    SelectionSharing(const SelectionSharing&) = delete;
    SelectionSharing& operator=(const SelectionSharing&) = delete;

    // Registers the commands above on the window's dispatcher.
    void install();

    // ---- services (the shared ones unless a test sets its own) ----
    std::function<QWidget*(const QStringList& tags, TagEditorCallbacks callbacks)> tagEditor;
    platform::Workspace* workspace = nullptr;
    // Where zips of folders are written; the private temporary folder when empty.
    QString temporaryFolder;
    // Told when every upload started by one send has ended, after its notice (tests wait on it).
    std::function<void()> sendFinished;

    // The documents selected in the grid, in selection order.
    QList<KPItemDataPtr> selectedItems() const;

    // ---- the tag popover ----
    void onShowTagsAction();
    void onTagEditorVCValueChange(const QStringList& names);
    void onTagEditorVCDone();
    const QSet<QString>& sourceMutileValues() const { return m_sourceMutileValues; }
    platform::kit::Popover* tagPopover() const;

    // ---- share ----
    // "Email…", "Copy", "Show in Folder", then one item per installed mail program.
    std::vector<platform::kit::MenuItemModel> shareItems() const;
    // One item per peer on the network.
    std::vector<platform::kit::MenuItemModel> sendToItems() const;
    // The Share menu under the action bar's button.
    void onShareClick(QWidget* button);
    void onShareItemClick(const QVariant& sender);
    void onMailClientClick(const QVariant& sender);
    void onSendFileTo(const QVariant& sender);

    // The clipboard form file managers paste as files: text/uri-list and the GNOME copy list.
    static QMimeData* copiedFilesMimeData(const QStringList& paths);
    // The first line of the notice of a send of count documents, missing of which did not arrive.
    static QString sendNoticeMessage(const QString& peerName, int missing, int count);
    // What a peer is told before the file: for a folder without the size, which the zip gives.
    static QVariantMap uploadFileInfo(const KPItemData& item, const QString& path);

private:
    DataBaseEngine& store() const;
    platform::Workspace& desktop() const;
    QStringList selectedPaths() const;
    void redrawSelection() const;
    struct Send;
    void sendOne(const KPItemDataPtr& item, const QString& address, quint16 port, const std::shared_ptr<Send>& send);
    // The notice of a send some of whose documents did not arrive; nothing when all did.
    void sendEnded(const std::shared_ptr<Send>& send);

    MainWindowContext& m_ctx;
    QSet<QString> m_sourceMutileValues;
    QList<KPItemDataPtr> m_tagItems; // the documents the open popover edits
    QPointer<platform::kit::Popover> m_tagPopover;
    std::vector<platform::kit::CommandDispatcher::Token> m_commands;
    // Work on other threads checks this before coming back to an object that may have gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
