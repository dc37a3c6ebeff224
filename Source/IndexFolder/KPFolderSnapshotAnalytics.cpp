#include "IndexFolder/KPFolderSnapshotAnalytics.h"

#include "IndexFolder/IFFileItem.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QHash>
#include <QSet>
#include <cstring>
#include <optional>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("IndexFolder");

std::optional<qint64> wholeSeconds(const QDateTime& date)
{
    if (!date.isValid())
        return std::nullopt;
    const qint64 ms = date.toMSecsSinceEpoch();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

// What makes a file "unchanged" (the path aside, which the look-up matched): the same date to
// the second, file number and tags. An absent value never equals a present one.
bool isUnchanged(const IFFileItem& row, const KPFileNode& node)
{
    return row.fileID == node.nodeID() && row.tags == node.tags() && wholeSeconds(row.date) == wholeSeconds(node.date());
}

Error logged(int code, const QString& message)
{
    KPLogLogDomainMessage(kLogDomain, 0, message);
    return Error{KPIndexFolderDBEngine::kErrorDomain, code, message};
}

// The first entry at or after *cursor whose row is still alive, or -1.
qsizetype firstAlive(const QList<qsizetype>& indexes, qsizetype* cursor, const std::vector<bool>& alive)
{
    while (*cursor < indexes.size() && !alive[size_t(indexes[*cursor])])
        ++*cursor;
    return *cursor < indexes.size() ? indexes[*cursor] : -1;
}

} // namespace

Result<QString> KPFolderSnapshotAnalytics::volumeDoubt(const KPFileNode& root, bool holdsDocuments, qsizetype remembered)
{
    const auto recorded = IFFolderItem::rememberedVolume(*m_engine, root.path(), queryContext());
    if (!recorded)
        return std::unexpected(recorded.error());
    const std::optional<KPFileNode::Volume>& was = *recorded;
    const std::optional<KPFileNode::Volume>& now = root.volume();
    // A mount point turned plain folder is what unmounting leaves, whatever lies in it.
    if (was && was->isMountPoint && now && !now->isMountPoint)
        return QStringLiteral("it was a mount point and is now a plain folder (an unmounted volume?)");
    // Device numbers of removable and network volumes change from one mount to the next: with
    // documents in it, the folder is there.
    if (holdsDocuments)
        return QString();
    // Hidden files, empty folders and anything else that is no document prove nothing either.
    const QString empty = QStringLiteral("it holds no document while %1 files are remembered for it").arg(remembered);
    if (!was)
        return empty + QStringLiteral(", and its volume was never recorded");
    if (!now)
        return empty + QStringLiteral(", and its volume cannot be read");
    if (now->device != was->device)
        return empty + QStringLiteral(", on another device than before (%1, was %2)").arg(now->device).arg(was->device);
    return QString(); // emptied where it always was: its files are gone
}

KPFolderSnapshotAnalytics::KPFolderSnapshotAnalytics(KPFileNode::Ptr fileNode, KPIndexFolderDBEngine* engine)
    : m_fileNode(std::move(fileNode))
    , m_engine(engine ? engine : &KPIndexFolderDBEngine::IndexFolderDBEngine())
{
}

const ContextPtr& KPFolderSnapshotAnalytics::queryContext()
{
    if (!m_queryContext)
        m_queryContext = m_engine->newPrivateContext();
    return m_queryContext;
}

void KPFolderSnapshotAnalytics::readRows(const QString& folder)
{
    (void)fetchRows(folder);
}

