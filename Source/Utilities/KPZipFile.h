// One zip archive being written or read. Writing goes through minizip; reading is our own
// (ZipCentralDirectory), see there why.
//
// Folders travel between running copies of the program as zip archives, so the entry layout is
// part of the peer protocol and kept as peers expect it: deflated entries whose 32-bit date field
// holds the whole seconds since 1 January 1980, 00:00 local time (not the packed DOS date), and
// no entries for folders except empty ones (a stored, empty entry whose name ends in "/").
// Names that are not plain ASCII carry the format's UTF-8 flag; members of 4 GiB and more get
// the 64-bit fields.
//
// Archives come from the network, so extraction checks the whole archive before it writes
// anything: an entry that would land outside the destination or pass through a link there, a
// link entry, two entries for one target name, entries that share their bytes, or declared sizes
// beyond the room on the destination's file system fail the extraction. While writing, an entry
// that inflates past its declared size, a CRC mismatch or a file that cannot be written fails it
// too. Each file is written under a temporary name and renamed when complete, so a failure never
// leaves a half-written file under an entry's name.
//
// One object writes or reads one archive at a time, from one thread at a time; cancel() may be
// called from any thread.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <sys/types.h>

struct KPZipFileDelegate {
    std::function<void(const QString& message)> ErrorMessage;
    // Answer true to replace the existing file at path.
    std::function<bool(const QString& path)> OverWriteOperation;
};

class KPZipFile {
public:
    KPZipFile();
    ~KPZipFile();
    KPZipFile(const KPZipFile&) = delete;
    KPZipFile& operator=(const KPZipFile&) = delete;

    // Creates the archive for writing, replacing a file at path. A non-empty password encrypts
    // every entry added afterwards with the zip format's traditional cipher.
    bool CreateZipFile2(const QString& path, const QString& password = {});
    bool addFileToZip(const QString& file, const QString& newname);
    // Every file below folder, in sorted order, hidden ones included, and an entry for each
    // empty folder; links are never followed or stored. Stops at the first file that cannot be
    // added (false); a cancel ends the walk with true.
    bool addDirectoryToZip(const QString& folder, const QString& pathInZip = {});
    bool CloseZipFile2();

    bool UnzipOpenFile(const QString& path, const QString& password = {});
    // Extracts every entry below folder, creating it when missing (also for an archive without
    // entries); true only when every entry was written whole.
    bool UnzipFileTo(const QString& folder, bool overWrite);
    bool UnzipCloseFile();

    // Stops a zip run between two files and an extraction between two pieces of an entry (the
    // extraction then fails).
    void cancel() { m_cancel = true; }
    // The extraction also stops once *stop holds true; set before UnzipFileTo.
    void setStopFlag(std::shared_ptr<const std::atomic<bool>> stop) { m_stop = std::move(stop); }
    // Told the byte count of each piece the extraction writes; set before UnzipFileTo.
    void setWrittenObserver(std::function<void(qint64 bytes)> written) { m_writtenObserver = std::move(written); }

    // 1 January 1980, 00:00, local time: the origin of the entries' date field.
    static QDateTime Date1980();

    const KPZipFileDelegate& delegate() const { return m_delegate; }
    void setDelegate(KPZipFileDelegate delegate) { m_delegate = std::move(delegate); }

private:
    struct Reader;
    struct PlannedEntry;
    class Targets;

    void OutputErrorMessage(const QString& message) const;
    bool OverWrite(const QString& path) const;
    bool openEntry(const QByteArray& name, const void* info, int method, bool raw, bool zip64,
                   unsigned long flags);
    bool addEncryptedFile(QFile& in, const QByteArray& name, const void* info);
    bool addFolderEntry(const QString& folder, const QString& newname);
    bool planExtraction(const QString& root, std::vector<PlannedEntry>& plan, Targets& targets);
    bool extractEntry(const PlannedEntry& item, const QString& target);
    bool copyEntryData(const PlannedEntry& item, int fd, const QString& target);

    void* m_zipFile = nullptr;
    std::unique_ptr<Reader> m_reader;
    // Files written by the extraction under way: a second entry that reaches one of them
    // (through a file system that folds case, say) is a collision, not a replacement.
    std::set<std::pair<dev_t, ino_t>> m_written;
    QByteArray m_password;
    KPZipFileDelegate m_delegate;
    std::atomic<bool> m_cancel{false};
    std::shared_ptr<const std::atomic<bool>> m_stop;
    std::function<void(qint64 bytes)> m_writtenObserver;
    bool stopped() const { return m_cancel || (m_stop && m_stop->load()); }
};
