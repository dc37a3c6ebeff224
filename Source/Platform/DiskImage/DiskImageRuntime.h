// Where an open SafeBox lives and what the tool records about it, shared by the tool and by the
// program (which reads the sealer's status and the volume figures).
//
// An open box is plaintext, so it lives only in the user's private runtime folder
// ("$XDG_RUNTIME_DIR/Folivo 2/SafeBox", 0700, owned by the user, cleared at the end of the login
// session): never in the library, never in a shared or persistent folder. Beside the mount
// folders, "attached/" holds one registry entry per open box ("<id>.json") and the sealer's
// status record ("<id>.state"), each written to a temporary name and renamed.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace platform::sbx {

// "$XDG_RUNTIME_DIR/Folivo 2/SafeBox" as text; empty when the session has no runtime folder.
QString runtimeFolderPath();
// The same folder made and checked (a real 0700 folder of this user, with a CACHEDIR.TAG so
// backup tools skip it); a clear failure when the session has none.
Result<QString> ensureRuntimeFolder();

// "/dev/folivo-sbx-<32 hex digits>": a name only, no device node exists. It stands for the box's
// whole identity, its UUID and the place of its store file: a copied library's box carries the
// same UUID as the one it was copied from, and the two must never share a registry entry or a
// sealer.
QString deviceForBox(const QByteArray& uuid, const QString& storeFile);
// The hex digits of a device name (32, or 8 for a name an earlier tool gave); empty when it is
// not one of ours.
QString deviceId(const QString& device);

struct RegistryEntry {
    QString device;
    QString image;
    QString mount;
    QString uuidHex;
    quint64 capacity = 0;
    qint64 sealerPid = 0;
};
QString registryFolder(); // inside the runtime folder
Result<RegistryEntry> readRegistryEntry(const QString& device);
Result<void> writeRegistryEntry(const RegistryEntry& entry);
void removeRegistryEntry(const QString& device);
QStringList registeredDevices();

// What the sealer records after every seal: how many seals it has made and when (machine-wide
// monotonic clock) the last one began reading the folder, so a caller that changed something at
// time t knows the change is in the container once a seal began after t.
struct SealStatus {
    quint64 generation = 0;
    qint64 lastSealBeganNs = 0;
    // The same moment on the wall clock, which file status times use: anything in the folder
    // whose status changed after it may be missing from the container. For a fresh attach, the
    // moment the folder was complete.
    qint64 sealedAtRealNs = 0;
    QString lastFailure;
    qint64 sealerPid = 0;
};
SealStatus readSealStatus(const QString& device);
Result<void> writeSealStatus(const QString& device, const SealStatus& status);
qint64 monotonicNowNs();
qint64 realtimeNowNs();
// File status times come from a coarse clock that can lag the wall clock by a tick; a change is
// counted when its time lies within this of the last seal.
inline constexpr qint64 kStatusTimeSlackNs = 100ll * 1000 * 1000;

// Asks the device's sealer for a seal that begins after this call, even when nothing in the
// folder changes any more: a caller that waits for a seal after time t cannot rely on a change
// still to come (a seal may have begun between its last change and t). The request is a file
// beside the status record ("<id>.seal-request"), whose arrival wakes the sealer.
Result<void> requestSeal(const QString& device);
// For the sealer: whether a seal was asked for since the last call; the request is taken.
bool takeSealRequest(const QString& device);
// Where the request file of the device lies (the sealer watches its folder); empty for a name
// that is not one of ours.
QString sealRequestPath(const QString& device);

// Whether pid is a live sealer of this device (not a zombie, not a recycled pid).
bool isSealerAlive(qint64 pid, const QString& device);

// The record inside a mount folder that marks it as a box attached by the tool.
struct AttachedRecord {
    QString uuidHex;
    QString image;
    QString device;
    quint64 capacity = 0;
};
Result<AttachedRecord> readAttachedRecord(const QString& mount);
Result<void> writeAttachedRecord(const QString& folder, const AttachedRecord& record);

// Exclusive flock on "<store's folder>/.<store name>.lock" for the object's lifetime; blocks
// until it is free. Serialises attach, seals, detach, chpass and resize of one box across
// processes and program instances.
class StoreLock {
public:
    explicit StoreLock(const QString& storeFile);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool isLocked() const { return m_fd >= 0; }
    QString errorText() const { return m_error; }

private:
    int m_fd = -1;
    QString m_error;
};

// Writes bytes to path through a temporary file that is synced and renamed, then syncs the folder.
Result<void> writeFileDurably(const QString& path, const QByteArray& bytes);
void syncFolderOf(const QString& path);

// Free bytes for an unprivileged user on the file system holding path; -1 when unknown.
qint64 freeBytes(const QString& path);

} // namespace platform::sbx
