#include "Platform/Foundation/FileManager.h"

#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

using platform::EnumerationControl;
using platform::FileManager;
using platform::FileType;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

QByteArray enc(const QString& p) { return QFile::encodeName(p); }

mode_t modeOf(const QString& path)
{
    struct stat st {};
    ::lstat(enc(path).constData(), &st);
    return st.st_mode & 07777;
}

bool userXAttrsWork(const QString& file)
{
    return ::lsetxattr(enc(file).constData(), "user.probe", "1", 1, 0) == 0
        && ::lremovexattr(enc(file).constData(), "user.probe") == 0;
}

// Folders under which the rename seam pretends to be on another file system.
QString g_foreignRoot;
std::atomic<int> g_crossDeviceRenames{0};

int renameWithForeignRoot(const char* from, const char* to)
{
    const QString f = QFile::decodeName(from);
    const QString t = QFile::decodeName(to);
    if (f.startsWith(g_foreignRoot) != t.startsWith(g_foreignRoot)) {
        ++g_crossDeviceRenames;
        errno = EXDEV;
        return -1;
    }
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

class CrossDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_foreignRoot = testsupport::makeTempDir(QStringLiteral("foreign"));
        g_crossDeviceRenames = 0;
        FileManager::setRenameFunctionForTesting(&renameWithForeignRoot);
    }
    void TearDown() override { FileManager::setRenameFunctionForTesting(nullptr); }
};

// A small folder package: nested files, a hidden file, a link inside and a link outside.
QString makePackage(const QString& base, const QString& outside)
{
    const QString pkg = base + QStringLiteral("/Doc.rtfd");
    writeFile(pkg + QStringLiteral("/TXT.rtf"), "text");
    writeFile(pkg + QStringLiteral("/.hidden"), "h");
    writeFile(pkg + QStringLiteral("/images/a.png"), QByteArray(70000, 'p'));
    ::chmod(enc(pkg + QStringLiteral("/TXT.rtf")).constData(), 0640);
    QFile::link(QStringLiteral("images/a.png"), pkg + QStringLiteral("/alias"));
    QFile::link(outside, pkg + QStringLiteral("/outside"));
    return pkg;
}

} // namespace

TEST(FileManager, CopyKeepsContentModeDateAndTags)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("copy"));
    const QString src = dir + QStringLiteral("/a.pdf");
    writeFile(src, "%PDF-1.4 body");
    ::chmod(enc(src).constData(), 0604);
    const QDateTime when = QDateTime::fromString(QStringLiteral("2019-03-04T05:06:07.250Z"), Qt::ISODateWithMs);
    ASSERT_TRUE(FileManager::setModificationDate(src, when));
    const bool tags = userXAttrsWork(src);
    if (tags) {
        ASSERT_EQ(::lsetxattr(enc(src).constData(), "user.tags", "red", 3, 0), 0);
    }

    const QString dst = dir + QStringLiteral("/b.pdf");
    ASSERT_TRUE(FileManager::copyItem(src, dst));
    EXPECT_EQ(readFile(dst), QByteArray("%PDF-1.4 body"));
    EXPECT_EQ(modeOf(dst), 0604u);
    EXPECT_EQ(FileManager::attributesOfItem(dst)->modificationDate, when);
    if (tags) {
        char value[8] = {};
        EXPECT_EQ(::lgetxattr(enc(dst).constData(), "user.tags", value, sizeof value), 3);
        EXPECT_STREQ(value, "red");
    }
}

TEST(FileManager, CopyNeverReplacesAnExistingDestination)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("copy"));
    writeFile(dir + QStringLiteral("/new.txt"), "new");
    writeFile(dir + QStringLiteral("/old.txt"), "precious");
    writeFile(dir + QStringLiteral("/folder/keep.txt"), "keep");

    auto r = FileManager::copyItem(dir + QStringLiteral("/new.txt"), dir + QStringLiteral("/old.txt"));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, EEXIST);
    EXPECT_EQ(readFile(dir + QStringLiteral("/old.txt")), QByteArray("precious"));

    // Not even into an existing folder, and not over a dangling link.
    EXPECT_FALSE(FileManager::copyItem(dir + QStringLiteral("/new.txt"), dir + QStringLiteral("/folder")));
    EXPECT_EQ(FileManager::contentsOfDirectory(dir + QStringLiteral("/folder"))->size(), 1);
    QFile::link(dir + QStringLiteral("/nowhere"), dir + QStringLiteral("/dangling"));
    EXPECT_FALSE(FileManager::copyItem(dir + QStringLiteral("/new.txt"), dir + QStringLiteral("/dangling")));
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/nowhere")));
}

