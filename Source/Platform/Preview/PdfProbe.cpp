#include "Platform/Preview/PdfProbe.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

std::atomic<bool> g_cancelled{false};

std::mutex& helperLock()
{
    static std::mutex lock;
    return lock;
}

QString& helperOverride()
{
    static QString path;
    return path;
}

pid_t spawn(const QString& helper, const QString& path)
{
    const QByteArray program = QFile::encodeName(helper);
    const QByteArray argument = QFile::encodeName(path);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(argument.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    // A fresh program's signal state: nothing blocked, nothing ignored.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// The helper's status when it has ended; nullopt while it runs.
std::optional<int> reap(pid_t pid, bool block)
{
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != pid)
        return done < 0 ? std::optional<int>(-1) : std::nullopt;
    return status;
}

} // namespace

QString PdfProbe::helperPath()
{
    {
        std::lock_guard lock(helperLock());
        if (!helperOverride().isEmpty())
            return helperOverride();
    }
    return QCoreApplication::applicationDirPath() + QStringLiteral("/folivo-pdfcheck");
}

void PdfProbe::setHelperPathForTesting(const QString& path)
{
    std::lock_guard lock(helperLock());
    helperOverride() = path;
}

void PdfProbe::cancelAll()
{
    g_cancelled.store(true);
}

PdfProbe::Outcome PdfProbe::check(const QString& path, QDeadlineTimer deadline, const std::function<bool()>& cancelled)
{
    if (g_cancelled.load())
        return Outcome::Cancelled;
    const QString helper = helperPath();
    if (!QFileInfo(helper).isExecutable())
        return Outcome::Unavailable;
    const pid_t pid = spawn(helper, path);
    if (pid < 0)
        return Outcome::Unavailable;
    for (;;) {
        if (const std::optional<int> status = reap(pid, false)) {
            if (*status < 0 || !WIFEXITED(*status))
                return Outcome::Damaged;   // killed by a signal: a crash in the library
            switch (WEXITSTATUS(*status)) {
            case 0: return Outcome::Readable;
            case 2: return Outcome::Protected;
            default: return Outcome::Damaged;
            }
        }
        const bool stop = g_cancelled.load() || (cancelled && cancelled());
        if (stop || deadline.hasExpired()) {
            ::kill(pid, SIGKILL);
            reap(pid, true);
            return stop ? Outcome::Cancelled : Outcome::TimedOut;
        }
        // The helper is a child of this process: its end can only be polled for here.
        QThread::msleep(5);
    }
}

} // namespace platform
