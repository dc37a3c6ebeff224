// Documents that leave the library (moved into the SafeBox, emptied from the trash) take what
// they leave behind with them, before their records go; and a move killed after it deleted the
// originals is finished at the next opening from its journal.
#include "StoreEngineFixture.h"

#include "Platform/Foundation/UserDefaults.h"
#include "Store/DBDocumentIndex.h"
#include "Store/DBHelper.h"
#include "Store/KPLibraryFileManager.h"
#include "Store/KPSafeBoxMoveJournal.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <condition_variable>
#include <mutex>
#include <optional>

using namespace storeengine;

namespace {

class DocumentPurgeTest : public StoreEngineTest {
protected:
    void SetUp() override
    {
        StoreEngineTest::SetUp();
        platform::UserDefaults::standardUserDefaults().setString(library, QStringLiteral("String_Library_Path"));
        KPLibraryFileManager::resetDefaultManager();
        DataBaseEngine::setLeftoverRemover([this](const QList<DataBaseEngine::DocumentLeftovers>& leftovers) {
            std::unique_lock lock(mutex);
            removerThread = QThread::currentThread();
            ++removersEntered;
            changed.notify_all();
            // A case may hold the remover, as a large index's merge would, to see what the
            // main thread does meanwhile.
            changed.wait_for(lock, std::chrono::seconds(5), [this] { return !holdRemover; });
            for (const auto& leftover : leftovers) {
                removerSaw << leftover.filePath;
                if (leftover.indexID > 0)
                    indexIDs << leftover.indexID;
            }
            ++removersLeft;
            changed.notify_all();
            return removerAnswers;
        });
        open();
        // The opening's own purge runs first, before a case marks anything.
        settlePurges();
    }
    void TearDown() override
    {
        release();
        EXPECT_TRUE(testsupport::spinUntil([] { return !DataBaseEngine::isPurging(); }));
        DataBaseEngine::setLeftoverRemover({});
        StoreEngineTest::TearDown();
        KPLibraryFileManager::resetDefaultManager();
    }

    // A document of the library with its file, thumbnail and index entry.
    DBFileInfo document(const QString& name, qint64 indexID)
    {
        const QString relative = QStringLiteral("/Documents/") + name;
        testsupport::writeFile(library + relative, "text of " + name.toUtf8());
        const QString thumb = QStringLiteral("/Thumbnail/") + name + QStringLiteral(".png");
        QDir().mkpath(library + QStringLiteral("/Thumbnail"));
        testsupport::writeFile(library + thumb, "thumbnail of " + name.toUtf8());
        DBFileInfo file = DBRecord::insertNewObject<DBFileInfo>(engine->context());
        file.setTitle(name);
        file.setPath(relative);
        file.setThumbPath(thumb);
        DBDocumentIndex index = DBRecord::insertNewObject<DBDocumentIndex>(engine->context());
        index.setSkDocumentID(indexID);
        file.setDocumentIndex(index);
        return file;
    }
    static void mark(DBFileInfo& file)
    {
        file.setIsTrash(true);
        file.setIsNeedDelete(true);
    }
    QStringList titles()
    {
        QStringList names;
        for (const DBFileInfo& file : all<DBFileInfo>())
            names << file.title();
        names.sort();
        return names;
    }

    // Purges ids and waits for the purge's end; how many records went.
    int purge(const QList<platform::ObjectID>& ids)
    {
        std::optional<int> deleted;
        engine->purgeDocuments(ids, [&deleted](int count) { deleted = count; });
        EXPECT_TRUE(testsupport::spinUntil([&deleted] { return deleted.has_value(); })) << "the purge never ended";
        return deleted.value_or(-1);
    }
    void release()
    {
        std::lock_guard lock(mutex);
        holdRemover = false;
        changed.notify_all();
    }
    bool waitForRemover(int entered)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return removersEntered >= entered; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool holdRemover = false;
    int removersEntered = 0;
    int removersLeft = 0;
    QThread* removerThread = nullptr;
    QStringList removerSaw;
    QList<qint64> indexIDs;
    bool removerAnswers = true;
};

} // namespace

