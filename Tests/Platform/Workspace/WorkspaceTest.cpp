#include "Platform/Workspace/Workspace.h"

#include "WorkspaceTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using platform::Workspace;

namespace {

class WorkspaceTest : public ::testing::Test {
protected:
    testsupport::XdgSandbox xdg;
    testsupport::RecordingLauncher launcher;
    platform::ApplicationDatabase db;
    Workspace workspace{launcher, db};
    QString folder = testsupport::makeTempDir(QStringLiteral("docs"));

    QString file(const QString& name, const QByteArray& bytes = "hello")
    {
        const QString path = folder + QLatin1Char('/') + name;
        testsupport::writeFile(path, bytes);
        return path;
    }
};

} // namespace

TEST_F(WorkspaceTest, ApplicationsForFile)
{
    const QString text = file(QStringLiteral("notes.txt"));
    EXPECT_FALSE(workspace.applicationsForFile(text).defaultApplication.has_value());
    EXPECT_FALSE(workspace.applicationsForFile(QString()).defaultApplication.has_value());

    xdg.writeApp(QStringLiteral("a.desktop"), QStringLiteral("A"), QStringLiteral("a %f"), QStringLiteral("text/plain;"));
    xdg.writeApp(QStringLiteral("b.desktop"), QStringLiteral("B"), QStringLiteral("b %f"), QStringLiteral("text/plain;"));
    xdg.writeApp(QStringLiteral("quiet.desktop"), QStringLiteral("Q"), QStringLiteral("q %f"),
                 QStringLiteral("text/plain;"), "NoDisplay=true\n");
    xdg.writeUserMimeApps("[Default Applications]\ntext/plain=b.desktop\n");
    const auto apps = workspace.applicationsForFile(text);
    ASSERT_TRUE(apps.defaultApplication.has_value());
    EXPECT_EQ(apps.defaultApplication->id, QStringLiteral("b.desktop"));
    ASSERT_EQ(apps.otherApplications.size(), 1); // the default and the hidden entry left out
    EXPECT_EQ(apps.otherApplications.first().id, QStringLiteral("a.desktop"));
}

TEST_F(WorkspaceTest, OpenFileStartsTheDefaultApplicationWithoutAShell)
{
    const QString doc = file(QStringLiteral("a b;$(x).txt"));
    // Nothing to open it with and no xdg-open: an error, nothing started.
    EXPECT_FALSE(workspace.openFile(doc).has_value());
    EXPECT_TRUE(launcher.launches.isEmpty());
    launcher.findable.insert(QStringLiteral("xdg-open"));
    ASSERT_TRUE(workspace.openFile(doc).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("xdg-open"), doc}));

    const QString app = xdg.writeApp(QStringLiteral("ed.desktop"), QStringLiteral("Ed"), QStringLiteral("ed --new %F"),
                                     QStringLiteral("text/plain;"));
    ASSERT_TRUE(workspace.openFile(doc).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("ed"), QStringLiteral("--new"), doc}));

    EXPECT_FALSE(workspace.openFile(folder + QStringLiteral("/missing.txt")).has_value());
    EXPECT_TRUE(launcher.launches.isEmpty());

    // Open with: by desktop path, by ID, by executable path; an unknown one is an error.
    ASSERT_TRUE(workspace.openFile(doc, app).has_value());
    ASSERT_TRUE(workspace.openFile(doc, QStringLiteral("ed.desktop")).has_value());
    EXPECT_EQ(launcher.launches.size(), 2);
    EXPECT_FALSE(workspace.openFile(doc, QStringLiteral("nothing.desktop")).has_value());
    launcher.findable.insert(QStringLiteral("/usr/bin/tool"));
    ASSERT_TRUE(workspace.openFile(doc, QStringLiteral("/usr/bin/tool")).has_value());
    EXPECT_EQ(launcher.launches.last(), (QStringList{QStringLiteral("/usr/bin/tool"), doc}));

    // A failing start is reported.
    launcher.failing.insert(QStringLiteral("ed"));
    EXPECT_FALSE(workspace.openFile(doc).has_value());
}

