#include "TagMeta/TagMetaUpgradeOperation.h"

#include "Platform/Metadata/MetadataQuery.h"
#include "TagMeta/TagMeta.h"
#include "TagMeta/TagMetaBackup.h"
#include "TagMeta/TagMetaBackupState.h"
#include "TagMeta/TagMetaClock.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QThread>

namespace {

std::atomic<int> g_updateBatches{0};

} // namespace

void TagMetaUpgradeOperation::main()
{
    if (!upgradeFoundItems())
        return;
    auto& state = TagMetaBackupState::shared();
    std::unique_lock lock(state.lock);
    state.terminatingWake.wait(lock, [&] { return state.terminating.load(); });
}

bool TagMetaUpgradeOperation::upgradeFoundItems()
{
    auto query = platform::MetadataQuery::create(mdQueryString.isEmpty() ? kDefaultQuery : mdQueryString);
    const auto found = query ? (query->setSearchScopes(searchScopes), query->execute())
                             : platform::Result<QStringList>(std::unexpected(query.error()));
    if (!found) {
        KPLogLogMessage(QStringLiteral("MDQuery to upgrade open meta tags for snow leopard failed to start."));
        return false;
    }
    progressUpradeQuery(*found, {});
    finishedUpradeQuery();
    return true;
}

void TagMetaUpgradeOperation::upgradeTagsOnItem(const QString& path)
{
    if (path.isEmpty() || TagMetaBackup::isTerminating())
        return;
    const QString k = key();
    const QString oldName = QStringLiteral("com.apple.metadata:kTM") + k;
    const QString newSpotlight = QStringLiteral("com.apple.metadata:kMDItemTM") + k;
    const QString newValue = QStringLiteral("org.tagmetainfo:kMDItemTM") + k;
    const QString newTime = QStringLiteral("org.tagmetainfo.time:kMDItemTM") + k;

    TagMeta::ErrorSlot error;
    const QVariant old = TagMeta::getXAttr(oldName, path, &error);
    // Nothing readable to carry over: writing "nothing" would only remove attributes.
    if (error || !old.isValid())
        return;
    if (TagMeta::getXAttr(newSpotlight, path).isValid())
        return;
    TagMeta::setXAttr(old, newValue, path);
    TagMeta::setXAttr(old, newSpotlight, path);
    TagMeta::setXAttr(TagMetaClock::now(), newTime, path);
    QThread::msleep(kPauseAfterUpgradeMs);
}

void TagMetaUpgradeOperation::progressUpradeQuery(const QStringList& results, const QStringList& changedItems)
{
    for (const QString& path : results)
        upgradeTagsOnItem(path);
    for (const QString& path : changedItems)
        upgradeTagsOnItem(path);
}

void TagMetaUpgradeOperation::updatedUpradeQuery(const QStringList& addedItems)
{
    if (g_updateBatches.fetch_add(1) > kMaxUpdateBatches)
        return;
    for (const QString& path : addedItems)
        upgradeTagsOnItem(path);
}

// ---- The starter of TagMetaBackup --------------------------------------------------------

void TagMetaBackup::upgradeTagMetaTokMDItemTM()
{
    auto& state = TagMetaBackupState::shared();
    std::lock_guard lock(state.lock);
    if (state.upgradeStarted || state.terminating.load())
        return;
    state.upgradeStarted = true;
    state.upgradeThread = std::thread([] {
        TagMetaUpgradeOperation operation;
        operation.main();
    });
}
