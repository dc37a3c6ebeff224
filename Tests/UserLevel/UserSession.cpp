#include "UserLevel/UserSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace userlevel {

namespace {

QString tool(const char* name)
{
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (path.isEmpty())
        ADD_FAILURE() << name << " is not installed (scripts/setup installs it)";
    return path;
}

QString safeName(QString name)
{
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    return name;
}

} // namespace

UserSession::UserSession(const QString& caseName)
    : m_caseName(caseName), m_home(testsupport::makeTempDir(QStringLiteral("user")))
{
    m_output = QStringLiteral(FOLIVO_USERLEVEL_OUTPUT "/") + safeName(caseName);
    QDir(m_output).removeRecursively();
    QDir().mkpath(m_output);
    for (const char* folder : {"/.local/share", "/.config", "/.cache", "/Documents", "/runtime"})
        QDir().mkpath(m_home + QLatin1String(folder));
    ::chmod(QFile::encodeName(m_home + QStringLiteral("/runtime")).constData(), 0700);
}

UserSession::~UserSession()
{
    if (m_program && programRunning()) {
        ::kill(m_program->pid(), SIGTERM);
        m_program->waitForFinished(10000);
    }
    keepOutput();
    m_dragSource.reset();
    m_program.reset();
    m_windowManager.reset();
    // Asked to end, the server removes its lock and socket; killed, it would leave them behind
    // and every later run would find one display fewer.
    if (m_server && m_server->started() && !m_server->waitForFinished(0)) {
        ::kill(m_server->pid(), SIGTERM);
        m_server->waitForFinished(kStepMs);
    }
    m_server.reset();
}

void UserSession::keepOutput()
{
    QFile::remove(m_output + QStringLiteral("/program.log"));
    QFile::copy(logFile(), m_output + QStringLiteral("/program.log"));
    if (m_program) {
        QFile err(m_output + QStringLiteral("/program-%1.stderr").arg(m_runs));
        if (err.open(QIODevice::WriteOnly))
            err.write(m_program->standardError());
    }
}

// ---- the display ----

namespace {

// Whether the X server whose lock file this is still runs (the file holds its process id).
bool displayHeld(const QString& lock)
{
    QFile file(lock);
    if (!file.open(QIODevice::ReadOnly))
        return QFileInfo::exists(lock);
    bool ok = false;
    const qint64 pid = file.readAll().trimmed().toLongLong(&ok);
    return !ok || pid <= 0 || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}

} // namespace

