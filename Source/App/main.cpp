// Program entry: the log file first, then the "Run Date" line and the default settings, then the
// event loop. Until the application delegate exists the program shows one empty window.
#include "App/CrashController.h"
#include "App/DefaultSettings.h"
#include "App/KPApp.h"
#include "App/LogFileSetup.h"
#include "App/TerminationSignals.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/Paths.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDateTime>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QProcess>
#include <QWidget>
#include <unistd.h>

namespace {

// The copy of the program that a fault started: tell the user, offer the report, start afresh.
int reportCrash(const QString& reportFile)
{
    QFile file(reportFile);
    const QString report = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    file.remove();

    CrashController::Ui ui;
    ui.beep = [] { QApplication::beep(); };
    ui.askReportAndQuit = [] {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Folivo 2"),
                        platform::localizedString(QStringLiteral("AnApplicationerrorhasoccurred")));
        box.setInformativeText(platform::localizedString(QStringLiteral("Thiserrorwillcauseinstability...")));
        auto* report = box.addButton(platform::localizedString(QStringLiteral("Report&Quit")), QMessageBox::AcceptRole);
        box.addButton(platform::localizedString(QStringLiteral("ContinueStr")), QMessageBox::RejectRole);
        box.setDefaultButton(report);
        box.exec();
        return box.clickedButton() == static_cast<QAbstractButton*>(report);
    };
    ui.sendMail = [](const QVariantMap&) {
        KPLogLogMessage(QStringLiteral("Crash report: no mail program is connected yet"));
    };
    ui.relaunch = [] { QProcess::startDetached(QCoreApplication::applicationFilePath(), {}); };
    CrashController::handleError(report, ui, LogFileSetup::prepareLogFile(LogFileSetup::logsFolder()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The application object comes first because the bundle and the standard paths are found
    // through it; nothing is logged or read before the log file is set up.
    KPApp app(argc, argv);
    KPApp::setApplicationName(QStringLiteral("Folivo 2"));
    KPApp::setOrganizationDomain(QStringLiteral("norlith.com"));

    LogFileSetup::setUpLogFile();
    KPLogLogMessage(QStringLiteral("Run Date: %1, v: %2")
                        .arg(QDateTime::currentDateTimeUtc().toString(
                                 QStringLiteral("yyyy-MM-dd HH:mm:ss +0000")),
                             platform::Bundle::mainBundle()
                                 .objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString"))
                                 .toString()));
    DefaultSettings::registerDefaultSettings();
    TerminationSignals::install();

    if (const auto reportFile = CrashController::crashReportArgument(KPApp::arguments())) {
        const int status = reportCrash(*reportFile);
        KPLogShutdown(KPLogSharedLogger());
        return status;
    }
    CrashController::sharedInstance().arm(
        KPApp::applicationFilePath(), {},
        QStringLiteral("%1/crash-%2.txt").arg(platform::Paths::temporaryDirectoryPath()).arg(::getpid()));

    QWidget window;
    window.setWindowTitle(QStringLiteral("Folivo 2"));
    window.resize(1024, 680);
    app.setMainWindow(&window);
    window.show();

    const int status = app.exec();
    KPLogShutdown(KPLogSharedLogger());
    return status;
}
