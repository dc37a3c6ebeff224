// The program's application-level glue: the launch sequence (welcome window, library checks,
// theme, library folder, object store, crash reporter, indexer, peer exchange), the open-files
// and reopen requests, the quit check and termination, and the peer list.
//
// Every step that belongs to another part of the program goes through AppDelegate::Services, a
// table of narrow calls. The program fills it with the real parts as they exist; a call that is
// left empty logs that the step is not available and the sequence goes on. Tests fill it with
// fakes and drive the sequence as a state machine. Everything here runs on the main thread.
//
// The delayed steps (the peer-exchange start, the quit retry) and the completions handed to
// the services hold only a guard of the delegate: destroying it cancels what is pending, and a
// completion that arrives afterwards does nothing.
#pragma once

#include "Platform/Kit/DelayedCalls.h"

#include <QObject>
#include <QRect>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class ServerInfo;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Services {
        std::function<void(const QString& event, double value)> fireEvent;
        std::function<void(const QString& bundleIdentifier)> startMailClientQuery;
        std::function<void()> checkForUpdatesInBackground;
        // Shows the welcome window; onOk runs once when it goes, by its OK button or by the window
        // manager's close (start-up must not wait for a window that is no longer there).
        std::function<void(std::function<void()> onOk)> showWelcomeWindow;
        // The modal library chooser of a later run whose library is missing: true when the
        // user chose or set up a library ("String_Library_Path" names it), false when the
        // window closed without a choice.
        std::function<bool()> runLibraryChooser;
        // 0 current, 1 older or missing version, 2 written by a newer program.
        std::function<int(const QString& libraryPath)> isValidDatabaseVersion;
        std::function<void()> showNeedUpgradProgramWindow;
        std::function<void(const QString& themeName)> updateThemeByName;
        // Opens the object store; an error text when it cannot be opened.
        std::function<QString()> initDataBase;
        // Tells the user that the library could not be opened (start-up stops there).
        std::function<void(const QString& message)> showStoreFailure;
        std::function<void(const QString& appIdentifier, const QString& company)> startCrashReporter;
        std::function<void()> buildNeedIndexItem;
        std::function<void()> startPeerExchange;
        // The library folder's icon, the recent-library list and the stale SafeBox check.
        std::function<void(const QString& folder)> setLibraryIcon;
        std::function<void(const QString& path)> addRecentLibraryPath;
        std::function<QString()> safeBoxStoreFile;
        std::function<QString()> documentsFolder;
        std::function<void(const QString& storeFile)> safeBoxLogoutCheck;
        // Quit check and termination.
        std::function<void(const QString& mountPath, std::function<void()> done)> detachSafeBox;
        // Closes this library's SafeBox when the disk-image tool has it open though this run did
        // not open it (a run that died left it so, or an attach finished after its program was
        // gone), so that its sealer does not outlive the program; done runs afterwards.
        std::function<void(const QString& storeFile, std::function<void()> done)> closeSafeBoxLeftOpen;
        std::function<bool()> isImporting;
        // Asks whether to quit during an import; answer(true) means "Quit".
        std::function<void(std::function<void(bool quit)> answer)> askQuitWhileImporting;
        // Lets a running import store what it copied; before writeToDiskAndWait.
        std::function<void()> finishImports;
        // Cancels a scan being saved and waits for its worker; before the stores close.
        std::function<void()> finishScans;
        // Scanned pages unsaved or being saved; the question put before a quit would drop them,
        // answer(true) meaning the quit may go on.
        std::function<bool()> hasUnsavedScans;
        std::function<void(std::function<void(bool quit)> answer)> askQuitWithUnsavedScans;
        std::function<void()> writeToDiskAndWait;
        // Closes the library's stores and indexes so that their files alone hold them.
        std::function<void()> closeStores;
        std::function<QRect()> mainWindowFrame;
        std::function<void()> relaunch;
        std::function<void()> quitEventLoop;
        // Window handling for open-files and reopen.
        std::function<void()> showMainWindow;
        std::function<bool()> hasVisibleWindows;
        std::function<void(bool)> setBShowWindowItem;
        // Peers: asks a newly found peer for its picture.
        std::function<void(std::shared_ptr<ServerInfo>)> requestPeerIcon;
    };

    enum class TerminateReply { TerminateNow, TerminateCancel };
    enum class LaunchState { NotStarted, WaitingForWelcome, NoLibrary, BlockedOnNewerLibrary, StoreFailed, Running };

    static constexpr const char* kCrashReporterIdentifier = "5e0b7c21a9d43f68e17c02b4d9a6f385";
    static constexpr const char* kCompanyName = "norlith";
    // The peer exchange starts this long after the store is open.
    static constexpr int kPeerExchangeDelayMs = 1000;
    // A quit waiting for a SafeBox to detach is retried after this long in any case.
    static constexpr int kQuitRetryMs = 2000;

    explicit AppDelegate(Services services, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Registers every "*.ttf" below the bundle's "font" folder for this process.
    static int loadCoustomFont();

    void applicationDidFinishLaunching();
    void initApp();
    QString initDataBase();
    void initApplicationFolder();
    LaunchState launchState() const { return m_state; }

    TerminateReply applicationShouldTerminate();
    // The program's own quit request (menu, window close, SIGTERM): runs the quit check and,
    // when it answers now, termination and the end of the event loop. A termination signal
    // (bySignal; the session is ending) is not held up by a question about scanned pages: their
    // save is cancelled as the quit goes on.
    void requestTermination(bool bySignal = false);
    void applicationWillTerminate();

    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void openFiles(const QStringList& paths);

    // Peer exchange.
    QByteArray onClientRequestByParameter(const QVariantMap& parameters) const;
    void onTWClientFindServer(std::shared_ptr<ServerInfo> server);
    void onTWClientRemoveServer(const std::shared_ptr<ServerInfo>& server);
    std::vector<std::shared_ptr<ServerInfo>> serverList() const;

    QString safeBoxDisk() const { return m_safeBoxDisk; }
    void setSafeBoxDisk(const QString& path) { m_safeBoxDisk = path; }
    QVariantMap tmpSBDicInfo() const { return m_tmpSBDicInfo; }
    void setTmpSBDicInfo(const QVariantMap& info) { m_tmpSBDicInfo = info; }
    bool bNeedRelaunch() const { return m_bNeedRelaunch; }
    void setBNeedRelaunch(bool relaunch) { m_bNeedRelaunch = relaunch; }

    // The user's picture offered to peers, fitted into 32×32 and encoded as TIFF.
    static QByteArray userPictureData(const QString& picturePath);
    static QString userPicturePath();

    // "{{x, y}, {w, h}}", the rectangle text stored under "MainWindowFrame".
    static QString rectText(const QRect& rect);

    // Delayed steps that have not run yet; none once termination has begun.
    int pendingDelayedSteps() const { return m_delayed.pendingCount(); }

private:
    void notAvailable(const char* step) const;
    // This library's store file when its SafeBox is open in the runtime folder; empty otherwise.
    QString safeBoxLeftOpen() const;
    void startPeerExchangeLater();

    Services m_services;
    LaunchState m_state = LaunchState::NotStarted;
    bool m_initAppDone = false;
    bool m_bForceExit = false;
    // The user chose to quit although scanned pages would be lost.
    bool m_quitDroppingScans = false;
    bool m_quitBySignal = false;
    bool m_bNeedRelaunch = false;
    bool m_terminating = false;
    QString m_safeBoxDisk;
    bool m_safeBoxClosedAtQuit = false;
    QVariantMap m_tmpSBDicInfo;
    mutable std::recursive_mutex m_serverListLock; // guards m_serverList; the share menu reads it too
    std::vector<std::shared_ptr<ServerInfo>> m_serverList;
    platform::kit::DelayedCalls m_delayed;
};
