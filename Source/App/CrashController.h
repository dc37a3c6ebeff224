// Catches fatal signals and uncaught exceptions, and turns them into a report the user can
// mail, followed by a fresh start of the program.
//
// A signal handler may do almost nothing safely, so the faulting process only writes the report
// text to a file (plain system calls) and replaces itself with a new copy of the program,
// started with "--crash-report <file>". That copy, healthy and on its main thread, shows the
// alert, offers the mail with the log attached and starts the program again. Uncaught C++
// exceptions take the same road.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

class CrashController {
public:
    // The one instance; created armed on first use.
    static CrashController& sharedInstance();
    ~CrashController();
    CrashController(const CrashController&) = delete;
    CrashController& operator=(const CrashController&) = delete;

    // Installs the handlers. A fault then writes reportFile and executes program with
    // prefixArguments followed by "--crash-report" and the report file.
    void arm(const QString& program, const QStringList& prefixArguments, const QString& reportFile);
    // Restores the default actions and the previous terminate handler.
    void disarm();
    bool isArmed() const { return m_armed; }

    // The current call stack, at most 128 frames, one text per frame.
    static QStringList callstackAsArray();
    // "Signal SIGSEGV" or "Exception <name> <reason>", then one line per frame.
    static QString reportText(const QString& head, const QStringList& frames);

    // What the report process needs from the outside world; tests pass fakes.
    struct Ui {
        std::function<void()> beep;
        std::function<void(const QString& event, double value)> trackEvent;
        // true when the user chose "Report&Quit", false for "ContinueStr".
        std::function<bool()> askReportAndQuit;
        std::function<void(const QVariantMap& mailInfo)> sendMail;
        std::function<void()> relaunch;
    };
    // The flow after a fault: log, beep, track, ask, maybe mail, always relaunch.
    static void handleError(const QString& report, const Ui& ui, const QString& logFile);
    // The crash mail: "Subject", "Content", "Address" and, when the log exists, "Files".
    static QVariantMap crashMailInfo(const QString& logFile);

    // The report file named by "--crash-report <file>" in the arguments, if any.
    static std::optional<QString> crashReportArgument(const QStringList& arguments);

private:
    CrashController() = default;
    bool m_armed = false;
};