TEST(FileManager, CopyPackageCopiesLinksAsLinks)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("pkg"));
    writeFile(dir + QStringLiteral("/secret/big.bin"), "outside the package");
    const QString pkg = makePackage(dir, dir + QStringLiteral("/secret"));
    const QString copy = dir + QStringLiteral("/Copy.rtfd");
    ASSERT_TRUE(FileManager::copyItem(pkg, copy));

    EXPECT_EQ(*FileManager::subpathsOfDirectory(copy), *FileManager::subpathsOfDirectory(pkg));
    EXPECT_EQ(QFile::symLinkTarget(copy + QStringLiteral("/outside")), dir + QStringLiteral("/secret"));
    EXPECT_EQ(FileManager::attributesOfItem(copy + QStringLiteral("/outside"))->type, FileType::SymbolicLink);
    EXPECT_EQ(modeOf(copy + QStringLiteral("/TXT.rtf")), 0640u);
    EXPECT_EQ(readFile(copy + QStringLiteral("/images/a.png")).size(), 70000);
    EXPECT_TRUE(FileManager::verifyCopy(pkg, copy));
}

TEST(FileManager, FailedCopiesLeaveNothingBehind)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("copyfail"));
    writeFile(dir + QStringLiteral("/pkg/a.txt"), "a");
    ASSERT_EQ(::mkfifo(enc(dir + QStringLiteral("/pkg/z.fifo")).constData(), 0600), 0);
    EXPECT_FALSE(FileManager::copyItem(dir + QStringLiteral("/pkg"), dir + QStringLiteral("/copy")));
    EXPECT_FALSE(FileManager::itemExists(dir + QStringLiteral("/copy")));

    // A folder copied into itself would recurse without end.
    writeFile(dir + QStringLiteral("/tree/x.txt"), "x");
    EXPECT_FALSE(FileManager::copyItem(dir + QStringLiteral("/tree"), dir + QStringLiteral("/tree/sub")));
    EXPECT_FALSE(FileManager::itemExists(dir + QStringLiteral("/tree/sub")));
    EXPECT_FALSE(FileManager::copyItem(dir + QStringLiteral("/missing"), dir + QStringLiteral("/m2")));
}

TEST(FileManager, MoveRefusesToReplace)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("move"));
    writeFile(dir + QStringLiteral("/a"), "a");
    writeFile(dir + QStringLiteral("/b"), "b");
    auto r = FileManager::moveItem(dir + QStringLiteral("/a"), dir + QStringLiteral("/b"));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, EEXIST);
    EXPECT_EQ(readFile(dir + QStringLiteral("/a")), QByteArray("a"));
    EXPECT_EQ(readFile(dir + QStringLiteral("/b")), QByteArray("b"));
    ASSERT_TRUE(FileManager::moveItem(dir + QStringLiteral("/a"), dir + QStringLiteral("/c")));
    EXPECT_FALSE(FileManager::itemExists(dir + QStringLiteral("/a")));
}

