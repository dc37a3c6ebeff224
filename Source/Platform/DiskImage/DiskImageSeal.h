// Writing a container: the whole file is written under a temporary name, synced and renamed over
// the old one, so a crash at any step leaves either the old or the new container whole.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>

namespace platform::sbx {

// Writes header + a payload sealed to publicKey holding the tree below folder (an empty payload
// when folder is empty). exclusive: fail instead of replacing an existing file.
Result<void> writeSealedContainer(const QString& path, const QByteArray& header, const QByteArray& uuid,
                                  const QByteArray& publicKey, const QByteArray& folder, bool exclusive);

// Seals the open folder into store, keeping the store's current header slot (a pass-phrase
// change made while the box is open stays) and leaving out a stale one. The caller holds the
// store lock.
Result<void> sealFolder(const QString& store, const QString& mount);

// Removes what seals killed half-way left beside store (their temporary files, each as large as
// a container). The caller holds the store lock, so no seal of this store is running.
void sweepDeadSeals(const QString& store);

// Whether the store's file system has room for a seal of the folder beside the old container.
Result<void> checkSealRoom(const QString& store, const QString& mount);

// The test build's fault injection: kills the process when its crash hook names this step.
void crashPoint(const char* step);

} // namespace platform::sbx
