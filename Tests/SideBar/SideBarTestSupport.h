// A main side bar over a library in a scratch folder: both stores open, a real index-folder
// manager and event listener over them, a workspace whose launcher only records, the view in
// an offscreen window, and a delegate that writes down what it is told.
#pragma once

#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/XAttr.h"
#include "Platform/Workspace/ProcessLauncher.h"
#include "Platform/Workspace/Workspace.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarFavorites.h"
#include "SideBar/SideBarIndexFolders.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SideBarNotifications.h"
#include "Store/DBFavorite.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Support/TestSupport.h"
#include "IndexFolder/FSEventsListener.h"
#include "IndexFolder/IndexFolderServices.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"
#include "IndexFolder/KPIndexFolderManager.h"

#include <QDir>
#include <QWidget>
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <memory>

namespace sidebartest {

class RecordingLauncher final : public platform::ProcessLauncher {
public:
    QList<QStringList> launches;
    platform::Result<qint64> startDetached(const QString& program, const QStringList& arguments,
                                           const QString& = QString()) override
    {
        launches.append(QStringList{program} + arguments);
        return qint64(launches.size());
    }
    bool canFind(const QString& program) const override { return program == QStringLiteral("xdg-open"); }
};

// The shared theme manager on a generated theme, for every test of the program.
void useGeneratedTheme();

class SideBarFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    SideBarServices services();
    // The scratch library's stores, as the syncs and the removal sheet use them.
    IndexFolderServices stores();
    // Makes the side bar and waits for its load.
    void open();
    // The side bar of the program's next run over the same library.
    void reopen();

    // ---- library content ----
    DBNode addNode(const QString& title, int type, const DBNode& parent = {});
    DBTag addTag(const QString& name);
    void addFavorite(const DBRecord& object, int dataType);
    // An index folder row (not through the side bar); the folder is made on disk unless missing.
    DBIndexFolder addIndexFolderRow(const QString& path, const QString& type = IndexFolderType::Folder,
                                    bool createFolder = true);
    void save();
    QList<DBFavorite> favorites();

    // ---- what the side bar shows ----
    // Titles of the root's sections, or of a node's children.
    QStringList titles(const KPNode::Ptr& node) const;
    QStringList sections() const { return titles(source->rootNode()); }
    KPNode::Ptr childTitled(const KPNode::Ptr& parent, const QString& title) const;
    // Posts of a notification seen, whatever their object.
    int count(const QString& notification) const
    {
        return int(std::count_if(posted.begin(), posted.end(),
                                 [&](const QString& p) { return p.startsWith(notification + QLatin1Char(' ')); }));
    }

    std::shared_ptr<platform::XAttrBackend> previousXAttr;
    QString library;
    QString disk;
    std::unique_ptr<DataBaseEngine> engine;
    std::unique_ptr<KPIndexFolderDBEngine> indexStore;
    std::unique_ptr<KPLibraryFileManager> files;
    std::unique_ptr<KPIndexFolderManager> manager;
    std::unique_ptr<FSEventsListener> listener;
    RecordingLauncher launcher;
    std::unique_ptr<platform::Workspace> workspace;
    std::unique_ptr<QWidget> window;
    KPSideBarOutlineView* view = nullptr;
    std::unique_ptr<SideBarDataSource> source;
    // What the delegate heard: "before:<title>" and "change:<title>" ("-" for none).
    QStringList told;
    std::function<void(const QString& path, const QString& title, QWidget* window, std::function<void(int)>)> remover;
    std::vector<platform::ObserverToken> tokens;
    QStringList posted;
    std::atomic<int> indexerStarts{0};
};

} // namespace sidebartest

// Readable QString values in test failure messages.
#include <ostream>
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
