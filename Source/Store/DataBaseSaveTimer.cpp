#include "Store/DataBaseSaveTimer.h"

#include "Platform/Foundation/DispatchTimer.h"

namespace {

// The timer may fire this late so that it can share a wake-up with other timers.
constexpr std::chrono::milliseconds kSaveTimerLeeway{0};

class DispatchSaveTimer : public DataBaseSaveTimer {
public:
    void start(std::chrono::milliseconds interval, Tick tick) override
    {
        m_timer = platform::DispatchTimer(platform::DispatchQueue::global(platform::QueuePriority::Default),
                                          std::move(tick));
        m_timer.start(interval, kSaveTimerLeeway, true);
    }

private:
    platform::DispatchTimer m_timer; // cancelled when destroyed
};

} // namespace

std::unique_ptr<DataBaseSaveTimer> DataBaseSaveTimer::makeDispatchTimer()
{
    return std::make_unique<DispatchSaveTimer>();
}