TEST_F(DocumentPurgeTest, APurgedDocumentTakesItsIndexTextAndThumbnailAlongBeforeItsRecordGoes)
{
    DBFileInfo moved = document(QStringLiteral("moved.pdf"), 41);
    DBFileInfo trashed = document(QStringLiteral("trashed.pdf"), 42);
    DBFileInfo kept = document(QStringLiteral("kept.pdf"), 43);
    // A copy that names the trashed document's thumbnail keeps it when that one goes.
    DBFileInfo twin = document(QStringLiteral("twin.pdf"), 44);
    twin.setThumbPath(trashed.thumbPath());
    mark(trashed);
    mark(moved);
    ASSERT_TRUE(engine->writeToDiskAndWait());

    // Only the marked among the given documents go.
    EXPECT_EQ(purge({moved.objectID(), kept.objectID()}), 1);
    EXPECT_EQ(indexIDs, QList<qint64>{41});
    EXPECT_EQ(removerSaw, QStringList{library + QStringLiteral("/Documents/moved.pdf")});
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/moved.pdf.png")));
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/trashed.pdf.png")));
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/kept.pdf.png")));
    EXPECT_FALSE(engine->context()->hasChanges()) << "the deletion is saved";
    EXPECT_EQ(purge({trashed.objectID()}), 1);
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/trashed.pdf.png"))) << "its copy still shows it";
    reopen();
    settlePurges();
    EXPECT_EQ(titles(), (QStringList{QStringLiteral("kept.pdf"), QStringLiteral("twin.pdf")}));
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBDocumentIndex")), 2);
}

