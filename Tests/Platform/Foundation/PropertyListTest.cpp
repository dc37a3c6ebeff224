#include "Platform/Foundation/PropertyList.h"

#include "Support/TestSupport.h"

#include <QFile>
#include <QPoint>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <limits>

using platform::PlistFormat;
using platform::PlistUID;
using platform::PropertyList;

namespace {

// A binary property list from raw objects (1-byte references, 2-byte offsets), so that
// tests can make structures no writer would: self-references, deep chains, bad offsets.
QByteArray binaryPlist(const QList<QByteArray>& objects, quint64 top = 0, int refSize = 1)
{
    QByteArray out("bplist00");
    QList<quint16> offsets;
    for (const QByteArray& o : objects) {
        offsets.append(quint16(out.size()));
        out += o;
    }
    const quint64 tableAt = quint64(out.size());
    for (quint16 off : offsets) {
        out += char(off >> 8);
        out += char(off & 0xFF);
    }
    auto be64 = [](quint64 v) {
        QByteArray b(8, 0);
        for (int i = 7; i >= 0; --i, v >>= 8)
            b[i] = char(v & 0xFF);
        return b;
    };
    out += QByteArray(6, 0);
    out += char(2);
    out += char(refSize);
    out += be64(quint64(objects.size()));
    out += be64(top);
    out += be64(tableAt);
    return out;
}

QVariantMap sampleValue()
{
    return {
        {QStringLiteral("text"), QStringLiteral("Grüße, 日本 ✓")},
        {QStringLiteral("empty"), QString()},
        {QStringLiteral("min"), std::numeric_limits<qint64>::min()},
        {QStringLiteral("max"), std::numeric_limits<qint64>::max()},
        {QStringLiteral("minusOne"), qint64(-1)},
        {QStringLiteral("hugeUnsigned"), std::numeric_limits<quint64>::max()},
        {QStringLiteral("topBitUnsigned"), quint64(1) << 63},
        {QStringLiteral("real"), -0.125},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("bytes"), QByteArray("\0\x01\xFFxyz", 6)},
        {QStringLiteral("date"), QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC)},
        {QStringLiteral("oldDate"), QDateTime(QDate(1990, 6, 1), QTime(8, 0), Qt::UTC)},
        {QStringLiteral("uid"), QVariant::fromValue(PlistUID{42})},
        {QStringLiteral("nested"),
         QVariantList{QVariantMap{{QStringLiteral("a"), QVariantList{}}}, QVariantMap{},
                      QStringLiteral("x"), qint64(7)}},
    };
}

} // namespace

TEST(PropertyList, RoundTripsEveryKindInBothFormats)
{
    const QVariantMap value = sampleValue();
    for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        auto bytes = PropertyList::write(value, format);
        ASSERT_TRUE(bytes) << bytes.error().toString().toStdString();
        EXPECT_EQ(PropertyList::detectFormat(*bytes), format);
        auto back = PropertyList::read(*bytes);
        ASSERT_TRUE(back) << back.error().toString().toStdString();
        const QVariantMap map = back->toMap();
        for (auto it = value.cbegin(); it != value.cend(); ++it)
            EXPECT_EQ(map.value(it.key()), it.value()) << it.key().toStdString();
        EXPECT_EQ(map.size(), value.size());
        // The sign of 64-bit patterns with the top bit set must survive, and so must the type.
        EXPECT_EQ(map.value(QStringLiteral("minusOne")).metaType().id(), QMetaType::LongLong);
        EXPECT_EQ(map.value(QStringLiteral("min")).metaType().id(), QMetaType::LongLong);
        EXPECT_EQ(map.value(QStringLiteral("hugeUnsigned")).metaType().id(), QMetaType::ULongLong);
        EXPECT_EQ(map.value(QStringLiteral("max")).metaType().id(), QMetaType::LongLong);
    }
}

TEST(PropertyList, BinaryDatesKeepMillisecondsAndSmallIntegersAreSigned)
{
    const QDateTime date = QDateTime(QDate(2010, 1, 2), QTime(3, 4, 5, 678), Qt::UTC);
    auto bytes = PropertyList::write(QVariantList{date, 5}, PlistFormat::Binary);
    ASSERT_TRUE(bytes);
    const QVariantList back = PropertyList::read(*bytes)->toList();
    EXPECT_EQ(back.at(0).toDateTime(), date);
    EXPECT_EQ(back.at(1), QVariant(qint64(5)));
    EXPECT_EQ(PropertyList::referenceSecondsFromDate(
                  QDateTime(QDate(2001, 1, 1), QTime(0, 0, 10), Qt::UTC)),
              10.0);
}

TEST(PropertyList, WriteRefusesValuesWithoutAPropertyListForm)
{
    const QVariantMap withPoint{{QStringLiteral("outer"),
                                 QVariantMap{{QStringLiteral("p"), QPoint(1, 2)}}}};
    auto bytes = PropertyList::write(withPoint, PlistFormat::Xml);
    ASSERT_FALSE(bytes);
    EXPECT_TRUE(bytes.error().message.contains(QStringLiteral("/outer/p")));
    EXPECT_FALSE(PropertyList::write(QVariantList{QVariant()}, PlistFormat::Binary));
    // Beyond what a 32-bit seconds count can hold: refused, not wrapped into another date.
    EXPECT_FALSE(PropertyList::write(QDateTime(QDate(2100, 1, 1), QTime(0, 0), Qt::UTC),
                                     PlistFormat::Binary));
}

