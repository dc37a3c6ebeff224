// Program entry: the log file first, then the "Run Date" line and the default settings, then the
// application delegate's launch sequence and the event loop.
#include "Analytics/AnalyticsHelper.h"
#include "App/AppDelegate.h"
#include "App/CrashController.h"
#include "App/DefaultSettings.h"
#include "App/KPApp.h"
#include "App/LogFileSetup.h"
#include "App/SingleInstance.h"
#include "App/TerminationSignals.h"
#include "Platform/Bonjour/ServiceBackend.h"
#include "Platform/Content/ImageDecodeLimit.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Frameworks/KPCrashReportManager.h"
#include "Platform/Frameworks/KPUpdater.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Scanner/ScannerService.h"
#include "Platform/Workspace/ProcessLauncher.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Tools/Sources/DocumentSourceRemoval.h"
#include "Utilities/GlobalFun.h"
#include "IndexFolder/IndexFolderServices.h"
#include "HTTP/KPHTTPRequest.h"
#include "IndexFolder/KPIndexFolderDBEngine.h"
#include "Search/KPIndexManager.h"
#include "Search/LibraryLeftovers.h"
#include "Mail/KPQueryMailClient.h"
#include "Mail/SendMailClient.h"
#include "Dialogs/Preferences/LibraryLocation.h"
#include "Dialogs/Preferences/NeedUpgradProgramWindow.h"
#include "Dialogs/Preferences/NotFoundDataBaseWindowController.h"
#include "Dialogs/Welcome/WelcomeWindowController.h"
#include "MainWindow/AppMenuController.h"
#include "MainWindow/MainWindowController.h"
#include "MainWindow/MainWindowParts.h"
#include "MainWindow/Parts/ReceiveFiles.h"
#include "SafeBox/SafeBoxCreator.h"
#include "SafeBox/SafeBoxPaths.h"
#include "SafeBox/SafeBoxXPCClient.h"
#include "Scanner/UI/KPScannerSaveWindowController.h"
#include "Theme/KPThemeManager.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "TWService/Service/TWPeerExchange.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QWidget>
#include <unistd.h>
#ifdef FOLIVO_PROGRAM_TEST_HOOKS
#include <cerrno>
#include <fcntl.h>
#endif

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
    ui.sendMail = [](const QVariantMap& mailInfo) {
        if (!SendMailClient::sendMail(MailInfo::fromDictionary(mailInfo)))
            KPLogLogMessage(QStringLiteral("Crash report: no mail program could take the report"));
    };
    ui.relaunch = [] { (void)platform::ProcessLauncher::system().startDetached(QCoreApplication::applicationFilePath(), {}); };
    ui.trackEvent = [](const QString& event, double value) { AnalyticsHelper::fireEvent(event, qint64(value)); };
    CrashController::handleError(report, ui, LogFileSetup::prepareLogFile(LogFileSetup::logsFolder()));
    return 0;
}

#ifdef FOLIVO_PROGRAM_TEST_HOOKS
// Waits until a writer has opened the FIFO at path and closed it again (the test build's holds).
void waitAtHold(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    char bytes[64];
    for (;;) {
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        break;
    }
    ::close(fd);
}
#endif

// What a document removed from the library takes with it: its words in the full-text index, the
// desktop's cached previews and its tag backups.
DataBaseEngine::LeftoverRemover leftoverRemover()
{
    DataBaseEngine::LeftoverRemover remover = LibraryLeftovers::remover();
#ifdef FOLIVO_PROGRAM_TEST_HOOKS
    // Only the test build of the program reads this switch: with FOLIVO_TEST_PURGE_HOLD naming a
    // FIFO, each purge waits, at its first step and on the purge's own thread, until a writer has
    // opened the FIFO and closed it again. A user-level case then looks at the window while a
    // purge is certain to be under way, and lets it go on when it has seen enough.
    const QByteArray hold = qgetenv("FOLIVO_TEST_PURGE_HOLD");
    if (hold.isEmpty())
        return remover;
    return [hold, remover = std::move(remover)](const QList<DataBaseEngine::DocumentLeftovers>& leftovers) {
        waitAtHold(hold);
        return remover(leftovers);
    };
#else
    return remover;
#endif
}

