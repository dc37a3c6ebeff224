#include "Utilities/KPLogger/KPLogReachability.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

std::optional<uint32_t> KPLogReachability::currentFlags()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return std::nullopt;
    uint32_t flags = 0;
    for (const ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || (it->ifa_addr->sa_family != AF_INET && it->ifa_addr->sa_family != AF_INET6))
            continue;
        if ((it->ifa_flags & IFF_UP) && (it->ifa_flags & IFF_RUNNING)) {
            flags |= Reachable;
            if (it->ifa_flags & IFF_LOOPBACK)
                flags |= LoopbackUp;
        }
    }
    ::freeifaddrs(list);
    return flags;
}

void KPLogReachability::start()
{
    m_active = true;
    m_last.reset();
    m_nextPoll = std::chrono::steady_clock::now();
}

void KPLogReachability::stop()
{
    m_active = false;
    m_last.reset();
}

std::optional<uint32_t> KPLogReachability::pollIfDue(std::chrono::steady_clock::time_point now)
{
    if (!m_active || now < m_nextPoll)
        return std::nullopt;
    m_nextPoll = now + kPollInterval;
    const auto flags = currentFlags();
    if (!flags || flags == m_last)
        return std::nullopt;
    m_last = flags;
    return flags;
}
