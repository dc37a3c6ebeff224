#include "Platform/HTTPStream/HTTPRunLoop.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

HTTPRunLoop::HTTPRunLoop()
{
    m_eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

HTTPRunLoop::~HTTPRunLoop()
{
    if (m_eventFd >= 0)
        ::close(m_eventFd);
}

void HTTPRunLoop::watch(int fd, short events, WatchCallback callback)
{
    m_watches[fd] = Watch{events, std::move(callback)};
}

void HTTPRunLoop::setEvents(int fd, short events)
{
    if (auto it = m_watches.find(fd); it != m_watches.end())
        it->second.events = events;
}

void HTTPRunLoop::unwatch(int fd)
{
    m_watches.erase(fd);
}

int HTTPRunLoop::addTimer(std::chrono::milliseconds interval, bool repeats, Task task)
{
    const int id = m_nextTimer++;
    m_timers[id] = Timer{Clock::now() + interval, interval, repeats, std::move(task)};
    return id;
}

void HTTPRunLoop::removeTimer(int id)
{
    m_timers.erase(id);
}

void HTTPRunLoop::post(Task task)
{
    {
        std::lock_guard lock(m_postMutex);
        m_posted.push_back(std::move(task));
    }
    wake();
}

void HTTPRunLoop::stop()
{
    {
        std::lock_guard lock(m_postMutex);
        m_stop = true;
    }
    wake();
}

void HTTPRunLoop::wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(m_eventFd, &one, sizeof one);
}

void HTTPRunLoop::run(const std::function<bool()>& until)
{
    for (;;) {
        {
            std::lock_guard lock(m_postMutex);
            if (m_stop) {
                m_stop = false;
                return;
            }
        }
        if (until && until())
            return;
        int timeoutMs = 1000;
        const auto now = Clock::now();
        for (const auto& [id, t] : m_timers) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now).count() + 1;
            timeoutMs = std::max<int>(0, std::min<int>(timeoutMs, int(ms)));
        }
        runTurn(timeoutMs);
    }
}

void HTTPRunLoop::runTurn(int timeoutMs)
{
    std::vector<pollfd> fds;
    fds.push_back(pollfd{m_eventFd, POLLIN, 0});
    for (const auto& [fd, w] : m_watches)
        if (w.events)
            fds.push_back(pollfd{fd, w.events, 0});
    const int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0 && errno != EINTR)
        return;
    if (n > 0 && (fds[0].revents & POLLIN)) {
        uint64_t count = 0;
        [[maybe_unused]] auto r = ::read(m_eventFd, &count, sizeof count);
    }
    std::vector<Task> posted;
    {
        std::lock_guard lock(m_postMutex);
        posted.swap(m_posted);
    }
    for (auto& task : posted)
        task();
    // A callback may unwatch any descriptor (its own or another's): look each up again.
    for (size_t i = 1; n > 0 && i < fds.size(); ++i) {
        if (!fds[i].revents)
            continue;
        auto it = m_watches.find(fds[i].fd);
        if (it == m_watches.end()
            || (!(it->second.events & fds[i].revents & (POLLIN | POLLOUT))
                && !(fds[i].revents & (POLLERR | POLLHUP | POLLNVAL))))
            continue;
        auto callback = it->second.callback;
        callback(fds[i].revents);
    }
    const auto now = Clock::now();
    std::vector<int> due;
    for (const auto& [id, t] : m_timers)
        if (t.due <= now)
            due.push_back(id);
    for (int id : due) {
        auto it = m_timers.find(id);
        if (it == m_timers.end())
            continue;
        auto task = it->second.task;
        if (it->second.repeats)
            it->second.due = now + it->second.interval;
        else
            m_timers.erase(it);
        task();
    }
}

} // namespace platform
