// The one elastic pool of worker threads behind the global queues and the serial queues.
//
// The program blocks a lot inside tasks (polls that sleep, waits on semaphores, a worker waiting
// for the main thread), so a fixed pool the size of the CPU count would starve and could
// deadlock: every worker waiting for a task that is still queued behind them. While tasks wait,
// a watcher thread looks every few tens of milliseconds at how many busy workers the kernel
// reports as running, and adds workers until about one per core is runnable again, up to a
// generous cap. CPU-bound tasks therefore do not make the pool grow; blocked ones do. Workers
// beyond the core count retire after being idle a while.
//
// Tasks wait in four FIFO lists, one per priority; a free worker takes the oldest task of the
// highest non-empty priority.
//
// The pool is created on first use and never destroyed, so a worker still running at process
// exit never touches freed memory. When the application object goes (or, without one, when
// static destruction starts), queued tasks are dropped, idle workers leave, and exit waits a
// bounded time for running tasks to return. Workers that left are joined, so what their threads
// kept (Qt's per-thread font caches) is gone before Qt's own statics are.
//
// Locking: one mutex guards the lists, the counters, the worker threads and the list of busy
// threads.
#pragma once

#include "Platform/Foundation/DispatchQueue.h"

#include <chrono>
#include <functional>

namespace platform::detail {

// What idle workers are called; a serial queue names its worker after itself while it runs.
inline constexpr const char* PoolThreadName = "folivo.pool";
// A worker above the core count that finds nothing to do for this long leaves; the others wait
// for work without a limit.
inline constexpr std::chrono::seconds IdleRetirement{15};

class DispatchPool {
public:
    using Task = std::function<void()>;

    static DispatchPool& shared();

    // False once the process has begun to exit: the task is dropped.
    bool submit(QueuePriority priority, Task task);
    bool isStopping() const;

    // For diagnostics and tests.
    int workerCount() const;

    DispatchPool(const DispatchPool&) = delete;
    DispatchPool& operator=(const DispatchPool&) = delete;

private:
    struct State;
    DispatchPool();
    ~DispatchPool() = delete; // lives for the whole process

    State* m_state;
};

} // namespace platform::detail
