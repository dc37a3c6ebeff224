#include "Platform/FileEvents/FileEventStream.h"

#include "Platform/Foundation/DispatchQueue.h"

namespace platform {

FileEventStream::FileEventStream(const QStringList& paths, Callback callback,
                                 FileEventStreamOptions options)
    : m_paths(paths)
    , m_callback(std::move(callback))
    , m_options(std::move(options))
{
}

FileEventStream::~FileEventStream()
{
    stop();
}

bool FileEventStream::start()
{
    if (m_watcher)
        return true;
    // Batches already posted when the stream stops find this flag down and are dropped.
    auto alive = std::make_shared<std::atomic<bool>>(true);
    auto callback = std::make_shared<Callback>(m_callback);
    auto watcher = std::make_unique<InotifyWatcher>(
        m_paths, m_options, [alive, callback](FileEventBatch batch) {
            DispatchQueue::main().async([alive, callback, batch = std::move(batch)] {
                if (alive->load() && *callback)
                    (*callback)(batch);
            });
        });
    if (!watcher->start())
        return false;
    m_alive = std::move(alive);
    m_watcher = std::move(watcher);
    return true;
}

void FileEventStream::stop()
{
    if (m_alive)
        m_alive->store(false);
    if (m_watcher)
        m_watcher->stop();
    m_watcher.reset();
    m_alive.reset();
}

bool FileEventStream::isWatching() const
{
    return m_watcher && m_watcher->isWatching();
}

QStringList FileEventStream::polledRoots() const
{
    return m_watcher ? m_watcher->polledRoots() : QStringList();
}

} // namespace platform

namespace platform {

void FileEventStream::simulateOverflowForTesting()
{
    if (m_watcher)
        m_watcher->simulateOverflowForTesting();
}

} // namespace platform
