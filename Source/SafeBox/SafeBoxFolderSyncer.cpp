#include "SafeBox/SafeBoxFolderSyncer.h"

#include "Import/KPFileFormatManager.h"
#include "Platform/DiskImage/SbxArchive.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/XAttr.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QDateTime dateOfNs(qint64 ns)
{
    return ns == 0 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(ns / 1000000, QTimeZone::utc());
}

qint64 birthTimeNs(const QString& path, const QByteArray& relative, const platform::sbx::Sidecar& sidecar)
{
    if (auto stored = platform::XAttr::get(path, platform::sbx::kBirthTimeAttribute)) {
        bool ok = false;
        const qint64 value = stored->trimmed().toLongLong(&ok);
        if (ok && value)
            return value;
    }
    const auto side = sidecar.constFind(relative);
    if (side != sidecar.constEnd() && side->birthTimeNs)
        return side->birthTimeNs;
    struct statx sx{};
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0
        && (sx.stx_mask & STATX_BTIME))
        return qint64(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
    return 0;
}

} // namespace

std::shared_ptr<SafeBoxFolderSyncer> SafeBoxFolderSyncer::create(const QString& folderPath)
{
    return std::shared_ptr<SafeBoxFolderSyncer>(new SafeBoxFolderSyncer(folderPath));
}

void SafeBoxFolderSyncer::startSyncWithCompleted(Completed block)
{
    platform::Dispatch::async(platform::DispatchQueue::global(), [self = shared_from_this(), block = std::move(block)] {
        // The thumbnails of the listed items are written into this folder: a link put in its
        // place (by anything that can write the open box) would have them written elsewhere.
        const QByteArray thumbnails = QFile::encodeName(self->folderPath) + '/' + platform::sbx::kThumbnailFolderName;
        struct stat st{};
        if (::lstat(thumbnails.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
            ::unlink(thumbnails.constData());
            KPLogLogDomainMessage(QStringLiteral("SafeBox"), 0,
                                  QStringLiteral("a link stood at %1; removed").arg(QFile::decodeName(thumbnails)));
        }
        self->snapShotByPath(self->folderPath, 0);
        if (self->bCancel.load())
            return;
        platform::Dispatch::main([self, block] {
            if (!self->bCancel.load() && block)
                block(self->allFiles);
        });
    });
}

void SafeBoxFolderSyncer::snapShotByPath(const QString& path, qint64)
{
    const QByteArray root = QFile::encodeName(folderPath);
    const platform::sbx::Sidecar sidecar = platform::sbx::readSidecar(root);
    const KPFileFormatManager& formats = KPFileFormatManager::fileFormatManager();

    // An explicit stack keeps a deep tree from exhausting the worker's stack; entries are pushed in
    // ascending order and popped last first, which is the descending, depth-first order.
    struct Pending {
        QByteArray folder;
        std::vector<QByteArray> names;
    };
    std::vector<Pending> stack;
    const auto open = [](const QByteArray& folder) {
        Pending pending{folder, {}};
        if (DIR* dir = ::opendir(folder.constData())) {
            while (const dirent* entry = ::readdir(dir))
                pending.names.emplace_back(entry->d_name);
            ::closedir(dir);
        }
        std::sort(pending.names.begin(), pending.names.end());
        return pending;
    };
    stack.push_back(open(QFile::encodeName(path)));
    while (!stack.empty()) {
        if (bCancel.load())
            return;
        Pending& top = stack.back();
        if (top.names.empty()) {
            stack.pop_back();
            continue;
        }
        const QByteArray name = top.names.back();
        top.names.pop_back();
        if (name.startsWith('.'))
            continue;
        const QByteArray full = top.folder + '/' + name;
        struct stat st{};
        if (::lstat(full.constData(), &st) != 0)
            continue;
        const QString fullPath = QFile::decodeName(full);
        bool list = false;
        if (S_ISREG(st.st_mode)) {
            list = formats.checkFileIsSupportImport(fullPath);
        } else if (S_ISDIR(st.st_mode)) {
            if (!QFileInfo(fullPath).suffix().isEmpty()) {
                if (!formats.checkFolderIsSupport(fullPath))
                    continue;
                list = formats.checkFileIsSupportImport(fullPath);
            }
            if (!list) {
                stack.push_back(open(full));
                continue;
            }
        } else {
            continue; // links (aliases), devices, sockets
        }
        if (!list)
            continue;
        QVariantMap item{{QStringLiteral("Type"), QStringLiteral("SafeBox")},
                         {QStringLiteral("Path"), fullPath},
                         {QStringLiteral("Size"), quint64(st.st_blocks) * 512},
                         {QStringLiteral("ID"), qint64(st.st_ino)}};
        const qint64 mtime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        if (mtime != 0) {
            item.insert(QStringLiteral("Date"), dateOfNs(mtime));
            const QByteArray relative = full.startsWith(root + '/') ? full.mid(root.size() + 1) : QByteArray();
            if (const qint64 btime = birthTimeNs(fullPath, relative, sidecar))
                item.insert(QStringLiteral("CreateDate"), dateOfNs(btime));
        }
        allFiles.append(item);
    }
}
