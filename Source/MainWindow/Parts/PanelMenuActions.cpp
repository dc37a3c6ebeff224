#include "MainWindow/Parts/PanelMenuActions.h"

#include "App/AppDelegate.h"
#include "App/LogFileSetup.h"
#include "Dialogs/Export/ExportWindowController.h"
#include "Dialogs/Preferences/PreferencesWindowController.h"
#include "Dialogs/Welcome/RateAppViewController.h"
#include "Dialogs/Welcome/WelcomeWindowController.h"
#include "Mail/SendMailClient.h"
#include "MainWindow/MainWindowContext.h"
#include "MainWindow/MainWindowExtensions.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Platform/Workspace/Workspace.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarDataSource.h"
#include "SideBar/SideBarNodeType.h"
#include "SideBar/SubSideBarDataSource.h"
#include "Store/DBIndexFolder.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Tools/DuplicateInfoWindowController.h"
#include "Tools/Sources/IndexFolderType.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

#ifndef FOLIVO_SUPPORT_ADDRESS
#define FOLIVO_SUPPORT_ADDRESS ""
#endif

using platform::localizedString;
namespace T = SideBarNodeType;

namespace {

QString lastComponent(const QString& folder)
{
    return QFileInfo(folder).fileName();
}

// format with each "%@" replaced by the next of args.
QString filled(QString format, const QStringList& args)
{
    qsizetype from = 0;
    for (const QString& arg : args) {
        const qsizetype at = format.indexOf(QStringLiteral("%@"), from);
        if (at < 0)
            break;
        format.replace(at, 2, arg);
        from = at + arg.size();
    }
    return format;
}

QString infoString(const char* key)
{
    return platform::Bundle::mainBundle().objectForInfoDictionaryKey(QString::fromLatin1(key)).toString();
}

} // namespace

PanelMenuActions::PanelMenuActions(MainWindowContext& ctx) : m_ctx(ctx)
{
    logFile = [] { return LogFileSetup::logsFolder() + QLatin1Char('/') + kLogFileName; };
    sendMailInfo = [](const MailInfo& mail) { return SendMailClient::sendMail(mail); };
    openPreferences = [this](PreferencesPane pane) {
        PreferencesWindowController::Services services;
        services.dialogs = m_ctx.dialogs;
        QPointer<AppDelegate> app(m_ctx.appDelegate);
        services.relaunch = [app] {
            if (!app)
                return;
            app->setBNeedRelaunch(true);
            app->requestTermination();
        };
        PreferencesWindowController::showPreferences(m_ctx.window, pane, std::move(services));
    };
    openExportSheet = [this](const QString& folder) { ExportWindowController::exportToFolder(m_ctx.window, folder); };
    openDuplicatesWindow = [this](std::function<void()> closed) {
        // The window and its controller go when it closes.
        auto* duplicates = new DuplicateInfoWindowController(m_ctx.window);
        QObject::connect(duplicates, &QObject::destroyed, [closed = std::move(closed)] { closed(); });
        duplicates->showWindow();
    };
    showWelcome = [] { WelcomeWindowController::showWelcomeWindow({}); };
    makeRateView = [](QWidget* host) -> QObject* { return new RateAppViewController(host); };
}

PanelMenuActions::~PanelMenuActions() = default;

QString PanelMenuActions::configuredSupportAddress()
{
    return QString::fromUtf8(FOLIVO_SUPPORT_ADDRESS).trimmed();
}

void PanelMenuActions::install()
{
    if (!m_ctx.commands)
        return;
    platform::kit::CommandDispatcher& commands = *m_ctx.commands;
    const auto plain = [&](const char* name, void (PanelMenuActions::*handler)()) {
        m_commands.push_back(commands.add(QString::fromLatin1(name), [this, handler](const QVariant&) { (this->*handler)(); }));
    };
    plain("menuAddIndexFolder", &PanelMenuActions::menuAddIndexFolder);
    plain("menuImportFromLibrary", &PanelMenuActions::menuImportFromLibrary);
    plain("menuExportClick", &PanelMenuActions::menuExportClick);
    plain("menuAddSource", &PanelMenuActions::menuAddSource);
    plain("menuPreferencesClick", &PanelMenuActions::menuPreferencesClick);
    plain("menuCheckDuplicateClick", &PanelMenuActions::menuCheckDuplicateClick);
    plain("orderFrontStandardAboutPanel", &PanelMenuActions::orderFrontStandardAboutPanel);
    plain("menuFeedBackClick", &PanelMenuActions::menuFeedBackClick);
    plain("menuReportBugClick", &PanelMenuActions::menuReportBugClick);
    plain("menuRateThisApp", &PanelMenuActions::menuRateThisApp);
    plain("menuFAQClick", &PanelMenuActions::menuFAQClick);
    plain("menuShowHelpClick", &PanelMenuActions::menuShowHelpClick);
    plain("menuWelcomeClick", &PanelMenuActions::menuWelcomeClick);
}

