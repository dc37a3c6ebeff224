// The main of a fuzz target in the normal build: replays the files and folders it is given,
// each input once, under a memory and a time bound, so that CTest guards every input that was
// ever found to crash or blow up.
//
//   fuzz_<target> [--memory-mb=N] [--seconds=N] file-or-folder…
//
// Folders are read recursively in name order; files whose names start with "." or end in
// ".md" are not inputs. The memory bound is an address-space limit, so an allocation past it
// fails (and the run with it) instead of swapping the machine; under a sanitizer, which
// reserves far more address space than it uses, the sanitizer's own limits apply instead.
#include "FuzzSupport.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

char currentInput[4096];

void onAlarm(int)
{
    static const char prefix[] = "\nfuzz replay: time bound exceeded on input ";
    (void)!::write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!::write(STDERR_FILENO, currentInput, std::strlen(currentInput));
    (void)!::write(STDERR_FILENO, "\n", 1);
    ::_exit(70);
}

bool isInput(const QFileInfo& info)
{
    return info.isFile() && !info.fileName().startsWith(QLatin1Char('.'))
           && !info.fileName().endsWith(QLatin1String(".md"));
}

bool collect(const QString& arg, QStringList& inputs)
{
    const QFileInfo info(arg);
    if (info.isFile()) {
        inputs << info.filePath();
        return true;
    }
    if (!info.isDir())
        return false;
    QStringList found;
    QDirIterator it(arg, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        if (isInput(file))
            found << file.filePath();
    }
    std::sort(found.begin(), found.end());
    inputs << found;
    return true;
}

bool sanitized()
{
#if defined(FOLIVO_SANITIZED) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

} // namespace

int main(int argc, char** argv)
{
    long memoryMb = 2048;
    unsigned seconds = 10;
    QStringList inputs;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith(QLatin1String("--memory-mb="))) {
            memoryMb = arg.mid(12).toLong();
        } else if (arg.startsWith(QLatin1String("--seconds="))) {
            seconds = arg.mid(10).toUInt();
        } else if (!collect(arg, inputs)) {
            std::fprintf(stderr, "fuzz replay: no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    if (memoryMb > 0 && !sanitized()) {
        const rlim_t bound = rlim_t(memoryMb) * 1024 * 1024;
        const struct rlimit limit{bound, bound};
        ::setrlimit(RLIMIT_AS, &limit);
    }
    std::signal(SIGALRM, onAlarm);

    for (const QString& path : inputs) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "fuzz replay: cannot read %s\n", qUtf8Printable(path));
            return 2;
        }
        const QByteArray data = file.readAll();
        std::snprintf(currentInput, sizeof currentInput, "%s", qUtf8Printable(path));
        // Printed first, so that the last line before a crash names the input.
        std::fprintf(stderr, "input %s (%lld bytes)\n", currentInput, static_cast<long long>(data.size()));
        ::alarm(seconds);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()));
        ::alarm(0);
    }
    std::fprintf(stderr, "fuzz replay: %lld inputs, all passed\n", static_cast<long long>(inputs.size()));
    return 0;
}
