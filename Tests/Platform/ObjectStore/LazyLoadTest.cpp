// Tables read on first use: whatever order a library's tables are first touched in (fetches,
// key paths, saves, delete rules, merges, several threads at once), every record shows all
// of its links, and saves into tables not read yet are neither lost nor overwriting.
#include "StoreTestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <map>
#include <sqlite3.h>
#include <thread>

using namespace platform;
using namespace storetest;

namespace {

const QString fileEntity = QStringLiteral("DBFileInfo");
const QString tagEntity = QStringLiteral("DBTag");
const QString nodeEntity = QStringLiteral("DBNode");
const QString metadataEntity = QStringLiteral("DBFileInfoMetadata");

void runSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

// files documents "f<i>": tag "t<i % 7>" (and "t0" too for every third), folder "n<i % 3>"
// except every fifth document, which is in no folder and has a comment.
QString buildLibrary(int files)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("lazy")) + QStringLiteral("/library.db");
    auto coordinator = openStore(path);
    auto context = rootContext(coordinator);
    QList<ManagedObjectPtr> tags, nodes;
    for (int t = 0; t < 7; ++t)
        tags << insert(context, tagEntity, {{QStringLiteral("name"), QStringLiteral("t%1").arg(t)}});
    for (int n = 0; n < 3; ++n)
        nodes << insert(context, nodeEntity, {{QStringLiteral("title"), QStringLiteral("n%1").arg(n)}});
    for (int i = 0; i < files; ++i) {
        ManagedObjectPtr file = context->insertNewObject(fileEntity);
        file->setValueForKey(QStringLiteral("f%1").arg(i), QStringLiteral("title"));
        file->addObject(QStringLiteral("tags"), tags[i % 7]);
        if (i % 3 == 0)
            file->addObject(QStringLiteral("tags"), tags[0]);
        ManagedObjectPtr meta = context->insertNewObject(metadataEntity);
        if (i % 5 == 0)
            meta->setValueForKey(QStringLiteral("c%1").arg(i), QStringLiteral("comment"));
        else
            file->setObject(QStringLiteral("node"), nodes[i % 3]);
        file->setObject(QStringLiteral("metadata"), meta);
    }
    EXPECT_TRUE(context->save());
    return path;
}

// Every link of the library, read from both ends, in a form that compares whole.
std::map<QString, QString> graph(const ContextPtr& context)
{
    std::map<QString, QString> out;
    auto names = [](const QList<ManagedObjectPtr>& objects, const QString& key) {
        QStringList list = titles(objects, key);
        list.sort();
        return list.join(QLatin1Char(','));
    };
    for (const ManagedObjectPtr& f : fetch(context, fileEntity)) {
        ManagedObjectPtr node = f->object(QStringLiteral("node"));
        out[QStringLiteral("file ") + f->valueForKey(QStringLiteral("title")).toString()] =
            QStringLiteral("%1|%2|%3")
                .arg(node ? node->valueForKey(QStringLiteral("title")).toString() : QStringLiteral("-"),
                     names(f->objects(QStringLiteral("tags")), QStringLiteral("name")),
                     f->valueForKeyPath(QStringLiteral("metadata.comment")).toString());
    }
    for (const ManagedObjectPtr& t : fetch(context, tagEntity))
        out[QStringLiteral("tag ") + t->valueForKey(QStringLiteral("name")).toString()] =
            QString::number(t->objects(QStringLiteral("fileInfos")).size());
    for (const ManagedObjectPtr& n : fetch(context, nodeEntity))
        out[QStringLiteral("node ") + n->valueForKey(QStringLiteral("title")).toString()] =
            QString::number(n->objects(QStringLiteral("files")).size());
    return out;
}

} // namespace

