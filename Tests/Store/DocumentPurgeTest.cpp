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
            for (const auto& leftover : leftovers) {
                removerSaw << leftover.filePath;
                // The record is still there while its leftovers go.
                const auto still = engine ? all<DBFileInfo>(QStringLiteral("title == %@"), {QFileInfo(leftover.filePath).fileName()})
                                          : QList<DBFileInfo>();
                recordsWhileRemoving += int(still.size());
                if (leftover.indexID > 0)
                    indexIDs << leftover.indexID;
            }
            return removerAnswers;
        });
        open();
    }
    void TearDown() override
    {
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

    QStringList removerSaw;
    QList<qint64> indexIDs;
    int recordsWhileRemoving = 0;
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
    EXPECT_EQ(engine->purgeDocuments({moved.objectID(), kept.objectID()}), 1);
    EXPECT_EQ(indexIDs, QList<qint64>{41});
    EXPECT_EQ(removerSaw, QStringList{library + QStringLiteral("/Documents/moved.pdf")});
    EXPECT_EQ(recordsWhileRemoving, 1);
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/moved.pdf.png")));
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/trashed.pdf.png")));
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/kept.pdf.png")));
    EXPECT_FALSE(engine->context()->hasChanges()) << "the deletion is saved";
    EXPECT_EQ(engine->purgeDocuments({trashed.objectID()}), 1);
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/trashed.pdf.png"))) << "its copy still shows it";
    reopen();
    drainMainQueue();
    EXPECT_EQ(titles(), (QStringList{QStringLiteral("kept.pdf"), QStringLiteral("twin.pdf")}));
    EXPECT_EQ(engine->countByObject(QStringLiteral("DBDocumentIndex")), 2);
}

TEST_F(DocumentPurgeTest, WhenTheIndexTextCannotGoTheRecordStaysForTheNextPurge)
{
    DBFileInfo moved = document(QStringLiteral("moved.pdf"), 7);
    mark(moved);
    ASSERT_TRUE(engine->writeToDiskAndWait());
    removerAnswers = false;
    EXPECT_EQ(engine->purgeDocuments({moved.objectID()}), 0);
    EXPECT_EQ(titles(), QStringList{QStringLiteral("moved.pdf")});
    EXPECT_TRUE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/moved.pdf.png")));

    // The opening's purge finishes it, leftovers first.
    removerAnswers = true;
    indexIDs.clear();
    reopen();
    drainMainQueue();
    EXPECT_EQ(indexIDs, QList<qint64>{7});
    EXPECT_EQ(titles(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/moved.pdf.png")));
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
    drainMainQueue();
    EXPECT_EQ(titles(), (QStringList{QStringLiteral("other.pdf"), QStringLiteral("stayed.pdf")}));
    EXPECT_EQ(indexIDs, QList<qint64>{11}) << "removed with its index text";
    EXPECT_FALSE(QFileInfo::exists(library + QStringLiteral("/Thumbnail/gone.pdf.png")));
    EXPECT_TRUE(QFileInfo::exists(stayedPath)) << "an original never deleted stays in the library";
    EXPECT_TRUE(KPSafeBoxMoveJournal::journals(library).isEmpty());
    for (const DBFileInfo& file : all<DBFileInfo>())
        EXPECT_FALSE(file.isTrash()) << file.title().toStdString();
}
