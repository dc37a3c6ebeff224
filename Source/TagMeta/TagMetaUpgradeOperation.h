// Carrying tags from the old key `kTMUserTags` over to `kMDItemTMUserTags` on every file a
// metadata query finds with only the old key.
//
// Started at most once per run (TagMetaBackup::upgradeTagMetaTokMDItemTM); it upgrades what
// the query finds and then stays until shut-down. The metadata query reports its results once
// and sends no later updates, so files tagged under the old key after the walk wait for the
// next run.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>

class TagMetaUpgradeOperation {
public:
    static inline const QString kDefaultQuery = QStringLiteral("((kTMUserTags == *) && (kMDItemTMUserTags != *))");
    static inline const QString kDefaultKey = QStringLiteral("UserTags");
    // Pause after each upgraded file, so a large upgrade does not saturate the disk.
    static constexpr int kPauseAfterUpgradeMs = 60;
    // Update batches handled per run.
    static constexpr int kMaxUpdateBatches = 100;

    QString mdQueryString;
    QString keyToSet;
    QStringList searchScopes; // empty: the home folder

    // Upgrades what the query finds, then waits for shut-down.
    void main();
    // Runs the query once and upgrades its results; false when the query could not start.
    bool upgradeFoundItems();
    void upgradeTagsOnItem(const QString& path);
    void progressUpradeQuery(const QStringList& results, const QStringList& changedItems);
    void updatedUpradeQuery(const QStringList& addedItems);
    void finishedUpradeQuery() {}
    void keepLiveRepairAlive() {}

private:
    QString key() const { return keyToSet.isEmpty() ? kDefaultKey : keyToSet; }
};
