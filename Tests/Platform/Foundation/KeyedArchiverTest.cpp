#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/PropertyList.h"

#include "PlistBytes.h"

#include <QPoint>
#include <gtest/gtest.h>
#include <algorithm>
#include <limits>

using platform::KeyedArchiver;
using platform::KeyedUnarchiver;
using platform::PlistFormat;
using platform::PlistUID;
using platform::PropertyList;

namespace {

QVariant uid(quint64 v) { return QVariant::fromValue(PlistUID{v}); }

QVariantMap classEntry(const QString& name)
{
    return {{QStringLiteral("$classname"), name},
            {QStringLiteral("$classes"), QStringList{name, QStringLiteral("NSObject")}}};
}

// A hand-made archive around the given objects (index 0 must be "$null").
QByteArray archiveOf(const QVariantList& objects, quint64 root = 1,
                     PlistFormat format = PlistFormat::Binary)
{
    const QVariantMap top{{QStringLiteral("$archiver"), QStringLiteral("NSKeyedArchiver")},
                          {QStringLiteral("$version"), 100000},
                          {QStringLiteral("$top"), QVariantMap{{QStringLiteral("root"), uid(root)}}},
                          {QStringLiteral("$objects"), objects}};
    return *PropertyList::write(top, format);
}

int errorCode(const QByteArray& archive)
{
    auto r = KeyedUnarchiver::unarchiveObject(archive);
    EXPECT_FALSE(r);
    return r ? 0 : r.error().code;
}

const QVariantMap& smartFolderRules()
{
    static const QVariantMap rules{
        {QStringLiteral("Operation"), true},
        {QStringLiteral("SmartData"),
         QVariantList{QVariantMap{{QStringLiteral("Left"), QStringLiteral("Tags")},
                                  {QStringLiteral("Center"), qint64(3)},
                                  {QStringLiteral("Right"), QStringLiteral("Tags")},
                                  {QStringLiteral("Title"), QStringLiteral("Büro")}},
                      QVariantMap{{QStringLiteral("Left"), QStringLiteral("Rating")},
                                  {QStringLiteral("Center"), 2.5},
                                  {QStringLiteral("Right"), QVariantList{}},
                                  {QStringLiteral("Title"), QString()}}}},
    };
    return rules;
}

} // namespace

TEST(KeyedArchiver, RoundTripsNestedValuesWithTheirTypes)
{
    const QDateTime date(QDate(2023, 11, 5), QTime(14, 30, 15, 250), Qt::UTC);
    const QVariantMap value{
        {QStringLiteral("rules"), smartFolderRules()},
        {QStringLiteral("Size"), std::numeric_limits<qint64>::max()},
        {QStringLiteral("unsigned"), std::numeric_limits<quint64>::max()},
        {QStringLiteral("negative"), qint64(-2)},
        {QStringLiteral("IsFolder"), false},
        {QStringLiteral("when"), date},
        {QStringLiteral("blob"), QByteArray("\0\1\2", 3)},
        {QStringLiteral("list"), QVariantList{QVariant(), QStringLiteral("Tags"), QVariantMap{}}},
    };
    auto data = KeyedArchiver::archivedData(value);
    ASSERT_TRUE(data) << data.error().toString().toStdString();
    EXPECT_TRUE(data->startsWith("bplist00"));
    auto back = KeyedUnarchiver::unarchiveObject(*data);
    ASSERT_TRUE(back) << back.error().toString().toStdString();
    EXPECT_EQ(*back, QVariant(value));
    EXPECT_EQ(back->toMap().value(QStringLiteral("unsigned")).metaType().id(), QMetaType::ULongLong);
    EXPECT_EQ(back->toMap().value(QStringLiteral("when")).toDateTime(), date);

    for (const QVariant& root : {QVariant(QStringLiteral("just text")), QVariant(qint64(0)),
                                 QVariant(), QVariant(QVariantList{})}) {
        auto again = KeyedUnarchiver::unarchiveObject(*KeyedArchiver::archivedData(root));
        ASSERT_TRUE(again);
        EXPECT_EQ(*again, root);
    }
}

