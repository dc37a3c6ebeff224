// What the store engine schedules its periodic save with. The engine asks for a tick every
// interval, the first at once; the real timer is a dispatch timer on the global default queue,
// and tests substitute a timer they fire by hand.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

class DataBaseSaveTimer {
public:
    using Tick = std::function<void()>;

    virtual ~DataBaseSaveTimer() = default;
    // Calls tick at once and then every interval, from any thread, until the timer is
    // destroyed (destruction waits for nothing; tick must not need its caller alive).
    virtual void start(std::chrono::milliseconds interval, Tick tick) = 0;

    // The dispatch timer on the global default-priority queue.
    static std::unique_ptr<DataBaseSaveTimer> makeDispatchTimer();
};

using DataBaseSaveTimerFactory = std::function<std::unique_ptr<DataBaseSaveTimer>()>;