Result<void> KPFolderSnapshotAnalytics::fetchRows(const QString& folder)
{
    m_rowsFolder.reset();
    m_rows.clear();
    m_rowAtPath.clear();
    m_nextAtPath.clear();
    if (!m_engine->hasStore())
        return std::unexpected(logged(KPIndexFolderDBEngine::StoreUnavailableError,
                                      QStringLiteral("Index folder %1 not compared: the index-folder store is not open")
                                          .arg(folder)));
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    const auto predicate = Predicate::format(QStringLiteral("isRemove == NO && (folder == %@ || folder BEGINSWITH %@)"),
                                             {folder, prefix});
    if (!predicate)
        return std::unexpected(logged(KPIndexFolderDBEngine::FetchError, predicate.error().toString()));
    const auto fetched = m_engine->fetchRecordsByName(IFFileItem::kEntityName, *predicate, {}, queryContext());
    if (!fetched)
        return std::unexpected(logged(KPIndexFolderDBEngine::FetchError,
                                      QStringLiteral("Index folder %1 not compared: reading its rows failed: %2")
                                          .arg(folder, fetched.error().toString())));
    m_rows.reserve(size_t(fetched->size()));
    m_nextAtPath.assign(size_t(fetched->size()), -1);
    m_rowAtPath.reserve(fetched->size());
    for (const ManagedObjectPtr& object : *fetched) {
        StoredRow row{IFFileItem::readCompared(*object), object, {}};
        row.fullPath = row.item.fullPath();
        const qsizetype index = qsizetype(m_rows.size());
        // Rows doubled at one path (none should be) chain in fetch order.
        qsizetype& first = m_rowAtPath[row.fullPath];
        if (first == 0) {
            first = index + 1;
        } else {
            qsizetype last = first - 1;
            while (m_nextAtPath[size_t(last)] >= 0)
                last = m_nextAtPath[size_t(last)];
            m_nextAtPath[size_t(last)] = index;
        }
        m_rows.push_back(std::move(row));
    }
    m_rowsFolder = folder;
    return {};
}

KPFolderSnapshot::RememberedFiles KPFolderSnapshotAnalytics::rememberedFiles() const
{
    return [this](const QString& path) -> std::optional<KPFolderSnapshot::RememberedFile> {
        const qsizetype i = firstRowAt(path);
        // Rows doubled at one path say nothing reliable about the file there.
        if (i < 0 || m_nextAtPath[size_t(i)] >= 0)
            return std::nullopt;
        const IFFileItem& item = m_rows[size_t(i)].item;
        if (!item.fileID || !item.changeTime || !item.tags)
            return std::nullopt;
        return KPFolderSnapshot::RememberedFile{*item.fileID, *item.changeTime, *item.tags};
    };
}

Result<void> KPFolderSnapshotAnalytics::analyticsWithChunkCompletedBlock(ChunkBlock block)
{
    m_completedBlock = std::move(block);
    return analyticsFileByFileNode(m_fileNode);
}

