// What the main window asks of the parts of the program that are built beside it: the
// inspector, the smart-folder and search field, the SafeBox, the peers on the network and the
// scanner. Each is an interface whose default answers mean "not there"; the window holds a
// null object for each until the real one is handed in.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemData.h"
#include "SideBar/KPNode.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <vector>

class QWidget;
class ServerInfo;

// The smart-folder search over the full-text index and the title bar's search field.
class SearchHooks {
public:
    virtual ~SearchHooks() = default;
    // Starts the full-text search of a smart folder's "content" rules (queryValues holds
    // "Operation" and "Value") combined with the store predicate; the hits fill the grid when
    // it finishes. The default finds nothing.
    virtual void doSearchBySmartFolderNode(const KPNode::Ptr& node, const QVariantMap& queryValues,
                                           const QString& predicate)
    {
    }
    // Clears the search field and ends its editing mode.
    virtual void resetSearchField() {}
    // Stops the running full-text searches (the global one and a smart folder's) so that none
    // of their later hits reaches the listing, and takes the busy mark off the folder's row.
    virtual void cancelContentSearches() {}
    virtual void destroySearchResultPopver() {}
    // The store predicate text of a smart folder's rule dictionary, limited to documents not in
    // the Trash; empty when the rules give none.
    virtual QString smartStringFromData(const QVariantMap& rules) const { return {}; }
    // The rule sheet of a new smart folder (no rules yet), begun on window; done gets the
    // sheet's result (1: OK), the archived rules and the title. Without it the menu command is
    // not offered.
    virtual bool hasSmartFolderSheet() const { return false; }
    virtual void beginSmartFolderSheet(QWidget* window,
                                       std::function<void(int result, const QByteArray& rules, const QString& title)> done)
    {
    }
    // Puts the keyboard focus in the search field's text; without a field Find is not offered.
    virtual bool hasSearchField() const { return false; }
    virtual void focusSearchField() {}
};

// The inspector pane at the right of the grid.
class PropertyPane {
public:
    virtual ~PropertyPane() = default;
    virtual QWidget* view() { return nullptr; }
    virtual void showItemDatas(const QList<KPItemDataPtr>& items, int itemViewType) {}
    virtual void refreshDatas() {}
    // A title refused for item goes back into the title field for correcting, while the pane
    // still shows item.
    virtual void editTitleAgain(const KPItemDataPtr& item, const QString& text) {}
};

// The SafeBox: the set-up and log-in views over the grid and the listing of the open box.
class SafeBoxPane {
public:
    virtual ~SafeBoxPane() = default;
    // Where the open SafeBox is mounted; empty while it is closed.
    virtual QString safeBoxAttactPath() const { return {}; }
    // Shows the set-up view (no SafeBox yet) or the log-in view over the document area.
    virtual void showSetupView(bool setupMode) {}
    virtual void removeSetupView() {}
    // Lists the open SafeBox in the grid.
    virtual void loadSafeBoxDataSource() {}
    virtual void refreshSafeBoxDataSource() {}
    // The open SafeBox's volume went away behind the program's back: forget its mount path
    // and the SafeBox tool bar.
    virtual void forgetAttachedVolume() {}
    // The sheet that deletes files of the open SafeBox; done gets the files it removed.
    // Without it the menu command is not offered.
    virtual bool canRemoveFiles() const { return false; }
    virtual void removeFiles(QWidget* window, const QList<KPItemDataPtr>& items,
                             std::function<void(const QList<KPItemDataPtr>& removed)> done)
    {
    }
    // The sheet that copies or moves documents into the SafeBox mounted at target; done gets
    // the documents copied and whether their originals were deleted. Without it documents
    // cannot be put in the SafeBox.
    virtual bool canCopyFiles() const { return false; }
    virtual void copyFiles(QWidget* window, const QString& target, const QList<KPItemDataPtr>& sources,
                           std::function<void(const QList<KPItemDataPtr>& copied, bool move)> done)
    {
    }
};

// The other running copies of the program found on the network.
class PeerDirectory {
public:
    virtual ~PeerDirectory() = default;
    virtual std::vector<std::shared_ptr<ServerInfo>> serverList() const { return {}; }
    // Sends filePath with its upload info (the TWUploadFileInfo dictionary) to the peer at
    // address:port; a folder's archive holds archiveEntries entries. completed gets an empty
    // text on success, else why it did not arrive in words for the user (a clause such as "the
    // other computer has no room for it"), on the main thread, exactly once. The default has
    // no peer exchange and fails at once.
    virtual void uploadFile(const QString& address, quint16 port, const QVariantMap& info, const QString& filePath,
                            qint64 archiveEntries, std::function<void(const QString& error)> completed)
    {
        if (completed)
            completed(QStringLiteral("sending to other computers is not available"));
    }
};

// The scanner window.
class ScannerLauncher {
public:
    virtual ~ScannerLauncher() = default;
    virtual bool isAvailable() const { return false; }
    // Shows the scanner window, one at a time; "menuScanClick" is the launcher's own command.
    virtual void showScanner(QWidget* window) {}
};
