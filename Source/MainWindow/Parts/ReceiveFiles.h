// The window's receiving side of the peer exchange: every upload a peer sends becomes a library
// document under the Received node, with its tags.
//
// An upload is stored before its sender hears that it arrived: the import runs on the upload's
// connection queue inside onClientUploadedFile, and the reader sends its last acknowledgement
// only when that answers true. The stored copy is named in an import journal before it takes
// its name, and a save that fails takes it back out, so a peer is never told "delivered" for a
// document the library does not hold, and a crash half-way leaves nothing behind.
//
// Room: an upload holds its size against the library disk's margin while it arrives (the
// reader's reservation; a folder's also holds its archive's size again for the unpacking), and
// a folder, once arrived, the room its unpacked files need while they are written, so that
// uploads at the same time cannot together fill the disk.
//
// Quit: finishReceivesForQuit takes no upload any more, ends those still arriving, stops an
// unpack under way and waits (bounded) until every upload has ended, staging removed, before
// the stores close.
//
// Threads: the reader calls arrive on each connection's serial queue; the hooks run on the main
// thread. The list of uploads in progress, the count of those that began and the quit mark are
// guarded by one mutex; the stop flag is read by the unpack without it.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Store/ImportRecord.h"
#include "TWService/Server/TWSocketReader.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class DataBaseEngine;
class KPLibraryFileManager;
class ContentSwitch;
struct MainWindowContext;

class ReceiveFiles : public TWSocketFileUploadDelegate, public std::enable_shared_from_this<ReceiveFiles> {
public:
    // Saves one import record as a received document straight to disk; answers the references
    // of the tags it created, or why nothing was stored.
    using Store = std::function<platform::Result<QVariantList>(const ImportRecord& record)>;

    struct Hooks {
        // The Received node's busy mark.
        std::function<void(bool busy)> setBusy;
        // After each stored document: the tags it created (maybe none), the sender and the name.
        std::function<void(const QVariantList& newTags, const QString& from, const QString& name)> received;
        // The user notice of each stored document, after received.
        std::function<void(const QString& title, const QString& text)> notice;
    };

    // A folder unpacked from a peer may hold at most this many entries,
    static inline std::atomic<int> maxZipEntries{100000};
    // at most this many bytes in all,
    static inline std::atomic<qint64> maxUnpackedBytes{qint64(4) * 1024 * 1024 * 1024};
    // and at most this many times the archive's size: real folders of documents pack at a few
    // to one, text at some tens to one; far more is how a zip bomb looks.
    static constexpr quint64 kMaxZipRatio = 100;
    // Room an unpacked folder must leave free on the library's disk.
    static inline qint64 freeSpaceMargin = qint64(256) * 1024 * 1024;
    // How long a quit waits for the uploads under way to end.
    static constexpr std::chrono::milliseconds kQuitWait{5000};

    ReceiveFiles(const KPLibraryFileManager& library, Store store, Hooks hooks);

    // The default store: the library's DataBaseEngine, in a context of the import's own that
    // merges into the main context once saved.
    static Store engineStore(DataBaseEngine* engine);
    // The window's answers: the Received node's busy mark, the new tags, the recount of the
    // badges, the Received list shown again when it is on screen, and the notice. window
    // answers nulls when there is no window (not yet, or no longer).
    struct Window {
        MainWindowContext* context = nullptr;
        ContentSwitch* content = nullptr;
    };
    static Hooks windowHooks(std::function<Window()> window);

    // Takes a new upload before it starts: it is listed as in progress and reports here.
    void addClientWithSocketReader(const std::shared_ptr<TWSocketFileUpload>& reader);
    // Uploads that began and have not ended yet.
    int uploadsInProgress() const;
    // Takes no upload any more, ends those still arriving and stops an unpack under way, then
    // waits until every upload that began has ended or bound has passed; true when none is
    // left. Main thread; nothing it waits for needs the main thread.
    bool finishReceivesForQuit(std::chrono::milliseconds bound = kQuitWait);
    // The title of the notice of a document received from sender.
    static QString noticeTitle(const QString& from);

    void onClientWillUploadFile(const std::shared_ptr<TWSocketFileUpload>& reader) override;
    bool onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& reader, const QString& path) override;
    void onClientUploadedFileError(const std::shared_ptr<TWSocketFileUpload>& reader,
                                   const platform::Error& error) override;

private:
    // The received file (or the folder unpacked from it) made a stored document; false when
    // nothing was kept.
    bool importReceived(const TWWire::TWUploadFileInfo& info, const QString& path,
                        platform::FreeSpaceLedger::Reservation room, QVariantList& newTags);
    void forget(const std::shared_ptr<TWSocketFileUpload>& reader);
    void uploadEnded();

    const KPLibraryFileManager& m_library;
    Store m_store;
    Hooks m_hooks;
    mutable std::mutex m_mutex;
    // Weak: an upload the server refuses before it begins never reports here, and must not be
    // kept alive or counted as in progress for that.
    QList<std::weak_ptr<TWSocketFileUpload>> m_dataReceiveClients;
    // Uploads that began (onClientWillUploadFile) and have not ended; the busy mark follows it.
    int m_begun = 0;
    std::condition_variable m_ended;
    bool m_quitting = false;
    // Set once at quit; an unpack looks at it between pieces.
    const std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
};