TEST_F(CrossDevice, MoveAcrossFileSystemsCopiesVerifiesThenRemoves)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("xdev"));
    writeFile(dir + QStringLiteral("/secret/s.txt"), "s");
    const QString pkg = makePackage(dir, dir + QStringLiteral("/secret"));
    const QDateTime when = QDateTime::fromString(QStringLiteral("2001-01-01T00:00:00Z"), Qt::ISODate);
    ASSERT_TRUE(FileManager::setModificationDate(pkg + QStringLiteral("/TXT.rtf"), when));
    const QStringList before = *FileManager::subpathsOfDirectory(pkg);

    const QString dst = g_foreignRoot + QStringLiteral("/Doc.rtfd");
    ASSERT_TRUE(FileManager::moveItem(pkg, dst));
    EXPECT_EQ(g_crossDeviceRenames.load(), 1);
    EXPECT_FALSE(FileManager::itemExists(pkg));
    EXPECT_EQ(*FileManager::subpathsOfDirectory(dst), before);
    EXPECT_EQ(FileManager::attributesOfItem(dst + QStringLiteral("/TXT.rtf"))->modificationDate, when);
    // The link pointing out of the package was moved, not what it points to.
    EXPECT_EQ(readFile(dir + QStringLiteral("/secret/s.txt")), QByteArray("s"));

    // An occupied destination on the other side stops the move before any copying.
    writeFile(dir + QStringLiteral("/again.txt"), "again");
    writeFile(g_foreignRoot + QStringLiteral("/again.txt"), "occupied");
    EXPECT_FALSE(FileManager::moveItem(dir + QStringLiteral("/again.txt"), g_foreignRoot + QStringLiteral("/again.txt")));
    EXPECT_EQ(readFile(g_foreignRoot + QStringLiteral("/again.txt")), QByteArray("occupied"));
    EXPECT_EQ(readFile(dir + QStringLiteral("/again.txt")), QByteArray("again"));
}

TEST(FileManager, MoveToAnotherRealFileSystem)
{
    struct stat here {};
    struct stat shm {};
    if (::stat(enc(testsupport::homeDir()).constData(), &here) != 0 || ::stat("/dev/shm", &shm) != 0
        || here.st_dev == shm.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    char pattern[] = "/dev/shm/folivo-move-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const QString other = QFile::decodeName(pattern);
    const QString src = testsupport::makeTempDir(QStringLiteral("real")) + QStringLiteral("/f.txt");
    writeFile(src, "crossing");
    const auto r = FileManager::moveItem(src, other + QStringLiteral("/f.txt"));
    const QByteArray moved = readFile(other + QStringLiteral("/f.txt"));
    FileManager::removeItem(other);
    ASSERT_TRUE(r) << r.error().toString().toStdString();
    EXPECT_EQ(moved, QByteArray("crossing"));
    EXPECT_FALSE(FileManager::itemExists(src));
}

TEST(FileManager, VerifyCopyNoticesDifferences)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("verify"));
    writeFile(dir + QStringLiteral("/a/x.txt"), "12345");
    QFile::link(QStringLiteral("x.txt"), dir + QStringLiteral("/a/l"));
    ASSERT_TRUE(FileManager::copyItem(dir + QStringLiteral("/a"), dir + QStringLiteral("/b")));
    EXPECT_TRUE(FileManager::verifyCopy(dir + QStringLiteral("/a"), dir + QStringLiteral("/b")));

    ASSERT_EQ(::truncate(enc(dir + QStringLiteral("/b/x.txt")).constData(), 3), 0);
    EXPECT_FALSE(FileManager::verifyCopy(dir + QStringLiteral("/a"), dir + QStringLiteral("/b")));
    ASSERT_EQ(::truncate(enc(dir + QStringLiteral("/b/x.txt")).constData(), 5), 0);
    QFile::remove(dir + QStringLiteral("/b/l"));
    QFile::link(QStringLiteral("y.txt"), dir + QStringLiteral("/b/l"));
    EXPECT_FALSE(FileManager::verifyCopy(dir + QStringLiteral("/a"), dir + QStringLiteral("/b")));
    QFile::remove(dir + QStringLiteral("/b/l"));
    EXPECT_FALSE(FileManager::verifyCopy(dir + QStringLiteral("/a"), dir + QStringLiteral("/b")));
}

