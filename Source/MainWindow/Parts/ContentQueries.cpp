// The store side of ContentSwitch: the documents of each node type, index folders and smart
// folders.
#include "MainWindow/Parts/ContentSwitch.h"

#include "Browser/KPDataSourceManager.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "MainWindow/Parts/GridDataSource.h"
#include "Platform/Foundation/KeyedUnarchiver.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "SideBar/SideBarNodeType.h"
#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Store/DBIndexFolderMetadata.h"
#include "Store/DBSmartFolder.h"
#include "Store/DataBaseEngine.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QSet>

namespace T = SideBarNodeType;

namespace {

// A record that is gone (deleted since the side bar was built, the deletion saved or not)
// counts as none.
bool isLive(const DBRecord& record)
{
    return record && !record.isDeleted() && record.managedObjectContext();
}

// The folder path without trailing separators ("/" stays "/").
QString normalizedFolder(const QString& path)
{
    QString folder = QDir::cleanPath(path);
    return folder == QStringLiteral(".") ? QString() : folder;
}

// Collects node and the nodes below it depth first, each node once (a damaged tree may hold a
// node twice or loop).
void collectDepthFirst(const KPNode::Ptr& node, QSet<const KPNode*>& seen,
                       const std::function<bool(const KPNode&)>& visit)
{
    if (!node || seen.contains(node.get()))
        return;
    seen.insert(node.get());
    if (!visit(*node))
        return;
    for (const KPNode::Ptr& child : node->children())
        collectDepthFirst(child, seen, visit);
}

} // namespace

QList<KPItemDataPtr> ContentSwitch::queryFileInfos(const QString& format, const QVariantList& arguments,
                                                   bool* fetched) const
{
    return fetchFileInfos(platform::Predicate::format(format, arguments), format, fetched);
}

QList<KPItemDataPtr> ContentSwitch::fetchFileInfos(const platform::Result<platform::Predicate>& predicate,
                                                   const QString& what, bool* fetched) const
{
    if (fetched)
        *fetched = false;
    if (!predicate) {
        KPLogLogMessage(QStringLiteral("content query \"%1\": %2").arg(what, predicate.error().toString()));
        return {};
    }
    auto rows = store().queryRecordByName(DBFileInfo::entityName(), *predicate);
    if (!rows) {
        KPLogLogMessage(QStringLiteral("content query \"%1\" failed: %2").arg(what, rows.error().toString()));
        return {};
    }
    if (fetched)
        *fetched = true;
    QList<KPItemDataPtr> items;
    items.reserve(rows->size());
    for (const platform::ManagedObjectPtr& row : *rows) {
        const DBFileInfo file(row);
        if (file)
            items.append(KPItemData::create(file));
    }
    return items;
}

QList<KPItemDataPtr> ContentSwitch::liveFileInfos(const QList<DBFileInfo>& files)
{
    QList<KPItemDataPtr> items;
    items.reserve(files.size());
    for (const DBFileInfo& file : files) {
        if (isLive(file) && !file.isTrash())
            items.append(KPItemData::create(file));
    }
    return items;
}

QList<KPItemDataPtr> ContentSwitch::tagFileInfos(const KPNode& node) const
{
    const DBTag tag = node.tag();
    return isLive(tag) ? liveFileInfos(tag.fileInfos()) : QList<KPItemDataPtr>();
}

QList<KPItemDataPtr> ContentSwitch::tagGroupFileInfos(const KPNode& node) const
{
    QList<KPItemDataPtr> items;
    for (const KPNode::Ptr& child : node.children()) {
        if (child)
            items.append(tagFileInfos(*child));
    }
    return items;
}

QList<KPItemDataPtr> ContentSwitch::listNodeFileInfos(const KPNode& node) const
{
    QList<DBFileInfo> files;
    for (const QVariant& value : node.data().toList())
        files.append(DBFileInfo(platform::ManagedObject::fromRef(value)));
    QList<KPItemDataPtr> items;
    for (const DBFileInfo& file : files) {
        if (isLive(file))
            items.append(KPItemData::create(file));
    }
    return items;
}

QList<KPItemDataPtr> ContentSwitch::allFileInfosByNode(const KPNode::Ptr& node) const
{
    QList<KPItemDataPtr> items;
    QSet<const KPNode*> seen;
    collectDepthFirst(node, seen, [&](const KPNode& each) {
        if (!isLive(each.dbNode()))
            return false;
        items.append(liveFileInfos(each.dbNode().files()));
        return true;
    });
    return items;
}

