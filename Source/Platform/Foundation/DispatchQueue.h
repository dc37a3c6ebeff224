// A handle on one of the places work can be sent to: the main queue (Qt's event loop on the
// GUI thread), the four global concurrent queues over one shared elastic thread pool, or a
// labelled serial queue that runs its tasks one at a time in submission order.
//
// Handles are cheap to copy and compare; a serial queue lives while a handle or a pending task
// refers to it. Serial queues borrow threads from the pool instead of owning one, so many idle
// queues cost nothing.
//
// sync() runs the task and returns when it has finished:
// - on the main queue from the main thread, and on a global queue, it runs at once on the
//   calling thread;
// - onto a queue the caller is already running on (directly, or through a chain of sync calls
//   that is waiting for the caller) it would wait for itself forever. That is a programming
//   error: it is logged with qCritical and the task runs at once on the calling thread instead
//   of hanging silently.
// Blocking the main thread in sync() on a worker that waits for the main thread still hangs:
// never do that.
//
// Main-queue tasks are posted as queued calls on the application object, so they also run
// inside modal loops (dialogs, menus), each as its own event. Without a Qt application (before
// it is made, or once it is being destroyed) main-queue async tasks are dropped with a warning,
// and a main-queue sync runs in place with a warning.
#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <memory>

namespace platform {

enum class QueuePriority { High, Default, Low, Background };

namespace detail {
class QueueImpl;
}

class DispatchQueue {
public:
    using Task = std::function<void()>;

    DispatchQueue() = default; // invalid; tasks sent to it are dropped

    static DispatchQueue main();
    static DispatchQueue global(QueuePriority priority = QueuePriority::Default);
    // A new serial queue whose tasks run at the given priority on the pool; the label names the
    // running thread ("am I on this queue" and the logger's thread names).
    static DispatchQueue serial(const QString& label,
                                QueuePriority priority = QueuePriority::Default);

    bool isValid() const { return m_impl != nullptr; }
    bool isMain() const;
    bool isSerial() const; // the main queue is serial too
    QString label() const;

    void async(Task task) const;
    void sync(const Task& task) const;
    void after(std::chrono::milliseconds delay, Task task) const;

    // True while the calling code runs as a task of this queue (for the main queue: on the main
    // thread), including inside a sync() from that queue to another.
    bool isCurrent() const;

    friend bool operator==(const DispatchQueue& a, const DispatchQueue& b)
    {
        return a.m_impl == b.m_impl;
    }

private:
    explicit DispatchQueue(std::shared_ptr<detail::QueueImpl> impl) : m_impl(std::move(impl)) {}
    std::shared_ptr<detail::QueueImpl> m_impl;
};

} // namespace platform
