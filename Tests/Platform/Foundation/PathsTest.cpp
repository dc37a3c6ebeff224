#include "Platform/Foundation/Paths.h"

#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::Paths;

namespace {

// Sets an environment variable for one scope and puts the old value back.
class EnvGuard {
public:
    EnvGuard(const char* name, const QByteArray& value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

mode_t modeOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
    return st.st_mode & 07777;
}

} // namespace

TEST(Paths, ContainmentIsByWholeComponent)
{
    EXPECT_FALSE(Paths::isPathInside(QStringLiteral("/a/bc"), QStringLiteral("/a/b")));
    EXPECT_FALSE(Paths::isPathInside(QStringLiteral("/a/bc/d"), QStringLiteral("/a/b")));
    EXPECT_TRUE(Paths::isPathInside(QStringLiteral("/a/b/c"), QStringLiteral("/a/b")));
    EXPECT_TRUE(Paths::isPathInside(QStringLiteral("/a/b/c"), QStringLiteral("/a/b/")));
    EXPECT_TRUE(Paths::isPathInside(QStringLiteral("/a/b"), QStringLiteral("/a/b")));
    EXPECT_TRUE(Paths::isPathInside(QStringLiteral("/a/b/"), QStringLiteral("/a/b")));
    EXPECT_FALSE(Paths::isPathInside(QStringLiteral("/a"), QStringLiteral("/a/b")));
    // Case matters on Linux.
    EXPECT_FALSE(Paths::isPathInside(QStringLiteral("/A/b/c"), QStringLiteral("/a/b")));
    // Dot-dot cannot smuggle a path out of the folder.
    EXPECT_FALSE(Paths::isPathInside(QStringLiteral("/a/b/../c"), QStringLiteral("/a/b")));
    EXPECT_TRUE(Paths::isPathInside(QStringLiteral("/a//b/./c"), QStringLiteral("/a/b")));
    EXPECT_TRUE(Paths::isPathInside(QStringLiteral("/x"), QStringLiteral("/")));
    EXPECT_FALSE(Paths::isPathInside(QStringLiteral("a/b"), QStringLiteral("a")));
    EXPECT_FALSE(Paths::isPathInside(QString(), QStringLiteral("/")));
    EXPECT_FALSE(Paths::isPathInside(QStringLiteral("/a"), QString()));
}

TEST(Paths, TildeExpansion)
{
    const QString home = Paths::homeDirectory();
    EXPECT_EQ(home, QDir::cleanPath(testsupport::homeDir()));
    EXPECT_EQ(Paths::expandTilde(QStringLiteral("~")), home);
    EXPECT_EQ(Paths::expandTilde(QStringLiteral("~/Documents/Folivo 2 Library")), home + QStringLiteral("/Documents/Folivo 2 Library"));
    EXPECT_EQ(Paths::expandTilde(QStringLiteral("~root/x")), QStringLiteral("/root/x"));
    EXPECT_EQ(Paths::expandTilde(QStringLiteral("~no-such-user-q7/x")), QStringLiteral("~no-such-user-q7/x"));
    EXPECT_EQ(Paths::expandTilde(QStringLiteral("/a/~/b")), QStringLiteral("/a/~/b"));
    EXPECT_EQ(Paths::expandTilde(QString()), QString());
}

TEST(Paths, TemporaryFolderIsPrivate)
{
    const auto tmp = Paths::temporaryDirectory();
    ASSERT_TRUE(tmp.has_value()) << tmp.error().toString().toStdString();
    EXPECT_EQ(*tmp, qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/Folivo 2"));
    EXPECT_EQ(modeOf(*tmp), 0700u);

    // Without a runtime folder it lives in the system temporary folder, named per user.
    const QString scratch = testsupport::makeTempDir(QStringLiteral("tmpdir"));
    EnvGuard runtime("XDG_RUNTIME_DIR", QByteArray());
    EnvGuard tmpdir("TMPDIR", QFile::encodeName(scratch));
    const auto fallback = Paths::temporaryDirectory();
    ASSERT_TRUE(fallback.has_value()) << fallback.error().toString().toStdString();
    EXPECT_EQ(*fallback, QStringLiteral("%1/Folivo 2-%2").arg(QDir(scratch).canonicalPath()).arg(::getuid()));
    EXPECT_EQ(modeOf(*fallback), 0700u);
}

TEST(Paths, PrivateFolderRepairsModeAndRefusesImpostors)
{
    const QString base = testsupport::makeTempDir(QStringLiteral("private"));

    const QString wide = base + QStringLiteral("/wide");
    ASSERT_TRUE(QDir().mkdir(wide));
    ::chmod(QFile::encodeName(wide).constData(), 0777);
    ASSERT_TRUE(Paths::ensurePrivateDirectory(wide).has_value());
    EXPECT_EQ(modeOf(wide), 0700u);

    const QString locked = base + QStringLiteral("/locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    ::chmod(QFile::encodeName(locked).constData(), 0);
    ASSERT_TRUE(Paths::ensurePrivateDirectory(locked).has_value());
    EXPECT_EQ(modeOf(locked), 0700u);

    // A link planted where the folder should be is refused, and its target left alone.
    const QString target = base + QStringLiteral("/target");
    ASSERT_TRUE(QDir().mkdir(target));
    ::chmod(QFile::encodeName(target).constData(), 0755);
    const QString link = base + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(target, link));
    EXPECT_FALSE(Paths::ensurePrivateDirectory(link).has_value());
    EXPECT_EQ(modeOf(target), 0755u);

    const QString file = base + QStringLiteral("/file");
    testsupport::writeFile(file, "x");
    EXPECT_FALSE(Paths::ensurePrivateDirectory(file).has_value());

    if (::geteuid() == 0) {
        const QString foreign = base + QStringLiteral("/foreign");
        ASSERT_TRUE(QDir().mkdir(foreign));
        ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
        const auto r = Paths::ensurePrivateDirectory(foreign);
        ASSERT_FALSE(r.has_value());
        EXPECT_TRUE(r.error().message.contains(QStringLiteral("another user")));
    }
}
