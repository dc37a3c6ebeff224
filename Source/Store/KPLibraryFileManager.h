// The layout of the library folder on disk and the only way files get into it.
//
// The store keeps library-relative paths ("/Documents/Jan 01, 2014/a.pdf"), so the layout is a
// contract with every stored record: the folders are fixed when the manager is made and never
// change during the run (a run past midnight keeps storing into the day it started). A file
// copied or moved in never replaces anything: it is first staged under a hidden name inside the
// target folder, complete, and then takes the first free name with a rename that refuses to
// replace, so concurrent writers (threads or processes) each get their own name. Every copy,
// move and write answers an error when the file did not arrive, so an importer never records a
// document that has no file. Staged items and temporary thumbnails are named ".folivo-*.part";
// a process killed half-way leaves them behind, and removeStagedItems() takes them away when
// the library is opened again.
//
// Threads: the paths are immutable after construction and the operations keep no state, so
// every operation may run on any thread. The shared instance is made on first use, on the main
// thread during start-up.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>

class KPLibraryFileManager {
public:
    // The shared instance over the library folder named by "String_Library_Path" when it was
    // first used.
    static KPLibraryFileManager& defaultManager();
    // Makes the next defaultManager() read "String_Library_Path" again (tests; a library
    // switch otherwise relaunches). Earlier instances stay alive, so references stay valid.
    static void resetDefaultManager();

    // A manager over libraryFolder whose day folder is that of creationDate (local time).
    // Creates the missing "Documents", day, "Thumbnail" and "Index" folders, never the library
    // folder itself; a failure is logged and kept in folderError().
    explicit KPLibraryFileManager(const QString& libraryFolder,
                                  const QDateTime& creationDate = QDateTime::currentDateTime());

    // Creates whatever of the fixed folders is missing; fails (with the reason) when the
    // library folder is missing, is not a folder, or cannot be written.
    platform::Result<void> prepareFolders() const;
    // The outcome of the folder creation at construction; empty when it succeeded.
    const QString& folderError() const { return m_folderError; }

    // ---- the fixed layout (absolute paths, no trailing "/" unless said) ----
    const QString& workFolder() const { return m_workFolder; }           // the library folder
    const QString& documentsFolder() const { return m_documentsFolder; } // "<library>/Documents"
    // "<library>/Documents/Jan 01, 2014/", ending with "/".
    const QString& dayFolder() const { return m_dayFolder; }
    const QString& thumbFolder() const { return m_thumbFolder; }         // "<library>/Thumbnail"
    const QString& safeBoxFile() const { return m_safeBoxFile; }         // "<library>/safebox.db"
    QString libraryStoreFile() const;      // "<library>/library.db"
    QString versionFile() const;           // "<library>/version.plist"
    QString indexFolder() const;           // "<library>/Index"
    QString indexFolderStoreFile() const;  // "<library>/Index/indexFolder.db"
    QString contentIndexFile() const;      // "<library>/Index/contentIndex.index"

    // The day folder's name for a date: "%b %d, %Y" in local time with the English month
    // abbreviations whatever the locale ("Jan 01, 2014").
    static QString dayFolderName(const QDateTime& date);

    // ---- getting files in ----
    // A complete copy staged in its target folder, about to take relativePath there, and the
    // file it is (the name taken keeps it).
    struct StagedItem {
        QString relativePath;
        quint64 device = 0;
        quint64 inode = 0;
    };
    // Called before each attempt of a staged item to take a name; an error stops the copy
    // (the staged item is removed, or a moved one put back).
    using BeforeClaim = std::function<platform::Result<void>(const StagedItem& item)>;

    // Copies the file or package into the day folder under a free name ("a.pdf", "a_1.pdf",
    // "a_2.pdf"; "report" → "report_1."); answers the copy's library-relative path. A hidden
    // source name is kept visible (FileManager::usableFileName: ".profile" → "profile"), here
    // and in every way in below. The flag has no effect: nothing is ever overwritten.
    platform::Result<QString> addFile(const QString& sourcePath, bool needOverride = false) const;
    // The same, telling beforeClaim each name the copy is about to take (an import's journal).
    platform::Result<QString> addFile(const QString& sourcePath, const BeforeClaim& beforeClaim) const;
    // The same into relativeFolder ("/Documents/x/", beginning and ending with "/"), which
    // must lie inside the library and exist.
    platform::Result<QString> addFile(const QString& sourcePath, const QString& relativeFolder,
                                      bool needOverride) const;
    // Moves the file into the day folder under a free name (across file systems: a verified
    // copy, then the source is removed); answers the relative path and, through absFilePath
    // when given, the new absolute path. On failure the source stays where it was.
    platform::Result<QString> moveFile(const QString& sourcePath, QString* absFilePath = nullptr) const;
    // The same, telling beforeClaim each name the item is about to take (an import's journal).
    platform::Result<QString> moveFile(const QString& sourcePath, const BeforeClaim& beforeClaim,
                                       QString* absFilePath) const;

    // When a written thumbnail reaches the disk: before addThumbByFile answers, or at the
    // caller's own flushItems() (an import flushes its copies and thumbnails together before it
    // stores its records, after they were all written).
    enum class ThumbFlush { Now, ByCaller };

