#include "Platform/Foundation/DispatchPool.h"

#include "Platform/Foundation/Dispatch.h"

#include <QCoreApplication>
#include <QDebug>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform::detail {

namespace {

using namespace std::chrono_literals;

// How often the watcher looks at the pool while tasks are waiting. Short enough that a starved
// chain of waits resolves in well under a second, long enough to cost nothing measurable.
constexpr auto StarvationInterval = 40ms;
// Threads the pool never exceeds; beyond this a starving program is stuck by design error, and
// queued tasks wait for a worker to return.
constexpr int MaxWorkers = 192;
// How long process exit waits for running tasks before leaving them to the system.
constexpr auto ShutdownGrace = 1s;

int coreWorkerCount()
{
    return int(std::max(2u, std::thread::hardware_concurrency()));
}

pid_t currentTid()
{
    return pid_t(::syscall(SYS_gettid));
}

// Whether the kernel has the thread running or ready to run. A thread that waits (a lock, a
// condition, a sleep, I/O) is not; neither is one whose state cannot be read.
bool isRunnable(pid_t tid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", int(tid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    buffer[n] = '\0';
    // "tid (name) S ...": the name may itself hold parentheses, so take the last one.
    const char* close = std::strrchr(buffer, ')');
    return close && close[1] == ' ' && close[2] == 'R';
}

// The shared pool, for the routine that runs when the application object goes.
std::atomic<DispatchPool*> applicationPool{nullptr};

} // namespace

struct DispatchPool::State {
    mutable std::mutex mutex;
    std::condition_variable workAvailable;
    std::condition_variable watcherWake;
    std::condition_variable allStopped;
    std::array<std::deque<Task>, 4> queued; // indexed by QueuePriority
    int queuedCount = 0;
    int workers = 0;
    int idle = 0;
    int running = 0;
    std::vector<pid_t> busy; // threads of the workers running a task
    bool stopping = false;
    const int coreWorkers = coreWorkerCount();

    // Every worker's thread, kept joinable: a thread's locals (Qt's per-thread font caches
    // among them) are torn down only after its loop returns, and that must be over before the
    // process tears down what they point into. A worker whose loop has returned is `left`.
    struct Worker {
        std::thread thread;
        bool left = false;
    };
    std::list<Worker> threads;

    void spawnWorkerLocked();
    void workerLoop(std::list<Worker>::iterator self);
    void watcherLoop();
    void shutdown();
    std::vector<std::thread> takeLeftLocked();
};

void DispatchPool::State::spawnWorkerLocked()
{
    const auto slot = threads.emplace(threads.end());
    try {
        // The worker first looks at its slot under the lock the caller holds.
        slot->thread = std::thread([this, slot] { workerLoop(slot); });
        ++workers;
    } catch (const std::system_error& e) {
        threads.erase(slot);
        qCritical("Dispatch: could not start a worker thread: %s", e.what());
    }
}

std::vector<std::thread> DispatchPool::State::takeLeftLocked()
{
    std::vector<std::thread> left;
    for (auto it = threads.begin(); it != threads.end();) {
        if (it->left) {
            left.push_back(std::move(it->thread));
            it = threads.erase(it);
        } else {
            ++it;
        }
    }
    return left;
}

void DispatchPool::State::workerLoop(std::list<Worker>::iterator self)
{
    Dispatch::setCurrentThreadName(QString::fromLatin1(PoolThreadName));
    const pid_t tid = currentTid();
    std::unique_lock lock(mutex);
    for (;;) {
        if (stopping)
            break;
        if (queuedCount == 0) {
            ++idle;
            const auto hasWork = [&] { return stopping || queuedCount > 0; };
            bool woke = true;
            // Only a worker above the core count has a reason to wake without work (to retire);
            // the others sleep until there is work, so an idle program's pool does not wake.
            if (workers > coreWorkers)
                woke = workAvailable.wait_for(lock, IdleRetirement, hasWork);
            else
                workAvailable.wait(lock, hasWork);
            --idle;
            if (!woke && workers > coreWorkers)
                break;
            continue;
        }
        auto list = std::find_if(queued.begin(), queued.end(), [](auto& q) { return !q.empty(); });
        Task task = std::move(list->front());
        list->pop_front();
        --queuedCount;
        ++running;
        busy.push_back(tid);
        lock.unlock();
        try {
            task();
        } catch (const std::exception& e) {
            qCritical("Dispatch: a task threw an exception: %s", e.what());
        } catch (...) {
            qCritical("Dispatch: a task threw an exception");
        }
        task = nullptr; // captures die outside the lock
        lock.lock();
        --running;
        busy.erase(std::find(busy.begin(), busy.end(), tid));
    }
    --workers;
    self->left = true;
    allStopped.notify_all();
}