Result<void> KPFolderSnapshotAnalytics::analyticsFileByFileNode(const KPFileNode::Ptr& root)
{
    if (!root)
        return {};
    const QString rootPath = root->path();

    // 1. Folders, files and the places whose rows must not be concluded about.
    QList<KPFileNode::Ptr> files;
    QStringList unreadable;
    QSet<QString> folderSeen;
    QList<KPFileNode::Ptr> stack{root};
    while (!stack.isEmpty()) {
        const KPFileNode::Ptr node = stack.takeLast();
        if (!folderSeen.contains(node->path())) {
            folderSeen.insert(node->path());
            m_folderRecords.append(node->path());
        }
        files += node->fileNodes();
        if (node != root && node->listing() == KPFileNode::Listing::Unreadable)
            unreadable.append(node->path());
        unreadable += node->unreadableItems();
        const auto& folders = node->folderNodes();
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            stack.append(*it);
    }

    // 2.-3. The rows remembered for the folder and everything below it (by whole components).
    if (m_rowsFolder != rootPath) {
        if (auto fetched = fetchRows(rootPath); !fetched)
            return std::unexpected(fetched.error());
    }
    const qsizetype remembered = qsizetype(m_rows.size());

    // An unmounted volume leaves a missing folder, or a mount point with nothing of it in it:
    // nothing can be concluded then.
    QString unreachable;
    switch (root->listing()) {
    case KPFileNode::Listing::Missing:
        unreachable = QStringLiteral("it does not exist (%1)").arg(QString::fromLocal8Bit(std::strerror(root->listingError())));
        break;
    case KPFileNode::Listing::Unreadable:
        unreachable = QStringLiteral("it cannot be listed (%1)").arg(QString::fromLocal8Bit(std::strerror(root->listingError())));
        break;
    case KPFileNode::Listing::NotListed:
        unreachable = QStringLiteral("it was not walked");
        break;
    case KPFileNode::Listing::Listed:
        if (remembered > 0) {
            auto reason = volumeDoubt(*root, !files.isEmpty(), remembered);
            if (!reason)
                return std::unexpected(logged(KPIndexFolderDBEngine::FetchError,
                                              QStringLiteral("Index folder %1 not compared: %2")
                                                  .arg(rootPath, reason.error().toString())));
            unreachable = *reason;
        }
        break;
    }
    if (!unreachable.isEmpty())
        return std::unexpected(logged(KPIndexFolderDBEngine::UnreachableError,
                                      QStringLiteral("Index folder %1 is unreachable: %2; nothing is removed")
                                          .arg(rootPath, unreachable)));

    // 4. Unchanged files, by path. A row and a file are unchanged when they agree; every
    // other row is a removal candidate and every other file a fresh one.
    std::vector<StoredRow>& rows = m_rows;
    std::vector<bool> matched(rows.size(), false);
    QList<KPFileNode::Ptr> fresh;
    for (const auto& file : files) {
        bool same = false;
        for (qsizetype i = firstRowAt(file->path()); i >= 0; i = m_nextAtPath[size_t(i)]) {
            StoredRow& row = rows[size_t(i)];
            if (!isUnchanged(row.item, *file))
                continue;
            same = true;
            matched[size_t(i)] = true;
            if (file->changeTime() && row.item.changeTime != file->changeTime())
                m_seenRecords.append(IndexFolderSeenEntry{row.object, *file->changeTime()});
        }
        if (!same)
            fresh.append(file);
    }
    std::vector<qsizetype> removal; // indexes into rows, in fetch order
    for (qsizetype i = 0; i < qsizetype(rows.size()); ++i) {
        if (!matched[size_t(i)])
            removal.push_back(i);
    }

    // 5. Pair new files with removed rows: the first removed row (in order) with the same path
    // or, at another path, the same file number.
    std::vector<bool> alive(rows.size(), false);
    for (qsizetype i : removal)
        alive[size_t(i)] = true;
    qsizetype aliveCount = qsizetype(removal.size());
    QList<KPFileNode::Ptr> unmatched;
    if (!removal.empty() && !fresh.isEmpty()) {
        QHash<QString, QList<qsizetype>> byPath;
        QHash<quint32, QList<qsizetype>> byNumber;
        for (qsizetype i : removal) {
            byPath[rows[size_t(i)].fullPath].append(i);
            if (rows[size_t(i)].item.fileID)
                byNumber[*rows[size_t(i)].item.fileID].append(i);
        }
        QHash<QString, qsizetype> pathCursor;
        QHash<quint32, qsizetype> numberCursor;
        for (const auto& node : fresh) {
            if (aliveCount == 0) {
                unmatched.append(node);
                continue;
            }
            qsizetype samePath = -1, sameNumber = -1;
            if (auto it = byPath.constFind(node->path()); it != byPath.constEnd())
                samePath = firstAlive(*it, &pathCursor[node->path()], alive);
            if (auto it = byNumber.constFind(node->nodeID()); it != byNumber.constEnd()) {
                // Rows at the node's own path are the same-path case, whatever their number.
                qsizetype& cursor = numberCursor[node->nodeID()];
                for (qsizetype c = cursor; c < it->size(); ++c) {
                    const qsizetype i = (*it)[c];
                    if (alive[size_t(i)] && rows[size_t(i)].fullPath != node->path()) {
                        sameNumber = i;
                        break;
                    }
                    if (!alive[size_t(i)] && c == cursor)
                        ++cursor;
                }
            }
            qsizetype chosen = samePath;
            if (chosen < 0 || (sameNumber >= 0 && sameNumber < chosen))
                chosen = sameNumber;
            if (chosen < 0) {
                unmatched.append(node);
                continue;
            }
            StoredRow& row = rows[size_t(chosen)];
            if (chosen == samePath) {
                const bool sameTags = row.item.tags == node->tags();
                if (sameTags && wholeSeconds(row.item.date) == wholeSeconds(node->date())) {
                    // Another file now stands at this path: removed and new.
                    unmatched.append(node);
                    continue;
                }
                IndexFolderModifiedEntry entry{row.object, node->date(), node->nodeID(), std::nullopt,
                                               node->changeTime()};
                if (!sameTags)
                    entry.newTags = node->tags().value_or(QString());
                m_modifileRecords.append(entry);
            } else {
                m_renameRecords.append(IndexFolderRenameEntry{row.fullPath, node->path(), row.object});
            }
            alive[size_t(chosen)] = false;
            --aliveCount;
        }
    } else {
        unmatched = fresh;
    }

    // 6. What is left. Rows below places that could not be read stay: their files may be there.
    m_newRecords += unmatched;
    qsizetype kept = 0;
    for (qsizetype i : removal) {
        if (!alive[size_t(i)])
            continue;
        bool keep = false;
        for (const QString& place : unreadable)
            keep = keep || Paths::isPathInside(rows[size_t(i)].fullPath, place);
        if (keep)
            ++kept;
        else
            m_removeRecords.append(rows[size_t(i)].object);
    }
    if (kept > 0)
        KPLogLogDomainMessage(kLogDomain, 1,
                              QStringLiteral("Index folder %1: %2 files kept because %3 could not be read")
                                  .arg(rootPath).arg(kept).arg(unreadable.join(QStringLiteral(", "))));

    emitChunks();
    return {};
}

