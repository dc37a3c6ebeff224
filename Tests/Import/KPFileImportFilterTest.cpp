#include "Import/KPFileFormatManager.h"
#include "Import/KPFileImportFilter.h"
#include "Import/KPImportText.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QVariantMap row(qint64 id, const QString& extensions)
{
    return {{QStringLiteral("ID"), id}, {QStringLiteral("Name"), extensions},
            {QStringLiteral("Extension"), extensions}, {QStringLiteral("Group"), QStringLiteral("G")}};
}

QSet<QString> setOf(const QStringList& list)
{
    return QSet<QString>(list.begin(), list.end());
}

QSet<QString> setOf(const QVariantList& list)
{
    QSet<QString> set;
    for (const QVariant& v : list)
        set.insert(v.toString());
    return set;
}

// A dropped folder with one of everything a walk must get right:
//   drop/a.pdf  drop/.hidden.pdf  drop/notes.xyz  drop/doc.rtfd/{content.rtf}
//   drop/X.app/{inner.pdf}  drop/scans.old/{b.pdf}  drop/sub/{c.pdf}  drop/Library/{d.pdf}
//   drop/loop -> drop   drop/alias.pdf -> a.pdf   drop/pipe.pdf (a FIFO)   drop/<Latin-1 name>.pdf
class KPFileImportFilterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = testsupport::makeTempDir(QStringLiteral("drop"));
        drop = root + QStringLiteral("/drop");
        for (const char* file : {"a.pdf", ".hidden.pdf", "notes.xyz", "doc.rtfd/content.rtf", "X.app/inner.pdf",
                                 "scans.old/b.pdf", "sub/c.pdf", "Library/d.pdf"})
            testsupport::writeFile(drop + QLatin1Char('/') + QString::fromUtf8(file), "x");
        ASSERT_EQ(::symlink(QFile::encodeName(drop).constData(), QFile::encodeName(drop + QStringLiteral("/loop")).constData()), 0);
        ASSERT_EQ(::symlink("a.pdf", QFile::encodeName(drop + QStringLiteral("/alias.pdf")).constData()), 0);
        ASSERT_EQ(::mkfifo(QFile::encodeName(drop + QStringLiteral("/pipe.pdf")).constData(), 0600), 0);
        rawName = QFile::encodeName(drop) + "/caf\xe9.pdf";
        const int fd = ::open(rawName.constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    void TearDown() override { ::unlink(rawName.constData()); }

    QString at(const QString& relative) const { return drop + QLatin1Char('/') + relative; }

    KPFileFormatManager formats{{row(1, QStringLiteral("pdf")), row(4, QStringLiteral("rtf,rtfd"))}};
    QString root;
    QString drop;
    QByteArray rawName;
};

} // namespace

TEST_F(KPFileImportFilterTest, FlatWalkTakesDocumentsAndPackagesAndReportsTheRest)
{
    KPFileImportFilter filter(formats, at(QStringLiteral("Library")));
    const QStringList files = filter.fileListByFolders({drop});
    EXPECT_EQ(setOf(files), (QSet<QString>{at(QStringLiteral("a.pdf")), at(QStringLiteral("doc.rtfd")),
                                            at(QStringLiteral("scans.old/b.pdf")), at(QStringLiteral("sub/c.pdf"))}));
    const QStringList lost = filter.notSupportFiles();
    EXPECT_EQ(lost.size(), 3) << lost.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lost.contains(at(QStringLiteral("notes.xyz"))));
    EXPECT_TRUE(lost.contains(at(QStringLiteral("pipe.pdf")))) << "a pipe is no document; copying it would block";
    EXPECT_TRUE(std::any_of(lost.begin(), lost.end(), [](const QString& p) { return p.contains(QStringLiteral("caf")); }))
        << "a name that cannot be stored is reported, not dropped";
}

TEST_F(KPFileImportFilterTest, TreeWalkListsUnknownFoldersAndStillEntersThem)
{
    KPFileImportFilter filter(formats, at(QStringLiteral("Library")));
    const auto tree = filter.fileSystemItemByPaths({drop, at(QStringLiteral("doc.rtfd")), at(QStringLiteral("notes.xyz"))});
    EXPECT_EQ(tree->path(), KPImportText::untitledFolder());
    EXPECT_EQ(setOf(tree->items()), QSet<QString>{at(QStringLiteral("doc.rtfd"))});
    ASSERT_EQ(tree->children().size(), 1u);
    const auto& folder = *tree->children().front();
    EXPECT_EQ(folder.title(), QStringLiteral("drop"));
    EXPECT_EQ(setOf(folder.items()), (QSet<QString>{at(QStringLiteral("a.pdf")), at(QStringLiteral("doc.rtfd"))}));
    QSet<QString> childTitles;
    for (const auto& child : folder.children())
        childTitles.insert(child->title());
    EXPECT_EQ(childTitles, (QSet<QString>{QStringLiteral("scans.old"), QStringLiteral("sub")}));
    EXPECT_TRUE(filter.notSupportFiles().contains(at(QStringLiteral("scans.old"))));
    EXPECT_TRUE(filter.notSupportFiles().contains(at(QStringLiteral("notes.xyz"))));
    EXPECT_FALSE(filter.notSupportFiles().contains(at(QStringLiteral(".hidden.pdf"))));
}

TEST_F(KPFileImportFilterTest, ManagersOwnTreeWalkListsNothing)
{
    const auto tree = formats.fileSystemItemByPaths({drop});
    ASSERT_EQ(tree->children().size(), 1u);
    EXPECT_EQ(tree->children().front()->children().size(), 3u) << "scans.old, sub and (no library path) Library";
    EXPECT_TRUE(formats.lostFiles().filter(QStringLiteral("notes.xyz")).isEmpty());
    EXPECT_TRUE(formats.lostFiles().filter(QStringLiteral("scans.old")).isEmpty());
}