bool UserSession::startDisplay(bool windowManager)
{
    const QString xvfb = tool("Xvfb");
    if (xvfb.isEmpty())
        return false;
    // Cases run side by side: each tries numbers from its own starting point, and a number another
    // server holds makes Xvfb end at once, so the next one is tried.
    const int first = 100 + int(::getpid() % 400);
    for (int number = first; number < first + 60; ++number) {
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        const QString lock = QStringLiteral("/tmp/.X%1-lock").arg(number);
        if (displayHeld(lock))
            continue;
        // What a server that died left behind: Xvfb would take the number over, but its socket
        // standing there already would look like the new server answering.
        QFile::remove(socket);
        auto server = std::make_unique<testsupport::ChildProcess>(
            QStringList{QStringLiteral(":%1").arg(number), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1440x900x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                        QStringLiteral("-noreset")},
            QHash<QString, QString>{}, xvfb);
        bool ended = false;
        const bool up = waitUntil(
            [&] {
                ended = server->waitForFinished(0);
                return ended || QFileInfo::exists(socket);
            },
            10000);
        if (!up || ended)
            continue;
        m_server = std::move(server);
        m_display = QStringLiteral(":%1").arg(number);
        // The server answers once its socket is there; a query proves it.
        if (!waitUntil([&] { return xdotool({QStringLiteral("getmouselocation")}); }, 10000))
            return false;
        break;
    }
    if (m_display.isEmpty()) {
        ADD_FAILURE() << "no free X display could be started";
        return false;
    }
    if (!windowManager)
        return true;
    const QString openbox = tool("openbox");
    if (openbox.isEmpty())
        return false;
    m_windowManager = std::make_unique<testsupport::ChildProcess>(
        QStringList{QStringLiteral("--sm-disable")},
        QHash<QString, QString>{{QStringLiteral("DISPLAY"), m_display}, {QStringLiteral("HOME"), m_home}}, openbox);
    const bool managed = waitUntil([&] {
        return run(tool("xprop"), {QStringLiteral("-display"), m_display, QStringLiteral("-root"),
                                   QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
            .contains(QStringLiteral("window id"));
    });
    EXPECT_TRUE(managed) << "the window manager did not start";
    return managed;
}

// ---- the program ----

QString UserSession::logFile() const
{
    return m_home + QStringLiteral("/.local/share/com.norlith.folivo2/Logs/Folivo 2.log");
}

QByteArray UserSession::log() const
{
    QFile file(logFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void UserSession::skipWelcome()
{
    testsupport::writeFile(m_home + QStringLiteral("/.config/Folivo 2/com.norlith.folivo2.plist"),
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<plist version=\"1.0\"><dict><key>Bool_IsShowWelcomWindow</key><false/></dict></plist>\n");
}

QHash<QString, QString> UserSession::programEnvironment() const
{
    QHash<QString, QString> environment{{QStringLiteral("HOME"), m_home},
            {QStringLiteral("XDG_DATA_HOME"), m_home + QStringLiteral("/.local/share")},
            {QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/.config")},
            {QStringLiteral("XDG_CACHE_HOME"), m_home + QStringLiteral("/.cache")},
            {QStringLiteral("XDG_RUNTIME_DIR"), m_home + QStringLiteral("/runtime")},
            {QStringLiteral("XDG_DOCUMENTS_DIR"), m_home + QStringLiteral("/Documents")},
            {QStringLiteral("DISPLAY"), m_display},
            {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")},
            // The program's own log capture keeps its standard error for the case's folder.
            {QStringLiteral("FOLIVO_LOG_NO_CAPTURE"), QStringLiteral("1")}};
    environment.insert(m_variables);
    return environment;
}

bool UserSession::startProgram(const QStringList& files)
{
    if (m_program)
        keepOutput();
    ++m_runs;
    m_program = std::make_unique<testsupport::ChildProcess>(
        files, programEnvironment(), m_testBuild ? QStringLiteral(FOLIVO_PROGRAM_TEST) : QStringLiteral(FOLIVO_PROGRAM));
    return m_program->started();
}

bool UserSession::programRunning()
{
    return m_program && m_program->started() && !m_program->waitForFinished(0);
}

int UserSession::waitForProgramExit(int ms)
{
    if (!m_program || !m_program->waitForFinished(ms))
        return -1;
    return m_program->exitCode();
}

void UserSession::killProgram()
{
    if (!programRunning())
        return;
    ::kill(m_program->pid(), SIGKILL);
    m_program->waitForFinished(kStepMs);
}

void UserSession::pauseProgram()
{
    if (programRunning())
        ::kill(m_program->pid(), SIGSTOP);
}

void UserSession::resumeProgram()
{
    if (m_program && m_program->started())
        ::kill(m_program->pid(), SIGCONT);
}

int UserSession::runSecondCopy(const QStringList& files)
{
    testsupport::ChildProcess second(files, programEnvironment(), QStringLiteral(FOLIVO_PROGRAM));
    if (!second.waitForFinished(kStepMs))
        return -1;
    return second.exitCode();
}

// ---- windows ----

QList<quint64> UserSession::windows(const QString& name) const
{
    QString output;
    xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
             QStringLiteral("^%1$").arg(QRegularExpression::escape(name))},
            &output);
    QList<quint64> ids;
    for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids << line.trimmed().toULongLong();
    return ids;
}

std::optional<quint64> UserSession::waitForWindow(const QString& name, int ms)
{
    std::optional<quint64> found;
    waitUntil(
        [&] {
            int area = 0;
            for (quint64 id : windows(name)) {
                const QRect rect = geometry(id);
                // Qt's own hidden helpers share the name; the user's window is the big one.
                if (rect.width() * rect.height() > std::max(area, 100 * 100)) {
                    area = rect.width() * rect.height();
                    found = id;
                }
            }
            return found.has_value();
        },
        ms);
    return found;
}

std::optional<quint64> UserSession::waitForNewWindow(const QList<quint64>& before, int ms)
{
    std::optional<quint64> found;
    waitUntil(
        [&] {
            int area = 0;
            for (quint64 id : visibleWindows()) {
                if (before.contains(id))
                    continue;
                const QRect rect = geometry(id);
                if (!found || rect.width() * rect.height() > area) {
                    area = rect.width() * rect.height();
                    found = id;
                }
            }
            return found.has_value();
        },
        ms);
    return found;
}

QRect UserSession::geometry(quint64 window) const
{
    QString output;
    if (!xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::number(window)}, &output))
        return {};
    QHash<QString, int> values;
    for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            values.insert(line.left(eq), line.mid(eq + 1).toInt());
    }
    return QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                 values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
}

quint64 UserSession::focusedWindow() const
{
    QString output;
    xdotool({QStringLiteral("getwindowfocus"), QStringLiteral("-f")}, &output);
    return output.trimmed().toULongLong();
}

quint64 UserSession::activeWindow() const
{
    QString output;
    xdotool({QStringLiteral("getactivewindow")}, &output);
    return output.trimmed().toULongLong();
}

bool UserSession::isViewable(quint64 window) const
{
    const QString info = run(tool("xwininfo"), {QStringLiteral("-display"), m_display, QStringLiteral("-id"),
                                                QString::number(window)});
    return info.contains(QStringLiteral("Map State: IsViewable"));
}

QString UserSession::describeWindow(quint64 window) const
{
    const QString info = run(tool("xwininfo"), {QStringLiteral("-display"), m_display, QStringLiteral("-id"),
                                                QString::number(window)});
    static const QRegularExpression mapState(QStringLiteral("Map State: (\\w+)"));
    const QString props = run(tool("xprop"), {QStringLiteral("-display"), m_display, QStringLiteral("-id"),
                                              QString::number(window), QStringLiteral("WM_STATE"),
                                              QStringLiteral("_NET_WM_STATE")});
    return QStringLiteral("%1; %2; active window %3")
        .arg(mapState.match(info).captured(1), props.simplified())
        .arg(activeWindow());
}

// ---- input ----

QString UserSession::run(const QString& program, const QStringList& arguments, bool* ok) const
{
    testsupport::ChildProcess child(arguments, {{QStringLiteral("DISPLAY"), m_display}}, program);
    const bool finished = child.waitForFinished(kStepMs);
    if (ok)
        *ok = finished && child.exitCode() == 0;
    return QString::fromUtf8(child.standardOutput());
}

bool UserSession::xdotool(const QStringList& arguments, QString* output) const
{
    static const QString path = tool("xdotool");
    bool ok = false;
    const QString out = run(path, arguments, &ok);
    if (output)
        *output = out;
    return ok;
}

void UserSession::click(QPoint screen, bool control)
{
    QStringList arguments{QStringLiteral("mousemove"), QString::number(screen.x()), QString::number(screen.y())};
    if (control)
        arguments << QStringLiteral("keydown") << QStringLiteral("ctrl");
    arguments << QStringLiteral("click") << QStringLiteral("1");
    if (control)
        arguments << QStringLiteral("keyup") << QStringLiteral("ctrl");
    EXPECT_TRUE(xdotool(arguments)) << "click at " << screen.x() << "," << screen.y();
}

void UserSession::key(const QString& keys)
{
    EXPECT_TRUE(xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")}
                        + keys.split(QLatin1Char(' '), Qt::SkipEmptyParts)))
        << "keys " << keys.toStdString();
}

