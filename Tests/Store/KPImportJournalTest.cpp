// What a killed import leaves in the library, and what opening the library takes back out.
#include "StoreEngineFixture.h"

#include "Store/KPImportJournal.h"
#include "Store/KPLibraryFileManager.h"

#include <QDir>
#include <QImage>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace storeengine;

namespace {

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QImage picture()
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

} // namespace

TEST_F(StoreEngineTest, OpeningRemovesTheUnrecordedCopiesAKilledImportNotedAndNothingElse)
{
    open();
    const KPLibraryFileManager files(library);
    const QString sources = testsupport::makeTempDir(QStringLiteral("sources"));
    for (const char* name : {"orphan.pdf", "kept.pdf", "taken.pdf"})
        testsupport::writeFile(sources + QLatin1Char('/') + QLatin1String(name), name);
    KPImportJournal journal(library);
    const KPLibraryFileManager::BeforeClaim note = [&](const KPLibraryFileManager::StagedItem& item) {
        return journal.note(item);
    };

    // A copy whose import was killed before its save, with its thumbnail.
    const auto orphan = files.addFile(sources + QStringLiteral("/orphan.pdf"), note);
    ASSERT_TRUE(orphan);
    ASSERT_TRUE(files.addThumbByFile(*orphan, picture()));
    // A copy whose record was saved before the kill.
    const auto kept = files.addFile(sources + QStringLiteral("/kept.pdf"), note);
    ASSERT_TRUE(kept);
    const auto keptThumb = files.addThumbByFile(*kept, picture());
    ASSERT_TRUE(keptThumb);
    engine->insertRecords({{{QStringLiteral("Path"), *kept}, {QStringLiteral("Thumb"), *keptThumb}}});
    ASSERT_TRUE(engine->writeToDiskAndWait());
    // The journal also noted "taken.pdf", which the user's own file kept: the copy became
    // "taken_1.pdf".
    testsupport::writeFile(files.dayFolder() + QStringLiteral("taken.pdf"), "the user's own");
    ASSERT_EQ(files.addFile(sources + QStringLiteral("/taken.pdf"), note).value_or(QString()),
              files.removeAbsolutePath(files.dayFolder() + QStringLiteral("taken_1.pdf")));
    // Half-made copies and thumbnails, and files the program knows nothing about.
    testsupport::writeFile(files.dayFolder() + QStringLiteral(".folivo-00000000deadbeef.part/inner.txt"), "half");
    testsupport::writeFile(files.thumbFolder() + QStringLiteral("/.folivo-0123456789abcdef.part"), "half");
    testsupport::writeFile(files.dayFolder() + QStringLiteral("notes.txt"), "mine");
    testsupport::writeFile(files.dayFolder() + QStringLiteral(".folivo-notes"), "mine");
    testsupport::writeFile(library + QStringLiteral("/.folivo-1234.part"), "not in a folder of copies");
    ASSERT_FALSE(journal.path().isEmpty());
    ASSERT_TRUE(QFileInfo::exists(journal.path()));

    ASSERT_TRUE(engine->close());
    open(); // the next run

    EXPECT_EQ(namesIn(files.dayFolder()),
              (QStringList{QStringLiteral(".folivo-notes"), QStringLiteral("kept.pdf"), QStringLiteral("notes.txt"),
                           QStringLiteral("taken.pdf")}));
    EXPECT_EQ(testsupport::readFile(files.dayFolder() + QStringLiteral("taken.pdf")), "the user's own");
    EXPECT_EQ(namesIn(files.thumbFolder()), QStringList{QFileInfo(*keptThumb).fileName()});
    EXPECT_FALSE(QFileInfo::exists(journal.path())) << "a journal is gone once settled";
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/.folivo-1234.part")));
    EXPECT_EQ(all<DBFileInfo>().size(), 1);
}

TEST_F(StoreEngineTest, AForgottenJournalOrATornLastLineRemovesNothing)
{
    open();
    const KPLibraryFileManager files(library);
    const QString source = testsupport::makeTempDir(QStringLiteral("sources")) + QStringLiteral("/a.pdf");
    testsupport::writeFile(source, "a");
    KPImportJournal stored(library);
    const auto a = files.addFile(source, KPLibraryFileManager::BeforeClaim(
                                             [&](const KPLibraryFileManager::StagedItem& item) { return stored.note(item); }));
    ASSERT_TRUE(a);
    stored.forget(); // its records were saved (or the copies removed) before the journal went
    EXPECT_TRUE(stored.path().isEmpty());

    // A journal cut off at the end of its only line, which names the copy: the rename that
    // line was written for had not happened.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(library + *a).constData(), &st), 0);
    testsupport::writeFile(library + QStringLiteral("/.folivo-import-00000000000000ff.journal"),
                           QByteArray::number(quint64(st.st_dev)) + ' ' + QByteArray::number(quint64(st.st_ino)) + ' '
                               + QFile::encodeName(*a).toPercentEncoding());
    ASSERT_TRUE(engine->close());
    open();
    EXPECT_TRUE(QFileInfo::exists(library + *a));
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/.folivo-import-00000000000000ff.journal")));
}

