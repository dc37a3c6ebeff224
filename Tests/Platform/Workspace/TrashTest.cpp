#include "Platform/Workspace/Trash.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"

#include "WorkspaceTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using platform::Trash;

namespace {

class TrashTest : public ::testing::Test {
protected:
    testsupport::XdgSandbox xdg;
    QString folder = testsupport::makeTempDir(QStringLiteral("docs"));
    QString trash = xdg.dataHome + QStringLiteral("/Trash");

    QString file(const QString& name, const QByteArray& bytes)
    {
        const QString path = folder + QLatin1Char('/') + name;
        testsupport::writeFile(path, bytes);
        return path;
    }
    QString infoOf(const QString& name) const
    {
        return trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo");
    }
};

// The keys of a .trashinfo file, checked for the form the file managers read.
QMap<QString, QString> readInfo(const QString& path)
{
    QMap<QString, QString> keys;
    const QList<QByteArray> lines = testsupport::readFile(path).split('\n');
    EXPECT_EQ(lines.value(0), QByteArray("[Trash Info]"));
    for (const QByteArray& line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            keys.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return keys;
}

} // namespace

TEST_F(TrashTest, MovesTheFileAndWritesItsInfo)
{
    const QString doc = file(QStringLiteral("Bericht März 100%.pdf"), "original");
    const QDateTime when(QDate(2024, 3, 5), QTime(7, 8, 9));
    auto trashed = Trash::moveToTrash(doc, when);
    ASSERT_TRUE(trashed.has_value()) << trashed.error().toString().toStdString();
    EXPECT_EQ(*trashed, trash + QStringLiteral("/files/Bericht März 100%.pdf"));
    EXPECT_FALSE(QFileInfo::exists(doc));
    EXPECT_EQ(testsupport::readFile(*trashed), QByteArray("original"));

    const auto info = readInfo(infoOf(QStringLiteral("Bericht März 100%.pdf")));
    EXPECT_EQ(info.value(QStringLiteral("DeletionDate")), QStringLiteral("2024-03-05T07:08:09"));
    const QString encodedPath = info.value(QStringLiteral("Path"));
    EXPECT_FALSE(encodedPath.contains(QLatin1Char(' ')));
    EXPECT_EQ(QUrl::fromPercentEncoding(encodedPath.toLatin1()), doc);

    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(trash + QStringLiteral("/info")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(TrashTest, NeverOverwritesWhatIsAlreadyInTheTrash)
{
    ASSERT_TRUE(Trash::moveToTrash(file(QStringLiteral("a.tar.gz"), "first")).has_value());
    auto second = Trash::moveToTrash(file(QStringLiteral("a.tar.gz"), "second"));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(QFileInfo(*second).fileName(), QStringLiteral("a.2.tar.gz"));
    EXPECT_EQ(testsupport::readFile(trash + QStringLiteral("/files/a.tar.gz")), QByteArray("first"));
    EXPECT_TRUE(QFileInfo::exists(infoOf(QStringLiteral("a.2.tar.gz"))));

    // An item without its info, and an info without its item, both keep their names.
    testsupport::writeFile(trash + QStringLiteral("/files/b.txt"), "orphan item");
    testsupport::writeFile(infoOf(QStringLiteral("b.2.txt")), "[Trash Info]\nPath=/elsewhere/b.txt\n");
    auto third = Trash::moveToTrash(file(QStringLiteral("b.txt"), "third"));
    ASSERT_TRUE(third.has_value());
    EXPECT_EQ(QFileInfo(*third).fileName(), QStringLiteral("b.3.txt"));
    EXPECT_EQ(testsupport::readFile(trash + QStringLiteral("/files/b.txt")), QByteArray("orphan item"));
    EXPECT_EQ(readInfo(infoOf(QStringLiteral("b.2.txt"))).value(QStringLiteral("Path")), QStringLiteral("/elsewhere/b.txt"));

    // Hidden names number after their leading dot.
    ASSERT_TRUE(Trash::moveToTrash(file(QStringLiteral(".rc"), "1")).has_value());
    EXPECT_EQ(QFileInfo(*Trash::moveToTrash(file(QStringLiteral(".rc"), "2"))).fileName(), QStringLiteral(".rc.2"));
}

TEST_F(TrashTest, FoldersAndLinksGoWhole)
{
    const QString dir = folder + QStringLiteral("/Project");
    testsupport::writeFile(dir + QStringLiteral("/inner/x.txt"), "x");
    ASSERT_TRUE(Trash::moveToTrash(dir).has_value());
    EXPECT_EQ(testsupport::readFile(trash + QStringLiteral("/files/Project/inner/x.txt")), QByteArray("x"));

    const QString target = file(QStringLiteral("target.txt"), "kept");
    const QString link = folder + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(Trash::moveToTrash(link).has_value());
    EXPECT_EQ(testsupport::readFile(target), QByteArray("kept")); // the link went, not its target
    EXPECT_TRUE(QFileInfo(trash + QStringLiteral("/files/link")).isSymLink());
}

TEST_F(TrashTest, RefusesBadRequestsAndLeavesNoInfoBehind)
{
    EXPECT_FALSE(Trash::moveToTrash(folder + QStringLiteral("/missing.txt")).has_value());
    EXPECT_FALSE(Trash::moveToTrash(QStringLiteral("relative.txt")).has_value());
    EXPECT_FALSE(Trash::moveToTrash(QString()).has_value());
    EXPECT_FALSE(Trash::moveToTrash(QStringLiteral("/")).has_value());
    EXPECT_FALSE(Trash::moveToTrash(xdg.dataHome).has_value()); // holds the trash itself
    ASSERT_TRUE(Trash::moveToTrash(file(QStringLiteral("once.txt"), "1")).has_value());
    EXPECT_FALSE(Trash::moveToTrash(trash + QStringLiteral("/files/once.txt")).has_value());
    EXPECT_EQ(QDir(trash + QStringLiteral("/info")).entryList(QDir::Files).size(), 1);
}

namespace {

// The items of another volume, as a replaced device look-up sees them: everything below
// gVolume is on device 2, the rest (the home trash too) on device 1.
QString gVolume;

platform::Result<quint64> volumeDevice(const QString& path, bool)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return std::unexpected(platform::Error::posix(ENOENT, path));
    return platform::Paths::isPathInside(path, gVolume) ? 2 : 1;
}

int gRenames = 0;

int crossDeviceRename(const char*, const char*)
{
    ++gRenames;
    errno = EXDEV;
    return -1;
}

class TopDirectoryTrashTest : public TrashTest {
protected:
    void SetUp() override
    {
        gVolume = QFileInfo(testsupport::makeTempDir(QStringLiteral("volume"))).canonicalFilePath();
        Trash::setDeviceFunctionForTesting(volumeDevice);
    }
    void TearDown() override
    {
        Trash::setDeviceFunctionForTesting(nullptr);
        platform::FileManager::setRenameFunctionForTesting(nullptr);
    }
    QString volumeTrash() const { return gVolume + QStringLiteral("/.Trash-%1").arg(::geteuid()); }
    QString onVolume(const QString& relative, const QByteArray& bytes) const
    {
        const QString path = gVolume + QLatin1Char('/') + relative;
        testsupport::writeFile(path, bytes);
        return path;
    }
};

} // namespace

TEST_F(TopDirectoryTrashTest, AnItemOnAnotherVolumeGoesToThatVolumesTrash)
{
    const QString doc = onVolume(QStringLiteral("Projects/2024/plan.txt"), "plan");
    const QDateTime when(QDate(2024, 6, 1), QTime(12, 0, 0));
    auto trashed = Trash::moveToTrash(doc, when);
    ASSERT_TRUE(trashed.has_value()) << trashed.error().toString().toStdString();
    EXPECT_EQ(*trashed, volumeTrash() + QStringLiteral("/files/plan.txt"));
    EXPECT_EQ(testsupport::readFile(*trashed), QByteArray("plan"));
    EXPECT_FALSE(QFileInfo::exists(doc));
    EXPECT_FALSE(QFileInfo::exists(trash)); // the home trash was not even made

    // Relative to the top directory, so the volume may be mounted elsewhere later.
    const auto info = readInfo(volumeTrash() + QStringLiteral("/info/plan.txt.trashinfo"));
    EXPECT_EQ(info.value(QStringLiteral("Path")), QStringLiteral("Projects/2024/plan.txt"));
    EXPECT_EQ(info.value(QStringLiteral("DeletionDate")), QStringLiteral("2024-06-01T12:00:00"));
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(volumeTrash()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A second item of that name is numbered; the first stays as it was.
    auto second = Trash::moveToTrash(onVolume(QStringLiteral("plan.txt"), "other plan"));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(QFileInfo(*second).fileName(), QStringLiteral("plan.2.txt"));
    EXPECT_EQ(testsupport::readFile(*trashed), QByteArray("plan"));
    EXPECT_EQ(readInfo(volumeTrash() + QStringLiteral("/info/plan.2.txt.trashinfo")).value(QStringLiteral("Path")),
              QStringLiteral("plan.txt"));

    // What is already in that trash is not trashed again.
    EXPECT_FALSE(Trash::moveToTrash(*trashed).has_value());
    EXPECT_FALSE(Trash::moveToTrash(gVolume).has_value()); // a mount point does not move
}

TEST_F(TopDirectoryTrashTest, AnUnusableTopDirectoryTrashIsAnErrorAndTheItemStays)
{
    const QString doc = onVolume(QStringLiteral("keep.txt"), "keep");
    const QString elsewhere = testsupport::makeTempDir(QStringLiteral("elsewhere"));
    // A link at the trash's name could lead anywhere; a file or another's folder is no trash.
    ASSERT_TRUE(QFile::link(elsewhere, volumeTrash()));
    EXPECT_FALSE(Trash::moveToTrash(doc).has_value());
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    ASSERT_TRUE(QFile::remove(volumeTrash()));
    testsupport::writeFile(volumeTrash(), "not a folder");
    EXPECT_FALSE(Trash::moveToTrash(doc).has_value());
    EXPECT_EQ(testsupport::readFile(doc), QByteArray("keep"));
    EXPECT_FALSE(QFileInfo::exists(trash));
}

TEST_F(TopDirectoryTrashTest, ARenameAcrossDevicesFailsInsteadOfCopying)
{
    platform::FileManager::setRenameFunctionForTesting(crossDeviceRename);
    gRenames = 0;
    for (const QString& doc : {file(QStringLiteral("home.txt"), "home"), onVolume(QStringLiteral("far.txt"), "far")}) {
        auto trashed = Trash::moveToTrash(doc);
        ASSERT_FALSE(trashed.has_value());
        EXPECT_EQ(trashed.error().code, EXDEV);
        EXPECT_TRUE(QFileInfo::exists(doc));
    }
    EXPECT_EQ(gRenames, 2);
    EXPECT_TRUE(QDir(trash + QStringLiteral("/files")).isEmpty());
    EXPECT_TRUE(QDir(trash + QStringLiteral("/info")).isEmpty());
    EXPECT_TRUE(QDir(volumeTrash() + QStringLiteral("/files")).isEmpty());
    EXPECT_TRUE(QDir(volumeTrash() + QStringLiteral("/info")).isEmpty());
}