QString ContentSwitch::indexNodePath(const KPNode& node)
{
    if (node.nodeType() == T::IndexFolderNode) {
        const DBIndexFolder folder = node.indexFolder();
        return isLive(folder) ? normalizedFolder(folder.path()) : QString();
    }
    if (node.nodeType() == T::SubIndexFolderNode)
        return normalizedFolder(node.dataString());
    return {};
}

QList<KPItemDataPtr> ContentSwitch::allFileInfosByIndexNode(const KPNode::Ptr& node) const
{
    QList<KPItemDataPtr> items;
    QSet<const KPNode*> seen;
    collectDepthFirst(node, seen, [&](const KPNode& each) {
        const QString path = indexNodePath(each);
        if (path.isEmpty())
            return true;
        auto predicate = platform::Predicate::format(QStringLiteral("folderID == %@ && fileInfo.isTrash == NO"),
                                                     {QVariant::fromValue(DBHelper::folderIDForFolderPath(path))});
        auto rows = predicate ? store().queryRecordByName(DBIndexFolderMetadata::entityName(), *predicate)
                              : platform::Result<QList<platform::ManagedObjectPtr>>(std::unexpected(predicate.error()));
        if (!rows) {
            KPLogLogMessage(QStringLiteral("index folder listing of %1 failed: %2").arg(path, rows.error().toString()));
            return true;
        }
        for (const platform::ManagedObjectPtr& row : *rows) {
            const DBFileInfo file = DBIndexFolderMetadata(row).fileInfo();
            if (isLive(file))
                items.append(KPItemData::create(file));
        }
        return true;
    });
    return items;
}

void ContentSwitch::showIndexFolder(const KPNode::Ptr& node)
{
    const QString path = indexNodePath(*node);
    const FolderAccess access = folderAccess ? folderAccess(path) : fileSystemFolderAccess(path);
    // The side bar's mark may be older than the folder's state: what the folder is now decides
    // both whether to warn and what to say.
    if (access != FolderAccess::Readable) {
        const QString text = access == FolderAccess::Missing ? kFolderNotFoundText : kFolderNotAccessibleText;
        if (m_ctx.dialogs)
            m_ctx.dialogs->alert(m_ctx.window,
                                 platform::kit::Alert::withMessage(platform::localizedString(text), {}),
                                 [](int) {});
        tail(node, {});
        return;
    }
    // Whole components only: "/a/foo" holds "/a/foo/x.pdf", not "/a/foobar/x.pdf".
    const QString prefix = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    tail(node, queryFileInfos(QStringLiteral("isTrash == NO && isIndex == YES && path BEGINSWITH %@"), {prefix}));
}

void ContentSwitch::showSmartFolder(const KPNode::Ptr& node)
{
    const DBNode record = node->dbNode();
    if (!isLive(record)) {
        tail(node, {});
        return;
    }
    const QByteArray archive = DBSmartFolder(record.object()).data();
    auto decoded = platform::KeyedUnarchiver::unarchiveObject(archive);
    if (!decoded || decoded->typeId() != QMetaType::QVariantMap) {
        KPLogLogMessage(QStringLiteral("smart folder \"%1\": unreadable rules (%2)")
                            .arg(node->title(), decoded ? QStringLiteral("not a dictionary") : decoded.error().toString()));
        tail(node, {});
        return;
    }
    const QVariantMap rules = decoded->toMap();
    QVariantList contentValues;
    for (const QVariant& row : rules.value(QStringLiteral("SmartData")).toList()) {
        const QVariantMap rule = row.toMap();
        if (rule.value(QStringLiteral("Left")).toString() == QStringLiteral("content"))
            contentValues.append(rule.value(QStringLiteral("Right")).toString());
    }
    const QString predicateText = m_ctx.search ? m_ctx.search->smartStringFromData(rules) : QString();

    if (!contentValues.isEmpty()) {
        // Nothing until the full-text search brings its hits (showSmartFolderHits).
        showEmptyListing();
        if (m_ctx.search) {
            const QVariantMap queryValues{{QStringLiteral("Operation"), rules.value(QStringLiteral("Operation"))},
                                          {QStringLiteral("Value"), contentValues}};
            m_ctx.search->doSearchBySmartFolderNode(node, queryValues, predicateText);
        }
        return;
    }
    // Rules that give no predicate list nothing rather than the whole library.
    if (predicateText.isEmpty()) {
        tail(node, {});
        return;
    }
    tail(node, fetchFileInfos(platform::Predicate::parse(predicateText), node->title()));
}
