#include "Platform/Foundation/DispatchQueue.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/DispatchPool.h"
#include "Platform/Foundation/DispatchTimerThread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMetaObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

// Qt is not built for the thread sanitizer, so it cannot see that posting an event to the main
// thread orders what the poster did before the post with what the main thread does in the task.
#if defined(__SANITIZE_THREAD__)
#define FOLIVO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FOLIVO_TSAN 1
#endif
#endif

namespace platform {
namespace detail {

namespace {

// A serial queue gives its borrowed worker back to the pool after this many tasks, so one busy
// queue cannot keep a worker from the other queues of its priority for ever.
constexpr int DrainBatch = 32;

// The queues the calling code runs on, innermost first. A sync() links the task it runs to the
// caller's chain, because the caller's queues are held (blocked) until the task returns.
struct ExecContext {
    const QueueImpl* queue;
    const ExecContext* parent;
};

thread_local const ExecContext* tlCurrent = nullptr;

class ContextScope {
public:
    ContextScope(const QueueImpl* queue, const ExecContext* parent)
        : m_context{queue, parent}, m_saved(tlCurrent)
    {
        tlCurrent = &m_context;
    }
    ~ContextScope() { tlCurrent = m_saved; }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

private:
    ExecContext m_context;
    const ExecContext* m_saved;
};

void runGuarded(const std::function<void()>& task)
{
    try {
        task();
    } catch (const std::exception& e) {
        qCritical("Dispatch: a task threw an exception: %s", e.what());
    } catch (...) {
        qCritical("Dispatch: a task threw an exception");
    }
}

// Wakes a sync() caller when its task has run, or when the task is dropped unrun (at exit):
// the last copy of the posted closure releases the waiter either way.
class SyncWaiter {
public:
    void finish()
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
        m_cv.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_done; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
};

struct SyncRelease {
    explicit SyncRelease(std::shared_ptr<SyncWaiter> w) : waiter(std::move(w)) {}
    ~SyncRelease() { waiter->finish(); }
    std::shared_ptr<SyncWaiter> waiter;
};

// Main-queue posting stays possible from the first application object until it starts to be
// destroyed; afterwards posts are refused instead of touching a dying object.
std::mutex mainMutex;
QCoreApplication* liveApp = nullptr;

void onApplicationGone()
{
    std::lock_guard lock(mainMutex);
    liveApp = nullptr;
}

bool postToMain(std::function<void()> fn)
{
    std::lock_guard lock(mainMutex);
    if (!liveApp) {
        liveApp = QCoreApplication::closingDown() ? nullptr : QCoreApplication::instance();
        if (!liveApp)
            return false;
        qAddPostRoutine(&onApplicationGone);
    }
#ifdef FOLIVO_TSAN
    // The poster holds mainMutex until the post, closure and all, is complete; taking it once
    // before the task tells the thread sanitizer the order that Qt's event queue gives.
    QMetaObject::invokeMethod(liveApp, [fn = std::move(fn)] {
        { std::lock_guard handOff(mainMutex); }
        fn();
    }, Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(liveApp, std::move(fn), Qt::QueuedConnection);
#endif
    return true;
}

} // namespace

class QueueImpl : public std::enable_shared_from_this<QueueImpl> {
public:
    enum class Kind { Main, Global, Serial };

    QueueImpl(Kind kind, QueuePriority priority, QString label)
        : kind(kind), priority(priority), label(std::move(label))
    {
        const int dot = this->label.lastIndexOf(QLatin1Char('.'));
        threadName = dot >= 0 && dot + 1 < this->label.size() ? this->label.mid(dot + 1)
                                                               : this->label;
    }

    const Kind kind;
    const QueuePriority priority;
    const QString label;
    QString threadName; // the label's last component: thread names keep only 15 bytes

    void async(std::function<void()> task, const ExecContext* parent = nullptr);
    void sync(const std::function<void()>& task);
    bool holdsCaller() const;

private:
    struct Item {
        std::function<void()> task;
        const ExecContext* parent;
    };
    void drain();