TEST(FileManager, RemoveDoesNotFollowLinks)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("remove"));
    writeFile(dir + QStringLiteral("/keep/important.txt"), "keep");
    writeFile(dir + QStringLiteral("/doomed/sub/f.txt"), "f");
    writeFile(dir + QStringLiteral("/doomed/.hidden"), "h");
    QFile::link(dir + QStringLiteral("/keep"), dir + QStringLiteral("/doomed/sub/link"));
    ASSERT_TRUE(FileManager::removeItem(dir + QStringLiteral("/doomed")));
    EXPECT_FALSE(FileManager::itemExists(dir + QStringLiteral("/doomed")));
    EXPECT_EQ(readFile(dir + QStringLiteral("/keep/important.txt")), QByteArray("keep"));

    // A link given directly goes, its target stays.
    QFile::link(dir + QStringLiteral("/keep"), dir + QStringLiteral("/direct"));
    ASSERT_TRUE(FileManager::removeItem(dir + QStringLiteral("/direct")));
    EXPECT_TRUE(FileManager::fileExists(dir + QStringLiteral("/keep/important.txt")));
    EXPECT_EQ(FileManager::removeItem(dir + QStringLiteral("/direct")).error().code, ENOENT);
}

// A removal that may be stopped (a quit during a long sweep) stops between items and leaves
// what it has not reached.
TEST(FileManager, ARemovalStopsWhenToldAndLeavesTheRest)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("remove"));
    for (int i = 0; i < 10; ++i)
        writeFile(dir + QStringLiteral("/doomed/f%1.txt").arg(i), "f");
    int asked = 0;
    const auto stopped = FileManager::removeItem(dir + QStringLiteral("/doomed"), [&asked] { return ++asked <= 4; });
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.error().code, ECANCELED);
    EXPECT_EQ(QDir(dir + QStringLiteral("/doomed")).entryList(QDir::Files).size(), 7) << "three files went, the folder and the rest stay";

    ASSERT_TRUE(FileManager::removeItem(dir + QStringLiteral("/doomed"), [] { return true; }));
    EXPECT_FALSE(FileManager::itemExists(dir + QStringLiteral("/doomed")));
}

TEST(FileManager, AttributesAndExistence)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("attr"));
    const QString big = dir + QStringLiteral("/big.bin");
    writeFile(big, QByteArray());
    // Sparse: 5 GiB of size without 5 GiB of disk.
    const qint64 fiveGiB = qint64(5) << 30;
    ASSERT_EQ(::truncate(enc(big).constData(), fiveGiB), 0);
    const auto a = FileManager::attributesOfItem(big);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->size, fiveGiB);
    EXPECT_EQ(a->type, FileType::Regular);
    if (a->creationDate.isValid()) {
        EXPECT_LE(a->creationDate, QDateTime::currentDateTimeUtc().addSecs(5));
    }

    const QDateTime old = QDateTime::fromString(QStringLiteral("1969-12-31T23:59:59.500Z"), Qt::ISODateWithMs);
    ASSERT_TRUE(FileManager::setModificationDate(big, old));
    EXPECT_EQ(FileManager::attributesOfItem(big)->modificationDate, old);

    QFile::link(QStringLiteral("big.bin"), dir + QStringLiteral("/link"));
    QFile::link(QStringLiteral("gone"), dir + QStringLiteral("/dangling"));
    EXPECT_EQ(FileManager::attributesOfItem(dir + QStringLiteral("/link"))->type, FileType::SymbolicLink);
    EXPECT_EQ(FileManager::attributesOfItem(dir + QStringLiteral("/link"), true)->size, fiveGiB);
    bool isDir = true;
    EXPECT_TRUE(FileManager::fileExists(dir + QStringLiteral("/link"), &isDir));
    EXPECT_FALSE(isDir);
    EXPECT_FALSE(FileManager::fileExists(dir + QStringLiteral("/dangling")));
    EXPECT_TRUE(FileManager::itemExists(dir + QStringLiteral("/dangling")));
    EXPECT_TRUE(FileManager::fileExists(dir, &isDir));
    EXPECT_TRUE(isDir);
    EXPECT_FALSE(FileManager::attributesOfItem(dir + QStringLiteral("/none")));
}

