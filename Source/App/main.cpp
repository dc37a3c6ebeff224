// Program entry: the log file first, then the "Run Date" line and the default settings, then the
// event loop. Until the application delegate exists the program shows one empty window.
#include "App/DefaultSettings.h"
#include "App/KPApp.h"
#include "App/LogFileSetup.h"
#include "App/TerminationSignals.h"
#include "Platform/Foundation/Bundle.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDateTime>
#include <QWidget>

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

    QWidget window;
    window.setWindowTitle(QStringLiteral("Folivo 2"));
    window.resize(1024, 680);
    app.setMainWindow(&window);
    window.show();

    const int status = app.exec();
    KPLogShutdown(KPLogSharedLogger());
    return status;
}