    std::mutex m_mutex;
    std::deque<Item> m_items;
    bool m_scheduled = false; // a drain is queued on the pool or running
};

namespace {

const ExecContext mainThreadContext{nullptr, nullptr};

// The chain of the calling code. The main thread's root is the main queue itself.
const ExecContext* currentChain()
{
    if (tlCurrent)
        return tlCurrent;
    return Dispatch::isMainThread() ? &mainThreadContext : nullptr;
}

std::shared_ptr<QueueImpl>& mainQueueImpl()
{
    static auto* impl = new std::shared_ptr<QueueImpl>(std::make_shared<QueueImpl>(
        QueueImpl::Kind::Main, QueuePriority::High, QStringLiteral("main")));
    return *impl;
}

bool chainHolds(const ExecContext* chain, const QueueImpl* queue)
{
    for (const ExecContext* c = chain; c; c = c->parent) {
        const QueueImpl* q = c->queue ? c->queue : mainQueueImpl().get();
        if (q == queue)
            return true;
    }
    return false;
}

} // namespace

bool QueueImpl::holdsCaller() const
{
    return chainHolds(currentChain(), this);
}

void QueueImpl::async(std::function<void()> task, const ExecContext* parent)
{
    if (!task)
        return;
    switch (kind) {
    case Kind::Main:
        if (!postToMain([task = std::move(task)] { runGuarded(task); }))
            qWarning("Dispatch: no application object; a main-queue task was dropped");
        return;
    case Kind::Global:
        DispatchPool::shared().submit(priority, [self = shared_from_this(), task = std::move(task)] {
            ContextScope scope(self.get(), nullptr);
            runGuarded(task);
        });
        return;
    case Kind::Serial: {
        std::deque<Item> refused; // destroyed outside the lock; releases any sync waiters
        std::lock_guard lock(m_mutex);
        m_items.push_back(Item{std::move(task), parent});
        if (!m_scheduled) {
            m_scheduled = DispatchPool::shared().submit(priority, [self = shared_from_this()] {
                self->drain();
            });
            if (!m_scheduled) // the process is exiting
                refused.swap(m_items);
        }
        return;
    }
    }
}

void QueueImpl::drain()
{
    Dispatch::setCurrentThreadName(threadName);
    for (int n = 0;; ++n) {
        Item item;
        std::deque<Item> refused; // destroyed outside the lock; releases any sync waiters
        {
            std::lock_guard lock(m_mutex);
            if (m_items.empty()) {
                m_scheduled = false;
                break;
            }
            if (n == DrainBatch) {
                m_scheduled = DispatchPool::shared().submit(priority, [self = shared_from_this()] {
                    self->drain();
                });
                if (!m_scheduled)
                    refused.swap(m_items);
                break;
            }
            item = std::move(m_items.front());
            m_items.pop_front();
        }
        ContextScope scope(this, item.parent);
        runGuarded(item.task);
    }
    Dispatch::setCurrentThreadName(QString::fromLatin1(PoolThreadName));
}

void QueueImpl::sync(const std::function<void()>& task)
{
    if (!task)
        return;
    const ExecContext* caller = currentChain();
    const bool inline_ = kind == Kind::Global || (kind == Kind::Main && Dispatch::isMainThread());
    if (!inline_ && chainHolds(caller, this)) {
        qCritical("Dispatch: sync onto queue \"%s\", which the caller is running on, would "
                  "deadlock; running the task in place",
                  qUtf8Printable(label));
    } else if (!inline_) {
        auto waiter = std::make_shared<SyncWaiter>();
        auto release = std::make_shared<SyncRelease>(waiter);
        auto job = [&task, waiter, release] {
            task();
            waiter->finish();
        };
        if (kind == Kind::Main) {
            // The main thread runs the task with no chain of its own; a sync from it back to
            // this caller's queue must still be caught, so the caller's chain goes along.
            auto posted = [job = std::move(job), caller] {
                ContextScope scope(nullptr, caller);
                runGuarded(job);
            };
            release.reset();
            if (postToMain(std::move(posted))) {
                waiter->wait();
                return;
            }
            qWarning("Dispatch: no application object; a main-queue sync task runs in place");
        } else if (!DispatchPool::shared().isStopping()) {
            release.reset();
            async(std::move(job), caller);
            waiter->wait();
            return;
        }
        // While the process exits no worker takes tasks any more; running in place beats hanging.
    }
    ContextScope scope(this, caller);
    runGuarded(task);
}

} // namespace detail

using detail::QueueImpl;

DispatchQueue DispatchQueue::main()
{
    return DispatchQueue(detail::mainQueueImpl());
}

DispatchQueue DispatchQueue::global(QueuePriority priority)
{
    static const auto* queues = [] {
        static const char* const names[] = {"global.high", "global.default", "global.low",
                                            "global.background"};
        auto* all = new std::shared_ptr<QueueImpl>[4];
        for (int i = 0; i < 4; ++i)
            all[i] = std::make_shared<QueueImpl>(QueueImpl::Kind::Global, QueuePriority(i),
                                                 QString::fromLatin1(names[i]));
        return all;
    }();
    return DispatchQueue(queues[int(priority)]);
}

DispatchQueue DispatchQueue::serial(const QString& label, QueuePriority priority)
{
    return DispatchQueue(std::make_shared<QueueImpl>(QueueImpl::Kind::Serial, priority, label));
}

bool DispatchQueue::isMain() const
{
    return m_impl && m_impl->kind == QueueImpl::Kind::Main;
}

bool DispatchQueue::isSerial() const
{
    return m_impl && m_impl->kind != QueueImpl::Kind::Global;
}

QString DispatchQueue::label() const
{
    return m_impl ? m_impl->label : QString();
}

void DispatchQueue::async(Task task) const
{
    if (m_impl)
        m_impl->async(std::move(task));
}

void DispatchQueue::sync(const Task& task) const
{
    if (m_impl)
        m_impl->sync(task);
}

void DispatchQueue::after(std::chrono::milliseconds delay, Task task) const
{
    if (!m_impl || !task)
        return;
    if (delay <= std::chrono::milliseconds::zero()) {
        async(std::move(task));
        return;
    }
    detail::DispatchTimerThread::shared().schedule(
        std::chrono::steady_clock::now() + delay, {},
        [queue = *this, task = std::move(task)]() mutable { queue.async(std::move(task)); });
}

bool DispatchQueue::isCurrent() const
{
    if (!m_impl)
        return false;
    if (m_impl->kind == QueueImpl::Kind::Main)
        return Dispatch::isMainThread();
    return m_impl->holdsCaller();
}

} // namespace platform
