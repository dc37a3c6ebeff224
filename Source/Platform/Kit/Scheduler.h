// The one clock of the interface: every delay, repeating timer and animation of the views goes
// through the current scheduler, so tests can replace wall time with virtual time.
//
// RealScheduler (the default) runs due work from one QTimer on a monotonic clock and answers
// now() with the wall clock; Qt's animations keep their own driver. VirtualScheduler, made by
// tests, runs due work only on advance(ms), answers now() in virtual time and drives Qt's
// animations (QPropertyAnimation and friends) from that same virtual time.
//
// Work is held by a Token: destroying the token or calling cancel() cancels the work (also from
// inside the work itself), so an object that keeps its tokens as members never gets called
// after it has gone. after(owner, ms, fn) needs no token: the work is dropped when owner is
// destroyed first.
//
// Threads: main thread only (the queue has no lock); work runs on the main thread.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QTimer;

namespace platform::kit {

namespace detail {
struct ScheduledWork;
struct WorkQueue;
} // namespace detail

class [[nodiscard]] Token {
public:
    Token() = default;
    Token(Token&& other) noexcept = default;
    Token& operator=(Token&& other) noexcept;
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
    ~Token();

    void cancel();
    // Pending: not cancelled, not yet run (once) and its scheduler still exists.
    bool isActive() const;

private:
    friend class Scheduler;
    explicit Token(std::weak_ptr<detail::ScheduledWork> work) : m_work(std::move(work)) {}
    std::weak_ptr<detail::ScheduledWork> m_work;
};

class Scheduler {
public:
    virtual ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // The installed scheduler, else the process-wide RealScheduler (made on first use).
    static Scheduler& current();
    // Makes scheduler current (null: back to the real one); answers the one it replaces.
    static Scheduler* install(Scheduler* scheduler);

    // fn once, ms milliseconds from now (negative counts as 0).
    Token after(int ms, std::function<void()> fn);
    // fn once, unless owner is destroyed first (a null owner schedules nothing).
    void after(QObject* owner, int ms, std::function<void()> fn);
    // fn every ms milliseconds (at least 1) until cancelled.
    Token every(int ms, std::function<void()> fn);

    // Monotonic milliseconds of this scheduler's clock.
    virtual qint64 clockMs() const = 0;
    // The date and time now, in UTC.
    virtual QDateTime now() const = 0;

    int pendingCount() const;

protected:
    Scheduler();
    // Runs, in due order, the work due at or before the time until() answers (it is asked
    // afresh after each run, so work scheduled meanwhile joins when it falls due in time).
    // beforeRun is called with each work's due time before it runs.
    void runDue(const std::function<qint64()>& until, const std::function<void(qint64)>& beforeRun = {});
    // The due time of the earliest pending work, if any.
    std::optional<qint64> nextDue() const;
    // Called whenever the earliest due time may have changed.
    virtual void queueChanged() {}
    // Whether repeating work that fell behind runs once for every missed interval (virtual
    // time) or resumes one interval from now (wall time, after the loop was blocked).
    virtual bool catchesUp() const = 0;

private:
    std::shared_ptr<detail::ScheduledWork> schedule(int ms, int interval, std::function<void()> fn);

    std::shared_ptr<detail::WorkQueue> m_queue;
};

class RealScheduler final : public Scheduler {
public:
    RealScheduler();
    ~RealScheduler() override;

    qint64 clockMs() const override;
    QDateTime now() const override;

protected:
    void queueChanged() override;
    bool catchesUp() const override { return false; }

private:
    void fire();

    QPointer<QTimer> m_timer;
};

class VirtualAnimationDriver;

// Installs itself as the current scheduler and as the driver of Qt's animations for as long as
// it lives; its destructor puts back the scheduler it replaced. One at a time (Qt takes one
// animation driver). Virtual time starts at 0 ms and at startDate for now().
class VirtualScheduler final : public Scheduler {
public:
    explicit VirtualScheduler(const QDateTime& startDate = QDateTime(QDate(2024, 1, 15), QTime(9, 0), Qt::UTC));
    ~VirtualScheduler() override;

    qint64 clockMs() const override { return m_now; }
    QDateTime now() const override { return m_startDate.addMSecs(m_now); }

    // Moves virtual time ms forward, running every piece of work that falls due on the way,
    // in due order (equal times in scheduling order), with clockMs() answering its due time
    // while it runs; Qt's animations follow at each of those times and at the end. Queued
    // calls posted before (Qt starts animations through them) are delivered first. Called
    // from inside running work it extends the current advance.
    void advance(qint64 ms);

protected:
    bool catchesUp() const override { return true; }

private:
    void stepAnimations();

    qint64 m_now = 0;
    qint64 m_target = 0;
    bool m_advancing = false;
    QDateTime m_startDate;
    Scheduler* m_previous = nullptr;
    std::unique_ptr<VirtualAnimationDriver> m_driver;
};

} // namespace platform::kit