TEST_F(DocumentPurgeTest, WhenTheIndexTextCannotGoTheRecordStaysForTheNextPurge)
{
    DBFileInfo moved = document(QStringLiteral("moved.pdf"), 7);
    mark(moved);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    removerAnswers = false;
    EXPECT_EQ(purge({moved.objectID()}), 0);
    EXPECT_EQ(titles(), QStringList{QStringLiteral("moved.pdf")});
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/moved.pdf.png")));

    // The opening's purge finishes it, leftovers first.
    removerAnswers = true;
    indexIDs.clear();
    reopen();
    settlePurges();
    EXPECT_EQ(indexIDs, QList<qint64>{7});
    EXPECT_EQ(titles(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/moved.pdf.png")));
}

TEST_F(DocumentPurgeTest, TheIndexTextGoesOffTheMainThreadOnePurgeAfterAnotherAndTheRecordsAfterIt)
{
    DBFileInfo first = document(QStringLiteral("first.pdf"), 21);
    DBFileInfo second = document(QStringLiteral("second.pdf"), 22);
    mark(first);
    mark(second);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    holdRemover = true;
    std::optional<int> firstDeleted;
    std::optional<int> secondDeleted;
    EXPECT_EQ(engine->purgeDocuments({first.objectID()}, [&](int count) { firstDeleted = count; }), 1);
    ASSERT_TRUE(waitForRemover(1));
    {
        std::lock_guard lock(mutex);
        EXPECT_NE(removerThread, QThread::currentThread()) << "the index step held the main thread";
        EXPECT_EQ(removersLeft, 0) << "the purge returned only once its index step had ended";
    }
    EXPECT_EQ(engine->purgeDocuments({second.objectID()}, [&](int count) { secondDeleted = count; }), 1);

    // The window goes on while the index step runs; the records stay until it has ended, and
    // the second purge waits for the first.
    drainMainQueue();
    EXPECT_EQ(titles(), (QStringList{QStringLiteral("first.pdf"), QStringLiteral("second.pdf")}));
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/first.pdf.png")));
    EXPECT_FALSE(firstDeleted.has_value());
    EXPECT_TRUE(DataBaseEngine::isPurging());
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(removersEntered, 1) << "two purges ran at once";
    }

    release();
    ASSERT_TRUE(testsupport::spinUntil([&] { return firstDeleted && secondDeleted; }));
    EXPECT_EQ(*firstDeleted, 1);
    EXPECT_EQ(*secondDeleted, 1);
    EXPECT_EQ(indexIDs, (QList<qint64>{21, 22}));
    EXPECT_EQ(titles(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/first.pdf.png")));
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/second.pdf.png")));
    EXPECT_FALSE(engine->context()->hasChanges()) << "the deletion is saved";
}

TEST_F(DocumentPurgeTest, QuitWaitsForThePurgeInFlightAndLeavesTheWaitingOnesToTheNextStart)
{
    DBFileInfo first = document(QStringLiteral("first.pdf"), 31);
    DBFileInfo second = document(QStringLiteral("second.pdf"), 32);
    mark(first);
    mark(second);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    holdRemover = true;
    engine->purgeDocuments({first.objectID()});
    engine->purgeDocuments({second.objectID()});
    ASSERT_TRUE(waitForRemover(1));

    // The index may not close under the purge: quit waits for it, bounded, and says when it
    // still runs.
    EXPECT_FALSE(DataBaseEngine::stopPurges(std::chrono::milliseconds(100)));
    release();
    EXPECT_TRUE(DataBaseEngine::stopPurges(std::chrono::seconds(20)));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(removersLeft, 1) << "quit went on while the index step still ran";
        EXPECT_EQ(removersEntered, 1) << "a purge started after quit";
    }
    ASSERT_TRUE(testsupport::spinUntil([] { return !DataBaseEngine::isPurging(); }));
    EXPECT_EQ(titles(), (QStringList{QStringLiteral("first.pdf"), QStringLiteral("second.pdf")}))
        << "the records stay marked once quit has begun";

    // The next start finishes both, leftovers first.
    indexIDs.clear();
    reopen();
    settlePurges();
    EXPECT_EQ(indexIDs, (QList<qint64>{31, 32}));
    EXPECT_EQ(titles(), QStringList());
}

TEST_F(DocumentPurgeTest, AMoveKilledAfterItDeletedTheOriginalsIsFinishedAtTheNextOpening)
{
    DBFileInfo gone = document(QStringLiteral("gone.pdf"), 11);
    DBFileInfo stayed = document(QStringLiteral("stayed.pdf"), 12);
    DBFileInfo other = document(QStringLiteral("other.pdf"), 13);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    const QString gonePath = library + QStringLiteral("/Documents/gone.pdf");
    const QString stayedPath = library + QStringLiteral("/Documents/stayed.pdf");
    // A journal that names a record under another file is not about that record.
    auto journal = KPSafeBoxMoveJournal::write(library, {{gone.URIString(), gonePath},
                                                         {stayed.URIString(), stayedPath},
                                                         {other.URIString(), library + QStringLiteral("/Documents/elsewhere.pdf")},
                                                         {QStringLiteral("x-folivo-store://nothing/DBFileInfo/p999"), gonePath}});
    ASSERT_TRUE(journal) << journal.error().toString().toStdString();
    EXPECT_EQ(KPSafeBoxMoveJournal::read(*journal).size(), 4);
    // Killed here: the first original was deleted, the second not yet, no record marked.
    ASSERT_TRUE(QFile::remove(gonePath));
    engine.reset();

    open();
    settlePurges();
    EXPECT_EQ(titles(), (QStringList{QStringLiteral("other.pdf"), QStringLiteral("stayed.pdf")}));
    EXPECT_EQ(indexIDs, QList<qint64>{11}) << "removed with its index text";
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/gone.pdf.png")));
    EXPECT_TRUE(QFileInfo::exists(stayedPath)) << "an original never deleted stays in the library";
    EXPECT_TRUE(KPSafeBoxMoveJournal::journals(library).isEmpty());
    for (const DBFileInfo& file : all<DBFileInfo>())
        EXPECT_FALSE(file.isTrash()) << file.title().toStdString();
}

TEST_F(DocumentPurgeTest, TheOpeningsPurgeRemovesLeftoversOffTheMainThreadWhileTheWindowGoesOn)
{
    DBFileInfo waiting = document(QStringLiteral("waiting.pdf"), 51);
    mark(waiting);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    holdRemover = true;
    removersEntered = 0;

    reopen();
    // The opening hands the waiting documents to the purge queue: the main thread goes on while
    // their index step runs (on a large index, for seconds).
    drainMainQueue();
    ASSERT_TRUE(waitForRemover(1));
    {
        std::lock_guard lock(mutex);
        EXPECT_NE(removerThread, QThread::currentThread()) << "the start-up waited for the index step";
        EXPECT_EQ(removersLeft, 0);
    }
    EXPECT_TRUE(DataBaseEngine::isPurging());
    EXPECT_EQ(titles(), QStringList{QStringLiteral("waiting.pdf")}) << "the record goes after its leftovers";

    release();
    settlePurges();
    EXPECT_EQ(indexIDs, QList<qint64>{51});
    EXPECT_EQ(titles(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/waiting.pdf.png")));
    reopen();
    settlePurges();
    EXPECT_EQ(titles(), QStringList()) << "the deletion was saved";
}

// Which thumbnails are still in use is decided once the index step has ended, from what the
// library then holds, not from what it held when the purge began.
TEST_F(DocumentPurgeTest, AThumbnailNamedByADocumentSavedWhileTheIndexStepRunsStays)
{
    DBFileInfo leaving = document(QStringLiteral("leaving.pdf"), 61);
    mark(leaving);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    holdRemover = true;
    std::optional<int> deleted;
    engine->purgeDocuments({leaving.objectID()}, [&deleted](int count) { deleted = count; });
    ASSERT_TRUE(waitForRemover(1));

    DBFileInfo copy = document(QStringLiteral("copy.pdf"), 62);
    copy.setThumbPath(leaving.thumbPath());
    ASSERT_TRUE(engine->writeToDiskAndWait());
    release();
    ASSERT_TRUE(testsupport::spinUntil([&deleted] { return deleted.has_value(); }));

    EXPECT_EQ(*deleted, 1);
    EXPECT_EQ(titles(), QStringList{QStringLiteral("copy.pdf")});
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/leaving.pdf.png"))) << "the copy shows it";
}

// Deleting the records of thousands of documents at once holds the window for a good part of a
// second at a large library: they go in turns, and what else waits on the main thread runs
// between them.
TEST_F(DocumentPurgeTest, TheWindowAnswersBetweenTurnsOfALargePurgesRecordDeletion)
{
    QList<platform::ObjectID> ids;
    for (int i = 0; i < 450; ++i) {
        DBFileInfo file = DBRecord::insertNewObject<DBFileInfo>(engine->context());
        file.setTitle(QStringLiteral("doc %1").arg(i));
        file.setPath(QStringLiteral("/Documents/doc %1.pdf").arg(i));
        mark(file);
        ids.append(file.objectID());
    }
    DBFileInfo kept = document(QStringLiteral("kept.pdf"), 71);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    ids = {};
    for (const DBFileInfo& file : all<DBFileInfo>(QStringLiteral("isNeedDelete == YES")))
        ids.append(file.objectID());
    ASSERT_EQ(ids.size(), 450);

    std::optional<int> deleted;
    int saves = 0;
    bool answeredBeforeTheEnd = false;
    // Work the window is given while the first records go: it runs before the purge ends.
    auto token = engine->context()->addDidSaveObserver([&](const platform::SaveNotification&) {
        if (++saves == 1)
            platform::Dispatch::main([&] { answeredBeforeTheEnd = !deleted.has_value(); });
    });
    engine->purgeDocuments(ids, [&deleted](int count) { deleted = count; });
    ASSERT_TRUE(testsupport::spinUntil([&deleted] { return deleted.has_value(); }));
    drainMainQueue();

    EXPECT_EQ(*deleted, 450);
    EXPECT_TRUE(answeredBeforeTheEnd) << "the main thread deleted every record in one go";
    EXPECT_EQ(titles(), QStringList{QStringLiteral("kept.pdf")});
    EXPECT_FALSE(engine->context()->hasChanges()) << "every turn saved";
}