QWidget* PanelMenuActions::window() const
{
    return m_ctx.window;
}

platform::kit::Scheduler& PanelMenuActions::scheduler() const
{
    return m_ctx.scheduler ? *m_ctx.scheduler : platform::kit::Scheduler::current();
}

platform::Workspace& PanelMenuActions::desktop() const
{
    return workspace ? *workspace : platform::Workspace::shared();
}

void PanelMenuActions::post(const QString& name, const QVariant& object) const
{
    (m_ctx.notifications ? *m_ctx.notifications : platform::NotificationCenter::defaultCenter()).post(name, object);
}

void PanelMenuActions::later(int ms, std::function<void()> fn)
{
    std::erase_if(m_delayed, [](const platform::kit::Token& token) { return !token.isActive(); });
    m_delayed.push_back(scheduler().after(ms, std::move(fn)));
}

void PanelMenuActions::alert(const QString& message)
{
    platform::kit::DialogService& dialogs = m_ctx.dialogs ? *m_ctx.dialogs : platform::kit::DialogService::shared();
    dialogs.alert(window(), platform::kit::Alert::withMessage(message, localizedString(QStringLiteral("OK")), {}, {}, {}), {});
}

// ---- index folders, import and export ----

PanelMenuActions::IndexFolderCheck PanelMenuActions::checkIndexFolder(const QString& folder) const
{
    const KPLibraryFileManager& library = files ? *files : KPLibraryFileManager::defaultManager();
    if (library.checkIsInLibraryFile(folder))
        return IndexFolderCheck::InsideLibrary;
    // Through a link the watch would still reach the library's own files.
    const QString real = QFileInfo(folder).canonicalFilePath();
    if (!real.isEmpty() && real != folder && library.checkIsInLibraryFile(real))
        return IndexFolderCheck::InsideLibrary;
    DataBaseEngine* store = m_ctx.store ? m_ctx.store : DataBaseEngine::dataBaseEngine();
    const auto predicate = platform::Predicate::format(QStringLiteral("isTrash == NO"));
    const auto live = store->queryRecordByName(DBIndexFolder::entityName(), predicate ? *predicate : platform::Predicate());
    if (!live) {
        KPLogLogMessage(QStringLiteral("Add Index Folder: the watched folders could not be read: %1").arg(live.error().message));
        return IndexFolderCheck::Accepted;
    }
    for (const DBIndexFolder& watched : DBRecord::recordsOf<DBIndexFolder>(*live))
        if (!watched.isTrash() && QDir::cleanPath(watched.path()) == folder)
            return IndexFolderCheck::AlreadyWatched;
    return IndexFolderCheck::Accepted;
}

void PanelMenuActions::menuAddIndexFolder()
{
    platform::kit::OpenPanelOptions options;
    options.title = localizedString(
        QStringLiteral("Please choose the Folder to manage in Folivo. Your files will not be copied or moved."));
    options.prompt = localizedString(QStringLiteral("Add Index Folder"));
    options.canChooseFiles = false;
    options.canChooseDirectories = true;
    platform::kit::DialogService& dialogs = m_ctx.dialogs ? *m_ctx.dialogs : platform::kit::DialogService::shared();
    const std::weak_ptr<bool> alive = m_alive;
    dialogs.openPanel(window(), options, [this, alive](const QStringList& paths) {
        if (!alive.expired() && !paths.isEmpty() && !paths.first().isEmpty())
            indexFolderChosen(QDir::cleanPath(paths.first()));
    });
}

void PanelMenuActions::indexFolderChosen(const QString& folder)
{
    const IndexFolderCheck check = checkIndexFolder(folder);
    later(kIndexFolderDelayMs, [this, folder, check] {
        switch (check) {
        case IndexFolderCheck::InsideLibrary:
            alert(localizedString(kLibraryFolderText));
            break;
        case IndexFolderCheck::AlreadyWatched:
            alert(filled(localizedString(kAlreadyExistText), {lastComponent(folder)}));
            break;
        case IndexFolderCheck::Accepted:
            post(AddIndexFolderNotification, indexFolderDicInfo(folder, lastComponent(folder), IndexFolderType::Folder));
            break;
        }
    });
}

void PanelMenuActions::menuImportFromLibrary()
{
    platform::kit::OpenPanelOptions options;
    options.title = localizedString(QStringLiteral("Choose specific files..."));
    options.prompt = localizedString(QStringLiteral("Import"));
    options.canChooseFiles = true;
    options.canChooseDirectories = true;
    options.allowsMultipleSelection = true;
    platform::kit::DialogService& dialogs = m_ctx.dialogs ? *m_ctx.dialogs : platform::kit::DialogService::shared();
    const std::weak_ptr<bool> alive = m_alive;
    dialogs.openPanel(window(), options, [this, alive](const QStringList& paths) {
        if (alive.expired() || paths.isEmpty())
            return;
        later(kImportDelayMs, [this, paths] {
            post(SubSideBarKeys::AddFilesToLibrary, QVariantMap{{QStringLiteral("Paths"), paths}});
        });
    });
}