TEST(KeyedArchiver, WritesTheLayoutPeersExpect)
{
    auto data = KeyedArchiver::archivedData(smartFolderRules());
    ASSERT_TRUE(data);
    const QVariantMap archive = PropertyList::read(*data)->toMap();
    EXPECT_EQ(archive.value(QStringLiteral("$archiver")), QVariant(QStringLiteral("NSKeyedArchiver")));
    EXPECT_EQ(archive.value(QStringLiteral("$version")), QVariant(qint64(100000)));
    const QVariant root = archive.value(QStringLiteral("$top")).toMap().value(QStringLiteral("root"));
    ASSERT_EQ(root.metaType().id(), qMetaTypeId<PlistUID>());
    const QVariantList objects = archive.value(QStringLiteral("$objects")).toList();
    ASSERT_FALSE(objects.isEmpty());
    EXPECT_EQ(objects.at(0), QVariant(QStringLiteral("$null")));

    const QVariantMap rootObject = objects.at(qsizetype(root.value<PlistUID>().value)).toMap();
    const QVariantMap cls =
        objects.at(qsizetype(rootObject.value(QStringLiteral("$class")).value<PlistUID>().value)).toMap();
    EXPECT_EQ(cls.value(QStringLiteral("$classname")), QVariant(QStringLiteral("NSDictionary")));
    EXPECT_EQ(cls.value(QStringLiteral("$classes")).toStringList(),
              (QStringList{QStringLiteral("NSDictionary"), QStringLiteral("NSObject")}));
    EXPECT_EQ(rootObject.value(QStringLiteral("NS.keys")).toList().size(), 2);
    // Booleans and numbers stand in "$objects" as themselves; each text is stored once.
    EXPECT_TRUE(objects.contains(QVariant(true)));
    EXPECT_EQ(objects.count(QVariant(QStringLiteral("Tags"))), 1);
    EXPECT_EQ(std::count_if(objects.cbegin(), objects.cend(),
                            [](const QVariant& o) {
                                return o.toMap().value(QStringLiteral("$classname"))
                                    == QStringLiteral("NSArray");
                            }),
              1)
        << "one class entry, shared by both arrays";
}

TEST(KeyedArchiver, ReadsMutableClassesAndXmlArchivesFromOtherWriters)
{
    const QVariantList objects{
        QStringLiteral("$null"),
        QVariantMap{{QStringLiteral("$class"), uid(2)},
                    {QStringLiteral("NS.keys"), QVariantList{uid(3), uid(4), uid(5), uid(6)}},
                    {QStringLiteral("NS.objects"), QVariantList{uid(7), uid(9), uid(11), uid(13)}}},
        classEntry(QStringLiteral("NSMutableDictionary")),
        QStringLiteral("name"), QStringLiteral("blob"), QStringLiteral("list"), QStringLiteral("date"),
        QVariantMap{{QStringLiteral("$class"), uid(8)}, {QStringLiteral("NS.string"), QStringLiteral("Ünïcode")}},
        classEntry(QStringLiteral("NSMutableString")),
        QVariantMap{{QStringLiteral("$class"), uid(10)}, {QStringLiteral("NS.data"), QByteArray("ab")}},
        classEntry(QStringLiteral("NSMutableData")),
        QVariantMap{{QStringLiteral("$class"), uid(12)}, {QStringLiteral("NS.objects"), QVariantList{uid(3), uid(3)}}},
        classEntry(QStringLiteral("NSMutableArray")),
        QVariantMap{{QStringLiteral("$class"), uid(14)}, {QStringLiteral("NS.time"), -1.5}},
        classEntry(QStringLiteral("NSDate")),
    };
    const QVariantMap expected{
        {QStringLiteral("name"), QStringLiteral("Ünïcode")},
        {QStringLiteral("blob"), QByteArray("ab")},
        {QStringLiteral("list"), QVariantList{QStringLiteral("name"), QStringLiteral("name")}},
        {QStringLiteral("date"), QDateTime(QDate(2000, 12, 31), QTime(23, 59, 58, 500), Qt::UTC)},
    };
    for (PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
        auto value = KeyedUnarchiver::unarchiveObject(archiveOf(objects, 1, format));
        ASSERT_TRUE(value) << value.error().toString().toStdString();
        EXPECT_EQ(*value, QVariant(expected));
    }
}

