#include "App/AppDelegate.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "TWService/ServerInfo.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPointer>
#include <algorithm>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

QString libraryPath()
{
    return defaults().stringForKey(QStringLiteral("String_Library_Path"));
}

} // namespace

AppDelegate::AppDelegate(Services services, QObject* parent)
    : QObject(parent), m_services(std::move(services))
{
    loadCoustomFont();
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::notAvailable(const char* step) const
{
    KPLogLogDomainMessage(QStringLiteral("main"), 0,
                          QStringLiteral("Start-up: %1 is not available in this build").arg(QLatin1String(step)));
}

int AppDelegate::loadCoustomFont()
{
    const QString folder = platform::Bundle::mainBundle().resourcePath() + QStringLiteral("/font");
    int registered = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (QFileInfo(file).suffix() == QStringLiteral("ttf") && QFontDatabase::addApplicationFont(file) >= 0)
            ++registered;
    }
    return registered;
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (m_services.fireEvent)
        m_services.fireEvent(QStringLiteral("applaunch"), 1);
    for (const char* id : {"com.microsoft.Outlook", "com.postbox-inc.postbox", "com.sparrowmailapp.sparrow"}) {
        if (m_services.startMailClientQuery)
            m_services.startMailClientQuery(QString::fromLatin1(id));
    }
    if (m_services.checkForUpdatesInBackground)
        m_services.checkForUpdatesInBackground();

    if (defaults().boolForKey(QStringLiteral("Bool_IsShowWelcomWindow")) && m_services.showWelcomeWindow) {
        m_state = LaunchState::WaitingForWelcome;
        m_services.showWelcomeWindow([self = QPointer(this)] {
            if (self)
                self->initApp();
        });
        return;
    }
    initApp();
}

void AppDelegate::initApp()
{
    if (m_initAppDone)
        return;
    m_initAppDone = true;

    if (defaults().boolForKey(QStringLiteral("Bool_ProgramIsFirstRun"))) {
        if (m_services.fireEvent)
            m_services.fireEvent(QStringLiteral("newuser"), 1);
        defaults().setBool(false, QStringLiteral("Bool_ProgramIsFirstRun"));
    } else if (!QFileInfo::exists(libraryPath())) {
        if (!m_services.runLibraryChooser) {
            notAvailable("the library chooser");
        } else if (!m_services.runLibraryChooser() || libraryPath().isEmpty()) {
            // Going on would create a fresh library at the old path (perhaps on a volume that is
            // only unplugged) or at an empty, relative one: nothing is made, nothing opened.
            m_state = LaunchState::NoLibrary;
            KPLogLogDomainMessage(QStringLiteral("main"), 0,
                                  QStringLiteral("Start-up: no library was chosen; the program ends"));
            // Start-up runs before the event loop does, so the end waits for it.
            m_delayed.perform(0, [this] {
                if (m_services.quitEventLoop)
                    m_services.quitEventLoop();
            });
            return;
        }
    }

    const int version = m_services.isValidDatabaseVersion ? m_services.isValidDatabaseVersion(libraryPath()) : 0;
    if (version == 2) {
        m_state = LaunchState::BlockedOnNewerLibrary;
        if (m_services.showNeedUpgradProgramWindow)
            m_services.showNeedUpgradProgramWindow();
        return;
    }

    const QString theme = defaults().stringForKey(QStringLiteral("String_ThemeName"));
    if (m_services.updateThemeByName)
        m_services.updateThemeByName(theme);
    else
        notAvailable("the theme engine");
    if (m_services.fireEvent) {
        if (theme == QStringLiteral("light"))
            m_services.fireEvent(QStringLiteral("theme"), 2);
        else if (theme == QStringLiteral("dark"))
            m_services.fireEvent(QStringLiteral("theme"), 1);
    }

    m_bForceExit = false;
    const QString storeError = initDataBase();
    if (!storeError.isEmpty()) {
        // Never run on without a store: say so and stop here.
        m_state = LaunchState::StoreFailed;
        KPLogLogDomainMessage(QStringLiteral("DataBase"), 0,
                              QStringLiteral("The library could not be opened: %1").arg(storeError));
        if (m_services.showStoreFailure)
            m_services.showStoreFailure(storeError);
        return;
    }

    if (m_services.startCrashReporter)
        m_services.startCrashReporter(QLatin1String(kCrashReporterIdentifier), QLatin1String(kCompanyName));
    if (m_services.buildNeedIndexItem)
        m_services.buildNeedIndexItem();
    else
        notAvailable("the full-text indexer");
    m_state = LaunchState::Running;
    startPeerExchangeLater();
}

