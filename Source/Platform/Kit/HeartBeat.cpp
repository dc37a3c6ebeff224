#include "Platform/Kit/HeartBeat.h"

#include <algorithm>

namespace platform::kit {

HeartBeat& HeartBeat::shared()
{
    static HeartBeat instance;
    return instance;
}

void HeartBeat::prune()
{
    std::erase_if(m_clients, [](const Client& c) { return c.owner.isNull(); });
    if (m_clients.empty())
        m_timer.cancel();
}

void HeartBeat::add(QObject* owner, std::function<void()> beatFn)
{
    prune();
    if (!owner || contains(owner))
        return;
    m_clients.push_back({owner, std::move(beatFn)});
    Scheduler& scheduler = Scheduler::current();
    if (!m_timer.isActive() || m_timerScheduler != &scheduler) {
        m_timer = scheduler.every(1000 / kBeatsPerSecond, [this] { beat(); });
        m_timerScheduler = &scheduler;
    }
}

void HeartBeat::remove(QObject* owner)
{
    std::erase_if(m_clients, [owner](const Client& c) { return c.owner == owner; });
    prune();
}

bool HeartBeat::contains(QObject* owner) const
{
    return std::any_of(m_clients.begin(), m_clients.end(),
                       [owner](const Client& c) { return c.owner == owner && !c.owner.isNull(); });
}

int HeartBeat::count() const
{
    return int(std::count_if(m_clients.begin(), m_clients.end(), [](const Client& c) { return !c.owner.isNull(); }));
}

void HeartBeat::beat()
{
    // A copy: a client may add or remove itself (or others) while being told.
    const std::vector<Client> clients = m_clients;
    for (const Client& c : clients) {
        if (c.owner && c.beat && contains(c.owner))
            c.beat();
    }
    prune();
}

} // namespace platform::kit