TEST(FileManager, CreateDirectory)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("mkdir"));
    EXPECT_FALSE(FileManager::createDirectory(dir + QStringLiteral("/a/b/c"), false));
    ASSERT_TRUE(FileManager::createDirectory(dir + QStringLiteral("/a/b/c"), true));
    EXPECT_TRUE(FileManager::createDirectory(dir + QStringLiteral("/a/b/c/"), true));
    EXPECT_EQ(FileManager::createDirectory(dir + QStringLiteral("/a/b/c"), false).error().code, EEXIST);
    writeFile(dir + QStringLiteral("/file"), "f");
    EXPECT_FALSE(FileManager::createDirectory(dir + QStringLiteral("/file/sub"), true));
    EXPECT_FALSE(FileManager::createDirectory(dir + QStringLiteral("/file"), true));
}

TEST(FileManager, EnumerationIsSortedCompleteAndSafeFromLoops)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("enum"));
    writeFile(dir + QStringLiteral("/b.txt"), "");
    writeFile(dir + QStringLiteral("/.hidden"), "");
    writeFile(dir + QStringLiteral("/A/inner.txt"), "");
    writeFile(dir + QStringLiteral("/skip/deep/x"), "");
    QFile::link(dir, dir + QStringLiteral("/A/loop"));
    QFile::link(QStringLiteral("."), dir + QStringLiteral("/self"));

    QStringList seen;
    auto r = FileManager::enumerate(dir, [&seen](const platform::EnumeratedItem& item) {
        seen.append(item.relativePath);
        return item.relativePath == QLatin1String("skip") ? EnumerationControl::SkipDescendants
                                                          : EnumerationControl::Continue;
    });
    ASSERT_TRUE(r);
    EXPECT_EQ(seen, (QStringList{QStringLiteral(".hidden"), QStringLiteral("A"), QStringLiteral("A/inner.txt"),
                                 QStringLiteral("A/loop"), QStringLiteral("b.txt"), QStringLiteral("self"),
                                 QStringLiteral("skip")}));

    int visits = 0;
    FileManager::enumerate(dir, [&visits](const platform::EnumeratedItem&) {
        return ++visits == 2 ? EnumerationControl::Stop : EnumerationControl::Continue;
    });
    EXPECT_EQ(visits, 2);
    EXPECT_FALSE(FileManager::enumerate(dir + QStringLiteral("/b.txt"), [](const auto&) { return EnumerationControl::Continue; }));
    EXPECT_FALSE(FileManager::contentsOfDirectory(dir + QStringLiteral("/missing")));
}

TEST(FileManager, AtomicWriteReplacesWholeAndKeepsMode)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("atomic"));
    const QString path = dir + QStringLiteral("/settings.plist");
    ASSERT_TRUE(FileManager::writeAtomically(path, "first"));
    ::chmod(enc(path).constData(), 0640);
    const quint64 inodeBefore = FileManager::attributesOfItem(path)->inode;
    ASSERT_TRUE(FileManager::writeAtomically(path, QByteArray(100000, 'z')));
    EXPECT_EQ(readFile(path), QByteArray(100000, 'z'));
    EXPECT_EQ(modeOf(path), 0640u);
    EXPECT_NE(FileManager::attributesOfItem(path)->inode, inodeBefore); // replaced, not rewritten
    EXPECT_EQ(*FileManager::contentsOfDirectory(dir), QStringList{QStringLiteral("settings.plist")});

    EXPECT_FALSE(FileManager::writeAtomically(dir + QStringLiteral("/missing/x"), "x"));
    EXPECT_EQ(FileManager::contentsOfDirectory(dir)->size(), 1);
}