// A receive from a peer killed half-way leaves its staging folder (the received file and the
// folder unpacked from it) at the library's top: the next opening removes it, through a link
// only the link, and nothing that merely looks alike.
TEST_F(StoreEngineTest, OpeningRemovesTheStagingOfAKilledReceive)
{
    open();
    const QString staging = library + QStringLiteral("/.folivo-receive-0F6C2E3A-55B1-4C8E-9D0A-1B2C3D4E5F60");
    testsupport::writeFile(staging + QStringLiteral("/8A1B"), "half an archive");
    testsupport::writeFile(staging + QStringLiteral("/8A1B_F/Album/page.txt"), "unpacked");
    const QString outside = testsupport::makeTempDir(QStringLiteral("outside"));
    testsupport::writeFile(outside + QStringLiteral("/mine.txt"), "the user's own");
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                        QFile::encodeName(library + QStringLiteral("/.folivo-receive-link")).constData()),
              0);
    testsupport::writeFile(library + QStringLiteral("/.folivo-received-notes.txt"), "not a staging folder");
    testsupport::writeFile(library + QStringLiteral("/Documents/.folivo-receive-inner/x"), "not at the top");
    ASSERT_TRUE(engine->close());

    open(); // the next run
    // The sweep runs after the window is up, off the main thread.
    ASSERT_TRUE(testsupport::spinUntil([this] { return !engine->isSweepingStagings(); }));

    EXPECT_FALSE(QFileInfo::exists(staging));
    EXPECT_FALSE(QFileInfo(library + QStringLiteral("/.folivo-receive-link")).isSymLink());
    EXPECT_EQ(testsupport::readFile(outside + QStringLiteral("/mine.txt")), "the user's own");
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/.folivo-received-notes.txt")));
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Documents/.folivo-receive-inner/x")));
}

// A receive of a large folder killed half-way leaves tens of thousands of files: the opening
// does not wait for their removal, which runs after it, and a quit stops it, before it began
// or in the middle, leaving the rest to the next opening.
TEST_F(StoreEngineTest, TheOpeningDoesNotWaitForTheSweepOfAReceivesStagingAndAQuitStopsIt)
{
    open();
    const QString staging = library + QStringLiteral("/.folivo-receive-5B0E1D2C-0000-4C8E-9D0A-1B2C3D4E5F60");
    const QString album = staging + QStringLiteral("/8A1B_F/Album");
    for (int i = 0; i < 200; ++i)
        testsupport::writeFile(album + QStringLiteral("/page %1.txt").arg(i), "unpacked");
    ASSERT_TRUE(engine->close());
    const auto pagesLeft = [&] { return QDir(album).entryList(QDir::Files).size(); };

    open();
    EXPECT_TRUE(QFileInfo::exists(album + QStringLiteral("/page 0.txt"))) << "the opening waited for the sweep";
    EXPECT_TRUE(engine->isSweepingStagings());
    // Quit before the window came up: nothing is removed once the library is let go.
    (void)engine->close();
    engine->releaseLock();
    EXPECT_FALSE(engine->isSweepingStagings());
    drainMainQueue();
    EXPECT_EQ(pagesLeft(), 200);

    // Quit while the sweep is under way: it is held at its twentieth item, with pages gone.
    std::mutex mutex;
    std::condition_variable changed;
    int steps = 0;
    bool held = false;
    bool released = false;
    beforeSweepStep = [&] {
        std::unique_lock lock(mutex);
        if (++steps != 20)
            return;
        held = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    };
    open();
    ASSERT_TRUE(testsupport::spinUntil([&] {
        std::lock_guard lock(mutex);
        return held;
    }));
    const qsizetype leftWhenHeld = pagesLeft();
    ASSERT_LT(leftWhenHeld, 200) << "the sweep had not begun removing";
    (void)engine->close();
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    engine->releaseLock();
    EXPECT_FALSE(engine->isSweepingStagings());
    EXPECT_EQ(pagesLeft(), leftWhenHeld) << "the sweep went on after the quit";
    beforeSweepStep = {};

    open();
    ASSERT_TRUE(testsupport::spinUntil([this] { return !engine->isSweepingStagings(); }));
    EXPECT_FALSE(QFileInfo::exists(staging));
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/library.db")));
}
