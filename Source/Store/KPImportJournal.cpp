#include "Store/KPImportJournal.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <sys/stat.h>

using platform::FileManager;
using platform::Result;

namespace {

const QString kPrefix = QStringLiteral(".folivo-import-");
const QString kSuffix = QStringLiteral(".journal");

void logJournal(const QString& message)
{
    KPLogLogDomainMessage(QStringLiteral("Import"), 0, message);
}

struct Entry {
    quint64 device = 0;
    quint64 inode = 0;
    QString relativePath;
};

// The complete lines of a journal; a torn last line and lines that do not parse are left out.
QList<Entry> entriesOf(const QByteArray& content)
{
    QList<Entry> entries;
    qsizetype start = 0;
    for (qsizetype end = content.indexOf('\n'); end >= 0; start = end + 1, end = content.indexOf('\n', start)) {
        const QList<QByteArray> fields = content.mid(start, end - start).split(' ');
        if (fields.size() != 3)
            continue;
        bool deviceOk = false;
        bool inodeOk = false;
        Entry entry{fields[0].toULongLong(&deviceOk), fields[1].toULongLong(&inodeOk),
                    QFile::decodeName(QByteArray::fromPercentEncoding(fields[2]))};
        if (deviceOk && inodeOk && entry.relativePath.startsWith(QLatin1Char('/')))
            entries.append(entry);
    }
    return entries;
}

// Whether the item at path is still the file the journal saw staged.
bool isSameFile(const QString& path, const Entry& entry)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return quint64(st.st_dev) == entry.device && quint64(st.st_ino) == entry.inode;
}

// The absolute path of a relative one, empty unless it lies strictly inside the library.
QString inside(const QString& library, const QString& relativePath)
{
    const QString absolute = QDir::cleanPath(library + relativePath);
    return platform::Paths::isPathInside(absolute, library) && absolute != library ? absolute : QString();
}

bool remove(const QString& path)
{
    if (auto gone = FileManager::removeItem(path); !gone) {
        logJournal(QStringLiteral("Could not remove the leftover %1: %2").arg(path, gone.error().toString()));
        return false;
    }
    return true;
}

} // namespace

KPImportJournal::KPImportJournal(QString libraryFolder) : m_libraryFolder(std::move(libraryFolder))
{
}

Result<void> KPImportJournal::note(const KPLibraryFileManager::StagedItem& item)
{
    if (m_path.isEmpty()) {
        m_path = QStringLiteral("%1/%2%3%4")
                     .arg(m_libraryFolder, kPrefix)
                     .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
                     .arg(kSuffix);
    }
    const QByteArray line = QByteArray::number(item.device) + ' ' + QByteArray::number(item.inode) + ' '
                            + QFile::encodeName(item.relativePath).toPercentEncoding() + '\n';
    // Unbuffered, so that the line is in the file before the copy takes its name.
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered) || file.write(line) != line.size()) {
        return platform::fail(QStringLiteral("KPImportJournal"), 1,
                              QStringLiteral("Could not note the copy %1 in %2: %3")
                                  .arg(item.relativePath, m_path, file.errorString()));
    }
    return {};
}

void KPImportJournal::forget()
{
    if (m_path.isEmpty())
        return;
    if (QFile file(m_path); file.exists() && !file.remove())
        logJournal(QStringLiteral("Could not remove %1: %2").arg(m_path, file.errorString()));
    m_path.clear();
}

QStringList KPImportJournal::removeLeftovers(const QString& libraryFolder,
                                             const std::function<bool(const QString& relativePath)>& isRecorded)
{
    if (libraryFolder.isEmpty() || !isRecorded)
        return {};
    const QString library = QDir::cleanPath(libraryFolder);
    const QDir dir(library);
    QStringList removed;
    for (const QString& name : dir.entryList({kPrefix + QLatin1Char('*') + kSuffix}, QDir::Files | QDir::Hidden)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            logJournal(QStringLiteral("Could not read %1: %2").arg(file.fileName(), file.errorString()));
            continue;
        }
        const QList<Entry> entries = entriesOf(file.readAll());
        file.close();
        bool settled = true;
        for (const Entry& entry : entries) {
            const QString copy = inside(library, entry.relativePath);
            if (copy.isEmpty() || !isSameFile(copy, entry) || isRecorded(entry.relativePath))
                continue;
            if (!remove(copy)) {
                settled = false;
                continue;
            }
            removed << entry.relativePath;
            const QString thumbRelative = KPLibraryFileManager::thumbRelativePath(entry.relativePath);
            const QString thumb = library + thumbRelative;
            if (FileManager::itemExists(thumb) && !isRecorded(thumbRelative) && !remove(thumb))
                settled = false;
        }
        // Kept when something could not be removed, so that the next opening tries again.
        if (settled && !file.remove())
            logJournal(QStringLiteral("Could not remove %1: %2").arg(file.fileName(), file.errorString()));
    }
    return removed;
}