TEST(KeyedArchiver, NullsAndDatesOfGenuineArchivesDecodeOrAreRefusedWhole)
{
    // NSNull stands as an object of its own class, as a real archiver writes it.
    const QVariantList objects{
        QStringLiteral("$null"),
        QVariantMap{{QStringLiteral("$class"), uid(2)},
                    {QStringLiteral("NS.objects"), QVariantList{uid(3), uid(5), uid(3)}}},
        classEntry(QStringLiteral("NSArray")),
        QVariantMap{{QStringLiteral("$class"), uid(4)}},
        classEntry(QStringLiteral("NSNull")),
        QVariantMap{{QStringLiteral("$class"), uid(6)}, {QStringLiteral("NS.time"), -1e11}},
        classEntry(QStringLiteral("NSDate")),
    };
    auto value = KeyedUnarchiver::unarchiveObject(archiveOf(objects));
    ASSERT_TRUE(value) << value.error().toString().toStdString();
    const QVariantList list = value->toList();
    ASSERT_EQ(list.size(), 3);
    EXPECT_FALSE(list[0].isValid());
    EXPECT_FALSE(list[2].isValid());
    EXPECT_EQ(list[1].toDateTime().toMSecsSinceEpoch(), 978307200000LL - 100000000000000LL);

    // Times beyond what a QDateTime holds refuse the archive rather than make a broken date.
    for (double time : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN()}) {
        QVariantList broken = objects;
        broken[5] = QVariantMap{{QStringLiteral("$class"), uid(6)}, {QStringLiteral("NS.time"), time}};
        EXPECT_EQ(errorCode(archiveOf(broken)), 16) << time;
    }

    // Dates far from the old 1932–2069 window survive a round trip to the millisecond.
    const QVariantList dates{QDateTime(QDate(1000, 2, 3), QTime(4, 5, 6, 7), Qt::UTC),
                             QDateTime(QDate(3000, 2, 3), QTime(4, 5, 6, 789), Qt::UTC)};
    auto back = KeyedUnarchiver::unarchiveObject(*KeyedArchiver::archivedData(dates));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, QVariant(dates));
}

TEST(KeyedArchiver, RefusesValuesItCannotArchive)
{
    auto r = KeyedArchiver::archivedData(QVariantMap{{QStringLiteral("p"), QPoint(1, 1)}});
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().message.contains(QStringLiteral("/p")));
    EXPECT_FALSE(KeyedArchiver::archivedData(QVariant::fromValue(PlistUID{1})));
}

TEST(KeyedArchiver, HostileArchivesAreRejectedWithReasons)
{
    const QString null = QStringLiteral("$null");
    auto dict = [](const QVariantList& keys, const QVariantList& values, quint64 cls) {
        return QVariantMap{{QStringLiteral("$class"), uid(cls)},
                           {QStringLiteral("NS.keys"), keys},
                           {QStringLiteral("NS.objects"), values}};
    };
    auto array = [](const QVariantList& refs, quint64 cls) {
        return QVariantMap{{QStringLiteral("$class"), uid(cls)}, {QStringLiteral("NS.objects"), refs}};
    };
    const QVariantMap nsArray = classEntry(QStringLiteral("NSArray"));
    const QVariantMap nsDict = classEntry(QStringLiteral("NSDictionary"));

    // An array that holds itself, directly and through a dictionary.
    EXPECT_EQ(errorCode(archiveOf({null, array({uid(1)}, 2), nsArray})), 13);
    EXPECT_EQ(errorCode(archiveOf({null, array({uid(3)}, 2), nsArray,
                                   dict({uid(4)}, {uid(1)}, 5), QStringLiteral("k"), nsDict})),
              13);
    // References and class references out of range; a root beyond the objects.
    EXPECT_EQ(errorCode(archiveOf({null, array({uid(99)}, 2), nsArray})), 12);
    EXPECT_EQ(errorCode(archiveOf({null, array({}, 77)})), 12);
    EXPECT_EQ(errorCode(archiveOf({null, QStringLiteral("x")}, 5)), 12);
    // Classes nobody may smuggle in.
    EXPECT_EQ(errorCode(archiveOf({null, array({}, 2), classEntry(QStringLiteral("NSURL"))})), 15);
    // Wrong kinds: a class entry used as a value, a number as a key, lists of unequal length,
    // a plain value where a reference belongs, a UID among the objects, a date that is text.
    EXPECT_EQ(errorCode(archiveOf({null, array({uid(2)}, 2), nsArray})), 16);
    EXPECT_EQ(errorCode(archiveOf({null, dict({uid(3)}, {uid(3)}, 2), nsDict, 5})), 16);
    EXPECT_EQ(errorCode(archiveOf({null, dict({uid(3), uid(3)}, {uid(3)}, 2), nsDict, QStringLiteral("k")})), 16);
    EXPECT_EQ(errorCode(archiveOf({null, array({QStringLiteral("inline")}, 2), nsArray})), 16);
    EXPECT_EQ(errorCode(archiveOf({null, uid(0)})), 16);
    EXPECT_EQ(errorCode(archiveOf({null, QVariantMap{{QStringLiteral("$class"), uid(2)},
                                                     {QStringLiteral("NS.time"), QStringLiteral("soon")}},
                                   classEntry(QStringLiteral("NSDate"))})),
              16);

    // Not an archive at all, or the wrong archiver or version.
    EXPECT_EQ(errorCode(*PropertyList::write(QVariantMap{{QStringLiteral("a"), 1}}, PlistFormat::Binary)), 10);
    EXPECT_EQ(errorCode(QByteArray("garbage")), 10);
    QVariantMap wrongVersion = PropertyList::read(archiveOf({null, QStringLiteral("x")}))->toMap();
    wrongVersion.insert(QStringLiteral("$version"), 99999);
    EXPECT_EQ(errorCode(*PropertyList::write(wrongVersion, PlistFormat::Binary)), 10);
}

