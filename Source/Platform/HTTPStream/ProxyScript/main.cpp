// folivo-proxyscript <address-space-bytes> <time-ms> <url>: runs the proxy script read from
// standard input for url and writes "<code>\n<text>" to standard output: code 0 and the script's
// answer, or the code and text of its error. Its own address space is capped first, so a script
// that allocates without bound ends this process, which the caller then goes without.
#include "Platform/HTTPStream/ProxyAutoConfig.h"

#include <QCoreApplication>
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

namespace {

bool writeAll(const QByteArray& bytes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + at, size_t(bytes.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    bool ok = false;
    const qulonglong addressSpace = QByteArray(argv[1]).toULongLong(&ok);
    if (!ok || addressSpace == 0)
        return 2;
    // A script that dies of its cap leaves no core behind.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
#if !defined(FOLIVO_SANITIZED)
    // (A sanitizer's runtime reserves terabytes of address space up front: there the kill timer
    // alone bounds the script.)
    const rlimit limit{rlim_t(addressSpace), rlim_t(addressSpace)};
    if (::setrlimit(RLIMIT_AS, &limit) != 0)
        return 2;
#endif
    const qlonglong milliseconds = QByteArray(argv[2]).toLongLong(&ok);
    if (!ok || milliseconds <= 0)
        return 2;

    QCoreApplication app(argc, argv);
    platform::ProxyAutoConfig::Limits limits;
    limits.time = std::chrono::milliseconds(milliseconds);
    // UTF-8 takes at most four bytes a character: more than that is over the script's cap anyway.
    const qsizetype maxBytes = limits.maxScript * 4 + 1;
    QByteArray script;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return 2;
        if (n == 0)
            break;
        script.append(buffer, n);
        if (script.size() > maxBytes)
            break;
    }
    const auto answer = platform::ProxyAutoConfig::evaluate(QString::fromUtf8(script), QUrl(QString::fromUtf8(argv[3])), limits);
    const QByteArray out = answer ? "0\n" + answer->toUtf8()
                                  : QByteArray::number(answer.error().code) + '\n' + answer.error().message.toUtf8();
    return writeAll(out) ? 0 : 2;
}