TEST(ObjectStoreLazyLoad, EveryOrderOfFirstUseSeesTheSameLinks)
{
    // More documents than one read range holds, so tables are read in parallel pieces.
    constexpr int files = 17000;
    const QString path = buildLibrary(files);
    auto reference = graph(rootContext(openStore(path)));
    ASSERT_EQ(reference.size(), size_t(files + 7 + 3));
    EXPECT_EQ(reference[QStringLiteral("file f15")], QStringLiteral("-|t0,t1|c15"));
    EXPECT_EQ(reference[QStringLiteral("file f16")], QStringLiteral("n1|t2|"));
    int withT0 = 0, withT3 = 0;
    for (int i = 0; i < files; ++i) {
        withT0 += i % 7 == 0 || i % 3 == 0;
        withT3 += i % 7 == 3;
    }
    EXPECT_EQ(reference[QStringLiteral("tag t0")], QString::number(withT0));

    // Each order reads the to-many sides from different places: join tables from either end,
    // to-one columns from memory or from the file.
    const QList<QStringList> orders{{fileEntity, tagEntity, nodeEntity},
                                    {tagEntity, nodeEntity, fileEntity},
                                    {nodeEntity, metadataEntity, fileEntity},
                                    {metadataEntity, tagEntity, fileEntity}};
    for (const QStringList& order : orders) {
        auto context = rootContext(openStore(path));
        for (const QString& entity : order)
            EXPECT_GT(count(context, entity), 0) << qPrintable(entity);
        EXPECT_EQ(graph(context), reference) << qPrintable(order.join(QLatin1Char(',')));
    }

    // Key paths and the planner cross into tables nobody has read yet.
    auto context = rootContext(openStore(path));
    EXPECT_EQ(count(context, fileEntity, QStringLiteral("ANY tags.name == 't3'")), withT3);
    EXPECT_EQ(count(context, fileEntity, QStringLiteral("metadata.comment == 'c35'")), 1);
    EXPECT_EQ(count(context, fileEntity, QStringLiteral("node == nil")), files / 5);
    EXPECT_EQ(titles(fetch(context, fileEntity, QStringLiteral("title == 'f7'"))).value(0), QStringLiteral("f7"));
    ManagedObjectPtr n1 = fetch(context, nodeEntity, QStringLiteral("title == 'n1'")).value(0);
    ASSERT_TRUE(n1);
    EXPECT_EQ(count(context, fileEntity, QStringLiteral("isTrash == NO && node == %@"), {asRef(n1)}),
              qsizetype(n1->objects(QStringLiteral("files")).size()));
}

TEST(ObjectStoreLazyLoad, SavesAndDeleteRulesReachTablesNotReadYet)
{
    const QString path = buildLibrary(30);
    {
        // Only new records: nothing needs reading, and the tables read them later.
        auto coordinator = openStore(path);
        auto context = rootContext(coordinator);
        ManagedObjectPtr tag = insert(context, tagEntity, {{QStringLiteral("name"), QStringLiteral("new")}});
        ManagedObjectPtr node = insert(context, nodeEntity, {{QStringLiteral("title"), QStringLiteral("folder")}});
        ManagedObjectPtr file = insert(context, fileEntity, {{QStringLiteral("title"), QStringLiteral("g")}});
        ASSERT_TRUE(file->addObject(QStringLiteral("tags"), tag));
        ASSERT_TRUE(file->setObject(QStringLiteral("node"), node));
        ASSERT_TRUE(context->save());
        auto reader = rootContext(coordinator);
        EXPECT_EQ(titles(fetch(reader, tagEntity, QStringLiteral("name == 'new'")).value(0)->objects(QStringLiteral("fileInfos"))),
                  QStringList{QStringLiteral("g")});
        EXPECT_EQ(titles(fetch(reader, nodeEntity, QStringLiteral("title == 'folder'")).value(0)->objects(QStringLiteral("files"))),
                  QStringList{QStringLiteral("g")});
        EXPECT_EQ(count(reader, fileEntity), 31);
        // The saving context goes on editing what it saved, now that the tables are read: its
        // records are the stored ones, so there is nothing to conflict with.
        ASSERT_TRUE(tag->setValueForKey(QStringLiteral("newer"), QStringLiteral("name")));
        ASSERT_TRUE(file->removeObject(QStringLiteral("tags"), tag));
        ASSERT_TRUE(node->setValueForKey(true, QStringLiteral("expand")));
        auto again = context->save();
        EXPECT_TRUE(again) << qPrintable(again ? QString() : again.error().message);
        EXPECT_EQ(count(rootContext(coordinator), fileEntity, QStringLiteral("tags.@count == 0 && node.expand == YES")), 1);
    }
    QString f10;
    {
        // A folder deleted before its documents were ever read: they stay, in no folder.
        auto coordinator = openStore(path);
        auto context = rootContext(coordinator);
        ManagedObjectPtr n1 = fetch(context, nodeEntity, QStringLiteral("title == 'n1'")).value(0);
        ASSERT_TRUE(n1);
        context->deleteObject(n1);
        ASSERT_TRUE(context->save());
        EXPECT_EQ(count(rootContext(coordinator), fileEntity, QStringLiteral("node == nil")), 6 + 8);
        f10 = fetch(context, fileEntity, QStringLiteral("title == 'f10'")).value(0)->objectID().URIRepresentation();
    }
    {
        // A document reached by its URI alone: its metadata cascades and its tags forget it.
        auto coordinator = openStore(path);
        auto context = rootContext(coordinator);
        ManagedObjectPtr doc = context->existingObjectWithID(coordinator->managedObjectIDForURIRepresentation(f10));
        ASSERT_TRUE(doc);
        context->deleteObject(doc);
        ASSERT_TRUE(context->save());
        auto reader = rootContext(coordinator);
        EXPECT_EQ(count(reader, metadataEntity), 29);
        EXPECT_EQ(count(reader, metadataEntity, QStringLiteral("comment == 'c10'")), 0);
        EXPECT_EQ(count(reader, tagEntity, QStringLiteral("ANY fileInfos.title == 'f10'")), 0);
    }
    auto reopened = rootContext(openStore(path));
    EXPECT_EQ(count(reopened, fileEntity), 30);
    EXPECT_EQ(count(reopened, fileEntity, QStringLiteral("node.title == 'n1'")), 0);
    EXPECT_EQ(count(reopened, metadataEntity), 29);
    EXPECT_EQ(fetch(reopened, tagEntity, QStringLiteral("name == 't3'")).value(0)->objects(QStringLiteral("fileInfos")).size(), 3);
}

