// The collections and tags side bar over a scratch library, beside the main side bar's fixture:
// a second view in the same window, a delegate that writes down what it is told, scripted
// alerts and the notifications the bar posts.
#pragma once

#include "SideBarTestSupport.h"

#include "Platform/Kit/Alert.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBFileInfo.h"

namespace sidebartest {

class SubSideBarFixture : public SideBarFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the bar, waits for its load and shows mode (0: none yet).
    void openSub(int mode = 0);
    // A live library document carrying tags, its file in the scratch disk folder (its tags are
    // written to the file's attributes through the fake backend).
    DBFileInfo addDocument(const QString& title, const QList<DBTag>& tags = {}, const DBNode& node = {});
    DBTagGroup addGroup(const QString& name, const QList<DBTag>& tags = {});
    // The tag names in a document's attribute list.
    QString fileTags(const DBFileInfo& file) const;
    // Titles of the shown rows, top to bottom.
    QStringList rows() const;
    KPNode::Ptr node(const QString& title) const;
    int rowOf(const QString& title) const { return subView->rowForNode(node(title).get()); }

    KPSideBarOutlineView* subView = nullptr;
    std::unique_ptr<SubSideBarDataSource> sub;
    // "change:<title>", "nodes:<t1,t2>", "before:<title>", "move:<title>", "rename:<title>".
    QStringList subTold;
    QStringList alerts;
    int alertAnswer = platform::kit::Alert::kDefaultReturn;
    QList<QVariantMap> imports;
};

} // namespace sidebartest
