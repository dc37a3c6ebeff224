// The window's receiving side of the peer exchange: every upload a peer sends becomes a library
// document under the Received node, with its tags.
//
// An upload is stored before its sender hears that it arrived: the import runs on the upload's
// connection queue inside onClientUploadedFile, and the reader sends its last acknowledgement
// only when that answers true. The stored copy is named in an import journal before it takes
// its name, and a save that fails takes it back out, so a peer is never told "delivered" for a
// document the library does not hold, and a crash half-way leaves nothing behind.
//
// Threads: the reader calls arrive on each connection's serial queue; the hooks run on the main
// thread. The list of uploads in progress is guarded by its own mutex.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Store/ImportRecord.h"
#include "TWService/Server/TWSocketReader.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <atomic>
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
    };

    // A folder unpacked from a peer may hold at most this many entries.
    static inline std::atomic<int> maxZipEntries{100000};
    // Room an unpacked folder must leave free on the library's disk.
    static inline qint64 freeSpaceMargin = qint64(256) * 1024 * 1024;

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

    void onClientWillUploadFile(const std::shared_ptr<TWSocketFileUpload>& reader) override;
    bool onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& reader, const QString& path) override;
    void onClientUploadedFileError(const std::shared_ptr<TWSocketFileUpload>& reader,
                                   const platform::Error& error) override;

private:
    // The received file (or the folder unpacked from it) made a stored document; false when
    // nothing was kept.
    bool importReceived(const TWWire::TWUploadFileInfo& info, const QString& path, QVariantList& newTags);
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
};