TEST(ObjectStoreLazyLoad, MergesIntoAContextWhoseTablesAreNotReadYet)
{
    const QString path = buildLibrary(14);
    auto coordinator = openStore(path);
    auto main = rootContext(coordinator);
    ManagedObjectPtr pending = insert(main, tagEntity, {{QStringLiteral("name"), QStringLiteral("mine")}});
    ManagedObjectPtr f1 = fetch(main, fileEntity, QStringLiteral("title == 'f1'")).value(0);
    ASSERT_TRUE(f1);

    // Another context adds a document with a new tag and renames a tag main has never read.
    auto worker = rootContext(coordinator);
    ObserverToken token = worker->addDidSaveObserver(
        [&](const SaveNotification& note) { main->mergeChangesFromContextDidSaveNotification(note); });
    ManagedObjectPtr theirs = insert(worker, tagEntity, {{QStringLiteral("name"), QStringLiteral("theirs")}});
    ManagedObjectPtr doc = insert(worker, fileEntity, {{QStringLiteral("title"), QStringLiteral("w")}});
    ASSERT_TRUE(doc->addObject(QStringLiteral("tags"), theirs));
    ASSERT_TRUE(worker->save());
    ManagedObjectPtr t1 = fetch(worker, tagEntity, QStringLiteral("name == 't1'")).value(0);
    ASSERT_TRUE(t1);
    t1->setValueForKey(QStringLiteral("renamed"), QStringLiteral("name"));
    ASSERT_TRUE(worker->save());

    EXPECT_EQ(f1->valueForKeyPath(QStringLiteral("tags.name")).toStringList(), QStringList{QStringLiteral("renamed")});
    QStringList names = titles(fetch(main, tagEntity), QStringLiteral("name"));
    names.sort();
    EXPECT_EQ(names, (QStringList{"mine", "renamed", "t0", "t2", "t3", "t4", "t5", "t6", "theirs"}));
    EXPECT_TRUE(pending->isInserted()) << "the merge kept the unsaved tag";
    ASSERT_TRUE(main->save());
    auto reader = rootContext(openStore(path));
    EXPECT_EQ(count(reader, fileEntity, QStringLiteral("ANY tags.name == 'theirs'")), 1);
    EXPECT_EQ(count(reader, tagEntity, QStringLiteral("name == 'mine'")), 1);
}

