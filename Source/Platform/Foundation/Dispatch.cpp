#include "Platform/Foundation/Dispatch.h"

#include <QCoreApplication>
#include <QThread>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

// The kernel keeps 15 bytes of a thread name plus the terminator.
constexpr int ThreadNameBytes = 15;

} // namespace

void Dispatch::main(Task task)
{
    DispatchQueue::main().async(std::move(task));
}

void Dispatch::async(const DispatchQueue& queue, Task task)
{
    queue.async(std::move(task));
}

void Dispatch::after(std::chrono::milliseconds delay, const DispatchQueue& queue, Task task)
{
    queue.after(delay, std::move(task));
}

bool Dispatch::isMainThread()
{
    // Asked on every sync() and isCurrent(): once known, the answer is kept per thread.
    thread_local int known = -1;
    if (known >= 0)
        return known == 1;
    if (const auto* app = QCoreApplication::instance()) {
        known = QThread::currentThread() == app->thread() ? 1 : 0;
        return known == 1;
    }
    return ::syscall(SYS_gettid) == ::getpid();
}

void Dispatch::setCurrentThreadName(const QString& name)
{
    QByteArray bytes = name.toUtf8();
    if (bytes.size() > ThreadNameBytes) {
        int cut = ThreadNameBytes;
        while (cut > 0 && (uchar(bytes.at(cut)) & 0xC0) == 0x80)
            --cut; // never split a character
        bytes.truncate(cut);
    }
    ::pthread_setname_np(::pthread_self(), bytes.constData());
}

QString Dispatch::currentThreadName()
{
    char buffer[ThreadNameBytes + 1] = {};
    if (::pthread_getname_np(::pthread_self(), buffer, sizeof buffer) != 0)
        return {};
    return QString::fromUtf8(buffer);
}

} // namespace platform
