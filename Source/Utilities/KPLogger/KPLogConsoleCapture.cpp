#include "Utilities/KPLogger/KPLogConsoleCapture.h"

#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/KPLogger/KPLogConsole.h"

#include <QList>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/select.h>
#include <thread>
#include <unistd.h>

namespace {

// The most the reader takes from a pipe at once; one chunk becomes one record.
constexpr size_t kChunkSize = 1000;

struct CaptureState {
    std::recursive_mutex mutex;
    QList<Logger*> loggers;
    // Pipes for stdout and stderr, made once per process; -1 until then.
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    // Duplicates of the descriptors the process started with.
    int originalOut = -1;
    int originalErr = -1;
    bool redirected = false;
    bool readerStarted = false;
};

CaptureState& state()
{
    // Never destroyed: the reader thread may still use it while the process exits.
    static CaptureState* s = new CaptureState;
    return *s;
}

void writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void handleChunk(CaptureState& s, int originalFd, const char* data, size_t size)
{
    std::lock_guard lock(s.mutex);
    if (s.loggers.isEmpty()) {
        writeAll(originalFd, data, size);
        return;
    }
    if (size > 0 && data[size - 1] == '\n')
        --size;
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return;
    }
    const QString text = QString::fromLatin1(data, static_cast<qsizetype>(size));
    for (Logger* logger : s.loggers)
        KPLogLogDomainMessage(logger, QStringLiteral("console"), 1, text);
}

void readerLoop(CaptureState& s)
{
    const int outFd = s.outPipe[0];
    const int errFd = s.errPipe[0];
    char buf[kChunkSize];
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(outFd, &readable);
        FD_SET(errFd, &readable);
        const int n = ::select(std::max(outFd, errFd) + 1, &readable, nullptr, nullptr, nullptr);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        const int pairs[2][2] = {{outFd, s.originalOut}, {errFd, s.originalErr}};
        for (const auto& pair : pairs) {
            if (!FD_ISSET(pair[0], &readable))
                continue;
            for (;;) {
                const ssize_t got = ::read(pair[0], buf, sizeof buf);
                if (got <= 0)
                    break;
                handleChunk(s, pair[1], buf, static_cast<size_t>(got));
            }
        }
    }
}

bool makePipe(int fds[2])
{
    if (fds[0] >= 0)
        return true;
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    return true;
}

void redirect(CaptureState& s)
{
    if (s.redirected)
        return;
    if (!makePipe(s.outPipe) || !makePipe(s.errPipe))
        return;
    if (s.originalErr < 0) {
        s.originalOut = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
        s.originalErr = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        if (s.originalOut < 0 || s.originalErr < 0)
            return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    KPLogConsole::setOutputDescriptor(s.originalErr);
    ::dup2(s.outPipe[1], STDOUT_FILENO);
    ::dup2(s.errPipe[1], STDERR_FILENO);
    // A pipe would make stdout fully buffered; lines should reach the log as they are written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    s.redirected = true;
    if (!s.readerStarted) {
        try {
            std::thread([&s] { readerLoop(s); }).detach();
            s.readerStarted = true;
        } catch (const std::system_error&) {
            ::dup2(s.originalOut, STDOUT_FILENO);
            ::dup2(s.originalErr, STDERR_FILENO);
            s.redirected = false;
        }
    }
}

void restore(CaptureState& s)
{
    if (!s.redirected)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(s.originalOut, STDOUT_FILENO);
    ::dup2(s.originalErr, STDERR_FILENO);
    s.redirected = false;
}

} // namespace

void KPLogConsoleCapture::addLogger(Logger* logger)
{
    CaptureState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.loggers.contains(logger))
        s.loggers.append(logger);
    redirect(s);
}

void KPLogConsoleCapture::removeLogger(Logger* logger)
{
    CaptureState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.loggers.removeAll(logger) > 0 && s.loggers.isEmpty())
        restore(s);
}

int KPLogConsoleCapture::capturingCount()
{
    CaptureState& s = state();
    std::lock_guard lock(s.mutex);
    return static_cast<int>(s.loggers.size());
}
