#include "MainWindow/Parts/ReceiveFiles.h"

#include "MainWindow/MainWindowContext.h"
#include "MainWindow/Parts/ContentSwitch.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FreeSpaceLedger.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Workspace/UserNotifications.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNotifications.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Store/DBFileInfo.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Store/KPImportJournal.h"
#include "Store/KPLibraryFileManager.h"
#include "Utilities/ImageQuickLook.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/KPZipArchive.h"
#include "Utilities/ZipCentralDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

void logReceive(const QString& message)
{
    KPLogLogDomainMessage(QStringLiteral("Receive"), 0, message);
}

// Whether the archive may be unpacked beside itself: few enough entries, no more bytes than a
// received folder may hold nor than its size makes believable, and room on the disk for them
// beside what other receives still write. The answer holds that room: the room the upload held
// for the unpacking since it was accepted, made what the archive's entries declare.
platform::Result<platform::FreeSpaceLedger::Reservation> checkArchive(const QString& archivePath, qint64 margin,
                                                                      platform::FreeSpaceLedger::Reservation held)
{
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::unexpected(platform::Error{QStringLiteral("Receive"), 1, file.errorString()});
    auto directory = ZipCentralDirectory::read(file);
    if (!directory)
        return std::unexpected(directory.error());
    const auto& entries = directory->entries();
    if (entries.size() > std::size_t(ReceiveFiles::maxZipEntries.load()))
        return std::unexpected(platform::Error{QStringLiteral("Receive"), 2,
                                               QStringLiteral("the archive holds %1 entries").arg(entries.size())});
    quint64 total = 0;
    for (const ZipEntry& entry : entries)
        total = entry.uncompressedSize > std::numeric_limits<quint64>::max() - total
            ? std::numeric_limits<quint64>::max()
            : total + entry.uncompressedSize;
    const quint64 packed = std::max<quint64>(quint64(file.size()), 1);
    const quint64 limit = quint64(std::max<qint64>(ReceiveFiles::maxUnpackedBytes.load(), 0));
    if (total > limit || total / packed > ReceiveFiles::kMaxZipRatio)
        return std::unexpected(platform::Error{QStringLiteral("Receive"), 3,
                                               QStringLiteral("the archive claims %1 bytes from %2").arg(total).arg(packed)});
    // Each file also takes up to a block beyond its bytes.
    constexpr qint64 kBlock = 4096;
    const qint64 needed = qint64(total) + qint64(entries.size()) * kBlock;
    const bool fits = held ? held.resize(needed, margin)
                           : bool(held = platform::FreeSpaceLedger::shared().reserve(
                                      QFileInfo(archivePath).absolutePath(), needed, margin));
    if (!fits)
        return std::unexpected(platform::Error{QStringLiteral("Receive"), 4,
                                               QStringLiteral("no room for the archive's %1 bytes").arg(total)});
    return held;
}

} // namespace

ReceiveFiles::ReceiveFiles(const KPLibraryFileManager& library, Store store, Hooks hooks)
    : m_library(library)
    , m_store(std::move(store))
    , m_hooks(std::move(hooks))
{
}

ReceiveFiles::Store ReceiveFiles::engineStore(DataBaseEngine* engine)
{
    return [engine](const ImportRecord& record) -> platform::Result<QVariantList> {
        if (!engine || !engine->isOpen())
            return std::unexpected(platform::Error{QStringLiteral("Receive"), 5, QStringLiteral("the library is not open")});
        const platform::ContextPtr context =
            platform::ManagedObjectContext::create(platform::ConcurrencyType::PrivateQueue, engine->coordinator());
        context->setMergePolicy(platform::MergePolicy::ObjectTrumpByProperty);
        std::weak_ptr<platform::ManagedObjectContext> main = engine->context();
        const platform::ObserverToken merge = context->addDidSaveObserver([main](const platform::SaveNotification& note) {
            platform::Dispatch::main([main, note] {
                if (auto context = main.lock())
                    context->mergeChangesFromContextDidSaveNotification(note);
            });
        });
        QVariantList tagRefs;
        std::optional<platform::Error> failure;
        context->performAndWait([&] {
            QList<DBTag> newTags;
            const QList<DBFileInfo> files = engine->insertRecords({record}, {}, {}, &newTags, context);
            for (DBFileInfo file : files)
                file.setExtendField(DBFileInfo::kExtendReceiveFromDevice);
            const bool saved = KPContextHelper::saveWithErrorHandler(
                context, [&](const platform::Error& error) { failure = error; });
            if (!saved) {
                if (!failure)
                    failure = platform::Error{QStringLiteral("Receive"), 6, QStringLiteral("the save failed")};
                return;
            }
            (void)context->obtainPermanentIDsForObjects(DBRecord::objectsOf(newTags));
            for (const DBTag& tag : newTags)
                tagRefs.append(tag.ref());
        });
        if (failure)
            return std::unexpected(*failure);
        return tagRefs;
    };
}