// Only the test build of the program reads this switch: with FOLIVO_TEST_SCAN_SAVE_HOLD naming a
// FIFO, each save of scanned pages waits once its PDF is in the library, on the save's own
// thread, until a writer has opened the FIFO and closed it again. A user-level case then acts
// (quits, say) while a save is certain to be under way.
void holdScanSaves()
{
#ifdef FOLIVO_PROGRAM_TEST_HOOKS
    const QByteArray hold = qgetenv("FOLIVO_TEST_SCAN_SAVE_HOLD");
    if (hold.isEmpty())
        return;
    KPScannerSaveWindowController::setEnvironmentAdjuster([hold](KPScannerSaveWorker::Environment& environment) {
        environment.preview = [hold, preview = std::move(environment.preview)](const QString& pdfPath) {
            waitAtHold(hold);
            return preview ? preview(pdfPath) : QImage();
        };
    });
#endif
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists, so that every thread, the libraries' among them, keeps the
    // termination signals blocked for the reader installed below.
    TerminationSignals::block();
    // The application object comes first because the bundle and the standard paths are found
    // through it; nothing is logged or read before the log file is set up.
    KPApp app(argc, argv);
    KPApp::setApplicationName(QStringLiteral("Folivo 2"));
    KPApp::setOrganizationDomain(QStringLiteral("norlith.com"));
    // The one decoder limit of the run, before any image is read; each reader bounds itself.
    platform::ImageDecodeLimit::install();
    // However main returns, the shared services' threads end here, in order and while the
    // application still exists: the logger's worker first (it browses for log viewers), then
    // the discovery it browsed through.
    const auto shutDownSharedServices = qScopeGuard([] {
        AnalyticsHelper::shutDown();
        KPHTTPRequest::shutDown();
        KPLogShutdown(nullptr);
        platform::ServiceBackend::shutdownShared();
    });

    if (const auto reportFile = CrashController::crashReportArgument(KPApp::arguments())) {
        // The report's question has nothing to save: a signal ends it at once.
        TerminationSignals::unblock();
        LogFileSetup::setUpLogFile();
        DefaultSettings::registerDefaultSettings();
        return reportCrash(*reportFile);
    }

    // Read before anything else so that an early SIGTERM still ends the run cleanly; the
    // delegate takes the signal over once it exists.
    std::function<void()> onTerminationSignal = [] { QCoreApplication::exit(0); };
    TerminationSignals::install([&onTerminationSignal] { onTerminationSignal(); });

    const QStringList paths = SingleInstance::fileArguments(KPApp::arguments(), QDir::currentPath());
    SingleInstance instance;
    if (!instance.claim(paths))
        return 0;

    LogFileSetup::setUpLogFile();
    KPLogLogMessage(QStringLiteral("Run Date: %1, v: %2")
                        .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000")),
                             platform::Bundle::mainBundle()
                                 .objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString"))
                                 .toString()));
    DefaultSettings::registerDefaultSettings();
    // A menu item or button whose command nobody took would otherwise do nothing, unseen.
    platform::kit::CommandDispatcher::shared().setUnansweredHook([](const QString& name) {
        KPLogLogMessage(QStringLiteral("No handler answered the command \"%1\"").arg(name));
    });
    holdScanSaves();
    CrashController::sharedInstance().arm(
        KPApp::applicationFilePath(), {},
        QStringLiteral("%1/crash-%2.txt").arg(platform::Paths::temporaryDirectoryPath()).arg(::getpid()));

    // The library window, made once the library's store is open (the first time it is asked
    // for) and kept for the whole run; it goes before the delegate its close calls.
    std::unique_ptr<MainWindowController> mainWindow;
    std::function<void()> requestTermination;
    // The window opens once the launch has got through to a running library: at once, or after
    // the welcome window's OK.
    std::function<void()> showMainWindowOnceRunning;

    AppDelegate::Services services;
    services.showWelcomeWindow = [&showMainWindowOnceRunning](std::function<void()> onOk) {
        WelcomeWindowController::showWelcomeWindow([onOk = std::move(onOk), &showMainWindowOnceRunning] {
            onOk();
            showMainWindowOnceRunning();
        });
    };
    services.fireEvent = [](const QString& event, double value) { AnalyticsHelper::fireEvent(event, qint64(value)); };
    services.checkForUpdatesInBackground = [] { platform::KPUpdater::sharedUpdater().checkForUpdatesInBackground(); };
    services.startCrashReporter = [](const QString& id, const QString& company) {
        auto& manager = platform::KPCrashReportManager::sharedCrashReportManager();
        if (manager.configureWithIdentifier(id, company))
            manager.startManager();
    };
    services.startMailClientQuery = [](const QString& id) { (new KPQueryMailClient)->startQuery(id); };
    services.updateThemeByName = [](const QString& name) { KPThemeManager::themeManager()->updateThemeByName(name); };
    services.setLibraryIcon = [](const QString& folder) {
        const QString icon = platform::Bundle::mainBundle().pathForResource(QStringLiteral("library"), QStringLiteral("png"));
        if (!icon.isEmpty())
            platform::Workspace::setFolderIcon(folder, icon);
    };
    services.addRecentLibraryPath = [](const QString& path) { addRecentLibraryPath(path); };
    services.isValidDatabaseVersion = [](const QString& path) { return DataBaseEngine::isValidDatabaseVersion(path); };
    // The missing-library window runs before the library and the main window's content exist:
    // create mode when no library was ever set, else the library is missing.
    services.runLibraryChooser = [] {
        NotFoundDataBaseWindowController chooser(LibraryLocation::currentLibraryPath().isEmpty()
                                                     ? NotFoundDataBaseWindowController::Mode::CreateNew
                                                     : NotFoundDataBaseWindowController::Mode::Plain);
        return chooser.runModal();
    };
    services.showNeedUpgradProgramWindow = [] {
        showNeedUpgradProgramWindow(nullptr, [] { QCoreApplication::exit(0); });
    };
    services.initDataBase = []() -> QString {
        // A document removed from the library (moved into the SafeBox, trash emptied) takes its
        // leftovers with it.
        DataBaseEngine::setLeftoverRemover(leftoverRemover());
        const auto opened = DataBaseEngine::dataBaseEngine()->initDataBase();
        if (!opened)
            return opened.error().message;
        // Before the side bar starts the syncs, which would read rows meant to be gone.
        DocumentSourceRemoval::completePendingRemovals(IndexFolderServices::shared());
        return QString();
    };
    services.showStoreFailure = [](const QString& message) {
        auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Folivo 2"),
                                    QStringLiteral("The library could not be opened."), QMessageBox::Ok);
        box->setInformativeText(message);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    services.writeToDiskAndWait = [&mainWindow] {
        // The window's state goes into the defaults before the store's final save.
        if (mainWindow)
            mainWindow->onApplicationWillExit();
        DataBaseEngine::dataBaseEngine()->writeToDiskAndWait();
    };
    services.closeStores = [] {
        // A purge removing index text finishes before the index closes under it; one waiting
        // behind it is left to the next start, its records still marked.
        (void)DataBaseEngine::stopPurges(std::chrono::seconds(30));
        // No worker outlives the stores it reads and writes: the indexer stops first.
        KPIndexManager::shutdownShared();
        platform::ScannerService::shutdownShared();
        (void)DataBaseEngine::dataBaseEngine()->close();
        (void)KPIndexFolderDBEngine::closeShared();
        platform::TextIndex::closeAll();
        // Last: another copy may open the library only once none of its files is in use here.
        DataBaseEngine::dataBaseEngine()->releaseLock();
    };
    services.buildNeedIndexItem = [] { KPIndexManager::indexManager().buildNeedIndexItem(); };
    services.safeBoxStoreFile = [] { return KPLibraryFileManager::defaultManager().safeBoxFile(); };
    // An open SafeBox lives in the private runtime folder, so that is where start-up looks for one
    // left open by a program that died.
    services.documentsFolder = [] { return SafeBoxPaths::runtimeFolder(); };
    services.safeBoxLogoutCheck = [](const QString& storeFile) {
        SafeBoxXPCClient::create(storeFile, std::nullopt)->logoutCheck();
    };
    // The tool runs in a session of its own, so a detach still running when the program ends
    // completes without it.
    services.detachSafeBox = [](const QString& device, std::function<void()> done) {
        SafeBoxXPCClient::create()->detachWithCompletedBlock(device, [done = std::move(done)](bool success, const QString& error) {
            if (!success)
                KPLogLogMessage(QStringLiteral("SafeBox: the detach at quit failed: %1").arg(error));
            done();
        });
    };
    services.closeSafeBoxLeftOpen = [](const QString& storeFile, std::function<void()> done) {
        platform::Dispatch::async(platform::DispatchQueue::global(), [storeFile, done = std::move(done)] {
            SafeBoxCreator(storeFile, {}).logoutCheck();
            platform::Dispatch::main(done);
        });
    };
    services.mainWindowFrame = [&mainWindow] { return mainWindow ? mainWindow->window()->normalGeometry() : QRect(); };
    // The new copy must find the name free, or it would hand itself to this one and end.
    services.relaunch = [&instance] {
        instance.release();
        // Not through QProcess, whose child would keep this program's blocked signals.
        if (!platform::ProcessLauncher::system().startDetached(QCoreApplication::applicationFilePath(), {}))
            KPLogLogMessage(QStringLiteral("Relaunch: the program could not be started again"));
    };
    services.isImporting = [&mainWindow] { return mainWindow && mainWindow->parts().importFlow.isImporting(); };
    services.askQuitWhileImporting = [&mainWindow](std::function<void(bool)> answer) {
        if (!mainWindow) {
            answer(true);
            return;
        }
        mainWindow->parts().importFlow.askQuitWhileImporting(std::move(answer));
    };
    // The peer exchange, made once the library is open; it stops before the delegate it asks
    // for answers goes, and before the discovery backend it publishes through.
    std::unique_ptr<TWPeerExchange> peerExchange;
    // Uploads from peers become documents under the Received node; it outlives the exchange.
    std::shared_ptr<ReceiveFiles> receiveFiles;
    services.finishImports = [&mainWindow, &peerExchange, &receiveFiles] {
        // No peer may start an upload now, and a received folder still being unpacked stops:
        // nothing may write into the library once its stores close, or run once main returns.
        if (peerExchange)
            peerExchange->stop();
        if (receiveFiles)
            (void)receiveFiles->finishReceivesForQuit();
        if (mainWindow)
            (void)mainWindow->parts().importFlow.finishImportsForQuit();
    };
    services.finishScans = [&mainWindow] {
        if (mainWindow)
            mainWindow->parts().scan.cancelWork();
    };
    services.hasUnsavedScans = [&mainWindow] { return mainWindow && mainWindow->parts().scan.needsQuitQuestion(); };
    services.askQuitWithUnsavedScans = [&mainWindow](std::function<void(bool)> answer) {
        if (!mainWindow) {
            answer(true);
            return;
        }
        mainWindow->parts().scan.askBeforeQuit(std::move(answer));
    };
    services.setBShowWindowItem = [&mainWindow](bool on) {
        if (mainWindow)
            mainWindow->context().appMenu->setBShowWindowItem(on);
    };
    // exit, not quit: Qt's quit first asks every window to close, and the main window answers a
    // close with the quit check itself.
    services.quitEventLoop = [] { QCoreApplication::exit(0); };
    std::function<AppDelegate*()> appDelegate;
    services.startPeerExchange = [&peerExchange, &appDelegate, &receiveFiles, &mainWindow] {
        AppDelegate* d = appDelegate();
        TWPeerExchange::Hooks hooks;
        hooks.dataAnswer = [d](const QVariantMap& p) { return d->onClientRequestByParameter(p); };
        hooks.found = [d](std::shared_ptr<ServerInfo> s) { d->onTWClientFindServer(std::move(s)); };
        hooks.removed = [d](const std::shared_ptr<ServerInfo>& s) { d->onTWClientRemoveServer(s); };
        const KPLibraryFileManager& library = KPLibraryFileManager::defaultManager();
        receiveFiles = std::make_shared<ReceiveFiles>(
            library, ReceiveFiles::engineStore(DataBaseEngine::dataBaseEngine()),
            ReceiveFiles::windowHooks([&mainWindow]() -> ReceiveFiles::Window {
                if (!mainWindow)
                    return {};
                return {&mainWindow->context(), &mainWindow->parts().content};
            }));
        hooks.newUpload = [receive = std::weak_ptr(receiveFiles)](const std::shared_ptr<TWSocketFileUpload>& reader) {
            if (auto r = receive.lock())
                r->addClientWithSocketReader(reader);
        };
        hooks.stagingRoot = library.workFolder();
        peerExchange = std::make_unique<TWPeerExchange>(std::move(hooks));
        const QString user = qEnvironmentVariable("USER", QDir::home().dirName());
        peerExchange->start(TWPeerExchange::copyIdentifier(), user);
    };
    services.requestPeerIcon = [](std::shared_ptr<ServerInfo> s) { TWPeerExchange::requestIcon(std::move(s)); };
    // Files handed in before the library's window exists (the welcome page is still up, or the
    // library is still being chosen) wait for it: posted earlier, nobody would import them.
    QStringList filesWaitingForTheWindow;
    services.showMainWindow = [&mainWindow, &app, &appDelegate, &requestTermination, &filesWaitingForTheWindow] {
        if (!mainWindow) {
            if (!DataBaseEngine::dataBaseEngine()->isOpen()) {
                KPLogLogMessage(QStringLiteral("The main window waits for the library's store, which is not open"));
                return;
            }
            MainWindowController::Options options;
            options.appDelegate = appDelegate();
            options.onCloseRequest = [&requestTermination] { requestTermination(); };
            mainWindow = std::make_unique<MainWindowController>(std::move(options));
            mainWindow->parts().importFlow.buildNeedIndexItem = [] { KPIndexManager::indexManager().buildNeedIndexItem(); };
            app.setMainWindow(mainWindow->window());
        }
        mainWindow->showWindow();
        if (!filesWaitingForTheWindow.isEmpty())
            appDelegate()->openFiles(std::exchange(filesWaitingForTheWindow, {}));
    };
    services.hasVisibleWindows = [&mainWindow] { return mainWindow && mainWindow->window()->isVisible(); };
    AppDelegate delegate(services);
    appDelegate = [&delegate] { return &delegate; };
    const auto stopPeerExchange = qScopeGuard([&peerExchange] { peerExchange.reset(); });
    requestTermination = [&delegate] { delegate.requestTermination(); };
    showMainWindowOnceRunning = [&delegate, &services] {
        if (delegate.launchState() == AppDelegate::LaunchState::Running)
            services.showMainWindow();
    };
    const auto closeWindowFirst = qScopeGuard([&mainWindow, &app] {
        app.setMainWindow(nullptr);
        mainWindow.reset();
    });

    const auto openFiles = [&delegate, &mainWindow, &filesWaitingForTheWindow](const QStringList& p) {
        if (mainWindow)
            delegate.openFiles(p);
        else
            filesWaitingForTheWindow += p;
    };
    instance.onOpenFiles = openFiles;
    instance.onReopen = [&delegate, &services] { delegate.applicationShouldHandleReopen(services.hasVisibleWindows()); };
    int signals = 0;
    onTerminationSignal = [&delegate, &signals] {
        // A second signal does not wait for any question to be answered.
        if (++signals > 1) {
            delegate.applicationWillTerminate();
            QCoreApplication::exit(0);
            return;
        }
        delegate.requestTermination(true);
    };

    delegate.applicationDidFinishLaunching();
    showMainWindowOnceRunning();
    if (!paths.isEmpty())
        openFiles(paths);

    return app.exec();
}