TEST(PropertyList, DetectsFormatDespiteByteOrderMarkAndRejectsOtherText)
{
    EXPECT_EQ(PropertyList::detectFormat("\xEF\xBB\xBF\n  <?xml version=\"1.0\"?><plist/>"),
              PlistFormat::Xml);
    EXPECT_EQ(PropertyList::detectFormat(QByteArray()), std::nullopt);
    auto r = PropertyList::read("{ \"json\": true }");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().domain, QStringLiteral("PropertyList"));
    const QByteArray xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                           "<key>a</key><integer>1</integer><key>b</key><dict/></dict></plist>";
    auto ok = PropertyList::read(xml);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->toMap().value(QStringLiteral("b")), QVariant(QVariantMap()));
}

TEST(PropertyList, DamagedInputGivesErrorsNotCrashes)
{
    const QByteArray binary = *PropertyList::write(sampleValue(), PlistFormat::Binary);
    const QByteArray xml = *PropertyList::write(sampleValue(), PlistFormat::Xml);
    // Every truncation of a binary list loses its trailer, so each must be refused.
    for (int n = 0; n < binary.size(); ++n)
        EXPECT_FALSE(PropertyList::read(binary.left(n))) << "binary cut at " << n;
    for (int n = 0; n < xml.size(); n += 7)
        (void)PropertyList::read(xml.left(n));

    QRandomGenerator rng(20240229);
    for (int round = 0; round < 3000; ++round) {
        QByteArray mutated = round % 2 ? binary : xml;
        for (int k = 0; k < 1 + round % 4; ++k)
            mutated[int(rng.bounded(mutated.size()))] = char(rng.bounded(256));
        (void)PropertyList::read(mutated);
    }
}

TEST(PropertyList, HostileBinaryStructuresAreRefused)
{
    // An array that contains itself.
    auto cycle = PropertyList::read(binaryPlist({QByteArray("\xA1\x00", 2)}));
    ASSERT_FALSE(cycle);
    EXPECT_TRUE(cycle.error().message.contains(QStringLiteral("contains itself")));
    // Two arrays containing each other.
    EXPECT_FALSE(PropertyList::read(binaryPlist({QByteArray("\xA1\x01", 2), QByteArray("\xA1\x00", 2)})));
    // A reference beyond the object table.
    EXPECT_FALSE(PropertyList::read(binaryPlist({QByteArray("\xA1\x05", 2)})));
    // A count far larger than the file.
    EXPECT_FALSE(PropertyList::read(binaryPlist({QByteArray("\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)})));
    // The top object index beyond the table.
    EXPECT_FALSE(PropertyList::read(binaryPlist({QByteArray("\x09", 1)}, 3)));

    // A chain of arrays nested deeper than any stack should go.
    QList<QByteArray> chain;
    const int depth = 5000;
    for (int i = 0; i < depth - 1; ++i) {
        QByteArray o("\xA1", 1);
        o += char((i + 1) >> 8);
        o += char((i + 1) & 0xFF);
        chain.append(o);
    }
    chain.append(QByteArray("\x10\x01", 2));
    auto deep = PropertyList::read(binaryPlist(chain, 0, 2));
    ASSERT_FALSE(deep);
    EXPECT_TRUE(deep.error().message.contains(QStringLiteral("deeply")));

    // Shared (not cyclic) references are legitimate.
    auto shared = PropertyList::read(binaryPlist({QByteArray("\xA2\x01\x01", 3), QByteArray("\x10\x07", 2)}));
    ASSERT_TRUE(shared);
    EXPECT_EQ(*shared, QVariant(QVariantList{qint64(7), qint64(7)}));
}

TEST(PropertyList, DeeplyNestedXmlIsRefused)
{
    QByteArray xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 20000; ++i)
        xml += "<array>";
    auto r = PropertyList::read(xml);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().message.contains(QStringLiteral("deeply")));
}

TEST(PropertyList, FileWriteReplacesWholeAndFailureKeepsTheOldFile)
{
    const QString dir = testsupport::makeTempDir();
    const QString path = dir + QStringLiteral("/list.plist");
    ASSERT_TRUE(PropertyList::writeFile(sampleValue(), path, PlistFormat::Xml));
    ASSERT_TRUE(PropertyList::writeFile(QVariantMap{{QStringLiteral("k"), 1}}, path, PlistFormat::Binary));
    auto back = PropertyList::readFile(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->toMap(), (QVariantMap{{QStringLiteral("k"), qint64(1)}}));

    const QByteArray before = testsupport::readFile(path);
    EXPECT_FALSE(PropertyList::writeFile(QVariantList{QPoint()}, path, PlistFormat::Xml));
    EXPECT_EQ(testsupport::readFile(path), before);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 1) << "no temporary left behind";

    auto missing = PropertyList::readFile(dir + QStringLiteral("/none.plist"));
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().message.contains(QStringLiteral("none.plist")));
    EXPECT_FALSE(PropertyList::writeFile(1, dir + QStringLiteral("/no/such/dir/x.plist"),
                                         PlistFormat::Xml));
}
