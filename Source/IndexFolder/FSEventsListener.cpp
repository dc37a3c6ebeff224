#include "IndexFolder/FSEventsListener.h"

#include "IndexFolder/IndexFolderID.h"
#include "IndexFolder/KPAttributeWriteLog.h"

#include "Import/KPFileFormatManager.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"

#include <QDir>

using namespace platform;

namespace {

std::unique_ptr<FSEventsListener> g_shared;

// Every listener alive, so a delegate being destroyed can leave them all.
QList<FSEventsListener*>& liveListeners()
{
    // Never destroyed: delegates may outlive static destruction order.
    static auto* listeners = new QList<FSEventsListener*>;
    return *listeners;
}

QString cleanPath(const QString& path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

bool isInsideKey(const QString& path, const QString& key)
{
    return Paths::isPathInside(path, key.isEmpty() ? QStringLiteral("/") : key);
}

} // namespace

FSEventListenerDelegate::~FSEventListenerDelegate()
{
    for (FSEventsListener* listener : liveListeners())
        listener->removeListenerEverywhere(this);
}

FSEventsListener& FSEventsListener::instance()
{
    if (!g_shared) {
        const QString library = Paths::expandTilde(
            UserDefaults::standardUserDefaults().stringForKey(QStringLiteral("String_Library_Path")));
        g_shared = std::make_unique<FSEventsListener>(library);
        KPAttributeWriteLog::install();
    }
    return *g_shared;
}

void FSEventsListener::destroy()
{
    g_shared.reset();
}

FSEventsListener::FSEventsListener(const QString& libraryPath)
    : m_libraryPath(cleanPath(libraryPath))
{
    liveListeners().append(this);
}

FSEventsListener::~FSEventsListener()
{
    m_fileStream.reset();
    liveListeners().removeAll(this);
}

void FSEventsListener::reloadWatchPaths(const QStringList& paths)
{
    m_fileStream.reset();
    QStringList roots;
    for (const QString& path : paths) {
        const QString root = cleanPath(path);
        if (!root.isEmpty() && !roots.contains(root))
            roots.append(root);
    }
    if (roots.isEmpty())
        return;
    FileEventStreamOptions options;
    options.latency = kLatency;
    if (!m_libraryPath.isEmpty())
        options.excludedPaths = {m_libraryPath};
    m_fileStream = std::make_unique<FileEventStream>(
        roots, [this](const FileEventBatch& batch) { handleEvents(batch); }, options);
    m_fileStream->start();
}

QString FSEventsListener::formatPath(const QString& path)
{
    return path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path;
}

void FSEventsListener::addListener(FSEventListenerDelegate* object, const QString& path)
{
    if (!object)
        return;
    QList<FSEventListenerDelegate*>& list = m_listeners[formatPath(path)];
    if (!list.contains(object))
        list.append(object);
}

void FSEventsListener::removeListener(FSEventListenerDelegate* object, const QString& path)
{
    auto it = m_listeners.find(formatPath(path));
    if (it != m_listeners.end())
        it->removeAll(object);
}

void FSEventsListener::removeListenerEverywhere(FSEventListenerDelegate* object)
{
    for (auto& list : m_listeners)
        list.removeAll(object);
}

bool FSEventsListener::isRegistered(const FSEventListenerDelegate* object) const
{
    for (const auto& list : m_listeners) {
        if (list.contains(object))
            return true;
    }
    return false;
}

QList<FSEventListenerDelegate*> FSEventsListener::listenerByPath(const QString& path) const
{
    QList<FSEventListenerDelegate*> objects;
    for (auto it = m_listeners.cbegin(); it != m_listeners.cend(); ++it) {
        if (isInsideKey(path, it.key()))
            objects += it.value();
    }
    return objects;
}

template <class Call>
void FSEventsListener::forward(const QString& path, Call call)
{
    for (FSEventListenerDelegate* object : listenerByPath(path)) {
        // An earlier call may have removed (or destroyed) a later object.
        if (isRegistered(object))
            call(object);
    }
}

void FSEventsListener::fileWasAdded(const QString& path)
{
    forward(path, [&](FSEventListenerDelegate* o) { o->fileWasAdded(path); });
}

void FSEventsListener::fileWasRemoved(const QString& path)
{
    forward(path, [&](FSEventListenerDelegate* o) { o->fileWasRemoved(path); });
}

void FSEventsListener::fileWasRenamed(const QString& oldPath, const QString& newPath)
{
    forward(oldPath, [&](FSEventListenerDelegate* o) { o->fileWasRenamed(oldPath, newPath); });
}

void FSEventsListener::fileWasModified(const QString& path)
{
    forward(path, [&](FSEventListenerDelegate* o) { o->fileWasModified(path); });
}

void FSEventsListener::directoryWasAdded(const QString& path)
{
    forward(path, [&](FSEventListenerDelegate* o) { o->directoryWasAdded(path); });
}

void FSEventsListener::directoryWasRemoved(const QString& path)
{
    forward(path, [&](FSEventListenerDelegate* o) { o->directoryWasRemoved(path); });
}

void FSEventsListener::directoryWasRenamed(const QString& oldPath, const QString& newPath)
{
    forward(oldPath, [&](FSEventListenerDelegate* o) { o->directoryWasRenamed(oldPath, newPath); });
}

void FSEventsListener::directoryWasChange(const QString& path)
{
    forward(path, [&](FSEventListenerDelegate* o) { o->directoryWasChange(path); });
}

std::optional<QString> FSEventsListener::folderToReport(const FileEvent& event) const
{
    const QString& path = event.path;
    const QString root = cleanPath(event.root);
    const FileEventFlags wholeRoot = FileEventFlag::MustScanSubDirs | FileEventFlag::RootChanged
        | FileEventFlag::Unmount;
    if (event.has(wholeRoot) && path == root)
        return root;
    if (!m_libraryPath.isEmpty() && Paths::isPathInside(path, m_libraryPath))
        return std::nullopt;

    const bool belowRoot = !root.isEmpty() && path != root && Paths::isPathInside(path, root);
    const QStringList components = belowRoot
        ? path.mid(root == QLatin1String("/") ? 1 : root.size() + 1).split(QLatin1Char('/'))
        : QStringList{lastComponentOfPath(path)};
    for (const QString& component : components) {
        if (component.startsWith(QLatin1Char('.')))
            return std::nullopt;
    }

    const KPFileFormatManager& formats = KPFileFormatManager::fileFormatManager();
    QString folder = belowRoot ? root : folderOfPath(path);
    for (qsizetype i = 0; belowRoot && i + 1 < components.size(); ++i) {
        folder = folder == QLatin1String("/") ? folder + components[i] : folder + QLatin1Char('/') + components[i];
        if (KPFileFormatManager::lowerExtension(components[i]).isEmpty())
            continue;
        if (!formats.checkFolderIsSupport(folder))
            return std::nullopt; // inside an application or another excluded package
        if (formats.checkFileIsSupportImport(folder))
            return folderOfPath(folder); // inside a document package: its folder changed
    }
    if (event.has(FileEventFlag::ItemIsFile) && !formats.checkFileIsSupportByFilePath(path))
        return std::nullopt;
    // Tags this program just wrote: a sync now could undo an edit the user is still making.
    const FileEventFlags contentChange = FileEventFlag::ItemCreated | FileEventFlag::ItemRemoved
        | FileEventFlag::ItemRenamed | FileEventFlag::ItemModified | FileEventFlag::MustScanSubDirs;
    if (event.has(FileEventFlag::ItemInodeMetaMod) && !event.has(contentChange)
        && KPAttributeWriteLog::shared().wasWrittenRecently(path))
        return std::nullopt;
    return folderOfPath(path);
}

void FSEventsListener::handleEvents(const FileEventBatch& batch)
{
    for (const FileEvent& event : batch) {
        if (const auto folder = folderToReport(event))
            directoryWasChange(*folder);
    }
}