void AppDelegate::startPeerExchangeLater()
{
    m_delayed.perform(kPeerExchangeDelayMs, [this] {
        {
            std::lock_guard lock(m_serverListLock);
            m_serverList.clear();
        }
        if (m_services.startPeerExchange)
            m_services.startPeerExchange();
        else
            notAvailable("the peer exchange");
    });
}

QString AppDelegate::initDataBase()
{
    initApplicationFolder();
    if (!m_services.initDataBase) {
        notAvailable("the library store");
        return {};
    }
    return m_services.initDataBase();
}

void AppDelegate::initApplicationFolder()
{
    const QString path = libraryPath();
    if (path.isEmpty())
        return;
    if (!QFileInfo::exists(path)) {
        // Intermediate folders only inside the home folder (a fresh account may have no
        // Documents folder yet); a library on a missing volume is never silently recreated.
        const bool created = platform::Paths::isPathInside(path, platform::Paths::homeDirectory())
            ? QDir().mkpath(path)
            : QDir().mkdir(path);
        if (created) {
            if (m_services.setLibraryIcon)
                m_services.setLibraryIcon(path);
            if (m_services.addRecentLibraryPath)
                m_services.addRecentLibraryPath(path);
        }
    }
    const QString flagConfig = path + QStringLiteral("/flagconfig.plist");
    if (!QFileInfo::exists(flagConfig)) {
        const QString resource = platform::Bundle::mainBundle().pathForResource(QStringLiteral("FlagConfig"),
                                                                                QStringLiteral("plist"));
        if (!resource.isEmpty())
            QFile::copy(resource, flagConfig);
    }
    if (m_services.safeBoxLogoutCheck) {
        const QString storeFile = safeBoxLeftOpen();
        if (!storeFile.isEmpty())
            m_services.safeBoxLogoutCheck(storeFile);
    }
}

QString AppDelegate::safeBoxLeftOpen() const
{
    if (!m_services.safeBoxStoreFile || !m_services.documentsFolder)
        return {};
    const QString storeFile = m_services.safeBoxStoreFile();
    if (storeFile.isEmpty() || !QFileInfo::exists(storeFile))
        return {};
    const QString mountPoint = QStringLiteral("%1/.%2").arg(m_services.documentsFolder()).arg(
        platform::stringHash(QFileInfo(storeFile).absolutePath()));
    return QFileInfo::exists(mountPoint) ? storeFile : QString();
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    // Asked first: nothing of the quit (a SafeBox detach) happens before the user agrees to it.
    if (!m_quitBySignal && !m_quitDroppingScans && m_services.hasUnsavedScans && m_services.hasUnsavedScans()) {
        if (m_services.askQuitWithUnsavedScans)
            m_services.askQuitWithUnsavedScans([self = QPointer(this)](bool quit) {
                if (!quit || !self)
                    return;
                self->m_quitDroppingScans = true;
                self->requestTermination();
            });
        return TerminateReply::TerminateCancel;
    }
    if (!m_safeBoxDisk.isEmpty() && m_services.detachSafeBox) {
        // A box this detach cannot close stays open with its sealer, which then goes on alone
        // until the next start closes it: it is not closed a second time below.
        m_safeBoxClosedAtQuit = true;
        const QString mount = m_safeBoxDisk;
        m_services.detachSafeBox(mount, [self = QPointer(this)] {
            if (!self)
                return;
            self->m_safeBoxDisk.clear();
            self->requestTermination();
        });
        m_delayed.perform(kQuitRetryMs, [this] { requestTermination(); });
        return TerminateReply::TerminateCancel;
    }
    if (!m_safeBoxClosedAtQuit && m_services.closeSafeBoxLeftOpen) {
        m_safeBoxClosedAtQuit = true;
        if (const QString storeFile = safeBoxLeftOpen(); !storeFile.isEmpty()) {
            m_services.closeSafeBoxLeftOpen(storeFile, [self = QPointer(this)] {
                if (self)
                    self->requestTermination();
            });
            m_delayed.perform(kQuitRetryMs, [this] { requestTermination(); });
            return TerminateReply::TerminateCancel;
        }
    }
    if (m_services.isImporting && m_services.isImporting() && !m_bForceExit) {
        if (m_services.askQuitWhileImporting)
            m_services.askQuitWhileImporting([self = QPointer(this)](bool quit) {
                if (self && !quit)
                    self->m_quitDroppingScans = false; // the next quit asks about them again
                if (!quit || !self)
                    return;
                self->m_bForceExit = true;
                self->requestTermination();
            });
        return TerminateReply::TerminateCancel;
    }
    return TerminateReply::TerminateNow;
}

