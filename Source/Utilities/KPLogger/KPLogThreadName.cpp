#include "Utilities/KPLogger/KPLogThreadName.h"

#include <atomic>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The kernel's limit for a thread name, terminator included.
constexpr size_t kThreadNameLength = 16;

QString processName()
{
    // Never destroyed: a logger's worker may still name its thread while the process exits.
    static const QString* const name = new QString([] {
        char buf[kThreadNameLength + 1] = {};
        QString s;
        if (FILE* f = ::fopen("/proc/self/comm", "re")) {
            if (::fgets(buf, sizeof buf, f))
                s = QString::fromLocal8Bit(buf).trimmed();
            ::fclose(f);
        }
        return s;
    }());
    return *name;
}

} // namespace

QString KPLogThreadName::current()
{
    if (::syscall(SYS_gettid) == ::getpid())
        return QStringLiteral("Main thread");

    char buf[kThreadNameLength] = {};
    if (::pthread_getname_np(::pthread_self(), buf, sizeof buf) == 0 && buf[0]) {
        const QString name = QString::fromLocal8Bit(buf);
        if (name != processName())
            return name;
    }

    // The main thread is number 1, as the system's own thread descriptions count.
    static std::atomic<int> nextNumber{2};
    thread_local const QString numbered = QStringLiteral("Thread %1").arg(nextNumber++);
    return numbered;
}
