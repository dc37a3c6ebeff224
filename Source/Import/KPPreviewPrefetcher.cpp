#include "Import/KPPreviewPrefetcher.h"

#include "Platform/Foundation/Dispatch.h"

#include <QDebug>
#include <QHash>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>

struct KPPreviewPrefetcher::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    QStringList paths;
    int next = 0;  // the first index no one has claimed yet
    int limit = 0; // workers may claim indices below this
    int taken = -1; // the last index handed over
    bool stopped = false;
    QHash<int, KPPreparedFile> made; // finished previews not yet taken
};

int KPPreviewPrefetcher::defaultWorkerCount()
{
    return std::clamp(QThread::idealThreadCount() - 1, 1, kMaxWorkers);
}

KPPreviewPrefetcher::KPPreviewPrefetcher(QStringList paths, PreviewFunction preview, int workers)
    : m_shared(std::make_shared<Shared>())
    , m_preview(std::move(preview))
    , m_workers(std::max(1, workers))
{
    m_shared->paths = std::move(paths);
}

KPPreviewPrefetcher::~KPPreviewPrefetcher()
{
    stop();
}

void KPPreviewPrefetcher::startWorkers()
{
    // A single file gains nothing from a thread.
    const int count = std::min<int>(m_workers, int(m_shared->paths.size()) - 1);
    for (int i = 0; i < count; ++i) {
        try {
            startWorker();
        } catch (const std::system_error& error) {
            // Fewer helpers (or none) only make the import slower: take() makes what is missing.
            qWarning("Preview threads: %s", error.what());
            break;
        }
    }
}

void KPPreviewPrefetcher::startWorker()
{
    m_threads.emplace_back([shared = m_shared, preview = m_preview] {
        platform::Dispatch::setCurrentThreadName(QStringLiteral("folivo.preview"));
        std::unique_lock lock(shared->mutex);
        for (;;) {
            shared->changed.wait(lock, [&] { return shared->stopped || shared->next < shared->limit; });
            if (shared->stopped)
                return;
            const int index = shared->next++;
            const QString path = shared->paths.at(index);
            lock.unlock();
            KPPreparedFile prepared = preview(path);
            lock.lock();
            if (!shared->stopped)
                shared->made.insert(index, std::move(prepared));
            shared->changed.notify_all();
        }
    });
}

KPPreparedFile KPPreviewPrefetcher::take(int index, const QString& path)
{
    Shared& shared = *m_shared;
    std::unique_lock lock(shared.mutex);
    if (shared.stopped || index <= shared.taken || index >= shared.paths.size() || shared.paths.at(index) != path) {
        lock.unlock();
        return m_preview(path);
    }
    shared.taken = index;
    if (!m_started) {
        m_started = true;
        startWorkers();
    }
    shared.limit = std::max(shared.limit, std::min<int>(int(shared.paths.size()), index + 1 + window()));
    // Previews of files skipped over are never asked for.
    for (auto it = shared.made.begin(); it != shared.made.end();)
        it = it.key() < index ? shared.made.erase(it) : std::next(it);
    if (index >= shared.next) {
        shared.next = index + 1;
        shared.changed.notify_all();
        lock.unlock();
        return m_preview(path);
    }
    shared.changed.notify_all();
    // A worker is making this one: rather than idle, make the next unclaimed one of the window.
    while (!shared.made.contains(index)) {
        if (shared.next >= shared.limit) {
            shared.changed.wait(lock);
            continue;
        }
        const int ahead = shared.next++;
        const QString aheadPath = shared.paths.at(ahead);
        lock.unlock();
        KPPreparedFile prepared = m_preview(aheadPath);
        lock.lock();
        shared.made.insert(ahead, std::move(prepared));
        shared.changed.notify_all();
    }
    return shared.made.take(index);
}

void KPPreviewPrefetcher::stop()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stopped = true;
        m_shared->made.clear();
        m_shared->changed.notify_all();
    }
    for (std::thread& thread : m_threads)
        thread.join();
    m_threads.clear();
}
