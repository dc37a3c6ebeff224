#include "App/CrashController.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <csignal>
#include <cstring>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <typeinfo>
#include <unistd.h>
#include <cxxabi.h>

extern char** environ;

namespace {

constexpr int kMaxFrames = 128;
constexpr int kMaxArguments = 16;
constexpr std::size_t kPathCapacity = 4096;

struct WatchedSignal {
    int number;
    const char* name;
};
// SIGPIPE is not among them: a peer closing its socket is no crash, so it is ignored
// process-wide instead (sockets also write with MSG_NOSIGNAL).
constexpr std::array<WatchedSignal, 5> kSignals{{
    {SIGILL, "SIGILL"}, {SIGABRT, "SIGABRT"}, {SIGFPE, "SIGFPE"}, {SIGBUS, "SIGBUS"}, {SIGSEGV, "SIGSEGV"}}};

// Everything the signal handler touches is prepared beforehand, in plain static storage.
char g_program[kPathCapacity];
char g_reportFile[kPathCapacity];
char g_argumentStorage[kMaxArguments][kPathCapacity];
char* g_arguments[kMaxArguments + 1];
std::terminate_handler g_previousTerminate = nullptr;
std::array<char, 64 * 1024> g_alternateStack;

void writeText(int fd, const char* text)
{
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(fd, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Async-signal-safe apart from backtrace(), whose first call may load libgcc; arm() makes that
// first call, so here it only walks the stack.
[[noreturn]] void reportAndRestart(const char* headPrefix, const char* head)
{
    const int fd = ::open(g_reportFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        writeText(fd, headPrefix);
        writeText(fd, head);
        void* frames[kMaxFrames];
        const int count = ::backtrace(frames, kMaxFrames);
        writeText(fd, "\n");
        ::backtrace_symbols_fd(frames, count, fd);
        ::close(fd);
    }
    ::execve(g_program, g_arguments, environ);
    ::_exit(127);
}

void onFatalSignal(int number)
{
    const char* name = "UNKNOWN";
    for (const auto& s : kSignals)
        if (s.number == number)
            name = s.name;
    // SA_RESETHAND already restored the default action, so a fault from here on ends the process.
    reportAndRestart("Signal ", name);
}

void onTerminate()
{
    // Outside a signal handler: the exception can be described with ordinary code.
    QString head = QStringLiteral("Unknown");
    if (auto current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            int status = 0;
            char* demangled = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
            head = QStringLiteral("%1 %2").arg(QString::fromUtf8(status == 0 && demangled ? demangled : typeid(e).name()),
                                               QString::fromUtf8(e.what()));
            std::free(demangled);
        } catch (...) {
            head = QStringLiteral("Unknown non-standard exception");
        }
    }
    static QByteArray text;
    text = head.toUtf8();
    for (const auto& s : kSignals)
        ::signal(s.number, SIG_DFL);
    reportAndRestart("Exception ", text.constData());
}

bool copyInto(char* target, const QByteArray& value)
{
    if (static_cast<std::size_t>(value.size()) >= kPathCapacity)
        return false;
    std::memcpy(target, value.constData(), static_cast<std::size_t>(value.size()));
    target[value.size()] = '\0';
    return true;
}

QString formatWithObjects(QString format, const QStringList& values)
{
    // Localised formats use the "%@" placeholder; fill them in order.
    for (const QString& v : values) {
        const qsizetype at = format.indexOf(QStringLiteral("%@"));
        if (at < 0)
            break;
        format.replace(at, 2, v);
    }
    return format;
}

} // namespace

CrashController& CrashController::sharedInstance()
{
    static CrashController instance;
    return instance;
}

CrashController::~CrashController()
{
    disarm();
}

void CrashController::arm(const QString& program, const QStringList& prefixArguments, const QString& reportFile)
{
    if (prefixArguments.size() + 3 > kMaxArguments)
        return;
    if (!copyInto(g_program, QFile::encodeName(program)) || !copyInto(g_reportFile, QFile::encodeName(reportFile)))
        return;
    QStringList arguments{program};
    arguments << prefixArguments << QStringLiteral("--crash-report") << reportFile;
    for (int i = 0; i < arguments.size(); ++i) {
        if (!copyInto(g_argumentStorage[i], QFile::encodeName(arguments[i])))
            return;
        g_arguments[i] = g_argumentStorage[i];
    }
    g_arguments[arguments.size()] = nullptr;

    void* warmUp[1];
    ::backtrace(warmUp, 1);

    stack_t stack = {};
    stack.ss_sp = g_alternateStack.data();
    stack.ss_size = g_alternateStack.size();
    ::sigaltstack(&stack, nullptr);

    struct sigaction action = {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    // NODEFER: the fresh program inherits the signal mask, and must not start with SIGSEGV
    // blocked; RESETHAND: a second fault inside the handler takes the default action.
    action.sa_flags = SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
    for (const auto& s : kSignals)
        ::sigaction(s.number, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    if (!m_armed)
        g_previousTerminate = std::set_terminate(onTerminate);
    m_armed = true;
}

void CrashController::disarm()
{
    if (!m_armed)
        return;
    for (const auto& s : kSignals)
        ::signal(s.number, SIG_DFL);
    std::set_terminate(g_previousTerminate);
    m_armed = false;
}

QStringList CrashController::callstackAsArray()
{
    void* frames[kMaxFrames];
    const int count = ::backtrace(frames, kMaxFrames);
    QStringList result;
    if (char** symbols = ::backtrace_symbols(frames, count)) {
        for (int i = 0; i < count; ++i)
            result << QString::fromLocal8Bit(symbols[i]);
        std::free(symbols);
    }
    return result;
}

QString CrashController::reportText(const QString& head, const QStringList& frames)
{
    QString text = head;
    for (const QString& frame : frames)
        text += QLatin1Char('\n') + frame;
    return text;
}

QVariantMap CrashController::crashMailInfo(const QString& logFile)
{
    auto& bundle = platform::Bundle::mainBundle();
    const QString version = QStringLiteral("%1(%2)").arg(
        bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")).toString(),
        bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleVersion")).toString());
    QVariantMap info{
        {QStringLiteral("Subject"),
         formatWithObjects(platform::localizedString(QStringLiteral("%@ v%@ Crash Report")),
                           {QStringLiteral("Folivo"), version})},
        {QStringLiteral("Content"), platform::localizedString(QStringLiteral("ReportBugsContentStr"))},
        {QStringLiteral("Address"), bundle.objectForInfoDictionaryKey(QStringLiteral("KPSupportMailAddress")).toString()},
    };
    if (!logFile.isEmpty() && QFileInfo::exists(logFile))
        info.insert(QStringLiteral("Files"), QStringList{logFile});
    return info;
}

void CrashController::handleError(const QString& report, const Ui& ui, const QString& logFile)
{
    sharedInstance().disarm();
    if (ui.beep)
        ui.beep();
    if (ui.trackEvent)
        ui.trackEvent(QStringLiteral("crash"), 1);
    KPLogLogMessage(QStringLiteral("Crash Handle Error: %1").arg(report));
    const bool report_ = ui.askReportAndQuit && ui.askReportAndQuit();
    if (report_ && ui.sendMail)
        ui.sendMail(crashMailInfo(logFile));
    if (ui.relaunch)
        ui.relaunch();
}

std::optional<QString> CrashController::crashReportArgument(const QStringList& arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--crash-report"));
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    return arguments.at(at + 1);
}
