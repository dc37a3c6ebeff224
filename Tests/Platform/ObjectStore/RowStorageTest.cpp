// Rows read from a file keep cells, key vectors and text in one block sized to the record, and
// booleans as bits: whatever a record holds (nil, empty and very long strings, every
// combination of booleans, blobs), it reads back exactly as written, and a change to a read
// row neither leaks into the cached row nor loses its neighbours' values.
#include "StoreTestSupport.h"

#include "Platform/ObjectStore/Row.h"

#include <QDateTime>
#include <QFile>
#include <sqlite3.h>

using namespace platform;
using namespace storetest;

namespace {

const QString fileEntity = QStringLiteral("DBFileInfo");
const QStringList stringKeys{QStringLiteral("title"), QStringLiteral("path"), QStringLiteral("pathExtension"),
                             QStringLiteral("thumbPath"), QStringLiteral("original"), QStringLiteral("extendField")};
const QStringList boolKeys{QStringLiteral("isShare"), QStringLiteral("isEncrypt"), QStringLiteral("isRecord"),
                           QStringLiteral("isLost"), QStringLiteral("isTrash"), QStringLiteral("isIndex"),
                           QStringLiteral("isNeedDelete")};

// Record i: strings nil, empty, short, non-ASCII or far longer than any row's own room; each
// boolean nil, NO or YES, so that neighbouring bits differ in every way.
QVariantMap valuesOf(int i)
{
    QVariantMap v;
    for (qsizetype k = 0; k < stringKeys.size(); ++k) {
        switch ((i + k) % 5) {
        case 0: v[stringKeys[k]] = QVariant(); break;
        case 1: v[stringKeys[k]] = QString(""); break;
        case 2: v[stringKeys[k]] = QStringLiteral("r%1-%2").arg(i).arg(k); break;
        case 3: v[stringKeys[k]] = QStringLiteral("résumé ✓ %1").arg(i); break;
        default: v[stringKeys[k]] = QString(3000 + i, QLatin1Char('a' + char(k))); break;
        }
    }
    for (qsizetype b = 0; b < boolKeys.size(); ++b) {
        const int state = (i / int(b + 1) + int(b)) % 3;
        v[boolKeys[b]] = state == 0 ? QVariant() : QVariant(state == 2);
    }
    return v;
}

void expectValues(const ManagedObjectPtr& object, const QVariantMap& expected, const QString& where)
{
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QVariant got = object->valueForKey(it.key());
        EXPECT_TRUE(sameAttributeValue(got, it.value()))
            << qPrintable(where) << " " << qPrintable(it.key()) << ": " << qPrintable(got.toString().left(40))
            << " instead of " << qPrintable(it.value().toString().left(40));
    }
}

QList<ManagedObjectPtr> byPk(const ContextPtr& context)
{
    QList<ManagedObjectPtr> all = fetch(context, fileEntity);
    std::sort(all.begin(), all.end(), [](const ManagedObjectPtr& a, const ManagedObjectPtr& b) {
        return a->objectID().primaryKey() < b->objectID().primaryKey();
    });
    return all;
}

} // namespace