void AppDelegate::requestTermination(bool bySignal)
{
    if (bySignal)
        m_quitBySignal = true;
    if (m_terminating)
        return;
    if (applicationShouldTerminate() != TerminateReply::TerminateNow)
        return;
    m_terminating = true;
    // A retry or a peer-exchange start still pending has nothing left to do.
    m_delayed.cancelAll();
    applicationWillTerminate();
    if (m_services.quitEventLoop)
        m_services.quitEventLoop();
}

void AppDelegate::applicationWillTerminate()
{
    // The import's records reach the store first, so the write below keeps them.
    if (m_services.finishImports && m_state == LaunchState::Running)
        m_services.finishImports();
    if (m_services.finishScans && m_state == LaunchState::Running)
        m_services.finishScans();
    if (m_services.writeToDiskAndWait && m_state == LaunchState::Running)
        m_services.writeToDiskAndWait();
    // Before a relaunch, which opens the same files again.
    if (m_services.closeStores)
        m_services.closeStores();
    // A run that never made the window has no frame to keep; the user's saved one stays.
    const QRect frame = m_services.mainWindowFrame ? m_services.mainWindowFrame() : QRect();
    if (frame.isValid())
        defaults().setString(rectText(frame), QStringLiteral("MainWindowFrame"));
    defaults().synchronize();
    if (m_bNeedRelaunch && m_services.relaunch)
        m_services.relaunch();
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    // A window that is minimised or covered still counts as visible here, yet the user who
    // started the program again wants to see it: it always comes to the front.
    if (m_services.showMainWindow)
        m_services.showMainWindow();
    if (!hasVisibleWindows && m_services.setBShowWindowItem)
        m_services.setBShowWindowItem(false);
    return true;
}

void AppDelegate::openFiles(const QStringList& paths)
{
    if (m_services.showMainWindow)
        m_services.showMainWindow();
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("AddFilesToLibrary"),
                                                       QVariantMap{{QStringLiteral("Paths"), paths}});
}

QString AppDelegate::rectText(const QRect& rect)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

QString AppDelegate::userPicturePath()
{
    const QString user = QString::fromLocal8Bit(qgetenv("USER"));
    const QStringList candidates{QStringLiteral("/var/lib/AccountsService/icons/") + user,
                                 platform::Paths::homeDirectory() + QStringLiteral("/.face")};
    for (const QString& path : candidates)
        if (!user.isEmpty() && QFileInfo(path).isFile())
            return path;
    return {};
}

QByteArray AppDelegate::userPictureData(const QString& picturePath)
{
    const QImage picture(picturePath);
    if (picturePath.isEmpty() || picture.isNull() || picture.width() <= 0 || picture.height() <= 0)
        return {};
    const double ratio = double(picture.width()) / picture.height();
    const double width = ratio >= 1 ? 32 : 32 * ratio;
    const double height = ratio >= 1 ? 32 / ratio : 32;
    QImage canvas(32, 32, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(qRound((32 - width) / 2), qRound((32 - height) / 2), width, height), picture);
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    if (!writer.write(canvas))
        return {};
    return data;
}

QByteArray AppDelegate::onClientRequestByParameter(const QVariantMap& parameters) const
{
    if (parameters.value(QStringLiteral("Type")).toString() != QStringLiteral("Icon"))
        return {};
    return userPictureData(userPicturePath());
}

void AppDelegate::onTWClientFindServer(std::shared_ptr<ServerInfo> server)
{
    if (!server)
        return;
    std::lock_guard lock(m_serverListLock);
    const auto known = std::find_if(m_serverList.begin(), m_serverList.end(),
                                    [&](const auto& s) { return s->address() == server->address(); });
    if (known != m_serverList.end()) {
        // The same copy announced again: at most its port moved; no second entry, no new picture.
        if ((*known)->dataPort() != server->dataPort())
            (*known)->setDataPort(server->dataPort());
        return;
    }
    m_serverList.push_back(server);
    if (m_services.requestPeerIcon)
        m_services.requestPeerIcon(server);
}

void AppDelegate::onTWClientRemoveServer(const std::shared_ptr<ServerInfo>& server)
{
    std::lock_guard lock(m_serverListLock);
    std::erase_if(m_serverList, [&](const auto& s) { return s == server || (server && s->address() == server->address()); });
}

std::vector<std::shared_ptr<ServerInfo>> AppDelegate::serverList() const
{
    std::lock_guard lock(m_serverListLock);
    return m_serverList;
}
