// A user's session on an X display of its own: Xvfb (with a window manager when a case needs
// one), the real program with a home of its own, xdotool for the pointer and the keys, our drag
// source for files dragged in as a file manager drags them, screenshots, and the library read
// back from disk.
//
// Everything is awaited by polling a condition with a deadline; nothing waits a fixed time. What
// a case saw (screenshots, the program's log and error output) is kept in a folder of its own
// beside CTest's log, so a failure can be looked at afterwards.
//
// Threads: the test's main thread only.
#pragma once

#include "Support/TestSupport.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

namespace userlevel {

// How long one step may take before the case gives up on it. Generous, since CTest runs cases side
// by side on a loaded machine; a case is still bounded by a handful of these.
inline constexpr int kStepMs = 30000;

// Runs the helpers this test program also serves as (see UserLevelChildren.cpp).
inline constexpr char kChildVariable[] = "FOLIVO_USERLEVEL_CHILD";

class UserSession {
public:
    explicit UserSession(const QString& caseName);
    // Ends the program, the window manager and the server, and keeps their output.
    ~UserSession();
    UserSession(const UserSession&) = delete;
    UserSession& operator=(const UserSession&) = delete;

    // ---- the display ----
    bool startDisplay(bool windowManager = false);
    QString display() const { return m_display; }

    // ---- the program ----
    QString home() const { return m_home; }
    QString libraryFolder() const { return m_home + QStringLiteral("/Documents/Folivo 2 Library"); }
    QString logFile() const;
    QByteArray log() const;
    // Settles the welcome window as already seen, for the cases that are not about it.
    void skipWelcome();
    bool startProgram(const QStringList& files = {});
    bool programRunning();
    // Waits for the program to end on its own; its exit code, or -1 when it did not end in time.
    int waitForProgramExit(int ms = kStepMs);
    void killProgram();
    // The program stopped (SIGSTOP) and let go on (SIGCONT): a machine too busy to run it for a
    // moment, made certain.
    void pauseProgram();
    void resumeProgram();
    // Another copy started as a user starts it; its exit code, or -1 when it did not end in time.
    int runSecondCopy(const QStringList& files);
    QHash<QString, QString> programEnvironment() const;
    // A variable added to the environment of the program's next starts.
    void setProgramVariable(const QString& name, const QString& value) { m_variables.insert(name, value); }
    // The program's next starts run its test build (folivo2-test: the same program, which also
    // reads its test switches from the environment).
    void useTestBuild() { m_testBuild = true; }

    // ---- windows ----
    // Visible windows whose whole name is name.
    QList<quint64> windows(const QString& name) const;
    // The largest visible window so named, once there is one.
    std::optional<quint64> waitForWindow(const QString& name, int ms = kStepMs);
    // The largest visible window that is not among before, once there is one.
    std::optional<quint64> waitForNewWindow(const QList<quint64>& before, int ms = kStepMs);
    std::optional<quint64> mainWindow(int ms = kStepMs) { return waitForWindow(QStringLiteral("Folivo 2"), ms); }
    QRect geometry(quint64 window) const;
    quint64 focusedWindow() const;
    // The root window's _NET_ACTIVE_WINDOW (only a window manager keeps it).
    quint64 activeWindow() const;
    bool isViewable(quint64 window) const;
    // What the server and the window manager say of window, for a failure's message.
    QString describeWindow(quint64 window) const;

    // ---- input ----
    bool xdotool(const QStringList& arguments, QString* output = nullptr) const;
    void click(QPoint screen, bool control = false);
    void key(const QString& keys);
    void type(const QString& text);
    // Opens the title bar's menu at index (0 is the application's menu) of the main window, its
    // first item lit. The arrow keys then move in it (disabled items are passed over), openSubmenu() opens the
    // highlighted item's submenu and choose() performs the highlighted item.
    bool openMenu(quint64 window, int index);
    // The same, answering false without failing when the menus cannot be reached.
    bool tryOpenMenu(quint64 window, int index);
    bool openSubmenu();
    bool choose();
    // Menus and submenus open now.
    int openMenus() const;
    int visibleWindowCount() const;
    // Every visible window of the display, the program's and others.
    QList<quint64> visibleWindows() const;

    // Files dragged from our drag source, as a file manager drags them, and let go at target
    // (screen coordinates) once the target has accepted them. Empty when the drop went through,
    // else what went wrong. The source serves the drop until the next drag. With readyToDrop,
    // the files are let go once the screen under the drag shows it (the target's own sign of
    // where the drop will land) and stands still.
    QString dragFiles(const QStringList& files, QPoint target,
                      const std::function<bool(const QImage&)>& readyToDrop = {});

    // ---- what the user sees ----
    // The whole screen, also saved as "<n>-<name>.png" in the case's folder.
    QImage screenshot(const QString& name);
    // The screen once two looks in a row agree (at most 10 s), saved as screenshot() saves it.
    // Only for a screen whose change has already been seen: a reaction that starts later than
    // one look finds it still.
    QImage settledScreenshot(const QString& name);
    // The screen once shows(screen) holds, and then once two looks in a row agree and show it
    // (at most 10 s more): what a user waits for before acting on it. A null image when shows
    // never held within ms.
    QImage waitForScreen(const QString& name, const std::function<bool(const QImage&)>& shows, int ms = kStepMs);
    // The screen once area of it (the whole screen when empty) differs from before's, and then
    // stands still as waitForScreen() waits for it. before is taken before the action whose
    // reaction is awaited; a null image when nothing changed within ms.
    QImage waitForChange(const QString& name, const QImage& before, const QRect& area = {}, int ms = kStepMs);
    QString outputFolder() const { return m_output; }

    // ---- the library on disk ----
    // Rows of a read-only query of the library's store; an empty list when it cannot be read.
    QList<QVariantList> query(const QString& sql) const;
    // Documents not in the trash, by title.
    QStringList documentTitles() const;

    // Polls cond until it holds or ms pass.
    static bool waitUntil(const std::function<bool()>& cond, int ms = kStepMs);

private:
    QString run(const QString& program, const QStringList& arguments, bool* ok = nullptr) const;
    void keepOutput();

    QString m_caseName;
    QString m_home;
    QString m_output;
    QString m_display;
    QHash<QString, QString> m_variables;
    bool m_testBuild = false;
    int m_shots = 0;
    int m_runs = 0;
    int m_windowsBeforeMenu = 0;
    std::unique_ptr<testsupport::ChildProcess> m_server;
    std::unique_ptr<testsupport::ChildProcess> m_windowManager;
    std::unique_ptr<testsupport::ChildProcess> m_program;
    // Kept until the next drag: the target reads what was dropped from it after the drop.
    std::unique_ptr<testsupport::ChildProcess> m_dragSource;
};

// Pixels of rect in image that are not near-white: a blank view has none.
int inkIn(const QImage& image, const QRect& rect);
// Pixels of rect in image of about color (each channel within 40 of it).
int colorIn(const QImage& image, const QRect& rect, QRgb color);
// Whether a sheet or an alert is over a window in image: the window's near-white background
// at spot (screen coordinates) is dimmed under it.
bool dimmedAt(const QImage& image, QPoint spot);

// "Suite.Case" of the running test: the name of its session's folder.
QString currentCase();

} // namespace userlevel
