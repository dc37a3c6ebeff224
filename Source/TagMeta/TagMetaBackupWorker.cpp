#include "TagMeta/TagMetaBackupWorker.h"

#include "Platform/Foundation/Dispatch.h"

TagMetaBackupWorker::TagMetaBackupWorker(Backup backup, std::chrono::milliseconds firstDelay,
                                         std::chrono::milliseconds spacing)
    : m_backup(std::move(backup))
    , m_firstDelay(firstDelay)
    , m_spacing(spacing)
{
    m_thread = std::thread([this] { run(); });
}

TagMetaBackupWorker::~TagMetaBackupWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TagMetaBackupWorker::enqueue(const QString& path)
{
    {
        std::lock_guard lock(m_mutex);
        m_busy = true;
        if (m_queue.contains(path))
            return;
        m_queue.append(path);
        if (m_queue.size() == 1 && !m_running)
            m_deadline = Clock::now() + (m_hurry ? std::chrono::milliseconds(0) : m_firstDelay);
    }
    m_wake.notify_all();
}

void TagMetaBackupWorker::hurry()
{
    {
        std::lock_guard lock(m_mutex);
        m_hurry = true;
        m_deadline = Clock::now();
    }
    m_wake.notify_all();
}

bool TagMetaBackupWorker::waitUntilIdle(Clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_until(lock, deadline, [this] { return !m_busy || m_stop; }) && !m_busy;
}

bool TagMetaBackupWorker::isBusy() const
{
    std::lock_guard lock(m_mutex);
    return m_busy;
}

int TagMetaBackupWorker::pendingCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_queue.size());
}

void TagMetaBackupWorker::run()
{
    platform::Dispatch::setCurrentThreadName(QStringLiteral("TagMeta backup"));
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (m_queue.isEmpty()) {
            m_wake.wait(lock, [this] { return m_stop || !m_queue.isEmpty(); });
            continue;
        }
        if (Clock::now() < m_deadline) {
            m_wake.wait_until(lock, m_deadline);
            continue;
        }
        const QString path = m_queue.takeFirst();
        m_running = true;
        lock.unlock();
        m_backup(path);
        lock.lock();
        m_running = false;
        if (m_queue.isEmpty()) {
            m_busy = false;
            m_idle.notify_all();
        } else {
            m_deadline = Clock::now() + (m_hurry ? std::chrono::milliseconds(0) : m_spacing);
        }
    }
    m_idle.notify_all();
}
