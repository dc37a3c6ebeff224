// The program's own queries over a small library: key paths through to-one and to-many
// relationships, @count, nil through a missing to-one, sorting through a relationship, and the
// same predicates evaluated in memory over fetched objects.
#include "StoreTestSupport.h"

#include <QDateTime>

using namespace platform;
using namespace storetest;

namespace {

struct Library {
    ContextPtr context = rootContext(memoryStore());
    ManagedObjectPtr inbox, work, home, alice, bob, recent;
    QList<ManagedObjectPtr> files;

    Library()
    {
        inbox = insert(context, QStringLiteral("DBNode"), {{QStringLiteral("title"), QStringLiteral("Inbox")}, {QStringLiteral("type"), 2},
                                                           {QStringLiteral("sortID"), 2}, {QStringLiteral("nodeID"), QVariant::fromValue(quint64(1) << 63)}});
        insert(context, QStringLiteral("DBNode"), {{QStringLiteral("title"), QStringLiteral("Top")}, {QStringLiteral("type"), 1}, {QStringLiteral("sortID"), 1}});
        work = insert(context, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("Wörk")}});
        home = insert(context, QStringLiteral("DBTag"), {{QStringLiteral("name"), QStringLiteral("home")}, {QStringLiteral("isTrash"), true}});
        alice = insert(context, QStringLiteral("DBAuthor"), {{QStringLiteral("name"), QStringLiteral("Alice")}});
        bob = insert(context, QStringLiteral("DBAuthor"), {{QStringLiteral("name"), QStringLiteral("Bob")}});
        recent = insert(context, QStringLiteral("DBRecent"), {{QStringLiteral("date"), QDateTime::fromMSecsSinceEpoch(1000, Qt::UTC)}});
        insert(context, QStringLiteral("DBRecent"), {{QStringLiteral("date"), QDateTime::fromMSecsSinceEpoch(2000, Qt::UTC)}});
        const char* md5s[] = {"bb", nullptr, "aa", "bb"};
        for (int i = 0; i < 4; ++i) {
            ManagedObjectPtr f = insert(context, QStringLiteral("DBFileInfo"),
                                        {{QStringLiteral("title"), QStringLiteral("Résumé %1").arg(i)},
                                         {QStringLiteral("path"), QStringLiteral("/Index/Sub/f%1.PDF").arg(i)},
                                         {QStringLiteral("pathExtension"), QStringLiteral("pdf")},
                                         {QStringLiteral("isTrash"), i == 3}});
            ManagedObjectPtr m = insert(context, QStringLiteral("DBFileInfoMetadata"),
                                        {{QStringLiteral("label"), i}, {QStringLiteral("fileSize"), qint64(1000) * i}});
            if (md5s[i])
                m->setValueForKey(QString::fromLatin1(md5s[i]), QStringLiteral("md5"));
            if (i == 1)
                m->setValueForKey(QDateTime::fromMSecsSinceEpoch(5000, Qt::UTC), QStringLiteral("dateModified"));
            f->setObject(QStringLiteral("metadata"), m);
            files << f;
        }
        inbox->addObject(QStringLiteral("files"), files[0]);
        inbox->addObject(QStringLiteral("files"), files[1]);
        files[0]->addObject(QStringLiteral("tags"), work);
        files[1]->addObject(QStringLiteral("tags"), work);
        files[1]->addObject(QStringLiteral("tags"), home);
        files[0]->addObject(QStringLiteral("authors"), alice);
        files[3]->addObject(QStringLiteral("authors"), bob);
        files[2]->setObject(QStringLiteral("recent"), recent);
    }

    QStringList query(const QString& entity, const QString& format, const QVariantList& args = {},
                      QList<SortDescriptor> sort = {}, int limit = 0, const QString& key = QStringLiteral("title"))
    {
        return titles(fetch(context, entity, format, args, std::move(sort), limit), key);
    }
};

} // namespace