ReceiveFiles::Hooks ReceiveFiles::windowHooks(std::function<Window()> parts)
{
    Hooks hooks;
    hooks.setBusy = [parts](bool busy) {
        const Window window = parts();
        SideBarDataSource* sideBar = window.context ? window.context->sideBarDataSource : nullptr;
        if (!sideBar || !sideBar->receiveNode())
            return;
        sideBar->receiveNode()->setIsBusy(busy);
        if (KPSideBarOutlineView* view = sideBar->sideBarView())
            view->reloadItem(sideBar->receiveNode().get());
    };
    hooks.received = [parts](const QVariantList& newTags, const QString& from, const QString& name) {
        const Window window = parts();
        if (!window.context)
            return;
        MainWindowContext& ctx = *window.context;
        platform::NotificationCenter& center =
            ctx.notifications ? *ctx.notifications : platform::NotificationCenter::defaultCenter();
        if (!newTags.isEmpty())
            center.post(QStringLiteral("NewTagNotification"), newTags);
        center.post(RefreshItemCountNotification, QStringLiteral("All"));
        SideBarDataSource* sideBar = ctx.sideBarDataSource;
        if (sideBar && sideBar->sideBarView() && sideBar->receiveNode()
            && sideBar->sideBarView()->selectedNode() == sideBar->receiveNode().get() && window.content)
            window.content->onSideBarNodeChange(sideBar->receiveNode());
        logReceive(QStringLiteral("Received new files from %1: %2").arg(from, name));
    };
    hooks.notice = [](const QString& title, const QString& text) { platform::UserNotifications::deliver(title, text); };
    return hooks;
}

QString ReceiveFiles::noticeTitle(const QString& from)
{
    return platform::localizedString(QStringLiteral("Received new files from %@")).replace(QStringLiteral("%@"), from);
}

void ReceiveFiles::addClientWithSocketReader(const std::shared_ptr<TWSocketFileUpload>& reader)
{
    {
        std::lock_guard lock(m_mutex);
        // A reader without a delegate refuses its upload.
        if (m_quitting)
            return;
        m_dataReceiveClients.removeIf([](const std::weak_ptr<TWSocketFileUpload>& r) { return r.expired(); });
        m_dataReceiveClients.append(reader);
    }
    reader->setDelegate(weak_from_this());
}

bool ReceiveFiles::finishReceivesForQuit(std::chrono::milliseconds bound)
{
    QList<std::shared_ptr<TWSocketFileUpload>> arriving;
    {
        std::lock_guard lock(m_mutex);
        m_quitting = true;
        m_stop->store(true);
        for (const auto& weak : std::as_const(m_dataReceiveClients)) {
            if (auto reader = weak.lock())
                arriving.append(reader);
        }
    }
    // Their readers end them as failed, which removes what they staged.
    for (const auto& reader : std::as_const(arriving))
        reader->socket()->disconnect();
    std::unique_lock lock(m_mutex);
    const bool ended = m_ended.wait_for(lock, bound, [this] { return m_begun == 0; });
    if (!ended)
        logReceive(QStringLiteral("Quit: %1 uploads had not ended").arg(m_begun));
    return ended;
}

int ReceiveFiles::uploadsInProgress() const
{
    std::lock_guard lock(m_mutex);
    return m_begun;
}

void ReceiveFiles::onClientWillUploadFile(const std::shared_ptr<TWSocketFileUpload>& reader)
{
    bool quitting = false;
    {
        std::lock_guard lock(m_mutex);
        ++m_begun;
        quitting = m_quitting;
    }
    // One that began as the quit came: it ends now, as those arriving did.
    if (quitting)
        reader->socket()->disconnect();
    std::weak_ptr<ReceiveFiles> weak = weak_from_this();
    platform::Dispatch::main([weak] {
        if (auto self = weak.lock(); self && self->m_hooks.setBusy)
            self->m_hooks.setBusy(true);
    });
}

void ReceiveFiles::forget(const std::shared_ptr<TWSocketFileUpload>& reader)
{
    std::lock_guard lock(m_mutex);
    reader->setDelegate({});
    m_dataReceiveClients.removeIf([&reader](const std::weak_ptr<TWSocketFileUpload>& r) {
        return r.expired() || r.lock() == reader;
    });
}

void ReceiveFiles::uploadEnded()
{
    {
        // Called once at the very end of each upload that began (stored, refused or failed).
        std::lock_guard lock(m_mutex);
        m_begun = std::max(m_begun - 1, 0);
    }
    m_ended.notify_all();
    std::weak_ptr<ReceiveFiles> weak = weak_from_this();
    platform::Dispatch::main([weak] {
        auto self = weak.lock();
        // Busy until every upload has ended, whether it was stored or failed.
        if (self && self->m_hooks.setBusy && self->uploadsInProgress() == 0)
            self->m_hooks.setBusy(false);
    });
}

