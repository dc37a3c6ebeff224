#include "Import/KPImportState.h"

#include <condition_variable>
#include <mutex>

namespace {

struct SharedState {
    std::mutex mutex;
    std::condition_variable changed;
    KPImportState::State state = KPImportState::Run;
    bool pausable = false;
};

SharedState& shared()
{
    static SharedState s;
    return s;
}

} // namespace

void KPImportState::beginOperation()
{
    SharedState& s = shared();
    std::lock_guard lock(s.mutex);
    s.state = Run;
    s.pausable = true;
    s.changed.notify_all();
}

KPImportState::State KPImportState::checkpoint(const std::function<bool()>& isCancelled, bool lastCheck)
{
    SharedState& s = shared();
    std::unique_lock lock(s.mutex);
    const auto cancelled = [&] { return isCancelled && isCancelled(); };
    s.changed.wait(lock, [&] { return s.state != Paused || cancelled(); });
    State decision = s.state;
    // A cancelled operation (quit, queue gone) keeps what it copied, with its records.
    if (cancelled() && decision != DeleteImported)
        decision = SaveImported;
    if (decision != Run || lastCheck)
        s.pausable = false;
    return decision;
}

void KPImportState::pace(std::chrono::milliseconds timeout, const std::function<bool()>& isCancelled)
{
    if (timeout.count() <= 0)
        return;
    SharedState& s = shared();
    std::unique_lock lock(s.mutex);
    s.changed.wait_for(lock, timeout, [&] { return isCancelled && isCancelled(); });
}

void KPImportState::reset()
{
    SharedState& s = shared();
    std::lock_guard lock(s.mutex);
    s.state = Run;
    s.pausable = false;
    s.changed.notify_all();
}

void KPImportState::wakeAll()
{
    SharedState& s = shared();
    std::lock_guard lock(s.mutex);
    s.changed.notify_all();
}

bool KPImportState::pause()
{
    SharedState& s = shared();
    std::lock_guard lock(s.mutex);
    if (!s.pausable)
        return true;
    s.state = Paused;
    return false;
}

void KPImportState::answer(State state)
{
    SharedState& s = shared();
    std::lock_guard lock(s.mutex);
    if (s.pausable)
        s.state = state;
    s.changed.notify_all();
}

KPImportState::State KPImportState::state()
{
    SharedState& s = shared();
    std::lock_guard lock(s.mutex);
    return s.state;
}

bool KPImportState::isPausable()
{
    SharedState& s = shared();
    std::lock_guard lock(s.mutex);
    return s.pausable;
}