void UserSession::type(const QString& text)
{
    EXPECT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text}));
}

QList<quint64> UserSession::visibleWindows() const
{
    QString output;
    xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QString()}, &output);
    QList<quint64> ids;
    for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        ids << line.trimmed().toULongLong();
    return ids;
}

int UserSession::visibleWindowCount() const
{
    return int(visibleWindows().size());
}

int UserSession::openMenus() const
{
    // Each menu is a window of its own, above those there were before the first one opened.
    return std::max(0, visibleWindowCount() - m_windowsBeforeMenu);
}

bool UserSession::openMenu(quint64 window, int index)
{
    if (tryOpenMenu(window, index))
        return true;
    screenshot(QStringLiteral("menu-not-open"));
    ADD_FAILURE() << "menu " << index << " did not open";
    return false;
}

bool UserSession::tryOpenMenu(quint64 window, int index)
{
    // The title bar's first menu title sits this far into the window at scale 1; the others are
    // reached from it with the arrow keys, as a user does, whatever their widths. Keys sent before
    // the menu is up would go to the window under it.
    const QRect frame = geometry(window);
    m_windowsBeforeMenu = visibleWindowCount();
    click(frame.topLeft() + QPoint(112, 19));
    if (!waitUntil([&] { return openMenus() == 1; }, 5000))
        return false;
    // A menu reached with the arrows opens with its first item lit; the clicked one too, then.
    key(QStringLiteral("Down"));
    for (int i = 0; i < index; ++i)
        key(QStringLiteral("Right"));
    return true;
}

