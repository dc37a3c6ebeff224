#include "Dialogs/Export/ExportOperation.h"

#include "Dialogs/Export/ExportNaming.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/ObjectStore/Predicate/SortDescriptor.h"
#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Store/DBNode.h"
#include "Platform/ObjectStore/FetchRequest.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <cerrno>
#include <utility>
#include <vector>

using platform::FileManager;
using platform::Result;

namespace {

const QString kLogDomain = QStringLiteral("Export");
// A guard against a file system that keeps answering "exists": no folder holds this many
// copies of one title.
constexpr int kMaxCandidates = 100000;

void logFailure(const QString& what, const platform::Error& error)
{
    KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("%1: %2").arg(what, error.toString()));
}

bool isExisting(const Result<void>& result)
{
    return !result && result.error().domain == QLatin1String("POSIX") && result.error().code == EEXIST;
}

// A new folder at the first free candidate of path; a folder already there is taken as it is
// when reuse is set (and it is a real folder, not a link to one).
Result<QString> claimFolder(const QString& path, bool reuse)
{
    for (int n = 1; n <= kMaxCandidates; ++n) {
        const QString candidate = ExportNaming::numberedPath(path, n);
        auto made = FileManager::createDirectory(candidate, false);
        if (made)
            return candidate;
        if (!isExisting(made))
            return std::unexpected(made.error());
        if (reuse) {
            auto attributes = FileManager::attributesOfItem(candidate, false);
            if (attributes && attributes->type == platform::FileType::Directory)
                return candidate;
        }
    }
    return platform::fail(QStringLiteral("POSIX"), EEXIST, QStringLiteral("no free name for %1").arg(path));
}

bool isExported(const DBNode& node)
{
    return !node.isTrash() && (node.type() == DBNode::Collection || node.type() == DBNode::Folder);
}

int liveDocuments(const DBNode& node)
{
    int count = 0;
    for (const DBFileInfo& file : node.files())
        if (!file.isTrash())
            ++count;
    return count;
}

// The documents of node's subtree that would have been exported.
int liveDocumentsBelow(const DBNode& node)
{
    int count = liveDocuments(node);
    for (const DBNode& child : node.children())
        if (isExported(child))
            count += liveDocumentsBelow(child);
    return count;
}

struct Planned {
    DBNode node;
    QString folder;
};

// Walks node's subtree (parents before children) and records a folder for each exported node.
// The parent comes by value: it usually lives in plan, whose growth below would free it.
void planChildren(const Planned parent, std::vector<Planned>& plan, ExportOperation::Summary& summary)
{
    for (const DBNode& child : parent.node.children()) {
        if (!isExported(child))
            continue;
        const QString path = parent.folder + QLatin1Char('/') + ExportNaming::sanitizedComponent(child.title());
        auto folder = claimFolder(path, true);
        if (!folder) {
            logFailure(QStringLiteral("Folder of \"%1\" not made").arg(child.title()), folder.error());
            summary.failed += liveDocumentsBelow(child);
            continue;
        }
        plan.push_back({child, *folder});
        planChildren(plan.back(), plan, summary);
    }
}

// Copies source into folder as "base.ext", or the first free "base_n.ext"; the copy is checked
// against its source and removed again when it differs.
Result<void> copyToFreeName(const ExportOperation::CopyFunction& copy, const QString& source, const QString& folder,
                            const QString& base, const QString& ext)
{
    for (int n = 1; n <= kMaxCandidates; ++n) {
        const QString target = folder + QLatin1Char('/') + ExportNaming::numberedFileName(base, ext, n);
        auto copied = copy(source, target);
        if (isExisting(copied))
            continue;
        if (!copied)
            return copied;
        if (auto same = FileManager::verifyCopy(source, target); !same) {
            (void)FileManager::removeItem(target);
            return same;
        }
        return {};
    }
    return platform::fail(QStringLiteral("POSIX"), EEXIST, QStringLiteral("no free name for %1 in %2").arg(base, folder));
}

// Collections and folders at the top level that are not in the trash, by sortID.
Result<QList<DBNode>> topLevelNodes(const platform::ContextPtr& context)
{
    if (!context)
        return platform::fail(kLogDomain, 3, QStringLiteral("the library store is not open"));
    auto predicate = platform::Predicate::format(
        QStringLiteral("parent == nil && (type == %d || type == %d) && isTrash == NO"),
        {int(DBNode::Collection), int(DBNode::Folder)});
    if (!predicate)
        return std::unexpected(predicate.error());
    platform::FetchRequest request(DBNode::entityName(), *predicate);
    request.sortDescriptors.append(platform::SortDescriptor(QStringLiteral("sortID")));
    auto objects = context->executeFetchRequest(request);
    if (!objects)
        return std::unexpected(objects.error());
    return DBRecord::recordsOf<DBNode>(*objects);
}

} // namespace

ExportOperation::ExportOperation(QString exportFolder)
    : m_exportFolder(std::move(exportFolder)),
      m_copy([](const QString& source, const QString& target) { return FileManager::copyItem(source, target); })
{
}

Result<QString> ExportOperation::settleExportFolder(const QString& chosenFolder)
{
    if (chosenFolder.isEmpty())
        return platform::fail(kLogDomain, 1, QStringLiteral("No folder was chosen for the export"));
    if (auto parent = FileManager::createDirectory(chosenFolder, true); !parent)
        return std::unexpected(parent.error());
    return claimFolder(chosenFolder + QLatin1Char('/') + kExportFolderName, false);
}

ExportOperation::Summary ExportOperation::run(const platform::ContextPtr& context, const ProgressHandler& progress)
{
    Summary summary;
    auto found = topLevelNodes(context);
    if (!found) {
        logFailure(QStringLiteral("Collections not read"), found.error());
        return summary;
    }

    std::vector<Planned> plan;
    for (const DBNode& node : *found) {
        if (isCancelled())
            break;
        auto folder = claimFolder(m_exportFolder + QLatin1Char('/') + ExportNaming::sanitizedComponent(node.title()), false);
        if (!folder) {
            logFailure(QStringLiteral("Folder of \"%1\" not made").arg(node.title()), folder.error());
            summary.failed += liveDocumentsBelow(node);
            continue;
        }
        if (isCancelled())
            break;
        plan.push_back({node, *folder});
        planChildren(plan.back(), plan, summary);
    }

    // The total is counted once and only lowered as documents turn out to be skipped.
    int total = 0;
    for (const Planned& planned : plan)
        total += int(planned.node.files().size());
    if (progress)
        progress(total, 0, QString());

    int counter = 0;
    for (const Planned& planned : plan) {
        if (isCancelled())
            break;
        for (const DBFileInfo& file : planned.node.files()) {
            if (file.isTrash()) {
                --total;
                continue;
            }
            if (isCancelled())
                break;
            ++counter;
            if (progress)
                progress(total, counter, file.title());
            const QString source = DBHelper::CombinFileAbsolutePath(file);
            auto copied = source.isEmpty()
                              ? platform::fail(kLogDomain, 2, QStringLiteral("the document has no file"))
                              : copyToFreeName(m_copy, source, planned.folder,
                                               ExportNaming::sanitizedComponent(file.title()),
                                               ExportNaming::sanitizedExtension(file.pathExtension()));
            if (copied) {
                ++summary.copied;
            } else {
                ++summary.failed;
                logFailure(QStringLiteral("\"%1\" not exported").arg(file.title()), copied.error());
            }
        }
    }
    summary.cancelled = isCancelled();
    return summary;
}