void DispatchPool::State::watcherLoop()
{
    // Keeps about one runnable worker per core while tasks wait: workers that sleep in a wait
    // do not count, so each blocked worker is replaced, however it blocked.
    Dispatch::setCurrentThreadName(QStringLiteral("folivo.poolwatch"));
    std::unique_lock lock(mutex);
    while (!stopping) {
        // Workers retired for idleness are joined here, where nothing waits on the lock.
        if (std::vector<std::thread> retired = takeLeftLocked(); !retired.empty()) {
            lock.unlock();
            for (std::thread& t : retired)
                t.join();
            lock.lock();
            continue;
        }
        if (queuedCount == 0) {
            watcherWake.wait(lock, [&] { return stopping || queuedCount > 0; });
            continue;
        }
        watcherWake.wait_for(lock, StarvationInterval, [&] { return stopping; });
        if (stopping || queuedCount == 0 || idle > 0)
            continue;
        const std::vector<pid_t> threads = busy;
        lock.unlock();
        const int runnable = int(std::count_if(threads.begin(), threads.end(), isRunnable));
        lock.lock();
        int wanted = std::min(queuedCount - idle, coreWorkers - runnable);
        while (wanted-- > 0 && workers < MaxWorkers && !stopping)
            spawnWorkerLocked();
    }
}

void DispatchPool::State::shutdown()
{
    std::array<std::deque<Task>, 4> dropped;
    {
        std::unique_lock lock(mutex);
        if (stopping)
            return; // the application went first; static destruction finds nothing to do
        stopping = true;
        dropped.swap(queued);
        queuedCount = 0;
        workAvailable.notify_all();
        watcherWake.notify_all();
    }
    // Dropped tasks are destroyed here, outside the lock: their captures may wake waiters.
    for (auto& list : dropped)
        list.clear();
    std::unique_lock lock(mutex);
    allStopped.wait_for(lock, ShutdownGrace, [&] { return workers == 0; });
    // Workers that left are joined, so their thread-local cleanup is over; one still inside a
    // task after the grace is left to the system.
    std::vector<std::thread> left = takeLeftLocked();
    // Their slots stay: the workers still write to them when their task returns.
    for (Worker& still : threads)
        still.thread.detach();
    lock.unlock();
    for (std::thread& t : left)
        t.join();
}

DispatchPool::DispatchPool() : m_state(new State)
{
    std::thread([s = m_state] { s->watcherLoop(); }).detach();
}

DispatchPool& DispatchPool::shared()
{
    static DispatchPool* pool = [] {
        auto* made = new DispatchPool;
        // Workers end with the application object, as Qt's own thread pool does: a worker
        // that drew text holds font engines in thread-local caches, and tearing those down
        // once Qt's statics are gone crashes the exit. The application may go while another
        // thread is still in here, so the routine does not read `pool`.
        applicationPool.store(made);
        qAddPostRoutine([] { applicationPool.load()->m_state->shutdown(); });
        return made;
    }();
    // Without an application: destroyed during static destruction, before anything initialised
    // earlier than the pool, so the workers stop while the rest of the process is still intact.
    static struct ExitGuard {
        ~ExitGuard() { pool->m_state->shutdown(); }
    } exitGuard;
    return *pool;
}

bool DispatchPool::isStopping() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->stopping;
}

bool DispatchPool::submit(QueuePriority priority, Task task)
{
    if (!task)
        return true;
    State& s = *m_state;
    Task rejected; // destroyed after the lock is released: its captures may submit again
    std::lock_guard lock(s.mutex);
    if (s.stopping) {
        rejected = std::move(task);
        return false;
    }
    s.queued[size_t(priority)].push_back(std::move(task));
    ++s.queuedCount;
    if (s.queuedCount <= s.idle)
        s.workAvailable.notify_one();
    else if (s.workers < s.coreWorkers)
        s.spawnWorkerLocked();
    s.watcherWake.notify_one();
    return true;
}

int DispatchPool::workerCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->workers;
}

} // namespace platform::detail