bool UserSession::openSubmenu()
{
    key(QStringLiteral("Right"));
    const bool open = waitUntil([&] { return openMenus() == 2; }, 10000);
    if (!open) {
        screenshot(QStringLiteral("submenu-not-open"));
        ADD_FAILURE() << "the submenu did not open (" << openMenus() << " menus open)";
    }
    return open;
}

bool UserSession::choose()
{
    key(QStringLiteral("Return"));
    const bool closed = waitUntil([&] { return openMenus() == 0; }, 10000);
    EXPECT_TRUE(closed) << "the menu stayed open";
    return closed;
}

QString UserSession::dragFiles(const QStringList& files, QPoint target,
                               const std::function<bool(const QImage&)>& readyToDrop)
{
    // Our drag source stands where no window of the program is, in the screen's bottom right.
    const QPoint source(1330, 840);
    // The last source goes: a drop it made has been read by now.
    m_dragSource.reset();
    m_dragSource = std::make_unique<testsupport::ChildProcess>(
        QStringList{QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=DragSourceChild.DISABLED_Drag")},
        QHash<QString, QString>
        {{QString::fromLatin1(kChildVariable), QStringLiteral("1")},
         {QStringLiteral("DISPLAY"), m_display},
         {QStringLiteral("FOLIVO_DRAG_FILES"), files.join(QLatin1Char('\n'))},
         {QStringLiteral("FOLIVO_DRAG_AT"), QStringLiteral("%1,%2").arg(source.x() - 100).arg(source.y() - 50)}});
    testsupport::ChildProcess& dragger = *m_dragSource;
    if (!waitForWindow(QStringLiteral("Folivo drag source")))
        return QStringLiteral("the drag source's window never appeared");
    const auto move = [&](QPoint p) {
        xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())});
    };
    move(source);
    xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    move(source - QPoint(20, 20));
    if (!waitUntil([&] { return dragger.standardOutput().contains("dragging"); }, 10000))
        return QStringLiteral("the drag did not start");
    // A file manager's drag moves in steps; each step is an XDND position the target answers.
    for (int step = 1; step <= 8; ++step)
        move(source + (target - source) * step / 8);
    bool nudge = false;
    const bool accepted = waitUntil(
        [&] {
            // Another small move makes the source ask again, in case the first answer was a
            // refusal sent before the target had laid itself out.
            nudge = !nudge;
            move(target + QPoint(nudge ? 1 : 0, 0));
            return dragger.standardOutput().contains("action copy") || dragger.standardOutput().contains("action move");
        },
        10000);
    bool ready = true;
    if (accepted && readyToDrop) {
        // A target that lays out drop zones while the drag is over it (the import overlay) is
        // let go over once it shows where the drop lands, as a user's eye waits for it. Each
        // look moves the pointer a little, so the target tracks it over the zones as laid out
        // by then.
        ready = waitUntil([&] {
            nudge = !nudge;
            move(target + QPoint(nudge ? 1 : 0, 0));
            return readyToDrop(screenshot(QStringLiteral("drag-over")));
        }, 10000);
        ready = ready && !waitForScreen(QStringLiteral("drag-over"), readyToDrop, 10000).isNull();
    }
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    waitUntil([&] { return dragger.standardOutput().contains("done"); }, 10000);
    const QByteArray said = dragger.standardOutput();
    if (!accepted)
        return QStringLiteral("the target never accepted the drag (the source heard: %1)")
            .arg(QString::fromUtf8(said).simplified());
    if (!ready)
        return QStringLiteral("the target never showed where the drop would land (see the screenshots)");
    if (!said.contains("done copy") && !said.contains("done move"))
        return QStringLiteral("the drop was refused (the source heard: %1)").arg(QString::fromUtf8(said).simplified());
    return {};
}