TEST(FileManager, ClaimFreeNameNeverOverwrites)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("claim"));
    const QString tmp = testsupport::makeTempDir(QStringLiteral("claimtmp"));
    writeFile(dir + QStringLiteral("/Scan.pdf"), "old");
    writeFile(dir + QStringLiteral("/Scan_1.pdf"), "old1");

    writeFile(tmp + QStringLiteral("/t1"), "new");
    auto taken = FileManager::claimFreeName(tmp + QStringLiteral("/t1"), dir, QStringLiteral("Scan"), QStringLiteral("pdf"));
    ASSERT_TRUE(taken);
    EXPECT_EQ(*taken, dir + QStringLiteral("/Scan_2.pdf"));
    EXPECT_EQ(readFile(dir + QStringLiteral("/Scan.pdf")), QByteArray("old"));
    EXPECT_EQ(readFile(dir + QStringLiteral("/Scan_1.pdf")), QByteArray("old1"));
    EXPECT_EQ(readFile(*taken), QByteArray("new"));
    EXPECT_FALSE(FileManager::itemExists(tmp + QStringLiteral("/t1")));

    // Folders and names without extension; a dangling link still occupies its name.
    writeFile(tmp + QStringLiteral("/pkg/inner"), "i");
    QFile::link(QStringLiteral("nowhere"), dir + QStringLiteral("/Folder"));
    taken = FileManager::claimFreeName(tmp + QStringLiteral("/pkg"), dir, QStringLiteral("Folder"), QString());
    ASSERT_TRUE(taken);
    EXPECT_EQ(*taken, dir + QStringLiteral("/Folder_1"));
    EXPECT_EQ(readFile(*taken + QStringLiteral("/inner")), QByteArray("i"));

    writeFile(tmp + QStringLiteral("/t2"), "x");
    EXPECT_FALSE(FileManager::claimFreeName(tmp + QStringLiteral("/t2"), dir, QStringLiteral("../up"), QString()));
    EXPECT_FALSE(FileManager::claimFreeName(tmp + QStringLiteral("/t2"), dir, QString(), QStringLiteral("pdf")));
    EXPECT_FALSE(FileManager::claimFreeName(tmp + QStringLiteral("/gone"), dir, QStringLiteral("g"), QString()));
    EXPECT_TRUE(FileManager::itemExists(tmp + QStringLiteral("/t2")));
}

TEST(FileManager, RacingClaimsGetDistinctNames)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("race"));
    const QString tmp = testsupport::makeTempDir(QStringLiteral("racetmp"));
    constexpr int Threads = 4;
    constexpr int PerThread = 25;
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < PerThread; ++i)
            writeFile(QStringLiteral("%1/%2-%3").arg(tmp).arg(t).arg(i), QStringLiteral("%1-%2").arg(t).arg(i).toUtf8());

    std::vector<QStringList> claimed(Threads);
    std::atomic<int> failures{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&, t] {
            ++ready;
            while (ready.load() < Threads) {
            }
            for (int i = 0; i < PerThread; ++i) {
                auto r = FileManager::claimFreeName(QStringLiteral("%1/%2-%3").arg(tmp).arg(t).arg(i), dir,
                                                    QStringLiteral("Same"), QStringLiteral("txt"));
                if (r)
                    claimed[t].append(*r);
                else
                    ++failures;
            }
        });
    }
    for (auto& w : workers)
        w.join();
    ASSERT_EQ(failures.load(), 0);
    QSet<QString> names;
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < PerThread; ++i) {
            names.insert(claimed[t][i]);
            EXPECT_EQ(readFile(claimed[t][i]), QStringLiteral("%1-%2").arg(t).arg(i).toUtf8());
        }
    EXPECT_EQ(names.size(), Threads * PerThread);
    EXPECT_EQ(FileManager::contentsOfDirectory(dir)->size(), Threads * PerThread);
}

TEST_F(CrossDevice, ClaimFreeNameBringsItemsAcrossFileSystems)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("library"));
    writeFile(dir + QStringLiteral("/Merged.pdf"), "existing");
    writeFile(g_foreignRoot + QStringLiteral("/tmp.pdf"), "merged");
    const auto taken = FileManager::claimFreeName(g_foreignRoot + QStringLiteral("/tmp.pdf"), dir,
                                                  QStringLiteral("Merged"), QStringLiteral("pdf"));
    ASSERT_TRUE(taken) << taken.error().toString().toStdString();
    EXPECT_EQ(*taken, dir + QStringLiteral("/Merged_1.pdf"));
    EXPECT_EQ(readFile(*taken), QByteArray("merged"));
    EXPECT_EQ(readFile(dir + QStringLiteral("/Merged.pdf")), QByteArray("existing"));
    EXPECT_FALSE(FileManager::itemExists(g_foreignRoot + QStringLiteral("/tmp.pdf")));
    // No staging copy is left behind.
    EXPECT_EQ(FileManager::contentsOfDirectory(dir)->size(), 2);
}
