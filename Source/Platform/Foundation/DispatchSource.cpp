#include "Platform/Foundation/DispatchSource.h"

#include "Platform/Foundation/Dispatch.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

struct DispatchSource::State : std::enable_shared_from_this<DispatchSource::State> {
    State(int f, Kind k, DispatchQueue q) : fd(f), kind(k), queue(std::move(q)) {}

    const int fd;
    const Kind kind;
    const DispatchQueue queue;

    std::mutex mutex;
    EventHandler handler;
    Handler cancelHandler;
    int suspendCount = 1; // sources start suspended
    bool cancelled = false;
    bool pending = false; // a handler is queued or running

    void armLocked();
    void fire();
    void runHandler();
};

namespace {

// One epoll set for every source. Entries are keyed by a number of their own rather than by the
// descriptor, so an event read just before a descriptor was dropped and its number reused can
// never reach the new owner's sources.
class Reactor {
public:
    static Reactor& shared();

    void attach(const std::shared_ptr<DispatchSource::State>& source);
    void detach(DispatchSource::State* source);
    void setArmed(DispatchSource::State* source, bool armed);
    void stop();

private:
    struct Entry {
        int fd = -1;
        std::weak_ptr<DispatchSource::State> read, write;
        DispatchSource::State* readRaw = nullptr;
        DispatchSource::State* writeRaw = nullptr;
        bool readArmed = false, writeArmed = false;
        uint32_t registered = 0; // the mask epoll holds; 0 = not in the set
    };

    Reactor();
    void run();
    void updateLocked(uint64_t id, Entry& entry);