// ---- what the user sees ----

QImage UserSession::screenshot(const QString& name)
{
    const QString path = QStringLiteral("%1/%2-%3.png").arg(m_output).arg(++m_shots, 2, 10, QLatin1Char('0')).arg(name);
    testsupport::ChildProcess grabber(
        {QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=ScreenshotChild.DISABLED_Grab")},
        {{QString::fromLatin1(kChildVariable), QStringLiteral("1")},
         {QStringLiteral("DISPLAY"), m_display},
         {QStringLiteral("FOLIVO_SHOT"), path}});
    grabber.waitForFinished(kStepMs);
    QImage image(path);
    EXPECT_FALSE(image.isNull()) << "no screenshot " << path.toStdString();
    return image;
}

QImage UserSession::settledScreenshot(const QString& name)
{
    QImage last;
    waitUntil([&] {
        const QImage now = screenshot(name);
        return std::exchange(last, now) == now;
    }, 10000);
    return last;
}

QImage UserSession::waitForScreen(const QString& name, const std::function<bool(const QImage&)>& shows, int ms)
{
    QImage last;
    if (!waitUntil([&] { return shows(last = screenshot(name)); }, ms))
        return {};
    // What is awaited has begun to show; it may still be coming in (fading, sliding, drawn in
    // parts): it is acted on once two looks in a row agree.
    waitUntil([&] {
        const QImage now = screenshot(name);
        return std::exchange(last, now) == now && shows(now);
    }, 10000);
    return last;
}

QImage UserSession::waitForChange(const QString& name, const QImage& before, const QRect& area, int ms)
{
    const QRect part = area.isEmpty() ? before.rect() : area;
    const QImage was = before.copy(part);
    return waitForScreen(name, [&](const QImage& now) { return now.copy(part) != was; }, ms);
}

QString currentCase()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return QStringLiteral("%1.%2").arg(QString::fromLatin1(info->test_suite_name()), QString::fromLatin1(info->name()));
}

int inkIn(const QImage& image, const QRect& rect)
{
    int ink = 0;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 200)
                ++ink;
    return ink;
}

int colorIn(const QImage& image, const QRect& rect, QRgb color)
{
    int n = 0;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(color)) <= 40 && std::abs(qGreen(p) - qGreen(color)) <= 40
                && std::abs(qBlue(p) - qBlue(color)) <= 40)
                ++n;
        }
    return n;
}

bool dimmedAt(const QImage& image, QPoint spot)
{
    // Near-white is 240 and more; dimmed, 215 and less.
    return image.rect().contains(spot) && qGray(image.pixel(spot)) < 228;
}

// ---- the library on disk ----

QList<QVariantList> UserSession::query(const QString& sql) const
{
    QList<QVariantList> rows;
    const QByteArray path = QFile::encodeName(libraryFolder() + QStringLiteral("/library.db"));
    if (!QFileInfo::exists(QString::fromLocal8Bit(path)))
        return rows;
    sqlite3* db = nullptr;
    // Read-only, as another process beside the program; its writes are never disturbed.
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QVariantList row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                switch (sqlite3_column_type(statement, i)) {
                case SQLITE_INTEGER:
                    row << QVariant(qint64(sqlite3_column_int64(statement, i)));
                    break;
                case SQLITE_NULL:
                    row << QVariant();
                    break;
                default:
                    row << QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, i))));
                }
            }
            rows << row;
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

QStringList UserSession::documentTitles() const
{
    QStringList titles;
    for (const QVariantList& row :
         query(QStringLiteral("SELECT a_title FROM t_DBFileInfo WHERE coalesce(a_isTrash, 0) = 0 ORDER BY a_title")))
        titles << row.value(0).toString();
    return titles;
}

bool UserSession::waitUntil(const std::function<bool()>& cond, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!cond()) {
        if (clock.hasExpired(ms))
            return cond();
        // A poll, not a wait for something: the condition is looked at again in a moment.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(30);
    }
    return true;
}

} // namespace userlevel
