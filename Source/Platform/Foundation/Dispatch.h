// The short forms most callers need, and the thread facts they ask about: whether this is the
// main (GUI) thread, and the name of the current thread.
//
// Queues, timers, groups and semaphores have their own headers, included here for convenience.
#pragma once

#include "Platform/Foundation/DispatchGroup.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/DispatchSemaphore.h"
#include "Platform/Foundation/DispatchSource.h"
#include "Platform/Foundation/DispatchTimer.h"

#include <QString>
#include <chrono>
#include <functional>

namespace platform {

class Dispatch {
public:
    using Task = std::function<void()>;

    // Queues the task on Qt's event loop of the main thread (also when called from it).
    static void main(Task task);
    static void async(const DispatchQueue& queue, Task task);
    static void after(std::chrono::milliseconds delay, const DispatchQueue& queue, Task task);

    // The thread of the Qt application (before one exists: the process's first thread).
    static bool isMainThread();

    // Names the calling thread for debuggers, `top` and the logger; the system keeps at most
    // 15 bytes of it.
    static void setCurrentThreadName(const QString& name);
    // The system's name of the calling thread; empty when it has none.
    static QString currentThreadName();
};

} // namespace platform
