#include "Store/KPSafeBoxMoveJournal.h"

#include "Store/DBFileInfo.h"
#include "Store/DBHelper.h"
#include "Store/KPContextHelper.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPrefix = QStringLiteral(".folivo-safebox-move-");
const QString kSuffix = QStringLiteral(".journal");
const QString kLogDomain = QStringLiteral("SafeBoxMove");

platform::Error journalError(const QString& message)
{
    return platform::Error{QStringLiteral("SafeBoxMoveJournal"), 1, message};
}

bool isGone(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT;
}

} // namespace

platform::Result<QString> KPSafeBoxMoveJournal::write(const QString& libraryFolder, const QList<Entry>& entries)
{
    QByteArray bytes;
    for (const Entry& entry : entries)
        bytes += QUrl::toPercentEncoding(entry.uri) + ' ' + QUrl::toPercentEncoding(entry.path) + '\n';
    const QString path = libraryFolder + QLatin1Char('/') + kPrefix
                         + QString::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, QLatin1Char('0'))
                         + kSuffix;
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::unexpected(journalError(QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)))));
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    const bool synced = written == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!synced) {
        ::unlink(encoded.constData());
        return std::unexpected(journalError(QStringLiteral("cannot write %1").arg(path)));
    }
    // The name must outlive a power cut as well as the content.
    if (const int dir = ::open(QFile::encodeName(libraryFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return path;
}

void KPSafeBoxMoveJournal::remove(const QString& journalPath)
{
    if (!journalPath.isEmpty())
        QFile::remove(journalPath);
}

QList<KPSafeBoxMoveJournal::Entry> KPSafeBoxMoveJournal::read(const QString& journalPath)
{
    QList<Entry> entries;
    QFile file(journalPath);
    // A journal names a few documents; anything far larger is not one of ours.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024 * 1024)
        return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 2 || fields[0].isEmpty() || fields[1].isEmpty())
            continue;
        const QString uri = QUrl::fromPercentEncoding(fields[0]);
        const QString path = QUrl::fromPercentEncoding(fields[1]);
        if (!path.startsWith(QLatin1Char('/')))
            continue;
        entries.append({uri, path});
    }
    return entries;
}

QStringList KPSafeBoxMoveJournal::journals(const QString& libraryFolder)
{
    QStringList paths;
    const QDir folder(libraryFolder);
    for (const QString& name : folder.entryList({kPrefix + QLatin1Char('*') + kSuffix}, QDir::Files | QDir::Hidden))
        paths << folder.filePath(name);
    return paths;
}

int KPSafeBoxMoveJournal::replay(const QString& libraryFolder, const platform::ContextPtr& context,
                                 const platform::CoordinatorPtr& coordinator)
{
    const QStringList found = journals(libraryFolder);
    if (found.isEmpty() || !context || !coordinator)
        return 0;
    int marked = 0;
    int kept = 0;
    for (const QString& journal : found) {
        for (const Entry& entry : read(journal)) {
            const platform::ObjectID id = coordinator->managedObjectIDForURIRepresentation(entry.uri);
            if (id.isNull())
                continue;
            DBFileInfo file(context->existingObjectWithID(id));
            // Only the document the Move took: an ID may have been given to another since.
            if (!file || file.isDeleted() || DBHelper::CombinFileAbsolutePath(file) != entry.path)
                continue;
            if (!isGone(entry.path)) {
                ++kept;
                continue;
            }
            if (!file.isTrash() || !file.isNeedDelete()) {
                file.setIsTrash(true);
                file.setIsNeedDelete(true);
            }
            ++marked;
        }
    }
    if (marked > 0 && !KPContextHelper::save(context)) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("The records of an interrupted move could not be marked; its journals stay"));
        return 0;
    }
    for (const QString& journal : found)
        remove(journal);
    KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("An interrupted move into the SafeBox was finished: %1 records removed, %2 originals still in the library")
                                             .arg(marked).arg(kept));
    return marked;
}
