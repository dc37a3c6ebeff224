// Key path walking through to-one and to-many relationships, and sort descriptor ordering.
#include "FakeObjects.h"

#include "Platform/ObjectStore/Predicate/SortDescriptor.h"
#include "Platform/ObjectStore/Predicate/ValueComparison.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace platform;
using namespace predicatetest;

namespace {

TEST(KeyPaths, WalkToOneAndFlattenToMany)
{
    const QVariant a = object({{"name", "a"}, {"labels", QVariantList{1, 2}}});
    const QVariant b = object({{"name", "b"}, {"labels", QVariantList{}}});
    const ObjectRef doc = makeObject({{"metadata", object({{"comment", "c"}})},
                                      {"tags", QVariantList{a, b}},
                                      {"node", QVariant()}});
    EXPECT_EQ(doc->valueForKeyPath("metadata.comment"), QVariant("c"));
    EXPECT_EQ(doc->valueForKeyPath("tags.name"), QVariant(QVariantList{"a", "b"}));
    EXPECT_EQ(doc->valueForKeyPath("tags.labels"), QVariant(QVariantList{1, 2}));
    EXPECT_EQ(doc->valueForKeyPath("tags.@count"), QVariant(qint64(2)));
    EXPECT_EQ(doc->valueForKeyPath("tags.labels.@count"), QVariant(qint64(2)));
    EXPECT_EQ(doc->valueForKeyPath("absent.@count"), QVariant(qint64(0)));
    EXPECT_FALSE(doc->valueForKeyPath("node.nodeID").isValid());
    EXPECT_FALSE(doc->valueForKeyPath("@count").isValid());
    EXPECT_FALSE(doc->valueForKeyPath("metadata.comment.length").isValid());
    const QVariantHash hash{{"k", 3}};
    EXPECT_EQ(kvc::valueForKeyPath(QVariant(hash), {"k"}), QVariant(3));
}

QList<ObjectRef> objectsWithKeys(const QVariantList& keys)
{
    QList<ObjectRef> objects;
    for (qsizetype i = 0; i < keys.size(); ++i)
        objects.append(makeObject({{"key", keys[i]}, {"index", int(i)}}));
    return objects;
}

QVariantList column(const QList<ObjectRef>& objects, const QString& key)
{
    QVariantList values;
    for (const ObjectRef& o : objects)
        values.append(o->valueForKey(key));
    return values;
}

TEST(SortDescriptors, NilFirstThenNumbersStringsDates)
{
    const QDateTime day(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);
    QList<ObjectRef> objects = objectsWithKeys({"b", QVariant::fromValue(18446744073709551615ull), day, QVariant(),
                                                qint64(-1), 2.5, "a", day.addSecs(-1), false});
    SortDescriptor::sort(objects, {SortDescriptor("key")});
    EXPECT_EQ(column(objects, "index"), (QVariantList{3, 4, 8, 5, 1, 6, 0, 7, 2}));

    SortDescriptor::sort(objects, {SortDescriptor("key", false)});
    EXPECT_EQ(column(objects, "index"), (QVariantList{2, 7, 0, 6, 1, 5, 8, 4, 3}));
}

TEST(SortDescriptors, StringsByCodePoint)
{
    // U+FFFD sorts before U+1F600 by code point, after it by UTF-16 unit.
    QList<ObjectRef> objects = objectsWithKeys({"\U0001F600", "\uFFFD", "\u00e9", "a", "Z", "ab", ""});
    SortDescriptor::sort(objects, {SortDescriptor("key")});
    EXPECT_EQ(column(objects, "index"), (QVariantList{6, 4, 3, 5, 2, 1, 0}));
    EXPECT_LT(ValueComparison::compareCodePoints(u"\uFFFD", u"\U0001F600"), 0);
    EXPECT_GT(ValueComparison::compareCodePoints(u"\U0001F601", u"\U0001F600"), 0);
}

TEST(SortDescriptors, StableInBothDirectionsAndThroughToOne)
{
    // Equal keys keep their given order whether ascending or descending.
    QList<ObjectRef> objects;
    const QStringList md5s{"x", "", "y", "x", "", "y", "x"};
    for (qsizetype i = 0; i < md5s.size(); ++i) {
        const QVariant md5 = md5s[i].isEmpty() ? QVariant() : QVariant(md5s[i]);
        objects.append(makeObject({{"metadata", object({{"md5", md5}})}, {"index", int(i)}}));
    }
    QList<ObjectRef> descending = objects;
    SortDescriptor::sort(descending, {SortDescriptor("metadata.md5", false)});
    EXPECT_EQ(column(descending, "index"), (QVariantList{2, 5, 0, 3, 6, 1, 4}));
    SortDescriptor::sort(objects, {SortDescriptor("metadata.md5")});
    EXPECT_EQ(column(objects, "index"), (QVariantList{1, 4, 0, 3, 6, 2, 5}));

    QList<ObjectRef> twoKeys = objectsWithKeys({1, 2, 1, 2});
    SortDescriptor::sort(twoKeys, {SortDescriptor("key"), SortDescriptor("index", false)});
    EXPECT_EQ(column(twoKeys, "index"), (QVariantList{2, 0, 3, 1}));

    const SortDescriptor byKey("key");
    EXPECT_LT(byKey.compare(*twoKeys[0], *twoKeys[2]), 0);
    EXPECT_EQ(byKey.compare(*twoKeys[0], *twoKeys[1]), 0);
}

} // namespace