TEST(ObjectStoreQuery, TheProgramsQueriesBeforeAndAfterSaving)
{
    Library lib;
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "pending" : "saved");
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("isTrash == NO && node == nil")),
                  (QStringList{"Résumé 2"}));
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("isTrash == NO && node == %@"), {asRef(lib.inbox)}),
                  (QStringList{"Résumé 0", "Résumé 1"}));
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("isTrash == NO && tags.@count == 0")),
                  (QStringList{"Résumé 2"}));
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("isTrash == NO && (ANY tags == %@)"),
                            {QVariant::fromValue(lib.home->objectID())}),
                  (QStringList{"Résumé 1"}));
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("(ANY tags.name like[cd] %@) && isTrash == NO"), {QStringLiteral("work")}),
                  (QStringList{"Résumé 0", "Résumé 1"}));
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("isTrash == NO && path BEGINSWITH[cd] %@"), {QStringLiteral("/index/sub/")}),
                  (QStringList{"Résumé 0", "Résumé 1", "Résumé 2"}));
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("(node.nodeID >= 0 || node == nil)")).size(), 4);
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("metadata.label > 0 && isTrash == NO")),
                  (QStringList{"Résumé 1", "Résumé 2"}));
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("metadata.dateModified != nil && isTrash == NO")),
                  QStringList{"Résumé 1"});
        // Sorted through a to-one, descending and stable; nil sorts first ascending.
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), QStringLiteral("metadata.md5 != nil"), {},
                            {SortDescriptor(QStringLiteral("metadata.md5"), false)}),
                  (QStringList{"Résumé 0", "Résumé 3", "Résumé 2"}));
        EXPECT_EQ(lib.query(QStringLiteral("DBFileInfo"), {}, {}, {SortDescriptor(QStringLiteral("metadata.md5"))}).value(0),
                  QStringLiteral("Résumé 1"));
        EXPECT_EQ(lib.query(QStringLiteral("DBAuthor"), QStringLiteral("fileInfos.@count > 0 && (ANY fileInfos.isTrash == NO)"), {},
                            {SortDescriptor(QStringLiteral("name"))}, 0, QStringLiteral("name")),
                  QStringList{"Alice"});
        EXPECT_EQ(lib.query(QStringLiteral("DBRecent"), QStringLiteral("fileInfos.@count > 0"), {},
                            {SortDescriptor(QStringLiteral("date"), false)}, 50).size(), 1);
        EXPECT_EQ(lib.query(QStringLiteral("DBNode"), QStringLiteral("parent == nil && (type == %d || type == %d) && isTrash == NO"), {1, 2},
                            {SortDescriptor(QStringLiteral("sortID"))}),
                  (QStringList{"Top", "Inbox"}));
        EXPECT_EQ(lib.query(QStringLiteral("DBTag"), QStringLiteral("isTrash == NO && name like[cd] %@"), {QStringLiteral("WORK")}, {}, 0,
                            QStringLiteral("name")),
                  QStringList{"Wörk"});
        ASSERT_TRUE(lib.context->save());
    }
}

TEST(ObjectStoreQuery, PredicatesEvaluateOverFetchedObjectsInMemory)
{
    Library lib;
    ASSERT_TRUE(lib.context->save());
    auto isTrashNo = *Predicate::format(QStringLiteral("isTrash == NO"));
    QStringList liveTags;
    for (const ManagedObjectPtr& tag : lib.files[1]->objects(QStringLiteral("tags"))) {
        if (isTrashNo.evaluate(*tag))
            liveTags << tag->valueForKey(QStringLiteral("name")).toString();
    }
    EXPECT_EQ(liveTags, QStringList{"Wörk"});
    auto inInbox = *Predicate::format(QStringLiteral("node == %@ && ANY tags == %@ && metadata.label == %@"),
                                      {asRef(lib.inbox), QVariant::fromValue(lib.work->objectID()), 1});
    EXPECT_FALSE(inInbox.evaluate(*lib.files[0]));
    EXPECT_TRUE(inInbox.evaluate(*lib.files[1]));
    EXPECT_EQ(lib.files[1]->valueForKeyPath(QStringLiteral("node.title")).toString(), QStringLiteral("Inbox"));
    EXPECT_EQ(lib.files[2]->valueForKeyPath(QStringLiteral("node.title")), QVariant()) << "nil through a missing to-one";
    EXPECT_EQ(lib.files[1]->valueForKeyPath(QStringLiteral("tags.@count")).toLongLong(), 2);
    EXPECT_EQ(lib.files[1]->objectIDs(QStringLiteral("tags")).size(), 2);
    EXPECT_EQ(ManagedObject::fromRef(lib.files[1]->valueForKey(QStringLiteral("node"))), lib.inbox);
}
