#include "Platform/DiskImage/DiskImageSeal.h"

#include "Platform/DiskImage/DiskImageRuntime.h"
#include "Platform/DiskImage/DiskImageTool.h"
#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/DiskImage/SbxContainer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace platform::sbx {

namespace {

// Per entry: the record's fixed fields, a path and a few attributes, plus the chunk tags.
constexpr qint64 kSealOverheadPerEntry = 512;
constexpr qint64 kSealMargin = 16ll * 1024 * 1024;

class FdDevice : public QIODevice {
public:
    explicit FdDevice(int fd) : m_fd(fd) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                setErrorString(QString::fromLocal8Bit(strerror(n < 0 ? errno : ENOSPC)));
                return -1;
            }
            done += n;
        }
        return done;
    }

private:
    int m_fd;
};

// A seal's temporary file is "<name>.sealing-<pid>.tmp" beside its container.
QString sealingPrefix(const QString& path)
{
    return QFileInfo(path).fileName() + QStringLiteral(".sealing-");
}

} // namespace

void crashPoint(const char* step)
{
    const QByteArray& at = toolTestHooks().crashAt;
    if (!at.isEmpty() && at == step)
        ::raise(SIGKILL);
}

Result<void> writeSealedContainer(const QString& path, const QByteArray& header, const QByteArray& uuid,
                                  const QByteArray& publicKey, const QByteArray& folder, bool exclusive)
{
    const QString temporary = path + QStringLiteral(".sealing-%1.tmp").arg(::getpid());
    const QByteArray tmpNative = QFile::encodeName(temporary);
    const int fd = ::open(tmpNative.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::unexpected(Error::posix(errno, QStringLiteral("write %1").arg(temporary)));
    Result<void> result;
    {
        FdDevice out(fd);
        if (out.write(header) != header.size())
            result = std::unexpected(containerError(out.errorString()));
        SealWriter writer(&out, uuid, publicKey);
        if (result)
            result = writer.begin();
        if (result) {
            if (folder.isEmpty()) {
                const char end = 0;
                result = writer.write(&end, 1);
            } else {
                result = writeArchive(folder, [&writer](const char* data, qsizetype size) { return writer.write(data, size); });
            }
        }
        if (result)
            result = writer.finish();
    }
    if (result && ::fsync(fd) != 0)
        result = std::unexpected(Error::posix(errno, QStringLiteral("sync %1").arg(temporary)));
    ::close(fd);
    if (result) {
        crashPoint("seal-written");
        const QByteArray target = QFile::encodeName(path);
        const int rc = exclusive ? ::renameat2(AT_FDCWD, tmpNative.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE)
                                 : ::rename(tmpNative.constData(), target.constData());
        if (rc != 0)
            result = std::unexpected(Error::posix(errno, QStringLiteral("rename to %1").arg(path)));
    }
    if (!result) {
        ::unlink(tmpNative.constData());
        return result;
    }
    syncFolderOf(path);
    crashPoint("seal-renamed");
    return {};
}

void sweepDeadSeals(const QString& store)
{
    const QFileInfo info(store);
    const QString prefix = sealingPrefix(store);
    const QString own = prefix + QStringLiteral("%1.tmp").arg(::getpid());
    const QDir folder(info.absolutePath());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name.startsWith(prefix) && name.endsWith(QLatin1String(".tmp")) && name != own)
            QFile::remove(folder.filePath(name));
    }
}

Result<void> sealFolder(const QString& store, const QString& mount)
{
    sweepDeadSeals(store);
    QFile file(store);
    if (!file.open(QIODevice::ReadOnly))
        return std::unexpected(containerError(file.errorString()));
    auto header = parseHeader(file.read(kHeaderSize));
    file.close();
    if (!header)
        return std::unexpected(header.error());
    return writeSealedContainer(store, header->currentOnly(), header->current().uuid, header->current().publicKey,
                                QFile::encodeName(mount), false);
}

Result<void> checkSealRoom(const QString& store, const QString& mount)
{
    const TreeSize tree = measureTree(QFile::encodeName(mount));
    const qint64 needed = qint64(tree.contentBytes) + qint64(tree.entries) * kSealOverheadPerEntry + kSealMargin;
    const qint64 free = freeBytes(QFileInfo(store).absolutePath());
    if (free >= 0 && free < needed)
        return std::unexpected(Error{QStringLiteral("SafeBoxSeal"), ENOSPC, QStringLiteral("No space left on device")});
    return {};
}

} // namespace platform::sbx
