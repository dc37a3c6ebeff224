#include "IndexFolder/KPFolderSnapshot.h"

#include "IndexFolder/IndexFolderID.h"

#include "Import/KPFileFormatManager.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/UserDefaults.h"
#include "TagMeta/TagMeta.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/FinderInfo.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <expected>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>

using namespace platform;

namespace {

// Finder flags above this carry the invisible (0x4000) or alias (0x8000) bit.
constexpr quint16 kHighestVisibleFinderFlags = 0x3FFF;

const QString kExtendedAttributesKey = QStringLiteral("NSFileExtendedAttributes");

QString cleanFolder(const QString& path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

QString childPath(const QString& folder, const QString& name)
{
    return folder == QLatin1String("/") ? folder + name : folder + QLatin1Char('/') + name;
}

// Names a folder's ".hidden" file hides from file managers, one per line.
QSet<QString> hiddenNames(const QString& folder)
{
    QSet<QString> names;
    QFile file(childPath(folder, QStringLiteral(".hidden")));
    if (!file.open(QIODevice::ReadOnly))
        return names;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QString name = QString::fromUtf8(line).trimmed();
        if (!name.isEmpty())
            names.insert(name);
    }
    return names;
}

QStringList finderTagsFromAttributes(const QVariantMap& attributes, bool* given)
{
    *given = false;
    const QVariant extended = attributes.value(kExtendedAttributesKey);
    if (!extended.isValid())
        return {};
    *given = true;
    const QByteArray value = extended.toMap().value(kFinderTagsAttribute).toByteArray();
    if (value.isEmpty())
        return {};
    const auto decoded = PropertyList::read(value);
    if (!decoded || decoded->typeId() != QMetaType::QVariantList)
        return {};
    return finderTagNames(*decoded);
}

qint64 nanoseconds(const struct statx_timestamp& t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// What the walk reads of name in the folder open as dirfd (or of a path from AT_FDCWD); the
// errno of a failure.
std::expected<KPFolderSnapshot::ItemFacts, int> factsAt(int dirfd, const char* name, bool followLinks)
{
    struct statx sx {};
    const int flags = (followLinks ? 0 : AT_SYMLINK_NOFOLLOW) | AT_STATX_SYNC_AS_STAT;
    if (::statx(dirfd, name, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return std::unexpected(errno);
    KPFolderSnapshot::ItemFacts facts;
    const mode_t mode = sx.stx_mode;
    facts.type = S_ISREG(mode) ? FileType::Regular
        : S_ISDIR(mode)        ? FileType::Directory
        : S_ISLNK(mode)        ? FileType::SymbolicLink
                               : FileType::Other;
    facts.inode = sx.stx_ino;
    facts.device = quint64(makedev(sx.stx_dev_major, sx.stx_dev_minor));
    facts.modificationDate = QDateTime::fromMSecsSinceEpoch(
        qint64(sx.stx_mtime.tv_sec) * 1000 + sx.stx_mtime.tv_nsec / 1000000, Qt::UTC);
    facts.changeNanoseconds = nanoseconds(sx.stx_ctime);
    if (sx.stx_mask & STATX_BTIME)
        facts.birthNanoseconds = nanoseconds(sx.stx_btime);
    return facts;
}

qint64 realClock()
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The names in an open folder, sorted; the errno of a failure.
std::expected<QStringList, int> namesIn(DIR* dir)
{
    QStringList names;
    errno = 0;
    while (const struct dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QFile::decodeName(entry->d_name));
        errno = 0;
    }
    if (errno)
        return std::unexpected(errno);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

KPFolderSnapshot::KPFolderSnapshot(const QString& path)
    : KPFolderSnapshot(path, Paths::expandTilde(UserDefaults::standardUserDefaults().stringForKey(
                                 QStringLiteral("String_Library_Path"))))
{
}

KPFolderSnapshot::KPFolderSnapshot(const QString& path, const QString& libraryPath)
    : m_path(cleanFolder(path))
    , m_libraryPath(cleanFolder(libraryPath))
    , m_formats(KPFileFormatManager::fileFormatManager())
    , m_deviceOf(&KPFolderSnapshot::deviceOfPath)
    , m_clock(&realClock)
{
}

void KPFolderSnapshot::setClock(Clock clock)
{
    m_clock = clock ? std::move(clock) : Clock(&realClock);
}

void KPFolderSnapshot::setDeviceReader(DeviceReader reader)
{
    m_deviceOf = reader ? std::move(reader) : DeviceReader(&KPFolderSnapshot::deviceOfPath);
}

std::optional<quint64> KPFolderSnapshot::deviceOfPath(const QString& path)
{
    const auto facts = factsOfItem(path, true);
    return facts ? std::optional<quint64>(facts->device) : std::nullopt;
}

std::optional<KPFileNode::Volume> KPFolderSnapshot::volumeOfFolder(const QString& folder, const DeviceReader& deviceOf)
{
    const std::optional<quint64> device = deviceOf(folder);
    if (!device)
        return std::nullopt;
    if (folder == QLatin1String("/"))
        return KPFileNode::Volume{*device, true};
    const std::optional<quint64> parent = deviceOf(folderOfPath(folder));
    if (!parent)
        return std::nullopt;
    return KPFileNode::Volume{*device, *device != *parent};
}

quint32 KPFolderSnapshot::fileNumber(quint64 inode, std::optional<qint64> birthNanoseconds)
{
    if (!birthNanoseconds)
        return quint32(inode);
    // splitmix64's finaliser over inode and birth time: stable across runs and machines, as
    // the number is stored. Nanoseconds, because a freed inode is reused at once on ext4.
    quint64 x = inode ^ (quint64(*birthNanoseconds) * 0x9E3779B97F4A7C15ULL);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return quint32(x ^ (x >> 32));
}

Result<KPFolderSnapshot::ItemFacts> KPFolderSnapshot::factsOfItem(const QString& path, bool followLinks)
{
    auto facts = factsAt(AT_FDCWD, QFile::encodeName(path).constData(), followLinks);
    if (!facts)
        return std::unexpected(Error::posix(facts.error(), QStringLiteral("read attributes of %1").arg(path)));
    return *facts;
}

QString KPFolderSnapshot::tagWithFilePathAndAttributesInfo(const QString& path, const QVariantMap& attributes)
{
    QStringList candidates;
    if (const auto tagMeta = TagMeta::getUserTags(path))
        candidates += *tagMeta;
    bool given = false;
    const QStringList fromAttributes = finderTagsFromAttributes(attributes, &given);
    if (given)
        candidates += fromAttributes;
    else if (const auto finder = finderTagsOfFile(path))
        candidates += *finder;

    QStringList names;
    QSet<QString> seen;
    for (const QString& candidate : candidates) {
        const QString name = candidate.section(QLatin1Char('\n'), 0, 0);
        // TagMeta keeps names decomposed and Finder composed: the same name either way.
        const QString key = name.normalized(QString::NormalizationForm_C);
        if (name.isEmpty() || seen.contains(key))
            continue;
        seen.insert(key);
        names.append(name);
    }
    return names.join(QLatin1Char(','));
}

KPFileNode::Ptr KPFolderSnapshot::snapShotAndChildren()
{
    m_bSnapshotChildren = true;
    return snapShotByPath(m_path, 0);
}

KPFileNode::Ptr KPFolderSnapshot::snapShotByPath(const QString& folder, quint32 nodeID)
{
    auto root = std::make_shared<KPFileNode>(cleanFolder(folder), nodeID);
    m_trustedBefore = m_clock() - std::chrono::nanoseconds(kChangeTimeSettle).count();
    const auto volumeBefore = volumeOfFolder(root->path(), m_deviceOf);
    m_visitedFolders.clear();
    if (auto attributes = factsOfItem(root->path(), true))
        m_visitedFolders.insert({attributes->device, attributes->inode});
    // Depth first without recursion, so deep trees cannot exhaust a worker's stack; each
    // folder node is added to its parent before it is filled, which keeps the listing order.
    QList<KPFileNode::Ptr> pending{root};
    while (!pending.isEmpty()) {
        const KPFileNode::Ptr node = pending.takeLast();
        fillFolder(node, pending);
    }
    if (volumeBefore && volumeBefore == volumeOfFolder(root->path(), m_deviceOf))
        root->setVolume(volumeBefore);
    return root;
}

void KPFolderSnapshot::fillFolder(const KPFileNode::Ptr& node, QList<KPFileNode::Ptr>& pending)
{
    const QString& folder = node->path();
    // Kept open for the walk of its entries, which are looked at relative to it.
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    const auto names = dir ? namesIn(dir) : std::expected<QStringList, int>(std::unexpected(errno));
    const auto closeFolder = qScopeGuard([dir] {
        if (dir)
            ::closedir(dir);
    });
    if (!names) {
        const int err = names.error();
        KPLogLogMessage(QStringLiteral("SnapShotByPath(contentsOfDirectoryAtPath) error: %1")
                            .arg(Error::posix(err, QStringLiteral("read folder %1").arg(folder)).toString()));
        const bool gone = err == ENOENT || err == ENOTDIR;
        node->setListing(gone ? KPFileNode::Listing::Missing : KPFileNode::Listing::Unreadable, err);
        return;
    }
    node->setListing(KPFileNode::Listing::Listed, 0);
    const QSet<QString> hidden = names->contains(QStringLiteral(".hidden")) ? hiddenNames(folder) : QSet<QString>();

    QList<KPFileNode::Ptr> descendInto;
    for (const QString& name : *names) {
        if (name.startsWith(QLatin1Char('.')) || hidden.contains(name))
            continue;
        const QString item = childPath(folder, name);
        const auto attributes = factsAt(::dirfd(dir), QFile::encodeName(name).constData(), false);
        if (!attributes) {
            KPLogLogMessage(QStringLiteral("SnapShotByPath(attributesOfItemAtPath) error: %1")
                                .arg(Error::posix(attributes.error(), QStringLiteral("read attributes of %1").arg(item))
                                         .toString()));
            if (attributes.error() != ENOENT)
                node->addUnreadableItem(item);
            continue;
        }
        const bool isFolder = attributes->type == FileType::Directory;
        const QString extension = KPFileFormatManager::lowerExtension(name);
        bool descend = false;

        if (m_bSnapshotFile) {
            bool isDocument = false;
            if (isFolder) {
                if (extension.isEmpty())
                    descend = true;
                else if (!m_formats.checkFolderIsSupport(item))
                    continue;
                else if (m_formats.checkFileIsSupportImport(item))
                    isDocument = true; // a document package is one file
                else
                    descend = true;
            } else if (attributes->type == FileType::Regular) {
                isDocument = m_formats.checkFileIsSupportImport(item);
            }
            if (isDocument) {
                if (auto file = documentNode(*node, item, *attributes))
                    node->addFile(std::move(file));
                continue;
            }
            if (!descend)
                continue;
            // A folder the Finder hides is not walked.
            const auto finderInfo = FinderInfo::read(item);
            if (!finderInfo) {
                if (FileManager::itemExists(item))
                    node->addUnreadableItem(item);
                continue;
            }
            if (finderInfo->flags() > kHighestVisibleFinderFlags)
                continue;
        } else {
            descend = isFolder && extension.isEmpty();
        }

        if (!descend || !m_bSnapshotChildren || item == m_libraryPath)
            continue;
        if (m_visitedFolders.contains({attributes->device, attributes->inode}))
            continue;
        m_visitedFolders.insert({attributes->device, attributes->inode});
        auto child = std::make_shared<KPFileNode>(item, fileNumber(attributes->inode, attributes->birthNanoseconds));
        node->addFolder(child);
        descendInto.append(child);
    }
    // Reversed onto the stack so the first folder is walked first.
    for (auto it = descendInto.rbegin(); it != descendInto.rend(); ++it)
        pending.append(*it);
}

KPFileNode::Ptr KPFolderSnapshot::documentNode(KPFileNode& folder, const QString& item, const ItemFacts& facts)
{
    const quint32 number = fileNumber(facts.inode, facts.birthNanoseconds);
    auto file = std::make_shared<KPFileNode>(item, number);
    file->setDate(facts.modificationDate);
    if (facts.changeNanoseconds < m_trustedBefore)
        file->setChangeTime(facts.changeNanoseconds);
    // Unchanged since the last pass read them: the Finder flags still let it be seen (or it
    // would not have been recorded), and the tags are those recorded.
    if (m_remembered) {
        if (const auto known = m_remembered(item);
            known && known->number == number && known->changeTime == facts.changeNanoseconds) {
            file->setTags(known->tags);
            return file;
        }
    }
    const auto finderInfo = FinderInfo::read(item);
    if (!finderInfo) {
        if (FileManager::itemExists(item))
            folder.addUnreadableItem(item);
        return nullptr;
    }
    if (finderInfo->flags() > kHighestVisibleFinderFlags)
        return nullptr;
    file->setTags(tagWithFilePathAndAttributesInfo(item, {}));
    return file;
}