    int m_epoll = -1;
    int m_wake = -1;
    std::mutex m_mutex;
    std::unordered_map<uint64_t, Entry> m_entries;
    std::unordered_map<int, uint64_t> m_byFd;
    uint64_t m_nextId = 1;
    bool m_stopped = false;
    std::thread m_thread;
};

std::atomic<Reactor*> applicationReactor{nullptr};

Reactor::Reactor()
{
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll < 0 || m_wake < 0) {
        qCritical("DispatchSource: cannot create the reactor (errno %d); sources will not fire", errno);
        m_stopped = true;
        return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = 0; // the wake-up descriptor
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
    m_thread = std::thread([this] { run(); });
}

Reactor& Reactor::shared()
{
    static Reactor* reactor = [] {
        auto* made = new Reactor;
        // Stopped with the worker pool when the application goes, so no event is handed to a
        // queue whose pool is gone; the routine does not read `reactor`, which may still be
        // under construction on another thread.
        applicationReactor.store(made);
        qAddPostRoutine([] { applicationReactor.load()->stop(); });
        return made;
    }();
    static struct ExitGuard {
        ~ExitGuard() { reactor->stop(); }
    } exitGuard;
    return *reactor;
}

void Reactor::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        m_stopped = true;
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(m_wake, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
}

void Reactor::attach(const std::shared_ptr<DispatchSource::State>& source)
{
    std::lock_guard lock(m_mutex);
    auto found = m_byFd.find(source->fd);
    uint64_t id;
    if (found == m_byFd.end()) {
        id = m_nextId++;
        m_byFd.emplace(source->fd, id);
        m_entries[id].fd = source->fd;
    } else {
        id = found->second;
    }
    Entry& entry = m_entries[id];
    if (source->kind == DispatchSource::Kind::Read) {
        if (entry.readRaw)
            qWarning("DispatchSource: a second read source on descriptor %d replaces the first", source->fd);
        entry.read = source;
        entry.readRaw = source.get();
        entry.readArmed = false;
    } else {
        if (entry.writeRaw)
            qWarning("DispatchSource: a second write source on descriptor %d replaces the first", source->fd);
        entry.write = source;
        entry.writeRaw = source.get();
        entry.writeArmed = false;
    }
    updateLocked(id, entry);
}

void Reactor::detach(DispatchSource::State* source)
{
    std::lock_guard lock(m_mutex);
    auto found = m_byFd.find(source->fd);
    if (found == m_byFd.end())
        return;
    const uint64_t id = found->second;
    Entry& entry = m_entries[id];
    if (entry.readRaw == source) {
        entry.read.reset();
        entry.readRaw = nullptr;
        entry.readArmed = false;
    }
    if (entry.writeRaw == source) {
        entry.write.reset();
        entry.writeRaw = nullptr;
        entry.writeArmed = false;
    }
    updateLocked(id, entry);
    if (!entry.readRaw && !entry.writeRaw) {
        m_entries.erase(id);
        m_byFd.erase(found);
    }
}

void Reactor::setArmed(DispatchSource::State* source, bool armed)
{
    std::lock_guard lock(m_mutex);
    if (m_stopped)
        return;
    auto found = m_byFd.find(source->fd);
    if (found == m_byFd.end())
        return;
    Entry& entry = m_entries[found->second];
    if (entry.readRaw == source)
        entry.readArmed = armed;
    else if (entry.writeRaw == source)
        entry.writeArmed = armed;
    else
        return;
    updateLocked(found->second, entry);
}

void Reactor::updateLocked(uint64_t id, Entry& entry)
{
    uint32_t wanted = 0;
    if (entry.readArmed)
        wanted |= EPOLLIN | EPOLLRDHUP;
    if (entry.writeArmed)
        wanted |= EPOLLOUT;
    if (wanted == entry.registered)
        return;
    epoll_event ev{};
    ev.events = wanted;
    ev.data.u64 = id;
    int op = wanted == 0 ? EPOLL_CTL_DEL : (entry.registered == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD);
    if (epoll_ctl(m_epoll, op, entry.fd, &ev) != 0 && op != EPOLL_CTL_DEL) {
        // A descriptor closed behind its sources' back (or one epoll cannot watch, a plain file)
        // never fires; say so rather than hang without a trace.
        qWarning("DispatchSource: cannot watch descriptor %d (errno %d)", entry.fd, errno);
        entry.registered = 0;
        return;
    }
    entry.registered = wanted;
}

void Reactor::run()
{
    Dispatch::setCurrentThreadName(QStringLiteral("folivo.reactor"));
    std::vector<epoll_event> events(64);
    for (;;) {
        const int n = epoll_wait(m_epoll, events.data(), int(events.size()), -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            qCritical("DispatchSource: epoll_wait failed (errno %d); the reactor stops", errno);
            return;
        }
        std::vector<std::shared_ptr<DispatchSource::State>> toFire;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopped)
                return;
            for (int i = 0; i < n; ++i) {
                const uint64_t id = events[i].data.u64;
                if (id == 0) {
                    uint64_t drained;
                    [[maybe_unused]] ssize_t r = ::read(m_wake, &drained, sizeof drained);
                    continue;
                }
                auto found = m_entries.find(id);
                if (found == m_entries.end())
                    continue; // dropped since epoll_wait returned
                Entry& entry = found->second;
                const uint32_t what = events[i].events;
                const bool failed = what & (EPOLLERR | EPOLLHUP);
                // Level-triggered interest is dropped until the handler has run, so a ready
                // descriptor wakes the reactor once per handler, not in a busy loop.
                if (entry.readArmed && (failed || (what & (EPOLLIN | EPOLLRDHUP)))) {
                    entry.readArmed = false;
                    if (auto s = entry.read.lock())
                        toFire.push_back(std::move(s));
                }
                if (entry.writeArmed && (failed || (what & EPOLLOUT))) {
                    entry.writeArmed = false;
                    if (auto s = entry.write.lock())
                        toFire.push_back(std::move(s));
                }
                updateLocked(id, entry);
            }
        }
        for (auto& source : toFire)
            source->fire();
    }
}

