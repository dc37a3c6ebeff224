#include "Support/PrivateAvahiDaemon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <unistd.h>

namespace testsupport {
namespace {

// Bounds on the start-up of each daemon: generous, they only keep a broken machine from hanging
// the test.
constexpr int kBusStartMs = 10000;
constexpr int kAvahiStartMs = 20000;

const QByteArray kBusVariable = "DBUS_SYSTEM_BUS_ADDRESS";
const QString kDirPrefix = QStringLiteral("/tmp/folivo-avahi-");
const QString kPrivateBusPrefix = QStringLiteral("unix:path=") + kDirPrefix;
// Printed by the namespace script just before it becomes avahi-daemon: everything before it is
// the machine's part (namespaces, mounts, the loopback interface), everything after the daemon's.
const QByteArray kNamespaceReady = "folivo-test: private network ready";

QString findProgram(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                     QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    return path;
}

bool hasEnded(ChildProcess& child)
{
    return child.waitForFinished(0);
}

QString tail(const QByteArray& text)
{
    return QString::fromLocal8Bit(text.right(2000)).trimmed();
}

} // namespace

PrivateAvahiDaemon::PrivateAvahiDaemon()
{
    start();
    if (!running())
        stop();
}

PrivateAvahiDaemon::~PrivateAvahiDaemon()
{
    stop();
}

void PrivateAvahiDaemon::start()
{
    if (::geteuid() != 0) {
        m_skipReason = QStringLiteral("needs root: avahi-daemon and the private network namespace it runs in");
        return;
    }
    QHash<QString, QString> programs;
    for (const QString& name : {QStringLiteral("avahi-daemon"), QStringLiteral("dbus-daemon"), QStringLiteral("unshare"),
                                QStringLiteral("setpriv"), QStringLiteral("ip"), QStringLiteral("mount"),
                                QStringLiteral("sh")}) {
        programs.insert(name, findProgram(name));
        if (programs.value(name).isEmpty()) {
            m_skipReason = QStringLiteral("no %1 program on this machine").arg(name);
            return;
        }
    }

    // Below /tmp rather than the test home: the daemon's /run is replaced by an empty one, and a
    // socket path must stay short.
    m_dir = std::make_unique<QTemporaryDir>(kDirPrefix + QStringLiteral("XXXXXX"));
    if (!m_dir->isValid()) {
        m_skipReason = QStringLiteral("cannot make a folder below /tmp");
        return;
    }
    const QString dir = m_dir->path();
    m_setpriv = programs.value(QStringLiteral("setpriv"));
    const QString socket = dir + QStringLiteral("/system_bus_socket");
    m_busAddress = QStringLiteral("unix:path=") + socket;

    writeFile(dir + QStringLiteral("/bus.conf"), QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="org.freedesktop.Avahi"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)").arg(m_busAddress).toUtf8());
    writeFile(dir + QStringLiteral("/avahi-daemon.conf"), QByteArrayLiteral(R"([server]
host-name=folivo-test
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
)"));

    // setpriv makes each daemon die with this process even when the test crashes.
    m_bus = std::make_unique<ChildProcess>(
        QStringList{QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), programs.value(QStringLiteral("dbus-daemon")),
                    QStringLiteral("--nofork"), QStringLiteral("--nopidfile"), QStringLiteral("--nosyslog"),
                    QStringLiteral("--print-address"), QStringLiteral("--config-file=") + dir + QStringLiteral("/bus.conf")},
        QHash<QString, QString>{}, programs.value(QStringLiteral("setpriv")));
    if (!m_bus->started()
        || !spinUntil([&] { return m_bus->standardOutput().contains("unix:") || hasEnded(*m_bus); }, kBusStartMs)
        || !m_bus->standardOutput().contains("unix:")) {
        m_skipReason = QStringLiteral("cannot create a private system bus: %1").arg(tail(m_bus->standardError()));
        return;
    }

    // unshare execs the script, which execs avahi-daemon: one process from setpriv on.
    const QString script = QStringLiteral(
        "set -e\n"
        "\"$MOUNT\" -t tmpfs -o mode=0755 folivo-test-run /run\n"
        "\"$IP\" link set lo multicast on up\n"
        "echo '%1' >&2\n"
        "exec \"$AVAHI\" --no-chroot --no-drop-root --no-proc-title -f \"$CONF\"\n")
                               .arg(QString::fromLatin1(kNamespaceReady));
    const QHash<QString, QString> env{
        {QString::fromLatin1(kBusVariable), m_busAddress},
        {QStringLiteral("MOUNT"), programs.value(QStringLiteral("mount"))},
        {QStringLiteral("IP"), programs.value(QStringLiteral("ip"))},
        {QStringLiteral("AVAHI"), programs.value(QStringLiteral("avahi-daemon"))},
        {QStringLiteral("CONF"), dir + QStringLiteral("/avahi-daemon.conf")},
    };
    m_avahi = std::make_unique<ChildProcess>(
        QStringList{QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), programs.value(QStringLiteral("unshare")),
                    QStringLiteral("--mount"), QStringLiteral("--net"), QStringLiteral("--propagation"),
                    QStringLiteral("private"), programs.value(QStringLiteral("sh")), QStringLiteral("-c"), script},
        env, programs.value(QStringLiteral("setpriv")));
    const auto log = [&] { return m_avahi->standardError(); };
    const bool ready = m_avahi->started()
        && spinUntil([&] { return log().contains("Server startup complete") || hasEnded(*m_avahi); }, kAvahiStartMs)
        && log().contains("Server startup complete");
    if (ready)
        return;
    if (!log().contains(kNamespaceReady))
        m_skipReason = QStringLiteral("cannot give avahi-daemon a private network: %1").arg(tail(log()));
    else
        m_failure = QStringLiteral("avahi-daemon did not start on the private bus: %1").arg(tail(log()));
}

PrivateAvahiDaemon::CaseRun PrivateAvahiDaemon::runCase(const QString& testName, int timeoutMs) const
{
    CaseRun run;
    if (!running())
        return run;
    // Also ended with this process, like the daemons.
    ChildProcess child({QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), QCoreApplication::applicationFilePath(),
                        QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=") + testName},
                       {{QString::fromLatin1(kBusVariable), m_busAddress}}, m_setpriv);
    const bool ended = child.started() && child.waitForFinished(timeoutMs);
    run.output = QString::fromLocal8Bit(child.standardOutput() + child.standardError());
    if (!ended)
        run.output += QStringLiteral("\n(killed after %1 ms)").arg(timeoutMs);
    // A filter that matches nothing passes too: the one case must have run.
    run.passed = ended && child.exitCode() == 0 && run.output.contains(QStringLiteral("[  PASSED  ] 1 test."));
    return run;
}

bool PrivateAvahiDaemon::onPrivateBus()
{
    return qEnvironmentVariable(kBusVariable.constData()).startsWith(kPrivateBusPrefix);
}

void PrivateAvahiDaemon::stop()
{
    // Killed and reaped by their handles; the daemon's namespaces and private /run go with it.
    m_avahi.reset();
    m_bus.reset();
    m_dir.reset();
}

} // namespace testsupport