void PanelMenuActions::menuExportClick()
{
    platform::kit::OpenPanelOptions options;
    options.title = localizedString(QStringLiteral("Choose the folder location you'd like to export"));
    options.prompt = localizedString(QStringLiteral("Export"));
    options.canChooseFiles = true;
    options.canChooseDirectories = true;
    options.allowsMultipleSelection = true;
    platform::kit::DialogService& dialogs = m_ctx.dialogs ? *m_ctx.dialogs : platform::kit::DialogService::shared();
    const std::weak_ptr<bool> alive = m_alive;
    dialogs.openPanel(window(), options, [this, alive](const QStringList& paths) {
        if (alive.expired() || paths.isEmpty() || paths.first().isEmpty())
            return;
        const QString folder = paths.first();
        later(kExportDelayMs, [this, folder] {
            if (openExportSheet)
                openExportSheet(folder);
        });
    });
}

// ---- windows ----

void PanelMenuActions::menuAddSource()
{
    if (openPreferences)
        openPreferences(PreferencesPane::Source);
}

void PanelMenuActions::menuPreferencesClick()
{
    if (openPreferences)
        openPreferences(PreferencesPane::General);
}

void PanelMenuActions::menuCheckDuplicateClick()
{
    if (m_duplicatesOpen || !openDuplicatesWindow)
        return;
    m_duplicatesOpen = true;
    const std::weak_ptr<bool> alive = m_alive;
    openDuplicatesWindow([this, alive] {
        if (!alive.expired())
            m_duplicatesOpen = false;
    });
}

void PanelMenuActions::orderFrontStandardAboutPanel()
{
    platform::kit::DialogService& dialogs = m_ctx.dialogs ? *m_ctx.dialogs : platform::kit::DialogService::shared();
    const QString version = QStringLiteral("%1 (%2)").arg(infoString("CFBundleShortVersionString"), infoString("CFBundleVersion"));
    dialogs.alert(window(),
                  platform::kit::Alert::withMessage(QStringLiteral("Folivo 2"), localizedString(QStringLiteral("OK")), {}, {},
                                                    filled(localizedString(QStringLiteral("Version %@")), {version})),
                  {});
}

void PanelMenuActions::menuWelcomeClick()
{
    if (showWelcome)
        showWelcome();
}

void PanelMenuActions::menuRateThisApp()
{
    if (!hosts.hasLinkHost() || m_rateViewController || !m_ctx.window || !makeRateView)
        return;
    m_rateViewController = makeRateView(m_ctx.window);
    m_rateObserver = platform::NotificationCenter::defaultCenter().addObserver(
        RateAppViewController::kRemoveRateViewNotification, [this](const platform::Notification&) { onRemoveRateView(); });
}

void PanelMenuActions::onRemoveRateView()
{
    m_rateObserver = {};
    // The prompt posts from inside its own button handler: it goes once that has returned.
    if (m_rateViewController)
        m_rateViewController->deleteLater();
    m_rateViewController = nullptr;
}

// ---- mail and the maker's pages ----

void PanelMenuActions::sendMail(const QString& subject, const QString& content)
{
    MailInfo info;
    info.subject = subject;
    info.content = content;
    info.address = supportAddress;
    const QString log = logFile ? logFile() : QString();
    if (!log.isEmpty() && QFileInfo(log).isFile())
        info.files = QStringList{log};
    if (sendMailInfo && sendMailInfo(info))
        return;
    KPLogLogMessage(QStringLiteral("The mail \"%1\" could not be handed to a mail program").arg(subject));
    // Without a word the command would seem to do nothing at all.
    alert(localizedString(kNoMailProgramText));
}

void PanelMenuActions::menuFeedBackClick()
{
    sendMail(localizedString(QStringLiteral("Feedbacks for Folivo 2")), localizedString(QStringLiteral("FeedbackContent")));
}

void PanelMenuActions::menuReportBugClick()
{
    const QString version = QStringLiteral("%1(%2)").arg(infoString("CFBundleShortVersionString"), infoString("CFBundleVersion"));
    const QString subject = filled(localizedString(QStringLiteral("%@ v%@ Bug Report")), {QStringLiteral("Folivo"), version});
    sendMail(subject, localizedString(QStringLiteral("ReportBugsContentStr")));
}

void PanelMenuActions::openMakerPage(const QString& path)
{
    const QUrl url = hosts.linkURL(path);
    if (!url.isValid())
        return;
    if (auto opened = desktop().openURL(url); !opened)
        KPLogLogMessage(QStringLiteral("Opening %1: %2").arg(url.toString(), opened.error().message));
}

void PanelMenuActions::menuFAQClick()
{
    openMakerPage(kFAQPath);
}

void PanelMenuActions::menuShowHelpClick()
{
    openMakerPage(kHelpPath);
}