TEST(KeyedArchiver, NestingAndExpansionAreBounded)
{
    // A chain of arrays deeper than the limit, each holding the next.
    QVariantList deep{QStringLiteral("$null"), classEntry(QStringLiteral("NSArray"))};
    const int levels = KeyedUnarchiver::kMaxDepth + 10;
    for (int i = 0; i < levels; ++i)
        deep.append(QVariantMap{{QStringLiteral("$class"), uid(1)},
                                {QStringLiteral("NS.objects"),
                                 i + 1 < levels ? QVariantList{uid(quint64(i + 3))} : QVariantList{}}});
    EXPECT_EQ(errorCode(archiveOf(deep, 2)), 14);

    // Each level holds the one below twice: 2^40 values from 40 small objects.
    QVariantList laughs{QStringLiteral("$null"), classEntry(QStringLiteral("NSArray")), QStringLiteral("lol")};
    for (int i = 0; i < 40; ++i)
        laughs.append(QVariantMap{{QStringLiteral("$class"), uid(1)},
                                  {QStringLiteral("NS.objects"),
                                   QVariantList{uid(quint64(i + 2)), uid(quint64(i + 2))}}});
    EXPECT_EQ(errorCode(archiveOf(laughs, quint64(laughs.size() - 1))), 17);

    // Fan-out one level down, in the property list that carries "$objects": refused before
    // anything is decoded, with the same reason.
    using namespace plisttest;
    QList<QByteArray> carrier{
        container(0xD, {1, 2, 3, 4, 5, 6, 7, 8}),
        ascii("$archiver"), ascii("$version"), ascii("$top"), ascii("$objects"),
        QByteArray("\x5F\x10\x0F", 3) + "NSKeyedArchiver",
        QByteArray(1, '\x12') + bigEndian(100000, 4),
        container(0xD, {9, 10}),
        container(0xA, {11, 12}),
        ascii("root"), QByteArray("\x80\x01", 2), ascii("$null"),
    };
    for (int i = 13; i < 13 + 40; ++i)
        carrier.append(container(0xA, {i, i}));
    carrier.append(smallInt(1));
    const QByteArray small = binaryPlist(carrier);
    EXPECT_LT(small.size(), 400);
    EXPECT_EQ(errorCode(small), 17);

    // The same sharing a few levels deep is fine: shared objects are legitimate.
    auto ok = KeyedUnarchiver::unarchiveObject(archiveOf(laughs, 5));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->toList().size(), 2);
}

// Random damage is the fuzz target's work (its corpus is replayed with the tests).
TEST(KeyedArchiver, TruncatedAndOversizedArchivesAreRefused)
{
    const QByteArray good = *KeyedArchiver::archivedData(smartFolderRules());
    for (int n = 0; n < good.size(); ++n)
        EXPECT_FALSE(KeyedUnarchiver::unarchiveObject(good.left(n))) << "cut at " << n;
    EXPECT_EQ(errorCode(QByteArray(KeyedUnarchiver::kMaxArchiveBytes + 1, 'x')), 11);
}
