#include "Platform/Workspace/ProcessLauncher.h"

#include "Platform/Foundation/HelperProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

// What the two children tell the launcher through the pipe, each in one atomic write.
struct Report {
    enum Kind : int { Started = 1, Failed = 2 };
    int kind = 0;
    int value = 0;
};

void send(int fd, Report::Kind kind, int value)
{
    const Report report{kind, value};
    [[maybe_unused]] const ssize_t written = ::write(fd, &report, sizeof report);
}

// Starts path as a grandchild that init adopts (nothing is left for this process to reap),
// in a session of its own and with a fresh signal state: this program blocks its termination
// signals on every thread, and a program started for the user must still end with the session
// (unless the user had this program ignore the session's end: the signals kept ignored stay so).
// Only async-signal-safe calls between fork and exec; everything they use is made beforehand.
Result<qint64> spawnDetached(const QByteArray& path, const QList<QByteArray>& arguments, const QByteArray& directory)
{
    std::vector<char*> argv;
    argv.reserve(size_t(arguments.size()) + 1);
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return fail(QStringLiteral("Workspace"), 11, QString::fromLocal8Bit(std::strerror(errno)));
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(pipe[0]);
        ::close(pipe[1]);
        return fail(QStringLiteral("Workspace"), 11, QString::fromLocal8Bit(std::strerror(error)));
    }
    if (child == 0) {
        ::close(pipe[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            struct sigaction defaults = {};
            defaults.sa_handler = SIG_DFL;
            sigemptyset(&defaults.sa_mask);
            struct sigaction ignored = defaults;
            ignored.sa_handler = SIG_IGN;
            for (int signal = 1; signal < NSIG; ++signal)
                ::sigaction(signal, isSignalKeptIgnored(signal) ? &ignored : &defaults, nullptr);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            if (directory.isEmpty() || ::chdir(directory.constData()) == 0)
                ::execve(path.constData(), argv.data(), environ);
            send(pipe[1], Report::Failed, errno);
            ::_exit(127);
        }
        send(pipe[1], grandchild < 0 ? Report::Failed : Report::Started, grandchild < 0 ? errno : grandchild);
        ::_exit(0);
    }
    ::close(pipe[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // Read until both children have closed their ends: the grandchild's closes at its exec.
    qint64 pid = 0;
    int error = 0;
    Report report;
    for (;;) {
        const ssize_t got = ::read(pipe[0], &report, sizeof report);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != ssize_t(sizeof report))
            break;
        if (report.kind == Report::Started)
            pid = report.value;
        else
            error = report.value;
    }
    ::close(pipe[0]);
    if (error != 0 || pid <= 0)
        return fail(QStringLiteral("Workspace"), 11, QString::fromLocal8Bit(std::strerror(error ? error : ECHILD)));
    return pid;
}

} // namespace

ProcessLauncher& ProcessLauncher::system()
{
    static SystemProcessLauncher launcher;
    return launcher;
}

Result<qint64> SystemProcessLauncher::startDetached(const QString& program, const QStringList& arguments,
                                                    const QString& workingDirectory)
{
    if (program.isEmpty())
        return fail(QStringLiteral("Workspace"), 10, QStringLiteral("No program to start"));
    const QString path = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return fail(QStringLiteral("Workspace"), 11, QStringLiteral("Cannot start %1: not found").arg(program));
    QList<QByteArray> argv{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        argv.append(QFile::encodeName(argument));
    const auto started = spawnDetached(QFile::encodeName(path), argv, QFile::encodeName(workingDirectory));
    if (!started)
        return fail(QStringLiteral("Workspace"), 11,
                    QStringLiteral("Cannot start %1: %2").arg(program, started.error().message));
    return started;
}

bool SystemProcessLauncher::canFind(const QString& program) const
{
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace platform
