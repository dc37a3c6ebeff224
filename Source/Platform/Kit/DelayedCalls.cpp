#include "Platform/Kit/DelayedCalls.h"

#include <algorithm>

namespace platform::kit {

void DelayedCalls::perform(int ms, std::function<void()> fn)
{
    // Timers that already fired are dropped here rather than from their own slot, where
    // destroying the emitting timer would be unsafe; deleteLater, because this may itself be
    // called from the slot of one of them (a call that schedules the next).
    std::erase_if(m_timers, [](std::unique_ptr<QTimer>& t) {
        if (t->isActive())
            return false;
        t.release()->deleteLater();
        return true;
    });
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(), std::move(fn));
    timer->start(std::max(0, ms));
    m_timers.push_back(std::move(timer));
}

void DelayedCalls::cancelAll()
{
    // deleteLater: cancelAll may be called from one of these timers' own calls.
    for (auto& t : m_timers) {
        t->stop();
        t.release()->deleteLater();
    }
    m_timers.clear();
}

int DelayedCalls::pendingCount() const
{
    return int(std::count_if(m_timers.begin(), m_timers.end(),
                             [](const std::unique_ptr<QTimer>& t) { return t->isActive(); }));
}

} // namespace platform::kit