TEST_F(WorkspaceTest, OpenURLUsesTheSchemeHandler)
{
    EXPECT_FALSE(workspace.openURL(QUrl(QStringLiteral("mailto:a@b.c"))).has_value());
    xdg.writeApp(QStringLiteral("mailer.desktop"), QStringLiteral("Mailer"), QStringLiteral("mailer %u"),
                 QStringLiteral("x-scheme-handler/mailto;"));
    ASSERT_TRUE(workspace.openURL(QUrl(QStringLiteral("mailto:a@b.c?subject=x%20y"))).has_value());
    EXPECT_EQ(launcher.launches.last(),
              (QStringList{QStringLiteral("mailer"), QStringLiteral("mailto:a@b.c?subject=x%20y")}));
}

TEST_F(WorkspaceTest, SelectFileInTheFileManager)
{
    const QString doc = file(QStringLiteral("report.pdf"));
    EXPECT_FALSE(workspace.selectFile(doc).has_value());
    launcher.findable.insert(QStringLiteral("xdg-open"));
    ASSERT_TRUE(workspace.selectFile(doc).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("xdg-open"), folder}));

    xdg.writeApp(QStringLiteral("files.desktop"), QStringLiteral("Files"), QStringLiteral("/usr/bin/pcmanfm %U"),
                 QStringLiteral("inode/directory;"));
    ASSERT_TRUE(workspace.selectFile(doc).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("/usr/bin/pcmanfm"), folder}));

    xdg.writeApp(QStringLiteral("org.gnome.Nautilus.desktop"), QStringLiteral("Files"), QStringLiteral("nautilus --new-window %U"),
                 QStringLiteral("inode/directory;"));
    xdg.writeUserMimeApps("[Default Applications]\ninode/directory=org.gnome.Nautilus.desktop\n");
    ASSERT_TRUE(workspace.selectFile(doc).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("nautilus"), QStringLiteral("--new-window"),
                                                         QStringLiteral("--select"), doc}));
    EXPECT_FALSE(workspace.selectFile(folder + QStringLiteral("/gone.pdf")).has_value());
}

TEST_F(WorkspaceTest, FolderIconKeepsOtherSettings)
{
    const QString library = testsupport::makeTempDir(QStringLiteral("lib"));
    testsupport::writeFile(library + QStringLiteral("/.directory"), "[Dolphin]\nViewMode=2\n");
    const QString icon = QStringLiteral("/opt/Folivo 2/share/library icon.png");
    ASSERT_TRUE(Workspace::setFolderIcon(library, icon).has_value());
    EXPECT_EQ(Workspace::folderIcon(library), icon);
    EXPECT_TRUE(testsupport::readFile(library + QStringLiteral("/.directory")).contains("ViewMode=2"));
    // Setting it again replaces, never duplicates.
    ASSERT_TRUE(Workspace::setFolderIcon(library, QStringLiteral("folder-documents")).has_value());
    EXPECT_EQ(Workspace::folderIcon(library), QStringLiteral("folder-documents"));
    EXPECT_EQ(testsupport::readFile(library + QStringLiteral("/.directory")).count("Icon="), 1);

    const QString plain = file(QStringLiteral("plain.txt"));
    EXPECT_FALSE(Workspace::setFolderIcon(plain, icon).has_value());
    EXPECT_EQ(testsupport::readFile(plain), QByteArray("hello"));
    EXPECT_TRUE(Workspace::folderIcon(folder).isEmpty());
}

TEST_F(WorkspaceTest, DatesAreNeverReportedAsSetWhenTheyCannotBe)
{
    const QString doc = file(QStringLiteral("dated.txt"));
    EXPECT_FALSE(Workspace::setCreationDate(doc, QDateTime::currentDateTimeUtc()));
    EXPECT_FALSE(Workspace::setModificationDate(doc, QDateTime()).has_value());
    EXPECT_FALSE(Workspace::creationDate(folder + QStringLiteral("/none")).has_value());
    EXPECT_TRUE(Workspace::isInvisibleFile(QStringLiteral("/a/.hidden")));
    EXPECT_FALSE(Workspace::isInvisibleFile(QStringLiteral("/a/.dir/visible")));
}

namespace {

// The TERMINAL variable as a test sets it, put back afterwards.
struct TerminalVariable {
    QByteArray saved = qgetenv("TERMINAL");
    bool had = qEnvironmentVariableIsSet("TERMINAL");
    TerminalVariable() { qunsetenv("TERMINAL"); }
    ~TerminalVariable()
    {
        if (had)
            qputenv("TERMINAL", saved);
        else
            qunsetenv("TERMINAL");
    }
};

} // namespace