TEST(ObjectStoreRowStorage, RecordsReadBackAsWrittenAndSurviveChangesAndSaves)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("rows")) + QStringLiteral("/library.db");
    constexpr int records = 30;
    std::vector<QVariantMap> expected;
    {
        auto context = rootContext(openStore(path));
        for (int i = 0; i < records; ++i) {
            expected.push_back(valuesOf(i));
            ManagedObjectPtr file = context->insertNewObject(fileEntity);
            for (auto it = expected.back().cbegin(); it != expected.back().cend(); ++it)
                ASSERT_TRUE(file->setValueForKey(it.value(), it.key()));
        }
        ASSERT_TRUE(context->save());
    }
    {
        auto coordinator = openStore(path);
        auto context = rootContext(coordinator);
        const QList<ManagedObjectPtr> files = byPk(context);
        ASSERT_EQ(files.size(), records);
        for (int i = 0; i < records; ++i)
            expectValues(files[i], expected[size_t(i)], QStringLiteral("read %1").arg(i));
        // Change one string and one boolean of some records: the others keep their values, and
        // a second context, still reading the cached rows, sees none of it before the save.
        auto other = rootContext(coordinator);
        const QList<ManagedObjectPtr> before = byPk(other);
        for (int i = 0; i < records; i += 3) {
            const QString key = stringKeys[i % stringKeys.size()];
            const QVariant title = QStringLiteral("changed %1").arg(i);
            ASSERT_TRUE(files[i]->setValueForKey(title, key));
            const QVariant flag = !expected[size_t(i)].value(boolKeys[i % boolKeys.size()]).toBool();
            ASSERT_TRUE(files[i]->setValueForKey(flag, boolKeys[i % boolKeys.size()]));
            expectValues(before[i], expected[size_t(i)], QStringLiteral("unsaved %1").arg(i));
            expected[size_t(i)][key] = title;
            expected[size_t(i)][boolKeys[i % boolKeys.size()]] = flag;
            expectValues(files[i], expected[size_t(i)], QStringLiteral("changed %1").arg(i));
        }
        ASSERT_TRUE(context->save());
    }
    auto context = rootContext(openStore(path));
    const QList<ManagedObjectPtr> files = byPk(context);
    ASSERT_EQ(files.size(), records);
    for (int i = 0; i < records; ++i)
        expectValues(files[i], expected[size_t(i)], QStringLiteral("reopened %1").arg(i));
    // Stored filters over the packed booleans pick what the evaluator picks.
    for (const QString& key : boolKeys) {
        for (const QString& format : {QStringLiteral("%1 == YES"), QStringLiteral("%1 == NO"), QStringLiteral("%1 == nil")}) {
            const QString filter = format.arg(key);
            auto predicate = Predicate::format(filter);
            ASSERT_TRUE(predicate);
            const qsizetype matching = std::count_if(files.begin(), files.end(),
                                                     [&](const ManagedObjectPtr& o) { return predicate->evaluate(*o); });
            EXPECT_EQ(count(rootContext(openStore(path)), fileEntity, filter), matching) << qPrintable(filter);
        }
    }
}

TEST(ObjectStoreRowStorage, TextBeyondTheRowsRoomAndCopiesStayIndependent)
{
    const EntityDescription* entity = dbModel()->entity(fileEntity);
    ASSERT_TRUE(entity);
    const int title = entity->attribute(QStringLiteral("title"))->slot;
    const int path = entity->attribute(QStringLiteral("path"))->slot;
    const int trash = entity->attribute(QStringLiteral("isTrash"))->slot;
    const int lost = entity->attribute(QStringLiteral("isLost"))->slot;
    // Room for four bytes, given far more: the row moves its text out and keeps every string.
    auto row = Row::makeSized(entity, 7, 4);
    const QByteArray first = "a title longer than the room";
    row->setFirstStringUtf8(title, first.constData(), first.size());
    row->setFirstStringUtf8(path, "/p", 2);
    row->setNumberBits(trash, 1);
    row->setNumberBits(lost, 0);
    EXPECT_EQ(row->value(title).toString(), QString::fromUtf8(first));
    EXPECT_EQ(row->value(path).toString(), QStringLiteral("/p"));
    EXPECT_EQ(row->value(trash), QVariant(true));
    EXPECT_EQ(row->value(lost), QVariant(false));
    EXPECT_FALSE(row->value(entity->attribute(QStringLiteral("isShare"))->slot).isValid());

    auto fitting = Row::makeSized(entity, 8, 6);
    fitting->setFirstStringUtf8(title, "abc", 3);
    fitting->setFirstStringUtf8(path, "/q", 2);
    fitting->setNumberBits(trash, 1);
    auto copy = std::make_shared<Row>(*fitting);
    for (int slot : {title, path, trash})
        EXPECT_TRUE(copy->sameValue(slot, *fitting));
    copy->setValue(title, QStringLiteral("changed"));
    copy->setValue(trash, QVariant());
    copy->addKey(0, 42);
    EXPECT_EQ(fitting->value(title).toString(), QStringLiteral("abc"));
    EXPECT_EQ(fitting->value(trash), QVariant(true));
    EXPECT_TRUE(fitting->toMany[0].empty());
    EXPECT_EQ(copy->value(path).toString(), QStringLiteral("/q"));
    EXPECT_FALSE(copy->value(trash).isValid());
    EXPECT_FALSE(copy->sameValue(title, *fitting));
}