TEST(ObjectStoreLazyLoad, ThreadsReadingTheSameTablesFirstAgree)
{
    const QString path = buildLibrary(9000);
    const auto reference = graph(rootContext(openStore(path)));
    for (int round = 0; round < 6; ++round) {
        auto coordinator = openStore(path);
        std::map<QString, QString> seen[2];
        qsizetype counted[2] = {0, 0};
        // Both threads want the documents, their tags and folders first, in opposite orders;
        // a third saves meanwhile, so reads and a commit meet too.
        std::thread readers[2];
        for (int r = 0; r < 2; ++r) {
            readers[r] = std::thread([&, r] {
                auto context = rootContext(coordinator);
                counted[r] = r == 0 ? count(context, fileEntity, QStringLiteral("ANY tags.name BEGINSWITH 't'"))
                                    : count(context, tagEntity, QStringLiteral("ANY fileInfos.title BEGINSWITH 'f1'"));
                seen[r] = graph(context);
            });
        }
        std::thread writer([&] {
            auto context = rootContext(coordinator);
            insert(context, tagEntity, {{QStringLiteral("name"), QStringLiteral("w%1").arg(round)}});
            EXPECT_TRUE(context->save());
        });
        for (std::thread& t : readers)
            t.join();
        writer.join();
        EXPECT_EQ(counted[0], 9000);
        EXPECT_EQ(counted[1], 7);
        for (auto& s : seen) {
            // The writer's tag may or may not have been saved before a reader looked.
            std::erase_if(s, [](const auto& entry) { return entry.first.startsWith(QStringLiteral("tag w")); });
            EXPECT_EQ(s, reference);
        }
    }
}

TEST(ObjectStoreLazyLoad, StoredFiltersAnswerAsTheEvaluatorDoes)
{
    auto coordinator = memoryStore();
    auto context = rootContext(coordinator);
    const QVariantList rates{QVariant(), -3, 0, 2, 5};
    for (const QVariant& rate : rates) {
        ManagedObjectPtr meta = insert(context, metadataEntity);
        ASSERT_TRUE(meta->setValueForKey(rate, QStringLiteral("rate")));
        ManagedObjectPtr file = insert(context, fileEntity);
        ASSERT_TRUE(file->setValueForKey(rate.isValid() ? QVariant(rate.toInt() > 0) : QVariant(), QStringLiteral("isTrash")));
    }
    ASSERT_TRUE(context->save());
    const QList<std::pair<QString, QVariantList>> cases{
        {QStringLiteral("rate == 2"), {}},         {QStringLiteral("rate != 2"), {}},
        {QStringLiteral("rate == nil"), {}},       {QStringLiteral("rate != nil"), {}},
        {QStringLiteral("rate > -5"), {}},         {QStringLiteral("rate < 0"), {}},
        {QStringLiteral("rate <= 0"), {}},         {QStringLiteral("rate >= 2 && rate < 5"), {}},
        {QStringLiteral("rate == YES"), {}},       {QStringLiteral("rate == %@"), {quint64(1) << 63}},
        {QStringLiteral("rate == %@"), {2.0}},     {QStringLiteral("rate == %@"), {QStringLiteral("2")}},
        {QStringLiteral("isTrash == NO"), {}},     {QStringLiteral("isTrash != YES"), {}},
        {QStringLiteral("isTrash == 1"), {}},      {QStringLiteral("isTrash == nil"), {}},
    };
    for (const auto& [format, args] : cases) {
        const QString entity = format.startsWith(QStringLiteral("rate")) ? metadataEntity : fileEntity;
        auto predicate = Predicate::format(format, args);
        ASSERT_TRUE(predicate) << qPrintable(format);
        const QList<ManagedObjectPtr> all = fetch(rootContext(coordinator), entity);
        const qsizetype expected = std::count_if(all.begin(), all.end(), [&](const ManagedObjectPtr& o) {
            return predicate->evaluate(*o);
        });
        EXPECT_EQ(count(rootContext(coordinator), entity, format, args), expected) << qPrintable(format);
    }
}

