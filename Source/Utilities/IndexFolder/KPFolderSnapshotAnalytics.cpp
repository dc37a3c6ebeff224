#include "Utilities/IndexFolder/KPFolderSnapshotAnalytics.h"

#include "Utilities/IndexFolder/IFFileItem.h"
#include "Utilities/IndexFolder/KPIndexFolderDBEngine.h"

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

// What makes a file "unchanged": the same path, date to the second, file number and tags.
// An absent value never equals a present one.
struct Signature {
    QString path;
    std::optional<qint64> seconds;
    std::optional<quint32> number;
    std::optional<QString> tags;

    friend bool operator==(const Signature&, const Signature&) = default;
};

size_t qHash(const Signature& s, size_t seed = 0)
{
    return qHashMulti(seed, s.path, s.seconds.value_or(-1), s.number.value_or(0), s.tags.value_or(QString()));
}

std::optional<qint64> wholeSeconds(const QDateTime& date)
{
    if (!date.isValid())
        return std::nullopt;
    const qint64 ms = date.toMSecsSinceEpoch();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

Signature signatureOf(const KPFileNode& node)
{
    return {node.path(), wholeSeconds(node.date()), node.nodeID(), node.tags()};
}

Signature signatureOf(const IFFileItem& row)
{
    return {row.fullPath(), wholeSeconds(row.date), row.fileID, row.tags};
}

struct StoredRow {
    IFFileItem item;
    ManagedObjectPtr object;
    QString fullPath;
};

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
    if (!m_engine->hasStore())
        return std::unexpected(logged(KPIndexFolderDBEngine::StoreUnavailableError,
                                      QStringLiteral("Index folder %1 not compared: the index-folder store is not open")
                                          .arg(rootPath)));
    const QString prefix = rootPath.endsWith(QLatin1Char('/')) ? rootPath : rootPath + QLatin1Char('/');
    const auto predicate = Predicate::format(QStringLiteral("isRemove == NO && (folder == %@ || folder BEGINSWITH %@)"),
                                             {rootPath, prefix});
    if (!predicate)
        return std::unexpected(logged(KPIndexFolderDBEngine::FetchError, predicate.error().toString()));
    const auto fetched = m_engine->fetchRecordsByName(IFFileItem::kEntityName, *predicate, {}, queryContext());
    if (!fetched)
        return std::unexpected(logged(KPIndexFolderDBEngine::FetchError,
                                      QStringLiteral("Index folder %1 not compared: reading its rows failed: %2")
                                          .arg(rootPath, fetched.error().toString())));

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
        if (!fetched->isEmpty()) {
            auto reason = volumeDoubt(*root, !files.isEmpty(), fetched->size());
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

    // 4. Signatures.
    std::vector<StoredRow> rows;
    rows.reserve(size_t(fetched->size()));
    QSet<Signature> rowSignatures;
    for (const ManagedObjectPtr& object : *fetched) {
        StoredRow row{IFFileItem::read(*object), object, {}};
        row.fullPath = row.item.fullPath();
        rowSignatures.insert(signatureOf(row.item));
        rows.push_back(std::move(row));
    }
    QSet<Signature> nodeSignatures;
    nodeSignatures.reserve(files.size());
    for (const auto& file : files)
        nodeSignatures.insert(signatureOf(*file));

    std::vector<qsizetype> removal; // indexes into rows, in fetch order
    for (qsizetype i = 0; i < qsizetype(rows.size()); ++i) {
        if (!nodeSignatures.contains(signatureOf(rows[size_t(i)].item)))
            removal.push_back(i);
    }
    QList<KPFileNode::Ptr> fresh;
    for (const auto& file : files) {
        if (!rowSignatures.contains(signatureOf(*file)))
            fresh.append(file);
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
                IndexFolderModifiedEntry entry{row.object, node->date(), node->nodeID(), std::nullopt};
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
    auto fullChunks = [this](auto& list, auto member) {
        while (list.size() > kChunkSize) {
            IndexFolderDiffChunk chunk;
            chunk.*member = list.mid(0, kChunkSize);
            list.remove(0, kChunkSize);
            handOver(std::move(chunk));
        }
    };
    fullChunks(m_newRecords, &IndexFolderDiffChunk::newRecords);
    fullChunks(m_removeRecords, &IndexFolderDiffChunk::removeRecords);
    fullChunks(m_modifileRecords, &IndexFolderDiffChunk::modifiedRecords);
    fullChunks(m_renameRecords, &IndexFolderDiffChunk::renameRecords);

    IndexFolderDiffChunk last;
    last.newRecords = m_newRecords;
    last.removeRecords = m_removeRecords;
    last.modifiedRecords = m_modifileRecords;
    last.renameRecords = m_renameRecords;
    if (!last.isEmpty()) {
        last.folders = m_folderRecords;
        handOver(std::move(last));
    }
    m_newRecords.clear();
    m_removeRecords.clear();
    m_modifileRecords.clear();
    m_renameRecords.clear();
}
