#include "Platform/Kit/Scheduler.h"

#include <QAnimationDriver>
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <map>

namespace platform::kit {

namespace detail {

using WorkKey = std::pair<qint64, quint64>;   // due time, then scheduling order

struct ScheduledWork {
    std::function<void()> fn;
    WorkKey key;
    int interval = 0;                 // 0: once
    bool guarded = false;
    QPointer<QObject> guard;
    bool cancelled = false;
    bool ran = false;                 // once-only work that has started
    std::weak_ptr<WorkQueue> queue;
};

struct WorkQueue {
    std::map<WorkKey, std::shared_ptr<ScheduledWork>> works;
    quint64 nextSeq = 0;
};

} // namespace detail

namespace {

Scheduler* g_installed = nullptr;

} // namespace

Token& Token::operator=(Token&& other) noexcept
{
    if (this != &other) {
        cancel();
        m_work = std::move(other.m_work);
    }
    return *this;
}

Token::~Token()
{
    cancel();
}

void Token::cancel()
{
    const auto work = m_work.lock();
    m_work.reset();
    if (!work || work->cancelled)
        return;
    work->cancelled = true;
    // Dropped from the queue at once so its captures go now; work that is running right now
    // is not in the queue (its runner holds it), so this is safe from inside the work itself.
    if (const auto queue = work->queue.lock()) {
        const auto it = queue->works.find(work->key);
        if (it != queue->works.end() && it->second == work)
            queue->works.erase(it);
    }
}

bool Token::isActive() const
{
    const auto work = m_work.lock();
    return work && !work->cancelled && !work->ran && !work->queue.expired();
}

Scheduler::Scheduler()
    : m_queue(std::make_shared<detail::WorkQueue>())
{
}

Scheduler::~Scheduler()
{
    if (g_installed == this)
        g_installed = nullptr;
}

Scheduler& Scheduler::current()
{
    if (g_installed)
        return *g_installed;
    static RealScheduler real;
    return real;
}

Scheduler* Scheduler::install(Scheduler* scheduler)
{
    return std::exchange(g_installed, scheduler);
}

std::shared_ptr<detail::ScheduledWork> Scheduler::schedule(int ms, int interval, std::function<void()> fn)
{
    auto work = std::make_shared<detail::ScheduledWork>();
    work->fn = std::move(fn);
    work->interval = interval;
    work->key = {clockMs() + std::max(0, ms), m_queue->nextSeq++};
    work->queue = m_queue;
    m_queue->works.emplace(work->key, work);
    queueChanged();
    return work;
}

Token Scheduler::after(int ms, std::function<void()> fn)
{
    return Token(schedule(ms, 0, std::move(fn)));
}

void Scheduler::after(QObject* owner, int ms, std::function<void()> fn)
{
    if (!owner)
        return;
    const auto work = schedule(ms, 0, std::move(fn));
    work->guarded = true;
    work->guard = owner;
}

Token Scheduler::every(int ms, std::function<void()> fn)
{
    const int interval = std::max(1, ms);
    return Token(schedule(interval, interval, std::move(fn)));
}

int Scheduler::pendingCount() const
{
    return int(std::count_if(m_queue->works.begin(), m_queue->works.end(), [](const auto& entry) {
        return !entry.second->guarded || entry.second->guard;
    }));
}

std::optional<qint64> Scheduler::nextDue() const
{
    if (m_queue->works.empty())
        return std::nullopt;
    return m_queue->works.begin()->first.first;
}

void Scheduler::runDue(const std::function<qint64()>& until, const std::function<void(qint64)>& beforeRun)
{
    const auto queue = m_queue;
    while (!queue->works.empty() && queue->works.begin()->first.first <= until()) {
        auto work = queue->works.begin()->second;
        queue->works.erase(queue->works.begin());
        if (work->cancelled || (work->guarded && !work->guard))
            continue;
        const qint64 due = work->key.first;
        if (beforeRun)
            beforeRun(due);
        if (work->interval > 0) {
            // Back in the queue before it runs, so it can cancel itself.
            qint64 next = due + work->interval;
            if (!catchesUp() && next <= clockMs())
                next = clockMs() + work->interval;
            work->key = {next, queue->nextSeq++};
            queue->works.emplace(work->key, work);
        } else {
            work->ran = true;
        }
        // A copy: the work may cancel itself, which must not destroy the function it runs in.
        const auto fn = work->fn;
        fn();
    }
    queueChanged();
}

// ---------------------------------------------------------------------------------------------

RealScheduler::RealScheduler() = default;

RealScheduler::~RealScheduler() = default;

qint64 RealScheduler::clockMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QDateTime RealScheduler::now() const
{
    return QDateTime::currentDateTimeUtc();
}

void RealScheduler::queueChanged()
{
    const auto due = nextDue();
    if (!due) {
        if (m_timer)
            m_timer->stop();
        return;
    }
    if (!m_timer) {
        // Owned by the application, so it goes before static destruction does.
        m_timer = new QTimer(QCoreApplication::instance());
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, [this] { fire(); });
    }
    m_timer->start(int(std::clamp<qint64>(*due - clockMs(), 0, std::numeric_limits<int>::max())));
}

void RealScheduler::fire()
{
    runDue([this] { return clockMs(); });
}

// ---------------------------------------------------------------------------------------------

// Qt's animations ask their driver how much time went by; this one answers in virtual time and
// is advanced only when virtual time moves.
class VirtualAnimationDriver : public QAnimationDriver {
public:
    explicit VirtualAnimationDriver(const VirtualScheduler& clock)
        : m_clock(clock)
    {
    }

    qint64 elapsed() const override { return isRunning() ? m_clock.clockMs() - m_start : 0; }

protected:
    void start() override
    {
        m_start = m_clock.clockMs();
        QAnimationDriver::start();
    }

private:
    const VirtualScheduler& m_clock;
    qint64 m_start = 0;
};

VirtualScheduler::VirtualScheduler(const QDateTime& startDate)
    : m_startDate(startDate.toUTC())
    , m_driver(std::make_unique<VirtualAnimationDriver>(*this))
{
    m_previous = install(this);
    m_driver->install();
}

VirtualScheduler::~VirtualScheduler()
{
    m_driver->uninstall();
    if (&current() == this)
        install(m_previous);
}

namespace {

// Qt registers newly started animations through queued calls (two rounds deep); deliver them so
// an animation started before an advance takes part in it.
void deliverQueuedCalls()
{
    for (int round = 0; round < 3; ++round)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

} // namespace

void VirtualScheduler::stepAnimations()
{
    deliverQueuedCalls();
    if (m_driver->isRunning())
        m_driver->advance();
}

void VirtualScheduler::advance(qint64 ms)
{
    const qint64 step = std::max<qint64>(0, ms);
    if (m_advancing) {
        m_target = std::max(m_target, m_now + step);
        return;
    }
    m_advancing = true;
    m_target = m_now + step;
    stepAnimations();
    runDue([this] { return m_target; }, [this](qint64 due) {
        if (due > m_now) {
            m_now = due;
            stepAnimations();
        }
    });
    m_now = m_target;
    stepAnimations();
    m_advancing = false;
}

} // namespace platform::kit
