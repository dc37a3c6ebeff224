#include "Platform/Preview/PdfProbe.h"

#include "Platform/Foundation/HelperProcess.h"

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
    const pid_t pid = platform::spawnHelper(program.constData(), argv, &actions);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
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
        if (const std::optional<int> status = platform::reapHelper(pid, false)) {
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
            platform::reapHelper(pid, true);
            return stop ? Outcome::Cancelled : Outcome::TimedOut;
        }
        // The helper is a child of this process: its end can only be polled for here.
        QThread::msleep(5);
    }
}

} // namespace platform