TEST(ObjectStoreLazyLoad, NewRecordsNeverOverwriteAndUnreadableTablesAreErrors)
{
    const QString path = buildLibrary(3);
    auto coordinator = openStore(path);
    // Another program adds a tag under the key this store hands out next.
    runSql(path, "INSERT INTO t_DBTag (pk, ent, a_name) VALUES ((SELECT max(pk) FROM t_DBTag) + 1, 0, 'outsider')");
    auto context = rootContext(coordinator);
    insert(context, tagEntity, {{QStringLiteral("name"), QStringLiteral("mine")}});
    EXPECT_FALSE(context->save());
    EXPECT_TRUE(context->hasChanges());
    EXPECT_EQ(count(rootContext(openStore(path)), tagEntity, QStringLiteral("name == 'outsider'")), 1);

    runSql(path, "DROP TABLE t_DBAuthor");
    auto reader = rootContext(coordinator);
    auto authors = reader->executeFetchRequest(FetchRequest(QStringLiteral("DBAuthor")));
    ASSERT_FALSE(authors) << "a table that cannot be read is an error, not an empty result";
    EXPECT_EQ(authors.error().code, SqliteStore::NotAStoreError);
    EXPECT_EQ(count(reader, tagEntity), 8);
}

TEST(ObjectStoreLazyLoad, TemporaryURIsAreMadeOnceAndSharedByEveryCopy)
{
    auto context = rootContext(memoryStore());
    ManagedObjectPtr a = insert(context, nodeEntity);
    ManagedObjectPtr b = insert(context, nodeEntity);
    const ObjectID copy = a->objectID();
    QString seen[2];
    std::thread other([&] { seen[0] = copy.URIRepresentation(); });
    seen[1] = a->objectID().URIRepresentation();
    other.join();
    EXPECT_EQ(seen[0], seen[1]);
    static const QRegularExpression form(QStringLiteral("^x-folivo-store:///DBNode/t[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"));
    EXPECT_TRUE(form.match(seen[0]).hasMatch()) << qPrintable(seen[0]);
    EXPECT_NE(b->objectID().URIRepresentation(), seen[0]);
    EXPECT_EQ(a->objectID().URIRepresentation(), seen[0]);
}

TEST(ObjectStoreLazyLoad, ARelationshipThatIsItsOwnInverseReadsFromBothEnds)
{
    const QVariantMap friends{{QStringLiteral("name"), QStringLiteral("friends")},
                              {QStringLiteral("destination"), QStringLiteral("Person")},
                              {QStringLiteral("inverse"), QStringLiteral("friends")},
                              {QStringLiteral("toMany"), true},
                              {QStringLiteral("deleteRule"), QStringLiteral("nullify")}};
    const QVariantMap person{{QStringLiteral("name"), QStringLiteral("Person")},
                             {QStringLiteral("attributes"),
                              QVariantList{QVariantMap{{QStringLiteral("name"), QStringLiteral("name")},
                                                       {QStringLiteral("type"), QStringLiteral("string")}}}},
                             {QStringLiteral("relationships"), QVariantList{friends}}};
    auto model = ManagedObjectModel::fromPropertyList(QVariantMap{{QStringLiteral("name"), QStringLiteral("People")},
                                                                  {QStringLiteral("versionName"), QStringLiteral("People 1")},
                                                                  {QStringLiteral("entities"), QVariantList{person}}});
    ASSERT_TRUE(model) << qPrintable(model.error().message);
    const QString path = testsupport::makeTempDir(QStringLiteral("people")) + QStringLiteral("/people.db");
    {
        auto context = rootContext(openStore(path, *model));
        ManagedObjectPtr a = insert(context, QStringLiteral("Person"), {{QStringLiteral("name"), QStringLiteral("a")}});
        ManagedObjectPtr b = insert(context, QStringLiteral("Person"), {{QStringLiteral("name"), QStringLiteral("b")}});
        ManagedObjectPtr c = insert(context, QStringLiteral("Person"), {{QStringLiteral("name"), QStringLiteral("c")}});
        ASSERT_TRUE(a->addObject(QStringLiteral("friends"), b));
        ASSERT_TRUE(context->save());
        ASSERT_TRUE(c->addObject(QStringLiteral("friends"), a));
        ASSERT_TRUE(context->save());
    }
    auto context = rootContext(openStore(path, *model));
    for (const ManagedObjectPtr& p : fetch(context, QStringLiteral("Person"))) {
        QStringList names = titles(p->objects(QStringLiteral("friends")), QStringLiteral("name"));
        names.sort();
        const QString name = p->valueForKey(QStringLiteral("name")).toString();
        EXPECT_EQ(names.join(QLatin1Char(',')), name == QStringLiteral("a") ? QStringLiteral("b,c") : QStringLiteral("a")) << qPrintable(name);
    }
}