// Bytes readable now; nullopt when the descriptor is not readable any more (another step took
// the bytes after the event), 0 for an end of stream or a pending error.
std::optional<std::size_t> readableCount(int fd)
{
    int count = 0;
    const bool counted = ::ioctl(fd, FIONREAD, &count) == 0;
    if (counted && count > 0)
        return std::size_t(count);
    pollfd p{fd, short(POLLIN | POLLRDHUP), 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    if (r <= 0 || p.revents == 0)
        return std::nullopt;
    // A listening socket has no byte count; readiness there means connections wait.
    return counted ? std::size_t(0) : std::size_t(1);
}

} // namespace

void DispatchSource::State::armLocked()
{
    if (!cancelled && !pending && suspendCount == 0)
        Reactor::shared().setArmed(this, true);
}

void DispatchSource::State::fire()
{
    std::lock_guard lock(mutex);
    if (cancelled || pending || suspendCount > 0)
        return; // resume() or the running handler re-arms
    pending = true;
    queue.async([self = shared_from_this()] { self->runHandler(); });
}

void DispatchSource::State::runHandler()
{
    EventHandler h;
    {
        std::lock_guard lock(mutex);
        if (cancelled) {
            pending = false;
            return;
        }
        h = handler;
    }
    std::optional<std::size_t> data = std::size_t(1);
    if (kind == Kind::Read)
        data = readableCount(fd);
    if (data && h)
        h(*data);
    std::lock_guard lock(mutex);
    pending = false;
    armLocked();
}

DispatchSource::DispatchSource(int fd, Kind kind, DispatchQueue queue)
    : m_state(std::make_shared<State>(fd, kind, std::move(queue)))
{
    Reactor::shared().attach(m_state);
}

DispatchSource::~DispatchSource()
{
    if (m_state)
        cancel();
}

DispatchSource& DispatchSource::operator=(DispatchSource&& other) noexcept
{
    if (this != &other) {
        if (m_state)
            cancel();
        m_state = std::move(other.m_state);
    }
    return *this;
}

int DispatchSource::fd() const
{
    return m_state ? m_state->fd : -1;
}

void DispatchSource::setEventHandler(EventHandler handler)
{
    if (!m_state)
        return;
    std::lock_guard lock(m_state->mutex);
    if (!m_state->cancelled)
        m_state->handler = std::move(handler);
}

void DispatchSource::setCancelHandler(Handler handler)
{
    if (!m_state)
        return;
    std::lock_guard lock(m_state->mutex);
    if (!m_state->cancelled)
        m_state->cancelHandler = std::move(handler);
}

void DispatchSource::resume()
{
    if (!m_state)
        return;
    std::lock_guard lock(m_state->mutex);
    if (m_state->suspendCount == 0) {
        qWarning("DispatchSource: resumed more often than suspended");
        return;
    }
    if (--m_state->suspendCount == 0)
        m_state->armLocked();
}

void DispatchSource::suspend()
{
    if (!m_state)
        return;
    std::lock_guard lock(m_state->mutex);
    if (m_state->suspendCount++ == 0 && !m_state->pending && !m_state->cancelled)
        Reactor::shared().setArmed(m_state.get(), false);
}

void DispatchSource::cancel()
{
    if (!m_state)
        return;
    Handler onCancel;
    EventHandler dropped; // destroyed outside the lock: its captures may own this source
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->cancelled)
            return;
        m_state->cancelled = true;
        onCancel = std::move(m_state->cancelHandler);
        dropped = std::move(m_state->handler);
        m_state->cancelHandler = nullptr;
        m_state->handler = nullptr;
    }
    Reactor::shared().detach(m_state.get());
    // Queued behind any handler already queued, so it runs after the last one.
    m_state->queue.async([keep = m_state, onCancel = std::move(onCancel)] {
        if (onCancel)
            onCancel();
    });
}

bool DispatchSource::isCancelled() const
{
    if (!m_state)
        return true;
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

namespace detail {
void stopDispatchReactor()
{
    Reactor::shared().stop();
}
} // namespace detail

} // namespace platform
