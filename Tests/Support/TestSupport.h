// Helpers shared by every test executable: the isolated home folder made by the test main,
// scratch folders, waiting on asynchronous results by spinning the event loop, and child
// processes.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <sys/types.h>

class QApplication;

namespace testsupport {

// A test program whose tests need the program's own application class defines this; the test
// main then runs every test of that program under the object it makes, else a QApplication.
std::unique_ptr<QApplication> makeApplication(int& argc, char** argv) __attribute__((weak));

// The fresh temporary folder that HOME and the XDG folders point into for this process.
QString homeDir();

// A new empty folder below the temporary home, removed with it when the process ends.
QString makeTempDir(const QString& prefix = QStringLiteral("t"));

// Writes bytes to a file, creating parent folders; fails the current test on error.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// Runs the Qt event loop until cond() holds or timeoutMs passes; answers whether it held.
// The cap is generous on purpose: it guards against hangs, it is not a speed assertion.
bool spinUntil(const std::function<bool()>& cond, int timeoutMs = 30000);

// A program run in a child process (this test program when none is named), with variables
// added to this process's environment; its output and error streams go to files of their own.
//
// Tests start their children with this and not with QProcess (only tools they merely run, in
// programs the thread sanitizer does not check, may still use it). QProcess starts them with
// clone(CLONE_VM | CLONE_VFORK): until it execs, the child runs on the parent's memory, and the
// thread sanitizer's clone interceptor then does its after-fork bookkeeping for the child on the
// calling thread's own state. That thread comes back with its ignore counts off balance and from
// then on none of its memory accesses or synchronisation is recorded, so every later case of
// the process reports races that are not there and misses those that are. posix_spawn's child
// runs only the C library's own code before it execs.
class ChildProcess {
public:
    // program is a path (not looked up in PATH); the child starts in workingDirectory when one is named.
    explicit ChildProcess(const QStringList& arguments, const QHash<QString, QString>& environment = {},
                          const QString& program = QString(), const QString& workingDirectory = QString());
    // A child still running is killed and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // Spins the event loop until the child has ended, at most timeoutMs.
    bool waitForFinished(int timeoutMs = 60000);
    // Ended by exit() (not by a signal), and with which code.
    bool exitedNormally() const;
    int exitCode() const;
    QByteArray standardOutput() const;
    QByteArray standardError() const;

private:
    bool reap(bool block);

    pid_t m_pid = -1;
    bool m_finished = false;
    int m_status = 0;
    QString m_outputPath;
    QString m_errorPath;
};

// Kill tests: this test program started again to run one disabled test (the child) with extra
// environment variables, killed with SIGKILL once the child calls signalReady(), at most
// timeoutMs later. The home the killed child leaves behind is removed. Answers whether the
// child got there, and what it printed.
struct KilledChild {
    bool ready = false;
    QString output;
};
KilledChild runChildUntilReadyAndKill(const QString& testName, const QMap<QString, QString>& environment,
                                      int timeoutMs);
// In the child: the point to be killed at is reached. Answers false outside a kill test.
bool signalReady();

} // namespace testsupport
