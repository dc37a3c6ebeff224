// The desktop services the program asks of its platform: which applications open a file and
// which is the default, opening files and URLs, showing a file in the file manager, the
// trash, whether a file is invisible, file dates, a folder's custom icon and file-type icons.
//
// Applications are desktop entries (see ApplicationDatabase); they are started through a
// ProcessLauncher with argument lists built from their Exec line, never through a shell, so
// the launcher can be swapped in tests to see exactly what would run. Where our own lookup
// finds no application, "xdg-open" (when installed) gets the last word, as the desktop may
// know handlers we do not. Stateless apart from the launcher and database it uses.
//
// An entry that says Terminal=true (vim, mutt, ranger) has no window of its own: started bare it
// would run unseen, its screen codes going to our log. It runs inside the user's terminal
// emulator: the one the TERMINAL variable names, else the system's "x-terminal-emulator"; both are
// given "-e" and the command line. Without either, such an entry is passed over for the next
// handler of the type, and when it was the only one (or the one asked for) the open fails saying
// why.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Workspace/ApplicationDatabase.h"
#include "Platform/Workspace/DesktopEntry.h"
#include "Platform/Workspace/ProcessLauncher.h"

#include <QDateTime>
#include <QIcon>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

namespace platform {

class Workspace {
public:
    // Over the system launcher and the shared application database.
    static Workspace& shared();
    explicit Workspace(ProcessLauncher& launcher = ProcessLauncher::system(),
                       ApplicationDatabase& applications = ApplicationDatabase::shared());

    ProcessLauncher& launcher() { return m_launcher; }
    ApplicationDatabase& applications() { return m_applications; }

    // The MIME type of a file by name and content ("application/octet-stream" when unknown).
    static QString mimeTypeOfFile(const QString& path);

    struct ApplicationsForFile {
        std::optional<DesktopEntry> defaultApplication;
        QList<DesktopEntry> otherApplications; // without the default and hidden (NoDisplay) ones
    };
    // Without a default application both parts are empty, even when others could open the file.
    ApplicationsForFile applicationsForFile(const QString& path);

    // The handlers of a URL scheme ("mailto"), the default one first.
    QList<DesktopEntry> applicationsForURLScheme(const QString& scheme);
    std::optional<DesktopEntry> defaultApplicationForURLScheme(const QString& scheme);

    // Opens a file with its default application.
    Result<void> openFile(const QString& path);
    // Opens a file with an application named by a .desktop path, a desktop ID or an
    // executable's path.
    Result<void> openFile(const QString& path, const QString& application);
    Result<void> openURL(const QUrl& url);
    // Starts an application with files or URLs, one process per command line its Exec makes.
    Result<void> launchApplication(const DesktopEntry& application, const QStringList& filesOrUrls);
    // Starts one command line made from application's Exec, in a terminal when it asks for one.
    Result<void> runApplication(const DesktopEntry& application, const QStringList& argv);

    // The terminal emulator and the option that hands it a command ({"xterm", "-e"}), or
    // nothing when neither TERMINAL nor x-terminal-emulator names one that can be found.
    std::optional<QStringList> terminalCommand() const;
    // Whether the entry can be started so that the user sees it.
    bool canLaunch(const DesktopEntry& application) const;
    // The first of these applications that can be started so that the user sees it.
    std::optional<DesktopEntry> firstLaunchable(const QList<DesktopEntry>& applications) const;

    // Shows the item in the file manager: selected where the file manager can be told to,
    // else its folder opened.
    Result<void> selectFile(const QString& path);
    // Shows several items in the file manager with one org.freedesktop.FileManager1 ShowItems
    // call on the session bus naming all of them (missing ones left out). Answers at once
    // (fails only when none of them exists): the file manager may take seconds to start or
    // never answer, and the window must not wait for it. When the bus has no file manager to
    // answer, the first item goes to selectFile then (a failure there is logged).
    // Main thread: the answer comes through its event loop.
    Result<void> selectFiles(const QStringList& paths);

    // How ShowItems reaches the file manager: the file URIs and a startup ID; answered(false)
    // when there is no bus or nobody answered, called once, possibly later. The session bus
    // unless set (tests record the calls).
    using ShowItemsCall =
        std::function<void(const QStringList& uris, const QString& startupId, std::function<void(bool shown)> answered)>;
    void setShowItemsCall(ShowItemsCall call) { m_showItems = std::move(call); }
    static void sessionBusShowItems(const QStringList& uris, const QString& startupId,
                                    std::function<void(bool shown)> answered);

    // Moves an item to the user's trash (see Trash); answers its new path.
    Result<QString> recycle(const QString& path);

    // Linux has no invisible flag: a name starting with "." is hidden.
    static bool isInvisibleFile(const QString& path);

    // Birth time where the file system keeps one (invalid otherwise) and modification time.
    static Result<QDateTime> creationDate(const QString& path);
    static Result<QDateTime> modificationDate(const QString& path);
    // Linux offers no way to set a birth time: always false, nothing changed.
    static bool setCreationDate(const QString& path, const QDateTime& date);
    static Result<void> setModificationDate(const QString& path, const QDateTime& date);

    // Gives a folder a custom icon in the file managers that read ".directory" (its
    // "[Desktop Entry]" Icon key, other contents kept). The folder must exist.
    static Result<void> setFolderIcon(const QString& folder, const QString& iconPath);
    // The Icon of a folder's ".directory", empty when none.
    static QString folderIcon(const QString& folder);

    // The icon-theme name of a file's type, and the icon: the type's own, its generic one,
    // then a generic document. Icons need the GUI thread.
    static QString iconNameForFile(const QString& path);
    static QIcon iconForFile(const QString& path);
    static QIcon iconForApplication(const DesktopEntry& application);

private:
    Result<void> run(const QStringList& argv);
    std::optional<DesktopEntry> resolveApplication(const QString& application);
    // The first handler of these that can be started, or why none can; nullopt when there is none.
    std::optional<Result<DesktopEntry>> handlerOf(const QList<DesktopEntry>& handlers) const;

    ProcessLauncher& m_launcher;
    ApplicationDatabase& m_applications;
    ShowItemsCall m_showItems;
};

} // namespace platform
