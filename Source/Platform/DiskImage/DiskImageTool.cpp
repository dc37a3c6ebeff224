#include "Platform/DiskImage/DiskImageTool.h"

#include "Platform/DiskImage/DiskImageRuntime.h"
#include "Platform/DiskImage/DiskImageSeal.h"
#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/DiskImage/SbxContainer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform::sbx {

namespace {

// Room kept free besides the box's own bytes, so that opening or sealing a box never fills a
// folder to the last block.
constexpr qint64 kRoomMargin = 16ll * 1024 * 1024;

int failure(FILE* stream, const char* op, const QString& reason)
{
    fprintf(stream, "folivo-hdiutil: %s failed - %s\n", op, reason.toUtf8().constData());
    fflush(stream);
    return 1;
}

QByteArray passphraseOf(const QByteArray& input)
{
    QByteArray pp = input;
    if (pp.endsWith('\n'))
        pp.chop(1);
    return pp;
}

// The value after a flag ("-size 100"), or the empty text.
QString option(const QStringList& args, const QString& flag)
{
    const qsizetype i = args.indexOf(flag);
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : QString();
}

Result<Header> readHeaderOf(const QString& store)
{
    QFile file(store);
    if (!file.open(QIODevice::ReadOnly))
        return std::unexpected(containerError(file.exists() ? file.errorString()
                                                            : QStringLiteral("No such file or directory")));
    return parseHeader(file.read(kHeaderSize));
}

Result<void> writeAt(int fd, const QByteArray& bytes, off_t offset, const QString& store)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::unexpected(Error::posix(n < 0 ? errno : ENOSPC, QStringLiteral("write %1").arg(store)));
        done += n;
    }
    if (::fsync(fd) != 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("sync %1").arg(store)));
    return {};
}

// Puts slot in place of the header's current one. The new slot goes into the other half and is
// synced first, so a crash in between leaves one slot that opens; only then is the old slot
// wiped, so no slot is left that an earlier pass phrase opens (after a change of pass phrase,
// whoever knew the old one must not be able to read the box, nor fall back to it by damaging the
// new slot). Killed in between, the old slot is wiped by the next attach or seal.
Result<void> replaceSlot(const QString& store, const Header& header, const Slot& slot)
{
    const int fd = ::open(QFile::encodeName(store).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("open %1").arg(store)));
    const int fresh = 1 - header.active;
    Result<void> result = writeAt(fd, encodeSlot(slot), off_t(fresh) * kSlotSize, store);
    if (result)
        crashPoint("slot-written");
    if (result)
        result = writeAt(fd, QByteArray(kSlotSize, '\0'), off_t(header.active) * kSlotSize, store);
    ::close(fd);
    return result;
}

// Wipes the slot a change or resize killed half-way left beside the current one. A store that
// cannot be written keeps it until the next seal, which writes the header without it.
void wipeStaleSlot(const QString& store, const Header& header)
{
    if (!header.hasStaleSlot())
        return;
    const int fd = ::open(QFile::encodeName(store).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)writeAt(fd, QByteArray(kSlotSize, '\0'), off_t(1 - header.active) * kSlotSize, store);
    ::close(fd);
}

// Reads the payload with the box's private key, into folder (or only counting).
Result<ExtractStats> openPayload(const QString& store, const Header& header, const QByteArray& privateKey,
                                 const QByteArray& folder, bool countOnly)
{
    QFile file(store);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(kHeaderSize))
        return std::unexpected(containerError(file.errorString()));
    OpenReader reader(&file, header.current().uuid, privateKey);
    if (auto r = reader.begin(); !r)
        return std::unexpected(r.error());
    const ArchiveRead read = [&reader](char* data, qsizetype size) { return reader.read(data, size); };
    return extractArchive(read, folder, countOnly);
}

bool isBoxAttached(const QString& store)
{
    const QString absolute = QFileInfo(store).absoluteFilePath();
    for (const QString& device : registeredDevices()) {
        const auto entry = readRegistryEntry(device);
        if (entry && QFileInfo(entry->image).absoluteFilePath() == absolute && QFileInfo(entry->mount).isDir())
            return true;
    }
    return false;
}

