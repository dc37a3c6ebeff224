#include "Platform/Foundation/DispatchTimer.h"

#include "Platform/Foundation/DispatchTimerThread.h"

#include <algorithm>
#include <mutex>

namespace platform {

using Clock = detail::DispatchTimerThread::Clock;

struct DispatchTimer::State : std::enable_shared_from_this<DispatchTimer::State> {
    DispatchQueue queue;
    Handler handler;

    std::mutex mutex;
    Handler cancelHandler;
    Clock::duration interval{};
    Clock::duration leeway{};
    quint64 generation = 0; // bumped on every start and on cancel; stale firings are ignored
    bool cancelled = false;
    bool inFlight = false; // a handler is queued or running
    bool cancelHandlerSent = false;

    void arm(quint64 gen, Clock::time_point deadline, Clock::duration slack);
    void fire(quint64 gen, Clock::time_point deadline);
    void runHandler();
    // Call with the mutex held; sends the cancel handler once no handler is in flight.
    void sendCancelHandlerLocked();
};

void DispatchTimer::State::arm(quint64 gen, Clock::time_point deadline, Clock::duration slack)
{
    detail::DispatchTimerThread::shared().schedule(
        deadline, slack, [weak = weak_from_this(), gen, deadline] {
            if (const auto self = weak.lock())
                self->fire(gen, deadline);
        });
}

void DispatchTimer::State::fire(quint64 gen, Clock::time_point deadline)
{
    bool send = false;
    Clock::time_point next;
    Clock::duration slack;
    {
        std::lock_guard lock(mutex);
        if (cancelled || gen != generation)
            return;
        send = !inFlight;
        inFlight = true;
        // Deadlines missed while the thread was late are skipped, keeping the timer's phase.
        const auto now = Clock::now();
        const auto missed = now > deadline ? (now - deadline) / interval : 0;
        next = deadline + (missed + 1) * interval;
        slack = leeway;
    }
    arm(gen, next, slack);
    if (send)
        queue.async([self = shared_from_this()] { self->runHandler(); });
}

void DispatchTimer::State::runHandler()
{
    {
        std::lock_guard lock(mutex);
        if (cancelled) {
            inFlight = false;
            sendCancelHandlerLocked();
            return;
        }
    }
    if (handler)
        handler();
    std::lock_guard lock(mutex);
    inFlight = false;
    if (cancelled)
        sendCancelHandlerLocked();
}

void DispatchTimer::State::sendCancelHandlerLocked()
{
    if (inFlight || cancelHandlerSent || !cancelHandler)
        return;
    cancelHandlerSent = true;
    queue.async(std::move(cancelHandler));
    cancelHandler = nullptr;
}

DispatchTimer::DispatchTimer(DispatchQueue queue, Handler handler) : m_state(std::make_shared<State>())
{
    m_state->queue = std::move(queue);
    m_state->handler = std::move(handler);
}

DispatchTimer::~DispatchTimer()
{
    cancel();
}

DispatchTimer::DispatchTimer(DispatchTimer&& other) noexcept : m_state(std::move(other.m_state))
{
}

DispatchTimer& DispatchTimer::operator=(DispatchTimer&& other) noexcept
{
    if (this != &other) {
        cancel();
        m_state = std::move(other.m_state);
    }
    return *this;
}

void DispatchTimer::setCancelHandler(Handler handler)
{
    if (!m_state)
        return;
    std::lock_guard lock(m_state->mutex);
    if (!m_state->cancelHandlerSent)
        m_state->cancelHandler = std::move(handler);
}

void DispatchTimer::start(std::chrono::milliseconds interval, std::chrono::milliseconds leeway,
                          bool fireAtOnce)
{
    if (!m_state)
        return;
    quint64 gen;
    Clock::time_point first;
    Clock::duration slack;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->cancelled)
            return;
        m_state->interval = std::max<Clock::duration>(interval, std::chrono::milliseconds(1));
        m_state->leeway = std::max<Clock::duration>(leeway, Clock::duration::zero());
        gen = ++m_state->generation;
        first = Clock::now() + (fireAtOnce ? Clock::duration::zero() : m_state->interval);
        slack = m_state->leeway;
    }
    m_state->arm(gen, first, slack);
}

void DispatchTimer::cancel()
{
    if (!m_state)
        return;
    std::lock_guard lock(m_state->mutex);
    if (m_state->cancelled)
        return;
    m_state->cancelled = true;
    ++m_state->generation;
    m_state->sendCancelHandlerLocked();
}

bool DispatchTimer::isCancelled() const
{
    if (!m_state)
        return false;
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

} // namespace platform
