// The menu bar's commands that ask for files and folders or open a window of their own: adding an
// index folder, importing, exporting, the preferences, the duplicates and scanner windows, the
// About box, the welcome window, the rate prompt, the feedback and bug-report mails and the
// maker's pages. Each is registered under its command name in the window's CommandDispatcher.
//
// The folder chosen as an index folder is compared with the live ones by its exact path, as
// Linux tells "/x/Docs" and "/x/docs" apart; the library folder and anything inside it are
// refused, since watching them would import the library into itself. The step after a chooser
// waits (0.3 s after the index-folder chooser, 0.7 s after the import and export choosers, on
// the Kit's scheduler), so that the chooser has gone and the window is drawn again before the
// step opens a sheet or a progress window of its own over it.
//
// The maker's support mail address and link host are chosen when the program is built: without
// an address the mails open with the placeholder recipient, without a host the FAQ, Help and
// Rate items are not offered.
//
// Threads: main thread only.
#pragma once

#include "Dialogs/Preferences/PreferencesWindow.h"
#include "Dialogs/Welcome/MakerHosts.h"
#include "Mail/MailInfo.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/CommandDispatcher.h"
#include "Platform/Kit/Scheduler.h"
#include "SideBar/KPNode.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

struct MainWindowContext;
class KPLibraryFileManager;
class QWidget;

namespace platform {
class Workspace;
}

class PanelMenuActions {
public:
    static constexpr int kIndexFolderDelayMs = 300;
    static constexpr int kImportDelayMs = 700;
    static constexpr int kExportDelayMs = 700;
    static inline const QString kFAQPath = QStringLiteral("/fv2faq");
    static inline const QString kHelpPath = QStringLiteral("/fv2help");
    static inline const QString kAlreadyExistText = QStringLiteral("The folder \"%@\" already exist.");
    static inline const QString kLibraryFolderText = QStringLiteral("The library folder cannot be a document source.");
    static inline const QString kLogFileName = QStringLiteral("Folivo 2.log");
    static inline const QString kNoMailProgramText =
        QStringLiteral("No mail program could be opened. Choose one in Preferences > General.");

    explicit PanelMenuActions(MainWindowContext& ctx);
    ~PanelMenuActions();
    PanelMenuActions(const PanelMenuActions&) = delete;
    PanelMenuActions& operator=(const PanelMenuActions&) = delete;

    // Registers every command in ctx.commands; the registrations end with this object.
    void install();

    // ---- hooks the window wires ----
    // Shows a main side-bar node's content again (the content switch).
    std::function<void(const KPNode::Ptr& node)> onSideBarNodeChange;

    // ---- services (the program's unless a test sets its own) ----
    MakerHosts hosts = MakerHosts::configured();
    QString supportAddress = configuredSupportAddress();
    platform::Workspace* workspace = nullptr;
    // The library's files (null: the program's).
    const KPLibraryFileManager* files = nullptr;
    // The log file attached to the mails when it exists.
    std::function<QString()> logFile;
    // Hands a mail to the user's mail program; false when none took it.
    std::function<bool(const MailInfo& mail)> sendMailInfo;
    // Opens the preferences window application-modal on a pane.
    std::function<void(PreferencesPane pane)> openPreferences;
    // Begins the export into folder as a sheet on the window.
    std::function<void(const QString& folder)> openExportSheet;
    // Opens the duplicates window application-modal; closed runs when it has gone.
    std::function<void(std::function<void()> closed)> openDuplicatesWindow;
    // Shows the welcome window, not modal.
    std::function<void()> showWelcome;
    // Lays the rate prompt over host; the prompt posts "RemoveRateView" when it is done.
    std::function<QObject*(QWidget* host)> makeRateView;

    // The address this build was configured with; empty without one.
    static QString configuredSupportAddress();

    // ---- commands ----
    void menuAddIndexFolder();
    void menuImportFromLibrary();
    void menuExportClick();
    void menuAddSource();
    void menuPreferencesClick();
    void menuCheckDuplicateClick();
    void orderFrontStandardAboutPanel();
    void menuFeedBackClick();
    void menuReportBugClick();
    void menuRateThisApp();
    void onRemoveRateView();
    void menuFAQClick();
    void menuShowHelpClick();
    void menuWelcomeClick();

    // Whether the duplicates window or the rate prompt is up now.
    bool isDuplicatesWindowOpen() const { return m_duplicatesOpen; }
    QObject* rateViewController() const { return m_rateViewController; }

    // What a chosen index folder comes to.
    enum class IndexFolderCheck { Accepted, InsideLibrary, AlreadyWatched };
    IndexFolderCheck checkIndexFolder(const QString& folder) const;

private:
    QWidget* window() const;
    platform::kit::Scheduler& scheduler() const;
    platform::Workspace& desktop() const;
    void post(const QString& name, const QVariant& object) const;
    void alert(const QString& message);
    // fn ms from now unless this object has gone.
    void later(int ms, std::function<void()> fn);
    void indexFolderChosen(const QString& folder);
    void sendMail(const QString& subject, const QString& content);
    void openMakerPage(const QString& path);

    MainWindowContext& m_ctx;
    std::vector<platform::kit::CommandDispatcher::Token> m_commands;
    std::vector<platform::kit::Token> m_delayed;
    bool m_duplicatesOpen = false;
    QPointer<QObject> m_rateViewController;
    platform::ObserverToken m_rateObserver;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