// Objects are made as the scan meets their rows, with or without objects of the table already
// in the context: a record is one object per context whichever fetch made it first, pending
// inserts of a parent come once, and an object's first change leaves the cached row as it was.
TEST(ObjectStoreRowStorage, FetchedObjectsAreOnePerRecordWhicheverFetchMadeThem)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("identity")) + QStringLiteral("/library.db");
    {
        auto context = rootContext(openStore(path));
        for (int i = 0; i < 40; ++i)
            insert(context, fileEntity, {{QStringLiteral("title"), QStringLiteral("f%1").arg(i)},
                                         {QStringLiteral("isTrash"), i % 4 == 0}});
        ASSERT_TRUE(context->save());
    }
    auto coordinator = openStore(path);
    // First a few by a filter the evaluator answers, then all: the few are the same objects.
    auto some = rootContext(coordinator);
    const QList<ManagedObjectPtr> few = fetch(some, fileEntity, QStringLiteral("title BEGINSWITH 'f1'"));
    ASSERT_EQ(few.size(), 11);
    const QList<ManagedObjectPtr> all = fetch(some, fileEntity);
    ASSERT_EQ(all.size(), 40);
    for (const ManagedObjectPtr& o : few)
        EXPECT_EQ(std::count(all.begin(), all.end(), o), 1);
    // First all by a filter SQLite counts (in a context with no objects yet), then all again.
    auto freshStore = openStore(path);
    auto fresh = rootContext(freshStore);
    const QList<ManagedObjectPtr> kept = fetch(fresh, fileEntity, QStringLiteral("isTrash == NO"));
    ASSERT_EQ(kept.size(), 30);
    const QList<ManagedObjectPtr> again = fetch(fresh, fileEntity);
    ASSERT_EQ(again.size(), 40);
    for (const ManagedObjectPtr& o : kept)
        EXPECT_EQ(std::count(again.begin(), again.end(), o), 1);

    // A child with no objects of its own sees its parent's pending insert once.
    ManagedObjectPtr pending = insert(some, fileEntity, {{QStringLiteral("title"), QStringLiteral("new")}});
    auto child = ManagedObjectContext::create(ConcurrencyType::Confinement, some);
    const QList<ManagedObjectPtr> seen = fetch(child, fileEntity);
    ASSERT_EQ(seen.size(), 41);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [&](const ManagedObjectPtr& o) { return o->objectID() == pending->objectID(); }),
              1);
    // Changing a fetched object copies its row; the other context still reads the stored one.
    ManagedObjectPtr first = again.front();
    ASSERT_TRUE(first->setValueForKey(QStringLiteral("renamed"), QStringLiteral("title")));
    ASSERT_TRUE(first->hasChanges());
    const QList<ManagedObjectPtr> elsewhere = fetch(rootContext(freshStore), fileEntity, QStringLiteral("title == 'renamed'"));
    EXPECT_TRUE(elsewhere.isEmpty());
    ASSERT_TRUE(fresh->save());
    EXPECT_FALSE(first->hasChanges());
    EXPECT_EQ(fetch(rootContext(openStore(path)), fileEntity, QStringLiteral("title == 'renamed'")).size(), 1);
}

// Links another writer left that can name no record (keys of zero, below zero or beyond any
// table's range) are left out as the table is read, from both ends, and saving the document
// afterwards keeps its real links.
TEST(ObjectStoreRowStorage, LinksToKeysNoRecordCanHaveAreLeftOut)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("links")) + QStringLiteral("/library.db");
    qint64 filePk = 0;
    {
        auto context = rootContext(openStore(path));
        ManagedObjectPtr file = insert(context, fileEntity, {{QStringLiteral("title"), QStringLiteral("f")}});
        for (const char* name : {"a", "b"})
            file->addObject(QStringLiteral("tags"), insert(context, QStringLiteral("DBTag"), {{QStringLiteral("name"), QString::fromLatin1(name)}}));
        ASSERT_TRUE(context->save());
        filePk = file->objectID().primaryKey();
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    const QByteArray sql = QStringLiteral("INSERT INTO j_DBFileInfo_tags (src, dst) VALUES (%1, -5), (%1, 0), (%1, 1099511627776),"
                                          " (1099511627776, 1), (-3, 1)").arg(filePk).toUtf8();
    ASSERT_EQ(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    auto tagNames = [](const ManagedObjectPtr& file) {
        QStringList names = titles(file->objects(QStringLiteral("tags")), QStringLiteral("name"));
        names.sort();
        return names;
    };
    auto context = rootContext(openStore(path));
    const QList<ManagedObjectPtr> files = fetch(context, fileEntity);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(tagNames(files.front()), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    for (const ManagedObjectPtr& tag : fetch(context, QStringLiteral("DBTag")))
        EXPECT_EQ(tag->objects(QStringLiteral("fileInfos")).size(), 1);
    ASSERT_TRUE(files.front()->setValueForKey(QStringLiteral("renamed"), QStringLiteral("title")));
    ASSERT_TRUE(context->save());
    auto reopened = rootContext(openStore(path));
    const QList<ManagedObjectPtr> reread = fetch(reopened, fileEntity);
    ASSERT_EQ(reread.size(), 1);
    EXPECT_EQ(tagNames(reread.front()), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}
