// Counts per value of a key path: they must equal one count per value, for attributes, to-one
// and to-many key paths, with unsaved changes at every level of the context chain counted.
#include "Platform/ObjectStore/Predicate/ValueComparison.h"
#include "StoreTestSupport.h"

using namespace platform;
using namespace storetest;

namespace {

Predicate parsed(const QString& format, const QVariantList& args = {})
{
    auto predicate = Predicate::format(format, args);
    EXPECT_TRUE(predicate.has_value()) << qPrintable(format);
    return predicate ? *predicate : Predicate();
}

QList<GroupCount> grouped(const ContextPtr& context, const QString& keyPath, const QString& filter = {})
{
    FetchRequest request(QStringLiteral("DBFileInfo"), filter.isEmpty() ? Predicate() : parsed(filter));
    request.groupByKeyPath = keyPath;
    auto counts = context->groupedCountForFetchRequest(request);
    EXPECT_TRUE(counts.has_value()) << (counts ? "" : qPrintable(counts.error().toString()));
    return counts ? *counts : QList<GroupCount>{};
}

// Every group's count against a plain count of "keyPath == value" (ANY for to-many paths).
void expectEqualsPerValueCounts(const ContextPtr& context, const QString& keyPath, bool toMany, const QString& filter)
{
    const QList<GroupCount> groups = grouped(context, keyPath, filter);
    EXPECT_FALSE(groups.isEmpty());
    for (const GroupCount& group : groups) {
        if (!group.value.isValid())
            continue; // nil has no "ANY" form; the tests check it by hand
        const QString test = (toMany ? QStringLiteral("ANY ") : QString()) + keyPath + QStringLiteral(" == %@");
        const QString format = filter.isEmpty() ? test : QStringLiteral("(%1) && (%2)").arg(filter, test);
        auto n = context->countForFetchRequest(FetchRequest(QStringLiteral("DBFileInfo"), parsed(format, {group.value})));
        ASSERT_TRUE(n.has_value());
        EXPECT_EQ(group.count, *n) << qPrintable(keyPath) << " " << qPrintable(group.value.toString());
    }
}

qsizetype countOf(const QList<GroupCount>& groups, const QVariant& value)
{
    for (const GroupCount& group : groups) {
        if (ValueComparison::equal(group.value, value))
            return group.count;
    }
    return 0;
}

struct TaggedLibrary {
    ContextPtr root;
    ContextPtr child;
    QList<ManagedObjectPtr> tags;
    ManagedObjectPtr folder;

    explicit TaggedLibrary(const QString& path) : root(rootContext(openStore(path)))
    {
        for (const char* name : {"red", "green", "blue", "Red"})
            tags << insert(root, QStringLiteral("DBTag"), {{QStringLiteral("name"), QString::fromLatin1(name)}});
        folder = insert(root, QStringLiteral("DBNode"), {{QStringLiteral("title"), QStringLiteral("Inbox")}});
        const char* extensions[] = {"pdf", "PDF", "txt", nullptr, "pdf", "docx"};
        for (int i = 0; i < 6; ++i) {
            ManagedObjectPtr file = add(root, i, extensions[i]);
            // Document 0 has three tags; document 1 two tags both called red (in any case).
            if (i == 0) {
                for (int t = 0; t < 3; ++t)
                    file->addObject(QStringLiteral("tags"), tags[t]);
            } else if (i == 1) {
                file->addObject(QStringLiteral("tags"), tags[0]);
                file->addObject(QStringLiteral("tags"), tags[3]);
            } else if (i % 2 == 0) {
                file->addObject(QStringLiteral("tags"), tags[1]);
            }
            if (i < 3)
                folder->addObject(QStringLiteral("files"), file);
        }
        EXPECT_TRUE(root->save().has_value());
        child = ManagedObjectContext::create(ConcurrencyType::Confinement, root);
    }

    static ManagedObjectPtr add(const ContextPtr& context, int i, const char* extension)
    {
        QVariantMap values{{QStringLiteral("title"), QStringLiteral("doc %1").arg(i)}, {QStringLiteral("isTrash"), i == 5}};
        if (extension)
            values.insert(QStringLiteral("pathExtension"), QString::fromLatin1(extension));
        return insert(context, QStringLiteral("DBFileInfo"), values);
    }
};

} // namespace

