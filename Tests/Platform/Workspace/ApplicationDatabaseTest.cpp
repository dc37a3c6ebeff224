#include "Platform/Workspace/ApplicationDatabase.h"

#include "WorkspaceTestSupport.h"

#include <gtest/gtest.h>

using platform::ApplicationDatabase;
using platform::DesktopEntry;

namespace {

QStringList ids(const QList<DesktopEntry>& entries)
{
    QStringList result;
    for (const DesktopEntry& e : entries)
        result << e.id;
    return result;
}

class ApplicationDatabaseTest : public ::testing::Test {
protected:
    testsupport::XdgSandbox xdg;
    ApplicationDatabase db;
};

} // namespace

TEST_F(ApplicationDatabaseTest, UserEntriesOverrideAndHideSystemOnes)
{
    xdg.writeApp(QStringLiteral("editor.desktop"), QStringLiteral("System Editor"), QStringLiteral("editor %F"),
                 QStringLiteral("text/plain;"));
    xdg.writeApp(QStringLiteral("editor.desktop"), QStringLiteral("My Editor"), QStringLiteral("myeditor %F"),
                 QStringLiteral("text/plain;"), {}, xdg.dataHome);
    xdg.writeApp(QStringLiteral("gone.desktop"), QStringLiteral("Gone"), QStringLiteral("gone %F"),
                 QStringLiteral("text/plain;"));
    xdg.writeApp(QStringLiteral("gone.desktop"), QStringLiteral("Gone"), QStringLiteral("gone %F"),
                 QStringLiteral("text/plain;"), "Hidden=true\n", xdg.dataHome);
    xdg.writeApp(QStringLiteral("kde4/viewer.desktop"), QStringLiteral("Viewer"), QStringLiteral("viewer %U"),
                 QStringLiteral("text/plain;"));

    const QList<DesktopEntry> apps = db.applicationsForMimeType(QStringLiteral("text/plain"));
    EXPECT_EQ(ids(apps), (QStringList{QStringLiteral("editor.desktop"), QStringLiteral("kde4-viewer.desktop")}));
    EXPECT_EQ(apps.first().name, QStringLiteral("My Editor"));
    EXPECT_FALSE(db.applicationForId(QStringLiteral("gone")).has_value());
    EXPECT_TRUE(db.applicationForId(QStringLiteral("kde4-viewer")).has_value());
}

TEST_F(ApplicationDatabaseTest, DefaultsAddedAndRemovedAssociations)
{
    xdg.writeApp(QStringLiteral("a.desktop"), QStringLiteral("A"), QStringLiteral("a %f"), QStringLiteral("image/png;"));
    xdg.writeApp(QStringLiteral("b.desktop"), QStringLiteral("B"), QStringLiteral("b %f"), QStringLiteral("image/png;"));
    xdg.writeApp(QStringLiteral("c.desktop"), QStringLiteral("C"), QStringLiteral("c %f"), QStringLiteral("text/plain;"));
    xdg.writeApp(QStringLiteral("d.desktop"), QStringLiteral("D"), QStringLiteral("d %f"), QStringLiteral("image/png;"));

    // No lists: the entries' own order, the first as default.
    EXPECT_EQ(ids(db.applicationsForMimeType(QStringLiteral("image/png"))),
              (QStringList{QStringLiteral("a.desktop"), QStringLiteral("b.desktop"), QStringLiteral("d.desktop")}));

    // The system list removes d and adds c; the user list makes a missing app then b the
    // default, adds d back (more important than the system's removal) and removes a.
    testsupport::writeFile(xdg.systemData + QStringLiteral("/applications/mimeapps.list"),
                           "[Added Associations]\nimage/png=c.desktop;\n"
                           "[Removed Associations]\nimage/png=d.desktop;\n");
    xdg.writeUserMimeApps("[Default Applications]\nimage/png=missing.desktop;b.desktop;\n"
                          "[Added Associations]\nimage/png=d.desktop;\n"
                          "[Removed Associations]\nimage/png=a.desktop;\n");
    EXPECT_EQ(ids(db.applicationsForMimeType(QStringLiteral("IMAGE/PNG"))),
              (QStringList{QStringLiteral("b.desktop"), QStringLiteral("d.desktop"), QStringLiteral("c.desktop")}));
    EXPECT_EQ(db.defaultApplicationForMimeType(QStringLiteral("image/png"))->id, QStringLiteral("b.desktop"));
}

TEST_F(ApplicationDatabaseTest, ParentTypesAndSchemes)
{
    xdg.writeApp(QStringLiteral("editor.desktop"), QStringLiteral("Editor"), QStringLiteral("editor %F"),
                 QStringLiteral("text/plain;"));
    xdg.writeApp(QStringLiteral("ide.desktop"), QStringLiteral("IDE"), QStringLiteral("ide %F"),
                 QStringLiteral("text/x-csrc;"));
    xdg.writeApp(QStringLiteral("mailer.desktop"), QStringLiteral("Mailer"), QStringLiteral("mailer %u"),
                 QStringLiteral("x-scheme-handler/mailto;"), "NoDisplay=true\n");

    // A C source is plain text too; its own applications come first.
    EXPECT_EQ(ids(db.applicationsForMimeType(QStringLiteral("text/x-csrc"))),
              (QStringList{QStringLiteral("ide.desktop"), QStringLiteral("editor.desktop")}));
    EXPECT_EQ(ids(db.applicationsForMimeType(QStringLiteral("x-scheme-handler/mailto"))),
              QStringList{QStringLiteral("mailer.desktop")});
    // An explicit default for the parent type beats an application of the exact type.
    xdg.writeUserMimeApps("[Default Applications]\ntext/plain=editor.desktop\n");
    EXPECT_EQ(db.defaultApplicationForMimeType(QStringLiteral("text/x-csrc"))->id, QStringLiteral("editor.desktop"));
    EXPECT_TRUE(db.applicationsForMimeType(QStringLiteral("application/x-nothing")).isEmpty());
}

TEST_F(ApplicationDatabaseTest, SeesChangedAndRemovedEntries)
{
    const QString path = xdg.writeApp(QStringLiteral("a.desktop"), QStringLiteral("A"), QStringLiteral("a %f"),
                                      QStringLiteral("image/png;"));
    ASSERT_EQ(db.applicationsForMimeType(QStringLiteral("image/png")).size(), 1);
    xdg.writeApp(QStringLiteral("a.desktop"), QStringLiteral("A renamed"), QStringLiteral("a %f"),
                 QStringLiteral("image/png;image/jpeg;"));
    EXPECT_EQ(db.applicationsForMimeType(QStringLiteral("image/jpeg")).size(), 1);
    QFile::remove(path);
    EXPECT_TRUE(db.applicationsForMimeType(QStringLiteral("image/png")).isEmpty());
}

TEST_F(ApplicationDatabaseTest, ApplicationByPathKeepsItsId)
{
    const QString path = xdg.writeApp(QStringLiteral("sub/tool.desktop"), QStringLiteral("Tool"),
                                      QStringLiteral("tool %f"), {});
    auto entry = db.applicationForPath(path);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->id, QStringLiteral("sub-tool.desktop"));
    EXPECT_FALSE(db.applicationForPath(xdg.systemData + QStringLiteral("/applications/none.desktop")).has_value());
    EXPECT_FALSE(db.applicationForPath(QStringLiteral("/etc/passwd")).has_value());
}