bool ReceiveFiles::onClientUploadedFile(const std::shared_ptr<TWSocketFileUpload>& reader, const QString& path)
{
    const TWWire::TWUploadFileInfo info = reader->fileInfo();
    forget(reader);
    QVariantList newTags;
    const bool kept = importReceived(info, path, reader->takeRoom(), newTags);
    // The staging folder holds the received file and anything unpacked from it: nothing there
    // is needed once the document is stored, or once it could not be.
    QDir(reader->stagingFolder()).removeRecursively();
    if (kept) {
        std::weak_ptr<ReceiveFiles> weak = weak_from_this();
        platform::Dispatch::main([weak, newTags, info] {
            auto self = weak.lock();
            if (!self)
                return;
            if (self->m_hooks.received)
                self->m_hooks.received(newTags, info.from, info.name);
            if (self->m_hooks.notice)
                self->m_hooks.notice(noticeTitle(info.from), info.name);
        });
    }
    uploadEnded();
    return kept;
}

void ReceiveFiles::onClientUploadedFileError(const std::shared_ptr<TWSocketFileUpload>& reader,
                                             const platform::Error& error)
{
    forget(reader);
    logReceive(QStringLiteral("An upload ended without a file: %1").arg(error.message));
    uploadEnded();
}

bool ReceiveFiles::importReceived(const TWWire::TWUploadFileInfo& info, const QString& path,
                                  platform::FreeSpaceLedger::Reservation room, QVariantList& newTags)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QString fileName = info.fileName();
    QString item;
    if (m_stop->load())
        return false;
    if (info.isFolder.value_or(false)) {
        auto unpackRoom = checkArchive(path, freeSpaceMargin, std::move(room));
        if (!unpackRoom) {
            logReceive(QStringLiteral("A received folder was refused: %1").arg(unpackRoom.error().message));
            return false;
        }
        platform::FreeSpaceLedger::Reservation* held = &*unpackRoom;
        item = KPZipArchive::unZipWithFilePath(path, fileName,
                                               {m_stop, [held](qint64 bytes) { held->wrote(bytes); }});
        if (item.isEmpty()) {
            logReceive(m_stop->load() ? QStringLiteral("A received folder was left unpacked: the program quits")
                                      : QStringLiteral("A received folder could not be unpacked"));
            return false;
        }
    } else {
        item = QDir(folder).filePath(fileName);
        // The staging folder is the upload's own; a name that is taken there is the received
        // file's own temporary name, which rename would not replace.
        if (!QFile::rename(path, item)) {
            logReceive(QStringLiteral("onClientUploadedFile moveItemAtPath Error: %1").arg(fileName));
            return false;
        }
    }

    // From here on the document is stored whole: a quit waits for the few steps left.
    if (m_stop->load())
        return false;
    KPImportJournal journal(m_library.workFolder());
    QString absolutePath;
    const auto relative = m_library.moveFile(
        item, [&journal](const KPLibraryFileManager::StagedItem& staged) { return journal.note(staged); },
        &absolutePath);
    if (!relative) {
        logReceive(QStringLiteral("onClientUploadedFile moveItemAtPath Error: %1").arg(relative.error().message));
        journal.forget();
        return false;
    }
    const QImage preview = imageWithPreviewOfFileAtPath(absolutePath, QSize(512, 512), false);
    QString thumb;
    if (!preview.isNull()) {
        if (auto written = m_library.addThumbByFile(*relative, preview, KPLibraryFileManager::ThumbFlush::ByCaller))
            thumb = *written;
    }
    // The document and its thumbnail must be on the disk before a record names them.
    QStringList written{absolutePath};
    if (!thumb.isEmpty())
        written.append(m_library.workFolder() + thumb);
    auto flushed = m_library.flushItems(written);

    ImportRecord record;
    record[ImportRecordKey::Path] = *relative;
    record[ImportRecordKey::Original] = absolutePath;
    record[ImportRecordKey::Thumb] = thumb;
    record[ImportRecordKey::Tags] = info.tags;
    record[ImportRecordKey::Comment] = QString();
    record[ImportRecordKey::IsIndex] = false;
    auto stored = flushed ? m_store(record) : platform::Result<QVariantList>(std::unexpected(flushed.error()));
    if (!stored) {
        // Nothing names the copy: take it back out, so what the library holds is what it lists.
        logReceive(QStringLiteral("A received document could not be stored: %1").arg(stored.error().message));
        QFileInfo(absolutePath).isDir() ? (void)QDir(absolutePath).removeRecursively() : (void)QFile::remove(absolutePath);
        if (!thumb.isEmpty())
            QFile::remove(m_library.workFolder() + thumb);
        journal.forget();
        return false;
    }
    journal.forget();
    newTags = *stored;
    return true;
}
