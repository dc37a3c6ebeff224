// folivo-hdiutil: see DiskImageTool.h.
#include "Platform/DiskImage/DiskImageTool.h"

#include <QFile>
#include <QStringList>

#include <unistd.h>

namespace {

// Commands that take pass phrases read all of standard input first; the others never touch it,
// so running them from a terminal does not wait for input.
bool readsInput(const QString& command)
{
    return command == QLatin1String("create") || command == QLatin1String("attach")
           || command == QLatin1String("chpass") || command == QLatin1String("resize");
}

#ifdef FOLIVO_SBX_TEST_HOOKS
// Only the test build of the tool reads these; see DiskImageTool.h.
void installTestHooks()
{
    platform::sbx::ToolTestHooks hooks;
    hooks.scryptLogN = qEnvironmentVariableIntValue("FOLIVO_SBX_TEST_SCRYPT_LOGN");
    hooks.quietMs = qEnvironmentVariableIntValue("FOLIVO_SBX_TEST_QUIET_MS");
    hooks.periodMs = qEnvironmentVariableIntValue("FOLIVO_SBX_TEST_PERIOD_MS");
    hooks.crashAt = qgetenv("FOLIVO_SBX_CRASH_AT");
    platform::sbx::setToolTestHooks(hooks);
}
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef FOLIVO_SBX_TEST_HOOKS
    installTestHooks();
#endif
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    platform::sbx::ToolStreams streams;
    if (readsInput(arguments.value(0))) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof(buffer));
            if (n > 0 && streams.input.size() < 64 * 1024) {
                streams.input.append(buffer, n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
    }
    return platform::sbx::runTool(arguments, streams);
}
