#include "Platform/Foundation/DispatchTimerThread.h"

#include "Platform/Foundation/Dispatch.h"

#include <QDebug>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::detail {

namespace {

struct Firing {
    DispatchTimerThread::Clock::time_point deadline;
    DispatchTimerThread::Clock::time_point latest; // deadline plus leeway
    quint64 order;                                  // keeps equal deadlines first-come first-fired
    std::function<void()> fire;
};

// Heap order: the firing that must happen soonest on top.
bool laterFirst(const Firing& a, const Firing& b)
{
    return a.latest != b.latest ? a.latest > b.latest : a.order > b.order;
}

} // namespace

struct DispatchTimerThread::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Firing> heap;
    quint64 nextOrder = 0;
    bool stopping = false;

    void run();
};

void DispatchTimerThread::State::run()
{
    Dispatch::setCurrentThreadName(QStringLiteral("folivo.timers"));
    std::unique_lock lock(mutex);
    while (!stopping) {
        if (heap.empty()) {
            changed.wait(lock);
            continue;
        }
        const auto wakeAt = heap.front().latest;
        if (Clock::now() < wakeAt) {
            changed.wait_until(lock, wakeAt);
            continue;
        }
        // Everything already due goes now, not only the one that woke us.
        const auto now = Clock::now();
        std::vector<Firing> due;
        auto split = std::partition(heap.begin(), heap.end(),
                                    [&](const Firing& f) { return f.deadline > now; });
        std::move(split, heap.end(), std::back_inserter(due));
        heap.erase(split, heap.end());
        std::make_heap(heap.begin(), heap.end(), laterFirst);
        std::sort(due.begin(), due.end(), [](const Firing& a, const Firing& b) {
            return a.deadline != b.deadline ? a.deadline < b.deadline : a.order < b.order;
        });
        lock.unlock();
        for (auto& f : due) {
            f.fire();
            f.fire = nullptr;
        }
        due.clear();
        lock.lock();
    }
}

DispatchTimerThread::DispatchTimerThread() : m_state(new State)
{
    std::thread([s = m_state] { s->run(); }).detach();
}

DispatchTimerThread& DispatchTimerThread::shared()
{
    static DispatchTimerThread* thread = new DispatchTimerThread;
    static struct ExitGuard {
        ~ExitGuard()
        {
            std::vector<Firing> dropped;
            std::lock_guard lock(thread->m_state->mutex);
            thread->m_state->stopping = true;
            dropped.swap(thread->m_state->heap);
            thread->m_state->changed.notify_all();
        }
    } exitGuard;
    return *thread;
}

void DispatchTimerThread::schedule(Clock::time_point deadline, Clock::duration leeway,
                                   std::function<void()> fire)
{
    if (!fire)
        return;
    std::function<void()> refused; // destroyed outside the lock: its captures may schedule
    std::lock_guard lock(m_state->mutex);
    if (m_state->stopping) {
        refused = std::move(fire);
        return;
    }
    const auto latest = deadline + std::max(leeway, Clock::duration::zero());
    m_state->heap.push_back(Firing{deadline, latest, m_state->nextOrder++, std::move(fire)});
    std::push_heap(m_state->heap.begin(), m_state->heap.end(), laterFirst);
    if (m_state->heap.front().order == m_state->nextOrder - 1)
        m_state->changed.notify_one();
}

} // namespace platform::detail