    // Writes the thumbnail of a stored document: named by the MD5 of filePath (pass the
    // stored copy's relative path, which is unique in the library), no extension, PNG when
    // the image has transparent pixels, else JPEG (an alpha channel every pixel leaves opaque
    // does not count). Written under a temporary name and renamed over an earlier thumbnail
    // of the same name, so a failed write leaves that one as it was. Answers
    // "/Thumbnail/<32 hex digits>".
    platform::Result<QString> addThumbByFile(const QString& filePath, const QImage& image,
                                             ThumbFlush flush = ThumbFlush::Now) const;
    // The same with the image already encoded by encodeThumbnail(), so that the encoding can
    // run on another thread than the write.
    platform::Result<QString> addThumbData(const QString& filePath, const QByteArray& encoded,
                                           ThumbFlush flush = ThumbFlush::Now) const;
    // The one encoding of thumbnails described above; any thread.
    static platform::Result<QByteArray> encodeThumbnail(const QImage& image);

    // The same encoding and atomic replacement at an absolute path outside the library (the
    // SafeBox volume keeps its thumbnails itself); the folder must exist.
    static platform::Result<void> writeThumbnailFile(const QString& absolutePath, const QImage& image);

    // Makes the given items durable, and nothing else of the file system (other programs'
    // writes are theirs to flush): each file's data and attributes (a package: every file and
    // folder in it, links not followed), then each folder holding one of them and every folder
    // above it up to the library folder, which a first write may have made, so that their
    // names survive a power cut too. An item that is gone is skipped. An error when any of them
    // could not be written (also a write-back that failed since it was written), so that
    // nothing names them. Thumbnails written with ThumbFlush::ByCaller are flushed here. Many
    // items are flushed side by side on up to 8 threads of the call's own, joined before it
    // answers, so that the file system commits them together.
    platform::Result<void> flushItems(const QStringList& absolutePaths) const;

    // Test seam: replaces the fsync of each file and folder flushItems flushes (answers 0, or
    // -1 with errno set), told the path the descriptor was opened at; nullptr restores the real
    // one. Process-wide; called on flushItems' threads, several at once.
    using SyncFunction = std::function<int(int fd, const QString& path)>;
    static void setSyncFunctionForTesting(SyncFunction sync);

    // The relative path of the thumbnail addThumbByFile writes for filePath.
    static QString thumbRelativePath(const QString& filePath);
    // Removes every staged item and temporary thumbnail (".folivo-*.part") that a process
    // killed half-way left in libraryFolder's day folders and thumbnail folder; the library
    // relative paths of those it removed. Nothing else is touched. Only the holder of the
    // library's lock may call it: another copy's import in progress would go too.
    static QStringList removeStagedItems(const QString& libraryFolder);
    // The staging folders of receives from peers (".folivo-receive-*" at the library's top)
    // that are there now: at the opening, what a process killed half-way left.
    static QStringList receiveStagings(const QString& libraryFolder);
    // Removes those stagings (a link only as a link), asking keepGoing before each item inside;
    // when it answers false the rest stays for the next opening. The paths it removed whole.
    // Only the holder of the library's lock may call it.
    static QStringList removeReceiveStagings(const QStringList& stagings, const std::function<bool()>& keepGoing);

    // Creates "name/" (or "name_1/", "name_2/" …) in the day folder; answers its relative path
    // ending with "/"; an error for a name FileManager::isUsableFileName refuses.
    platform::Result<QString> addFolderByName(const QString& name) const;
    // The first free absolute path for fileName in the day folder by the naming rule above.
    // Nothing is created, so another writer may take it before the caller does. Null for a
    // name FileManager::isUsableFileName refuses.
    QString newFilePathByName(const QString& fileName) const;
    // Renames the item within its folder; false when it does not exist, newName is not one
    // FileManager::isUsableFileName accepts, something is already called newName, or the
    // rename fails.
    bool renameNameByFile(const QString& path, const QString& newName) const;
    // Why FileManager::isUsableFileName refuses name, for the user (a sentence for each reason:
    // a leading dot, a "/", a NUL, over 255 bytes, empty); empty for a usable name.
    static QString unusableNameReason(const QString& name);
    // Whether folder (absolute, ending with "/") holds an item named like path's last component.
    bool checkFileExistInFolder(const QString& path, const QString& folder) const;
    // Whether path lies inside the library folder (by whole components, case-sensitive).
    bool checkIsInLibraryFile(const QString& path) const;

    // ---- relative ↔ absolute ----
    // The library-relative form ("/Documents/…") of a path inside the library; a null string
    // for a path outside it, for the library folder itself and for an empty path.
    QString removeAbsolutePath(const QString& absolutePath) const;
    // The library folder immediately followed by relativePath. Empty for an empty path, one
    // that does not begin with "/", or one that would lead outside the library ("/../x"): a
    // caller about to delete "the document's file" must never be handed the library itself.
    QString CombinFileAbsolutePath(const QString& relativePath) const;

    // Tuning: the highest "_n" suffix tried before a name counts as exhausted.
    static constexpr int kMaxNameSuffix = 100000;
    // Tuning: QImageWriter's PNG compression (0-100, mapped onto zlib's levels 0-9); 20 is
    // level 1, several times faster than the default on a 512×512 photo and hardly larger.
    static constexpr int kThumbPngCompression = 20;

private:
    platform::Result<QString> placeIntoFolder(const QString& sourcePath, const QString& folder, bool move,
                                              QString* absFilePath, const BeforeClaim& beforeClaim = {}) const;

    QString m_workFolder;
    QString m_documentsFolder;
    QString m_dayFolder;
    QString m_thumbFolder;
    QString m_safeBoxFile;
    QString m_folderError;
};
