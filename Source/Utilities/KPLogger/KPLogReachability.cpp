#include "Utilities/KPLogger/KPLogReachability.h"

#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Announcements are small (one link or address each); a read takes many at once.
constexpr std::size_t kReadSize = 32 * 1024;

int openRouteSocket()
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0)
        return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

KPLogReachability::~KPLogReachability()
{
    closeSocket();
}

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

bool KPLogReachability::announcesChange(const unsigned char* data, std::size_t size)
{
    std::size_t offset = 0;
    while (size - offset >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, data + offset, sizeof header);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > size - offset)
            return false; // cut short or damaged: nothing after it can be trusted
        switch (header.nlmsg_type) {
        case RTM_NEWLINK:
        case RTM_DELLINK:
        case RTM_NEWADDR:
        case RTM_DELADDR:
        case NLMSG_OVERRUN:
            return true;
        default:
            break;
        }
        const std::size_t step = NLMSG_ALIGN(header.nlmsg_len);
        if (step >= size - offset)
            break;
        offset += step;
    }
    return false;
}

void KPLogReachability::start()
{
    if (m_socket < 0)
        m_socket = openRouteSocket();
    m_active = true;
    m_dirty = true;
    m_last.reset();
    m_nextPoll = std::chrono::steady_clock::now();
}

void KPLogReachability::startOn(int descriptor)
{
    closeSocket();
    m_socket = descriptor;
    start();
}

void KPLogReachability::stop()
{
    // A stopped watch must not keep the worker's wait busy with announcements nobody reads.
    closeSocket();
    m_active = false;
    m_dirty = false;
    m_last.reset();
}

void KPLogReachability::closeSocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}

std::optional<uint32_t> KPLogReachability::readFlags() const
{
    return m_reader ? m_reader() : currentFlags();
}

std::optional<std::chrono::steady_clock::time_point> KPLogReachability::nextPoll() const
{
    if (!m_active || m_socket >= 0)
        return std::nullopt;
    return m_nextPoll;
}

bool KPLogReachability::drainAnnouncements()
{
    bool changed = false;
    unsigned char buffer[kReadSize];
    for (;;) {
        sockaddr_nl from{};
        socklen_t fromSize = sizeof from;
        const ssize_t n = ::recvfrom(m_socket, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            if (errno == ENOBUFS) {
                changed = true; // the kernel dropped announcements: whatever they said is unknown
                continue;
            }
            // A socket that fails otherwise would keep the wait awake: the list is read on the
            // fallback interval from now on.
            closeSocket();
            m_nextPoll = std::chrono::steady_clock::now() + kFallbackPollInterval;
            return true;
        }
        if (n == 0)
            break;
        // Only the kernel speaks for the network; another process could write to this socket.
        if (fromSize >= sizeof from && from.nl_family == AF_NETLINK && from.nl_pid != 0)
            continue;
        if (std::size_t(n) > sizeof buffer || announcesChange(buffer, std::size_t(n)))
            changed = true;
    }
    return changed;
}

std::optional<uint32_t> KPLogReachability::takeChange(std::chrono::steady_clock::time_point now)
{
    if (!m_active)
        return std::nullopt;
    if (m_socket >= 0) {
        if (drainAnnouncements())
            m_dirty = true;
    } else if (now >= m_nextPoll) {
        m_dirty = true;
        m_nextPoll = now + kFallbackPollInterval;
    }
    if (!m_dirty)
        return std::nullopt;
    m_dirty = false;
    const auto flags = readFlags();
    if (!flags || flags == m_last)
        return std::nullopt;
    m_last = flags;
    return flags;
}