void KPFolderSnapshotAnalytics::handOver(IndexFolderDiffChunk chunk)
{
    chunk.context = queryContext();
    if (m_completedBlock)
        m_completedBlock(chunk);
}

void KPFolderSnapshotAnalytics::emitChunks()
{
    // 7. Full chunks of each list on their own, then one last chunk with every remainder.
    auto fullChunks = [this](auto& list, auto member, qsizetype size) {
        while (list.size() > size) {
            IndexFolderDiffChunk chunk;
            chunk.*member = list.mid(0, size);
            list.remove(0, size);
            handOver(std::move(chunk));
        }
    };
    fullChunks(m_newRecords, &IndexFolderDiffChunk::newRecords, kChunkSize);
    fullChunks(m_removeRecords, &IndexFolderDiffChunk::removeRecords, kChunkSize);
    fullChunks(m_modifileRecords, &IndexFolderDiffChunk::modifiedRecords, kChunkSize);
    fullChunks(m_renameRecords, &IndexFolderDiffChunk::renameRecords, kChunkSize);
    fullChunks(m_seenRecords, &IndexFolderDiffChunk::seenRecords, kSeenChunkSize);

    IndexFolderDiffChunk last;
    last.newRecords = m_newRecords;
    last.removeRecords = m_removeRecords;
    last.modifiedRecords = m_modifileRecords;
    last.renameRecords = m_renameRecords;
    last.seenRecords = m_seenRecords;
    if (!last.isEmpty()) {
        last.folders = m_folderRecords;
        handOver(std::move(last));
    }
    m_newRecords.clear();
    m_removeRecords.clear();
    m_modifileRecords.clear();
    m_renameRecords.clear();
    m_seenRecords.clear();
}