TEST_F(KPFileImportFilterTest, LinksAreNeverFollowedSoALoopEnds)
{
    KPFileImportFilter filter(formats, QString());
    const QStringList files = filter.folderChildren(drop);
    EXPECT_FALSE(files.contains(at(QStringLiteral("alias.pdf"))));
    for (const QString& file : files)
        EXPECT_FALSE(file.contains(QStringLiteral("/loop/"))) << file.toStdString();
    EXPECT_TRUE(files.contains(at(QStringLiteral("Library/d.pdf")))) << "without a library, Library is a folder";
}

TEST_F(KPFileImportFilterTest, TheLibraryFolderIsNeverWalked)
{
    KPFileImportFilter filter(formats, at(QStringLiteral("Library/")));
    EXPECT_TRUE(filter.folderChildren(at(QStringLiteral("Library"))).isEmpty());
    EXPECT_FALSE(filter.fileListByFolders({drop}).contains(at(QStringLiteral("Library/d.pdf"))));
    const auto tree = filter.fileSystemItemByPaths({at(QStringLiteral("Library"))});
    EXPECT_TRUE(tree->children().empty());
    EXPECT_TRUE(tree->items().isEmpty());
}

TEST_F(KPFileImportFilterTest, DirectPathsHiddenItemsAndAliases)
{
    // A hidden item the user handed over is taken (the library stores it under a visible
    // name), judged by that name: "..xyz.pdf" is a PDF, ".pdf" and ".profile" have no kind.
    for (const char* name : {"..xyz.pdf", ".pdf", ".profile"})
        testsupport::writeFile(at(QString::fromUtf8(name)), "x");
    KPFileImportFilter filter(formats, QString());
    const QStringList kept = filter.deleteNoSupportFormatFiles(
        {at(QStringLiteral("a.pdf")), at(QStringLiteral(".hidden.pdf")), at(QStringLiteral("alias.pdf")), at(QStringLiteral("notes.xyz")),
         at(QStringLiteral("..xyz.pdf")), at(QStringLiteral(".pdf")), at(QStringLiteral(".profile"))});
    EXPECT_EQ(kept, (QStringList{at(QStringLiteral("a.pdf")), at(QStringLiteral(".hidden.pdf")), at(QStringLiteral("..xyz.pdf"))}));
    EXPECT_EQ(filter.notSupportFiles(), (QStringList{at(QStringLiteral("alias.pdf")), at(QStringLiteral("notes.xyz")),
                                                     at(QStringLiteral(".pdf")), at(QStringLiteral(".profile"))}))
        << "direct paths report what they do not take";

    // The same in the walks, for paths given beside a folder: a hidden folder given is walked
    // (its own hidden items stay unseen), a hidden document given is taken.
    testsupport::writeFile(at(QStringLiteral(".config/e.pdf")), "x");
    testsupport::writeFile(at(QStringLiteral(".config/.secret.pdf")), "x");
    KPFileImportFilter flat(formats, QString());
    EXPECT_EQ(setOf(flat.fileListByFolders({at(QStringLiteral(".config")), at(QStringLiteral(".hidden.pdf")), at(QStringLiteral(".pdf"))})),
              (QSet<QString>{at(QStringLiteral(".config/e.pdf")), at(QStringLiteral(".hidden.pdf"))}));
    EXPECT_EQ(flat.notSupportFiles(), QStringList{at(QStringLiteral(".pdf"))});
    KPFileImportFilter tree(formats, QString());
    const auto root = tree.fileSystemItemByPaths({at(QStringLiteral(".config")), at(QStringLiteral(".hidden.pdf")),
                                                  at(QStringLiteral(".profile")), at(QStringLiteral("alias.pdf"))});
    EXPECT_EQ(setOf(root->items()), QSet<QString>{at(QStringLiteral(".hidden.pdf"))});
    ASSERT_EQ(root->children().size(), 1u);
    EXPECT_EQ(setOf(root->children().front()->items()), QSet<QString>{at(QStringLiteral(".config/e.pdf"))});
    EXPECT_EQ(tree.notSupportFiles(), QStringList{at(QStringLiteral(".profile"))});

    // A path that vanished before the walk: judged by its name, as the import reports the copy.
    EXPECT_EQ(filter.folderChildren(at(QStringLiteral("gone.pdf"))), QStringList{at(QStringLiteral("gone.pdf"))});
}

TEST_F(KPFileImportFilterTest, FirstRealFolderDecidesWhetherAFolderWasDropped)
{
    EXPECT_FALSE(formats.isExistFolder({at(QStringLiteral("doc.rtfd")), at(QStringLiteral("sub"))}));
    EXPECT_TRUE(formats.isExistFolder({at(QStringLiteral("a.pdf")), at(QStringLiteral("X.app")), at(QStringLiteral("sub")),
                                       at(QStringLiteral("doc.rtfd"))}));
    EXPECT_FALSE(formats.isExistFolder({at(QStringLiteral("a.pdf")), at(QStringLiteral("loop"))})) << "a link is no folder";
    EXPECT_FALSE(formats.checkFolderIsSupport(at(QStringLiteral("X.app"))));
    EXPECT_FALSE(formats.checkFolderIsSupport(QStringLiteral("/a/b.crdownlad")));
}

TEST_F(KPFileImportFilterTest, CancelStopsBeforeTheNextPath)
{
    KPFileImportFilter filter(formats, QString());
    filter.setIsCancel(true);
    EXPECT_TRUE(filter.fileListByFolders({drop, at(QStringLiteral("sub"))}).isEmpty());
}
