// One shared repeating timer that drives the small animations which redraw on a beat rather
// than on demand (the busy spinner). Clients are held weakly through their owner object: a
// destroyed owner is dropped and never called. The beat runs on the current Scheduler only
// while somebody listens; a client added after another scheduler became current moves the
// beat onto that one.
#pragma once

#include "Platform/Kit/Scheduler.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <vector>

namespace platform::kit {

class HeartBeat {
public:
    // Beats per second; about one turn per second for a twelve-spoke spinner.
    static constexpr int kBeatsPerSecond = 12;

    static HeartBeat& shared();

    // Registers owner's beat function unless owner is registered already.
    void add(QObject* owner, std::function<void()> beat);
    void remove(QObject* owner);
    bool contains(QObject* owner) const;
    int count() const;
    bool isRunning() const { return m_timer.isActive(); }

    // One beat now, for every live client in registration order.
    void beat();

private:
    HeartBeat() = default;
    void prune();

    struct Client {
        QPointer<QObject> owner;
        std::function<void()> beat;
    };
    std::vector<Client> m_clients;
    Token m_timer;
    const Scheduler* m_timerScheduler = nullptr;
};

} // namespace platform::kit
