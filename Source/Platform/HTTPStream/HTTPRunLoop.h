// A small event loop of file-descriptor watches, timers and posted tasks, run by one thread:
// the request thread, or the caller's thread while a synchronous request runs (then it serves
// only that request's own stream and timer).
//
// Threads: post() and stop() may be called from any thread (they wake the loop through an
// eventfd); everything else only on the thread that runs the loop.
#pragma once

#include <QList>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace platform {

class HTTPRunLoop {
public:
    using Task = std::function<void()>;
    // Called with the poll() events that fired (POLLIN, POLLOUT, POLLERR, POLLHUP).
    using WatchCallback = std::function<void(short revents)>;
    using Clock = std::chrono::steady_clock;

    HTTPRunLoop();
    ~HTTPRunLoop();
    HTTPRunLoop(const HTTPRunLoop&) = delete;
    HTTPRunLoop& operator=(const HTTPRunLoop&) = delete;

    // One watch per descriptor; watching again replaces it. Events 0 keeps the watch idle.
    void watch(int fd, short events, WatchCallback callback);
    void setEvents(int fd, short events);
    void unwatch(int fd);

    // A timer on this loop; answers its id.
    int addTimer(std::chrono::milliseconds interval, bool repeats, Task task);
    void removeTimer(int id);

    // Queues a task for the loop's thread (from any thread).
    void post(Task task);

    // Runs until stop() (from any thread) or, with a condition, until it holds after a turn.
    void run(const std::function<bool()>& until = {});
    void stop();

private:
    void wake();
    void runTurn(int timeoutMs);

    struct Watch {
        short events = 0;
        WatchCallback callback;
    };
    struct Timer {
        Clock::time_point due;
        std::chrono::milliseconds interval;
        bool repeats = false;
        Task task;
    };

    int m_eventFd = -1;
    std::map<int, Watch> m_watches;
    std::map<int, Timer> m_timers;
    int m_nextTimer = 1;

    std::mutex m_postMutex; // guards m_posted and m_stop
    std::vector<Task> m_posted;
    bool m_stop = false;
};

} // namespace platform