// Plaintext left behind by an attach or a detach that was killed half-way.
void removeLeftovers(const QString& root, const QString& mount, const QString& id)
{
    const QDir dir(root);
    const QString mountName = QFileInfo(mount).fileName();
    const QStringList names = dir.entryList({mountName + QStringLiteral(".partial-*"), QStringLiteral(".removing-%1-*").arg(id)},
                                            QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        QDir(dir.filePath(name)).removeRecursively();
}

qint64 startSealer(const QString& device, bool adopted)
{
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0)
        return 0;
    exe[n] = '\0';
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    // Its own session: the sealer must outlive the program and its terminal.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const QByteArray dev = device.toUtf8();
    char arg0[] = "folivo-hdiutil";
    char arg1[] = "__sealer";
    char arg3[] = "adopt";
    char* argv[] = {arg0, arg1, const_cast<char*>(dev.constData()), adopted ? arg3 : nullptr, nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, exe, &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : 0;
}

// The sealer, our child until this tool ends, records its pid once it watches the folder.
// Answers why it did not, or nothing. Its exit is seen through waitpid: right after the spawn its
// command line can still be empty, so the registry's liveness test would call it dead.
QString waitForSealer(const QString& device, qint64 pid)
{
    if (pid <= 0)
        return QStringLiteral("it could not be run");
    for (int i = 0; i < 30 * 200; ++i) {
        const SealStatus status = readSealStatus(device);
        if (status.sealerPid == pid)
            return {};
        int wstatus = 0;
        if (::waitpid(pid_t(pid), &wstatus, WNOHANG) == pid_t(pid))
            return status.lastFailure.isEmpty() ? QStringLiteral("it ended at once") : status.lastFailure;
        ::usleep(5000);
    }
    // Not left running beside the next attempt's sealer.
    ::kill(pid_t(pid), SIGTERM);
    return QStringLiteral("it did not answer");
}

void standDownSealer(const QString& device, qint64 pid)
{
    if (!isSealerAlive(pid, device))
        return;
    ::kill(pid_t(pid), SIGTERM);
    // A seal under way finishes first; a large box can take minutes, so the wait is long.
    for (int i = 0; i < 60 * 60 * 50 && isSealerAlive(pid, device); ++i)
        ::usleep(20000);
}

// The registry's sealer and the one the status names: a tool killed between starting a sealer
// and recording it leaves the second one only there, and it must not go on beside the next.
void standDownSealers(const QString& device, qint64 registered)
{
    standDownSealer(device, registered);
    if (const qint64 recorded = readSealStatus(device).sealerPid; recorded != registered)
        standDownSealer(device, recorded);
}

int create(const QStringList& args, ToolStreams& io)
{
    const char* op = "create";
    if (args.size() < 2 || !args.contains(QStringLiteral("-stdinpass")))
        return failure(io.out, op, QStringLiteral("usage: create -encryption E -volname N -size S -type UDIF -fs HFS+ -stdinpass <path>"));
    const QString store = args.last();
    const QString image = store + QStringLiteral(".dmg");
    bool sizeOk = false;
    const quint64 capacity = option(args, QStringLiteral("-size")).toULongLong(&sizeOk);
    if (!sizeOk || capacity == 0)
        return failure(io.out, op, QStringLiteral("invalid size"));
    if (QFileInfo::exists(store) || QFileInfo::exists(image))
        return failure(io.out, op, QStringLiteral("File exists"));
    if (!QFileInfo(QFileInfo(store).absolutePath()).isDir())
        return failure(io.out, op, QStringLiteral("No such file or directory"));
    const QByteArray pp = passphraseOf(io.input);
    if (pp.isEmpty())
        return failure(io.out, op, QStringLiteral("no pass phrase on standard input"));

    ScryptParams kdf;
    if (const int testLogN = toolTestHooks().scryptLogN; testLogN >= 1 && testLogN <= 16)
        kdf.logN = quint8(testLogN);
    auto keys = x25519Generate();
    if (!keys)
        return failure(io.out, op, QStringLiteral("no key could be made"));
    Slot base;
    base.sequence = 1;
    base.uuid = randomBytes(16);
    base.capacity = capacity;
    base.volumeName = option(args, QStringLiteral("-volname")).toUtf8().left(255);
    base.encryptionName = option(args, QStringLiteral("-encryption")).toUtf8().left(64);
    auto slot = makeSlot(pp, kdf, base, keys->privateKey.bytes());
    if (!slot)
        return failure(io.out, op, slot.error().message);
    const QByteArray header = encodeSlot(*slot) + QByteArray(kSlotSize, '\0');
    auto written = writeSealedContainer(image, header, slot->uuid, slot->publicKey, QByteArray(), /*exclusive=*/true);
    if (!written)
        return failure(io.out, op, written.error().message);
    fprintf(io.out, "created: %s\n", image.toUtf8().constData());
    fflush(io.out);
    return 0;
}

int attach(const QStringList& args, ToolStreams& io)
{
    const char* op = "attach";
    const QString mount = QDir::cleanPath(option(args, QStringLiteral("-mountpoint")));
    if (args.size() < 2 || mount.isEmpty() || !args.contains(QStringLiteral("-stdinpass")))
        return failure(io.err, op, QStringLiteral("usage: attach -mountpoint <folder> -stdinpass -nobrowse <path>"));
    const QString store = QFileInfo(args.last()).absoluteFilePath();
    auto root = ensureRuntimeFolder();
    if (!root)
        return failure(io.err, op, root.error().message);
    if (QFileInfo(mount).absolutePath() != *root || !QFileInfo(mount).fileName().startsWith(QLatin1Char('.')))
        return failure(io.err, op, QStringLiteral("the mount point must be a hidden folder of the private runtime folder %1").arg(*root));

    StoreLock lock(store);
    if (!lock.isLocked())
        return failure(io.err, op, lock.errorText());
    sweepDeadSeals(store);
    auto header = readHeaderOf(store);
    if (!header)
        return failure(io.err, op, header.error().message);
    auto key = unlock(header->current(), passphraseOf(io.input));
    if (!key)
        return failure(io.err, op, key.error().message);
    wipeStaleSlot(store, *header);
    const Slot& slot = header->current();
    const QString device = deviceForBox(slot.uuid, store);
    const QString uuidHex = QString::fromLatin1(slot.uuid.toHex());
    // Whatever owns the name when it is not this box, its sealer and its entry are not ours to
    // stand down or overwrite.
    if (const auto owner = readRegistryEntry(device); owner && QFileInfo(owner->image).absoluteFilePath() != store)
        return failure(io.err, op, QStringLiteral("the name %1 is in use by another box (%2); nothing was changed")
                                       .arg(device, owner->image));
    removeLeftovers(*root, mount, deviceId(device));

    bool adopted = false;
    if (QFileInfo(mount).exists()) {
        const auto record = readAttachedRecord(mount);
        if (record && record->uuidHex == uuidHex) {
            // Its plaintext is newer than the container: a program or tool died with the box open.
            adopted = true;
        } else if (!QFileInfo(mount).isDir() || !QDir(mount).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                   || !QDir().rmdir(mount)) {
            return failure(io.err, op, QStringLiteral("mount point busy"));
        }
    }
    if (!adopted) {
        const qint64 free = freeBytes(*root);
        if (free >= 0 && free < QFileInfo(store).size() + kRoomMargin)
            return failure(io.err, op, QStringLiteral("No space left on device in the private runtime folder"));
        const QString partial = mount + QStringLiteral(".partial-%1").arg(::getpid());
        const QByteArray partialNative = QFile::encodeName(partial);
        if (::mkdir(partialNative.constData(), 0700) != 0)
            return failure(io.err, op, QString::fromLocal8Bit(strerror(errno)));
        auto extracted = openPayload(store, *header, key->bytes(), partialNative, false);
        Result<void> recorded;
        if (extracted)
            recorded = writeAttachedRecord(partial, {uuidHex, store, device, slot.capacity});
        if (!extracted || !recorded
            || ::rename(partialNative.constData(), QFile::encodeName(mount).constData()) != 0) {
            const QString why = !extracted ? extracted.error().message
                                : !recorded ? recorded.error().message
                                            : QString::fromLocal8Bit(strerror(errno));
            QDir(partial).removeRecursively();
            return failure(io.err, op, why);
        }
        syncFolderOf(mount);
    }

    RegistryEntry entry;
    entry.device = device;
    entry.image = store;
    entry.mount = mount;
    entry.uuidHex = uuidHex;
    entry.capacity = slot.capacity;
    const auto existing = readRegistryEntry(device);
    const bool sealerRunning = adopted && existing && existing->image == store && isSealerAlive(existing->sealerPid, device);
    if (sealerRunning) {
        entry.sealerPid = existing->sealerPid;
    } else {
        standDownSealers(device, existing ? existing->sealerPid : 0);
        SealStatus status = adopted ? readSealStatus(device) : SealStatus{};
        if (!adopted)
            status.sealedAtRealNs = realtimeNowNs(); // the folder is exactly the container now
        status.sealerPid = 0;
        (void)writeSealStatus(device, status);
        if (auto r = writeRegistryEntry(entry); !r)
            return failure(io.err, op, r.error().message);
        entry.sealerPid = startSealer(device, adopted);
        // The mount point must not appear in a failure text: the driver would read it as success.
        if (const QString why = waitForSealer(device, entry.sealerPid); !why.isEmpty())
            return failure(io.err, op, QStringLiteral("the sealer could not be started (%1); the box stays open").arg(why));
    }
    if (auto r = writeRegistryEntry(entry); !r)
        return failure(io.err, op, r.error().message);
    const QByteArray dev = device.toUtf8();
    fprintf(io.out, "%s\tGUID_partition_scheme\t\n%ss1\tfolivo_sealed_dir\t%s\n", dev.constData(), dev.constData(),
            mount.toUtf8().constData());
    fflush(io.out);
    return 0;
}

int detach(const QStringList& args, ToolStreams& io)
{
    const char* op = "detach";
    const QString device = args.isEmpty() ? QString() : args.last();
    auto entry = readRegistryEntry(device);
    if (!entry)
        return failure(io.out, op, QStringLiteral("No such device"));
    const auto succeed = [&] {
        removeRegistryEntry(device);
        const QByteArray dev = device.toUtf8();
        fprintf(io.out, "\"%s\" unmounted.\n\"%s\" ejected.\n", dev.constData(), dev.constData());
        fflush(io.out);
        return 0;
    };
    standDownSealers(device, entry->sealerPid);
    StoreLock lock(entry->image);
    if (!lock.isLocked())
        return failure(io.out, op, lock.errorText());
    const QString root = QFileInfo(entry->mount).absolutePath();
    removeLeftovers(root, entry->mount, deviceId(device));
    if (!QFileInfo(entry->mount).isDir())
        return succeed(); // nothing to seal: never seal an absent folder
    const auto record = readAttachedRecord(entry->mount);
    if (!record || record->uuidHex != entry->uuidHex)
        return failure(io.out, op, QStringLiteral("the open folder %1 is no longer marked as this box; nothing was changed").arg(entry->mount));

    const auto restartSealer = [&] {
        entry->sealerPid = startSealer(device, true);
        (void)writeRegistryEntry(*entry);
        waitForSealer(device, entry->sealerPid);
    };
    // The last seal serves only when nothing changed after it began; the file times decide, not
    // the sealer's memory, which may have missed a change made just before it stood down.
    const SealStatus status = readSealStatus(device);
    if (status.sealedAtRealNs == 0 || !status.lastFailure.isEmpty()
        || treeChangedSince(QFile::encodeName(entry->mount), status.sealedAtRealNs - kStatusTimeSlackNs)) {
        if (auto room = checkSealRoom(entry->image, entry->mount); !room) {
            restartSealer();
            return failure(io.out, op, room.error().message);
        }
        if (auto sealed = sealFolder(entry->image, entry->mount); !sealed) {
            restartSealer();
            return failure(io.out, op, sealed.error().message);
        }
    }
    const QString removing = root + QStringLiteral("/.removing-%1-%2").arg(deviceId(device)).arg(::getpid());
    if (::rename(QFile::encodeName(entry->mount).constData(), QFile::encodeName(removing).constData()) != 0)
        return failure(io.out, op, QString::fromLocal8Bit(strerror(errno)));
    crashPoint("detach-removing");
    QDir(removing).removeRecursively();
    syncFolderOf(removing);
    return succeed();
}

// Starts a sealer again for an open box whose sealer died, so its changes are sealed once more.
// No pass phrase is needed: a sealer seals to the box's public key.
int resume(const QStringList& args, ToolStreams& io)
{
    const char* op = "resume";
    const QString device = args.isEmpty() ? QString() : args.last();
    auto entry = readRegistryEntry(device);
    if (!entry)
        return failure(io.out, op, QStringLiteral("No such device"));
    StoreLock lock(entry->image);
    if (!lock.isLocked())
        return failure(io.out, op, lock.errorText());
    // Again under the lock: a detach may have closed the box meanwhile.
    entry = readRegistryEntry(device);
    if (!entry)
        return failure(io.out, op, QStringLiteral("No such device"));
    const auto record = readAttachedRecord(entry->mount);
    if (!QFileInfo(entry->mount).isDir() || !record || record->uuidHex != entry->uuidHex)
        return failure(io.out, op, QStringLiteral("the open folder is gone or no longer marked as this box"));
    if (!isSealerAlive(entry->sealerPid, device)) {
        standDownSealers(device, 0);
        entry->sealerPid = startSealer(device, true);
        if (const QString why = waitForSealer(device, entry->sealerPid); !why.isEmpty())
            return failure(io.out, op, QStringLiteral("the sealer could not be started (%1)").arg(why));
        if (auto r = writeRegistryEntry(*entry); !r)
            return failure(io.out, op, r.error().message);
    }
    fprintf(io.out, "\"%s\" resumed.\n", device.toUtf8().constData());
    fflush(io.out);
    return 0;
}

int chpass(const QStringList& args, ToolStreams& io)
{
    const char* op = "chpass";
    if (args.isEmpty())
        return failure(io.err, op, QStringLiteral("usage: chpass <path>"));
    const QString store = args.last();
    const QList<QByteArray> parts = io.input.split('\0');
    if (parts.size() < 2 || parts.at(0).isEmpty() || parts.at(1).isEmpty())
        return failure(io.err, op, QStringLiteral("the old and the new pass phrase are expected on standard input"));
    StoreLock lock(store);
    if (!lock.isLocked())
        return failure(io.err, op, lock.errorText());
    auto header = readHeaderOf(store);
    if (!header)
        return failure(io.err, op, header.error().message);
    auto key = unlock(header->current(), parts.at(0));
    if (!key)
        return failure(io.err, op, key.error().message);
    Slot base = header->current();
    base.sequence += 1;
    auto slot = makeSlot(parts.at(1), base.kdf, base, key->bytes());
    if (!slot)
        return failure(io.err, op, slot.error().message);
    if (auto r = replaceSlot(store, *header, *slot); !r)
        return failure(io.err, op, r.error().message);
    return 0;
}

int resize(const QStringList& args, ToolStreams& io)
{
    const char* op = "resize";
    bool ok = false;
    const quint64 capacity = option(args, QStringLiteral("-size")).toULongLong(&ok);
    if (args.size() < 2 || !ok || capacity == 0)
        return failure(io.err, op, QStringLiteral("invalid size"));
    const QString store = args.last();
    StoreLock lock(store);
    if (!lock.isLocked())
        return failure(io.err, op, lock.errorText());
    auto header = readHeaderOf(store);
    if (!header)
        return failure(io.err, op, header.error().message);
    const QByteArray pp = passphraseOf(io.input);
    auto key = unlock(header->current(), pp);
    if (!key)
        return failure(io.err, op, key.error().message);
    if (isBoxAttached(store))
        return failure(io.err, op, QStringLiteral("the box is open; lock it first"));
    auto content = openPayload(store, *header, key->bytes(), QByteArray(), true);
    if (!content)
        return failure(io.err, op, content.error().message);
    if (capacity < content->contentBytes)
        return failure(io.err, op, QStringLiteral("the new size (%1 bytes) is below the size of the box's content (%2 bytes)")
                                       .arg(capacity).arg(content->contentBytes));
    Slot base = header->current();
    base.sequence += 1;
    base.capacity = capacity;
    auto slot = makeSlot(pp, base.kdf, base, key->bytes());
    if (!slot)
        return failure(io.err, op, slot.error().message);
    if (auto r = replaceSlot(store, *header, *slot); !r)
        return failure(io.err, op, r.error().message);
    return 0;
}

int info(ToolStreams& io)
{
    for (const QString& device : registeredDevices()) {
        const auto entry = readRegistryEntry(device);
        if (!entry || !QFileInfo(entry->mount).isDir())
            continue;
        const auto record = readAttachedRecord(entry->mount);
        if (!record || record->uuidHex != entry->uuidHex)
            continue;
        fprintf(io.out,
                "================================================\n"
                "image-path      : %s\n"
                "mount-point     : %s\n"
                "process ID      : %lld\n"
                "%s\tGUID_partition_scheme\t\n",
                entry->image.toUtf8().constData(), entry->mount.toUtf8().constData(),
                static_cast<long long>(entry->sealerPid), device.toUtf8().constData());
    }
    fflush(io.out);
    return 0;
}

ToolTestHooks& hooksStorage()
{
    static ToolTestHooks hooks;
    return hooks;
}

} // namespace

void setToolTestHooks(const ToolTestHooks& hooks)
{
    hooksStorage() = hooks;
}

const ToolTestHooks& toolTestHooks()
{
    return hooksStorage();
}

int runTool(const QStringList& arguments, ToolStreams& streams)
{
    const QString command = arguments.value(0);
    const QStringList args = arguments.mid(1);
    if (command == QLatin1String("create"))
        return create(args, streams);
    if (command == QLatin1String("attach"))
        return attach(args, streams);
    if (command == QLatin1String("detach"))
        return detach(args, streams);
    if (command == QLatin1String("chpass"))
        return chpass(args, streams);
    if (command == QLatin1String("resume"))
        return resume(args, streams);
    if (command == QLatin1String("resize"))
        return resize(args, streams);
    if (command == QLatin1String("info"))
        return info(streams);
    if (command == QLatin1String("__sealer"))
        return runSealer(args.value(0), args.value(1) == QLatin1String("adopt"));
    fprintf(streams.err, "usage: folivo-hdiutil create|attach|detach|resume|chpass|resize|info …\n");
    return 1;
}

} // namespace platform::sbx
