// The parent's side of folivo-proxyscript: the script goes in on the helper's standard input,
// the answer comes back on its standard output, both over one socket pair so that a helper that
// dies never raises SIGPIPE here.
#include "Platform/HTTPStream/ProxyAutoConfig.h"

#include "Platform/Foundation/HelperProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

std::mutex g_helperLock;
QString g_helperOverride;

std::unexpected<Error> helperError(int code, const QString& text)
{
    return fail(ProxyAutoConfig::ErrorDomain, code, text);
}

pid_t spawnHelper(const QString& helper, int socket, const QList<QByteArray>& arguments)
{
    const QByteArray program = QFile::encodeName(helper);
    std::vector<char*> argv{const_cast<char*>(program.constData())};
    for (const QByteArray& a : arguments)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, socket, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, socket, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const pid_t pid = platform::spawnHelper(program.constData(), argv.data(), &actions);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

} // namespace

QString ProxyAutoConfig::helperPath()
{
    {
        std::lock_guard lock(g_helperLock);
        if (!g_helperOverride.isEmpty())
            return g_helperOverride;
    }
    return QCoreApplication::applicationDirPath() + QStringLiteral("/folivo-proxyscript");
}

void ProxyAutoConfig::setHelperPathForTesting(const QString& path)
{
    std::lock_guard lock(g_helperLock);
    g_helperOverride = path;
}

Result<QString> ProxyAutoConfig::evaluateInHelper(const QString& script, const QUrl& url, const Limits& limits)
{
    if (script.size() > limits.maxScript)
        return helperError(1, QStringLiteral("the proxy script is longer than %1 characters").arg(limits.maxScript));
    const QString helper = helperPath();
    if (!QFileInfo(helper).isExecutable())
        return helperError(9, QStringLiteral("the proxy script helper %1 is missing").arg(helper));
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return helperError(9, QStringLiteral("the proxy script helper cannot be started (%1)").arg(errno));
    // The helper is not told the credentials a URL may carry.
    const QByteArray target = url.adjusted(QUrl::RemoveUserInfo).toEncoded();
    const pid_t pid = spawnHelper(helper, pair[1],
                                  {QByteArray::number(limits.maxMemory), QByteArray::number(qint64(limits.time.count())), target});
    ::close(pair[1]);
    const int fd = pair[0];
    if (pid < 0) {
        ::close(fd);
        return helperError(9, QStringLiteral("the proxy script helper %1 cannot be started").arg(helper));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    const qint64 allowed = qint64(limits.time.count() + limits.startUp.count());
    QElapsedTimer clock;
    clock.start();
    const QByteArray in = script.toUtf8();
    qsizetype sent = 0;
    if (in.isEmpty())
        ::shutdown(fd, SHUT_WR);
    QByteArray out;
    const qsizetype maxOut = limits.maxAnswer * 4 + 32;
    bool late = false, overlong = false;
    for (;;) {
        const qint64 left = allowed - clock.elapsed();
        if (left <= 0) {
            late = true;
            break;
        }
        pollfd p{fd, short(POLLIN | (sent < in.size() ? POLLOUT : 0)), 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue; // the deadline is looked at again above
        if ((p.revents & POLLOUT) && sent < in.size()) {
            const ssize_t n = ::send(fd, in.constData() + sent, size_t(in.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += n;
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                sent = in.size(); // the helper stopped reading: its answer tells why
            if (sent == in.size())
                ::shutdown(fd, SHUT_WR);
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[16384];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                break;
            out.append(buffer, n);
            if (out.size() > maxOut) {
                overlong = true;
                break;
            }
        }
    }
    ::close(fd);
    // The answer is whole; the helper ends on its own right after, or is ended now.
    std::optional<int> status;
    while (!late && !overlong && !(status = platform::reapHelper(pid, false))) {
        if (clock.elapsed() >= allowed) {
            late = true;
            break;
        }
        QThread::msleep(2);
    }
    if (!status) {
        ::kill(pid, SIGKILL);
        status = platform::reapHelper(pid, true);
    }
    if (late)
        return helperError(10, QStringLiteral("the proxy script did not answer within %1 ms and its helper was stopped").arg(allowed));
    if (overlong)
        return helperError(12, QStringLiteral("the proxy script's helper answered more than %1 bytes").arg(maxOut));
    if (*status < 0 || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
        return helperError(11, QStringLiteral("the proxy script's helper ended without an answer (it ran out of its %1 MiB or "
                                              "crashed)")
                                   .arg(limits.maxMemory >> 20));
    const qsizetype newline = out.indexOf('\n');
    bool ok = false;
    const int code = newline > 0 ? out.left(newline).toInt(&ok) : -1;
    if (!ok || code < 0)
        return helperError(12, QStringLiteral("the proxy script's helper gave an unreadable answer"));
    const QString text = QString::fromUtf8(out.mid(newline + 1));
    if (code != 0)
        return helperError(code, text);
    if (text.size() > limits.maxAnswer)
        return helperError(8, QStringLiteral("FindProxyForURL answered %1 characters; at most %2 are read")
                                  .arg(text.size())
                                  .arg(limits.maxAnswer));
    return text;
}

} // namespace platform