// An entry with Terminal=true has no window of its own: it runs inside the user's terminal
// (TERMINAL first, then x-terminal-emulator), and without one the next handler is taken; when
// there is none the open fails saying why, and nothing starts unseen.
TEST_F(WorkspaceTest, TerminalProgramsRunInTheUsersTerminalOrArePassedOver)
{
    TerminalVariable terminal;
    const QString doc = file(QStringLiteral("notes.txt"));
    launcher.findable.insert(QStringLiteral("xdg-open"));
    xdg.writeApp(QStringLiteral("vim.desktop"), QStringLiteral("Vim"), QStringLiteral("vim %F"),
                 QStringLiteral("text/plain;"), "Terminal=true\n");
    xdg.writeUserMimeApps("[Default Applications]\ntext/plain=vim.desktop\n");

    // Only the terminal program and no terminal: an error naming why; xdg-open is not asked,
    // as it would pick the same program.
    auto refused = workspace.openFile(doc);
    ASSERT_FALSE(refused.has_value());
    EXPECT_TRUE(refused.error().message.contains(QStringLiteral("terminal"))) << qPrintable(refused.error().message);
    EXPECT_FALSE(workspace.openFile(doc, QStringLiteral("vim.desktop")).has_value());
    EXPECT_TRUE(launcher.launches.isEmpty());

    // The next handler takes it.
    xdg.writeApp(QStringLiteral("ed.desktop"), QStringLiteral("Ed"), QStringLiteral("ed %f"), QStringLiteral("text/plain;"));
    ASSERT_TRUE(workspace.openFile(doc).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("ed"), doc}));

    // With the system's terminal, the default program runs in it.
    launcher.findable.insert(QStringLiteral("x-terminal-emulator"));
    ASSERT_TRUE(workspace.openFile(doc).has_value());
    EXPECT_EQ(launcher.launches.takeLast(),
              (QStringList{QStringLiteral("x-terminal-emulator"), QStringLiteral("-e"), QStringLiteral("vim"), doc}));

    // The user's own terminal comes first, with its options; one that cannot be found is passed over.
    qputenv("TERMINAL", "kitty --single-instance");
    launcher.findable.insert(QStringLiteral("kitty"));
    ASSERT_TRUE(workspace.openFile(doc, QStringLiteral("vim.desktop")).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("kitty"), QStringLiteral("--single-instance"),
                                                         QStringLiteral("-e"), QStringLiteral("vim"), doc}));
    qputenv("TERMINAL", "no-such-terminal");
    ASSERT_TRUE(workspace.openFile(doc).has_value());
    EXPECT_EQ(launcher.launches.takeLast().first(), QStringLiteral("x-terminal-emulator"));

    // Addresses and folders alike.
    launcher.findable.remove(QStringLiteral("x-terminal-emulator"));
    xdg.writeApp(QStringLiteral("mutt.desktop"), QStringLiteral("Mutt"), QStringLiteral("mutt %u"),
                 QStringLiteral("x-scheme-handler/mailto;"), "Terminal=true\n");
    EXPECT_FALSE(workspace.openURL(QUrl(QStringLiteral("mailto:a@b.c"))).has_value());
    xdg.writeApp(QStringLiteral("ranger.desktop"), QStringLiteral("ranger"), QStringLiteral("ranger %F"),
                 QStringLiteral("inode/directory;"), "Terminal=true\n");
    xdg.writeApp(QStringLiteral("pcmanfm.desktop"), QStringLiteral("Files"), QStringLiteral("pcmanfm %U"),
                 QStringLiteral("inode/directory;"));
    xdg.writeUserMimeApps("[Default Applications]\ninode/directory=ranger.desktop\n");
    ASSERT_TRUE(workspace.selectFile(doc).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("pcmanfm"), folder}));
    EXPECT_TRUE(launcher.launches.isEmpty());
    launcher.findable.insert(QStringLiteral("x-terminal-emulator"));
    ASSERT_TRUE(workspace.openURL(QUrl(QStringLiteral("mailto:a@b.c"))).has_value());
    EXPECT_EQ(launcher.launches.takeLast(), (QStringList{QStringLiteral("x-terminal-emulator"), QStringLiteral("-e"),
                                                         QStringLiteral("mutt"), QStringLiteral("mailto:a@b.c")}));
}