TEST(GroupedCount, EqualsOneCountPerValueForAttributesToOneAndToManyPaths)
{
    TaggedLibrary lib(testsupport::makeTempDir() + QStringLiteral("/library.db"));
    const QString live = QStringLiteral("isTrash == NO");
    const QList<GroupCount> extensions = grouped(lib.child, QStringLiteral("pathExtension"), live);
    // nil first, then the strings in code point order; the trashed docx is not counted.
    ASSERT_EQ(extensions.size(), 4);
    EXPECT_FALSE(extensions[0].value.isValid());
    EXPECT_EQ(extensions[0].count, 1);
    EXPECT_EQ(extensions[1].value.toString(), QStringLiteral("PDF"));
    EXPECT_EQ(extensions[2].value.toString(), QStringLiteral("pdf"));
    EXPECT_EQ(extensions[2].count, 2);
    EXPECT_EQ(extensions[3].value.toString(), QStringLiteral("txt"));

    expectEqualsPerValueCounts(lib.child, QStringLiteral("pathExtension"), false, live);
    expectEqualsPerValueCounts(lib.child, QStringLiteral("node"), false, {});
    expectEqualsPerValueCounts(lib.child, QStringLiteral("tags"), true, {});
    expectEqualsPerValueCounts(lib.child, QStringLiteral("tags.name"), true, live);

    // A document with three tags counts for each of them; one with two tags of one name
    // counts once under that name.
    const QList<GroupCount> byTag = grouped(lib.child, QStringLiteral("tags"));
    for (int t = 0; t < 3; ++t)
        EXPECT_GE(countOf(byTag, QVariant::fromValue(lib.tags[t]->objectID())), 1) << t;
    EXPECT_EQ(countOf(byTag, QVariant::fromValue(lib.tags[0]->objectID())), 2);
    EXPECT_EQ(countOf(byTag, QVariant()), 2); // documents 3 and 5 have no tags
    const QList<GroupCount> byName = grouped(lib.child, QStringLiteral("tags.name"));
    EXPECT_EQ(countOf(byName, QStringLiteral("red")), 2);
    EXPECT_EQ(countOf(byName, QStringLiteral("Red")), 1);
    EXPECT_EQ(countOf(grouped(lib.child, QStringLiteral("node")), QVariant()), 3);
}

TEST(GroupedCount, UnsavedChangesOfTheContextAndItsParentsAreCounted)
{
    TaggedLibrary lib(testsupport::makeTempDir() + QStringLiteral("/library.db"));
    // Pending in the parent: a new pdf, and a txt renamed to pdf.
    TaggedLibrary::add(lib.root, 10, "pdf");
    auto txt = fetch(lib.root, QStringLiteral("DBFileInfo"), QStringLiteral("pathExtension == 'txt'"));
    ASSERT_EQ(txt.size(), 1);
    txt.first()->setValueForKey(QStringLiteral("pdf"), QStringLiteral("pathExtension"));
    // Pending in the child: a deleted pdf, a new tagged txt and a tag moved between documents.
    auto pdfs = fetch(lib.child, QStringLiteral("DBFileInfo"), QStringLiteral("title == 'doc 4'"));
    ASSERT_EQ(pdfs.size(), 1);
    lib.child->deleteObject(pdfs.first());
    ManagedObjectPtr added = TaggedLibrary::add(lib.child, 11, "txt");
    ManagedObjectPtr blue = lib.child->existingObjectWithID(lib.tags[2]->objectID());
    added->addObject(QStringLiteral("tags"), blue);

    for (const ContextPtr& context : {lib.root, lib.child}) {
        expectEqualsPerValueCounts(context, QStringLiteral("pathExtension"), false, QStringLiteral("isTrash == NO"));
        expectEqualsPerValueCounts(context, QStringLiteral("tags"), true, {});
        expectEqualsPerValueCounts(context, QStringLiteral("tags.name"), true, {});
    }
    const QList<GroupCount> inChild = grouped(lib.child, QStringLiteral("pathExtension"));
    EXPECT_EQ(countOf(inChild, QStringLiteral("pdf")), 4 - 1);
    EXPECT_EQ(countOf(inChild, QStringLiteral("txt")), 1);
    EXPECT_EQ(countOf(grouped(lib.root, QStringLiteral("pathExtension")), QStringLiteral("txt")), 0);
    EXPECT_EQ(countOf(grouped(lib.child, QStringLiteral("tags")), QVariant::fromValue(lib.tags[2]->objectID())), 2);
}

TEST(GroupedCount, KeyPathsThatNameNothingFail)
{
    auto context = rootContext(memoryStore());
    for (const QString& keyPath : {QString(), QStringLiteral("colour"), QStringLiteral("tags.colour")}) {
        FetchRequest request(QStringLiteral("DBFileInfo"));
        request.groupByKeyPath = keyPath;
        EXPECT_FALSE(context->groupedCountForFetchRequest(request).has_value()) << qPrintable(keyPath);
    }
    FetchRequest unknown(QStringLiteral("DBNothing"));
    unknown.groupByKeyPath = QStringLiteral("title");
    EXPECT_FALSE(context->groupedCountForFetchRequest(unknown).has_value());
    // An empty store answers no groups.
    FetchRequest empty(QStringLiteral("DBFileInfo"));
    empty.groupByKeyPath = QStringLiteral("pathExtension");
    EXPECT_TRUE(context->groupedCountForFetchRequest(empty)->isEmpty());
}
