// An avahi-daemon of the test's own, so discovery can be tested through the real daemon without
// touching the machine's D-Bus system bus, its avahi-daemon or its network:
// - a dbus-daemon of its own serves as the system bus, on a socket in a private folder, with a
//   policy that lets the avahi service own its name and be called;
// - avahi-daemon runs in mount and network namespaces of its own: its pid file and socket go to a
//   private /run (which also hides the machine's bus socket from it), and it publishes on that
//   namespace's loopback interface only, so nothing leaves the machine;
// - the cases that use it run in a child test process whose DBUS_SYSTEM_BUS_ADDRESS names the
//   private bus from its start: the D-Bus library reads that variable once per process, so only
//   a process that had it from the outset is sure to reach no other bus.
// Each process started here is killed when the harness ends, and also when the test process dies
// first (parent-death signal), so a crashed test leaves no daemon behind.
//
// Needs root (the namespaces, and avahi-daemon refuses other users) and the avahi-daemon,
// dbus-daemon, unshare, setpriv and ip programs. When the machine cannot run it, skipReason()
// says why; when the daemon itself fails, failure() does.
#pragma once

#include "Support/TestSupport.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace testsupport {

class PrivateAvahiDaemon {
public:
    // Starts both daemons and waits (bounded) until avahi-daemon is up.
    PrivateAvahiDaemon();
    ~PrivateAvahiDaemon();
    PrivateAvahiDaemon(const PrivateAvahiDaemon&) = delete;
    PrivateAvahiDaemon& operator=(const PrivateAvahiDaemon&) = delete;

    bool running() const { return m_skipReason.isEmpty() && m_failure.isEmpty(); }
    QString skipReason() const { return m_skipReason; }
    QString failure() const { return m_failure; }
    QString busAddress() const { return m_busAddress; }

    // Runs the disabled case testName ("Suite.DISABLED_Name") of this test program in a child
    // whose system bus is the private one, killed after timeoutMs; answers whether that one case
    // ran and passed, with what it printed.
    struct CaseRun {
        bool passed = false;
        QString output;
    };
    CaseRun runCase(const QString& testName, int timeoutMs = 120000) const;
    // In such a child: whether its system bus is a private one; a case must not run otherwise.
    static bool onPrivateBus();

private:
    void start();
    void stop();

    QString m_skipReason;
    QString m_failure;
    QString m_busAddress;
    QString m_setpriv;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ChildProcess> m_bus;
    std::unique_ptr<ChildProcess> m_avahi;
};

} // namespace testsupport
