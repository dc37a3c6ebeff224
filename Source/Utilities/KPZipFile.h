// One zip archive being written or read, over minizip.
//
// Folders travel between running copies of the program as zip archives, so the entry layout is
// part of the peer protocol and kept as peers expect it: deflated entries whose 32-bit date field
// holds the whole seconds since 1 January 1980, 00:00 local time (not the packed DOS date), and
// no entries for folders. Archives come from the network, so reading is defensive: an entry
// that would land outside the destination, a link entry, a CRC mismatch or a file that cannot
// be written fails the extraction instead of passing for success.
//
// One object writes or reads one archive at a time, from one thread at a time; cancel() may be
// called from any thread.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <atomic>
#include <functional>

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
    // Every file below folder, in sorted order, hidden ones included; links are never followed
    // or stored. Stops at the first file that cannot be added (false); a cancel ends the walk
    // with true.
    bool addDirectoryToZip(const QString& folder, const QString& pathInZip = {});
    bool CloseZipFile2();

    bool UnzipOpenFile(const QString& path, const QString& password = {});
    // Extracts every entry below folder; true only when every entry was written whole.
    bool UnzipFileTo(const QString& folder, bool overWrite);
    bool UnzipCloseFile();

    void cancel() { m_cancel = true; }

    // 1 January 1980, 00:00, local time: the origin of the entries' date field.
    static QDateTime Date1980();

    const KPZipFileDelegate& delegate() const { return m_delegate; }
    void setDelegate(KPZipFileDelegate delegate) { m_delegate = std::move(delegate); }

private:
    void OutputErrorMessage(const QString& message) const;
    bool OverWrite(const QString& path) const;
    bool addEncryptedFile(const QString& file, const QByteArray& name, void* info);
    bool extractCurrentEntry(const QString& target, quint64 uncompressedSize);
    bool extractEncryptedEntry(const QString& target, unsigned long crc, unsigned long flag,
                               unsigned long dosDate, int method);

    void* m_zipFile = nullptr;
    void* m_unzFile = nullptr;
    QByteArray m_password;
    KPZipFileDelegate m_delegate;
    std::atomic<bool> m_cancel{false};
};
