#include "Platform/Foundation/PropertyList.h"

#include "PlistBytes.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QPoint>
#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using platform::PlistFormat;
using platform::PlistUID;
using platform::PropertyList;
using namespace plisttest;

namespace {

constexpr int kMalformed = 1;
constexpr int kTooDeep = 3;
constexpr int kUnsupported = 4;
constexpr int kTooManyValues = 6;

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

QVariant uid(quint64 v) { return QVariant::fromValue(PlistUID{v}); }

std::string describe(const platform::Result<QVariant>& r)
{
    return r ? r->toString().toStdString() + " (a value)" : r.error().toString().toStdString();
}

platform::Result<QVariant> readXml(const QByteArray& body)
{
    return PropertyList::read("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                              + body + "</plist>");
}

QByteArray dateObject(double seconds)
{
    return QByteArray(1, '\x33') + bigEndian(std::bit_cast<quint64>(seconds), 8);
}

// Values both formats hold exactly.
QVariantMap sampleValue()
{
    return {
        {QStringLiteral("text"), QStringLiteral("Grüße, 日本 ✓ 𝄞")},
        {QStringLiteral("markup"), QStringLiteral("<a & b> ]]> \"q\" 'a'")},
        {QStringLiteral("lineEnds"), QStringLiteral("a\r\nb\rc\n\td ")},
        {QStringLiteral("empty"), QString()},
        {QStringLiteral("min"), std::numeric_limits<qint64>::min()},
        {QStringLiteral("max"), std::numeric_limits<qint64>::max()},
        {QStringLiteral("minusOne"), qint64(-1)},
        {QStringLiteral("zero"), qint64(0)},
        {QStringLiteral("hugeUnsigned"), std::numeric_limits<quint64>::max()},
        {QStringLiteral("topBitUnsigned"), quint64(1) << 63},
        {QStringLiteral("real"), -0.125},
        {QStringLiteral("tenth"), 0.1},
        {QStringLiteral("large"), 1e300},
        {QStringLiteral("denormal"), 5e-324},
        {QStringLiteral("negativeZero"), -0.0},
        {QStringLiteral("infinity"), std::numeric_limits<double>::infinity()},
        {QStringLiteral("minusInfinity"), -std::numeric_limits<double>::infinity()},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("bytes"), QByteArray("\0\x01\xFFxyz", 6)},
        {QStringLiteral("noBytes"), QByteArray()},
        {QStringLiteral("date"), utc(2024, 2, 29, 23, 59, 58)},
        {QStringLiteral("pastTheOld2069Limit"), utc(2100, 1, 1)},
        {QStringLiteral("beforeThe1932Limit"), utc(1900, 6, 1, 8)},
        {QStringLiteral("firstYear"), utc(1, 1, 1)},
        {QStringLiteral("oneBC"), utc(-1, 3, 1, 12)},
        {QStringLiteral("lastYear"), utc(9999, 12, 31, 23, 59, 59)},
        {QStringLiteral("uid"), uid(42)},
        {QStringLiteral("uidZero"), uid(0)},
        {QStringLiteral("uidMax"), uid(0xFFFFFFFFULL)},
        {QStringLiteral("nested"),
         QVariantList{QVariantMap{{QStringLiteral("a"), QVariantList{}}}, QVariantMap{},
                      QStringLiteral("x"), qint64(7), QVariantList{QVariantList{uid(1)}}}},
        {QStringLiteral("CF$UID"), QStringLiteral("a key like the UID form, among others")},
    };
}

void expectSameValues(const QVariantMap& expected, const QVariantMap& actual, PlistFormat format)
{
    EXPECT_EQ(actual.size(), expected.size());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QVariant got = actual.value(it.key());
        EXPECT_EQ(got, it.value()) << it.key().toStdString() << " in format " << int(format);
        EXPECT_EQ(got.metaType(), it.value().metaType()) << it.key().toStdString();
    }
}

} // namespace

TEST(PropertyList, RoundTripsEveryKindInBothFormats)
{
    QVariantMap value = sampleValue();
    value.insert(QStringLiteral("nan"), std::numeric_limits<double>::quiet_NaN());
    for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        auto bytes = PropertyList::write(value, format);
        ASSERT_TRUE(bytes) << bytes.error().toString().toStdString();
        EXPECT_EQ(PropertyList::detectFormat(*bytes), format);
        auto back = PropertyList::read(*bytes);
        ASSERT_TRUE(back) << describe(back);
        QVariantMap map = back->toMap();
        EXPECT_TRUE(std::isnan(map.take(QStringLiteral("nan")).toDouble()));
        expectSameValues(sampleValue(), map, format);
        // Equal as numbers, but the sign is part of the value.
        EXPECT_TRUE(std::signbit(map.value(QStringLiteral("negativeZero")).toDouble()));
    }

    // What only the binary format holds: milliseconds, dates beyond four-digit years and
    // characters XML 1.0 cannot carry.
    const QVariantMap binaryOnly{
        {QStringLiteral("ms"), utc(2010, 1, 2, 3, 4, 5, 678)},
        {QStringLiteral("beforeTheEpoch"), utc(1969, 12, 31, 23, 59, 59, 1)},
        {QStringLiteral("farFuture"), utc(100000, 7, 4, 1, 2, 3, 4)},
        {QStringLiteral("farPast"), utc(-100000, 7, 4, 1, 2, 3, 4)},
        {QStringLiteral("controls"), QString::fromUtf16(u"\u0000\u0001\u001F\uFFFE\uFFFF")},
    };
    auto bytes = PropertyList::write(binaryOnly, PlistFormat::Binary);
    ASSERT_TRUE(bytes) << bytes.error().toString().toStdString();
    auto back = PropertyList::read(*bytes);
    ASSERT_TRUE(back) << describe(back);
    expectSameValues(binaryOnly, back->toMap(), PlistFormat::Binary);

    // Narrower Qt types come back in the canonical 64-bit ones.
    auto narrow = PropertyList::read(*PropertyList::write(QVariantList{5, 7u, 1.5f}, PlistFormat::Binary));
    ASSERT_TRUE(narrow);
    EXPECT_EQ(*narrow, QVariant(QVariantList{qint64(5), qint64(7), 1.5}));
}

TEST(PropertyList, DatesSpanTheFormatsAndStopOnlyWhereQDateTimeDoes)
{
    // Binary: any double of seconds that QDateTime can hold, to the nearest millisecond.
    auto readDate = [](double seconds) { return PropertyList::read(binaryPlist({dateObject(seconds)})); };
    auto ancient = readDate(-1e11); // about 1200 BC
    ASSERT_TRUE(ancient) << describe(ancient);
    EXPECT_EQ(ancient->toDateTime().toMSecsSinceEpoch(), 978307200000LL - 100000000000000LL);
    EXPECT_EQ(readDate(0.0006)->toDateTime(), utc(2001, 1, 1, 0, 0, 0, 1));
    EXPECT_EQ(readDate(-0.0004)->toDateTime(), utc(2001, 1, 1));
    EXPECT_EQ(readDate(3e15)->toDateTime(),
              QDateTime::fromMSecsSinceEpoch(3'000'000'000'000'000'000LL + 978307200000LL, Qt::UTC));
    for (double refused : {1e300, -1e300, 9.3e15, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()}) {
        auto r = readDate(refused);
        ASSERT_FALSE(r) << refused;
        EXPECT_EQ(r.error().code, kUnsupported);
    }
    // A QDateTime whose milliseconds no double of seconds can carry is refused, not moved.
    const QDateTime last = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max(), Qt::UTC);
    EXPECT_FALSE(PropertyList::write(last, PlistFormat::Binary));
    EXPECT_TRUE(PropertyList::write(QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max() / 4000 * 1000, Qt::UTC),
                                    PlistFormat::Binary));

    // XML: whole seconds in years 0000 to 9999, milliseconds cut.
    auto cut = PropertyList::read(*PropertyList::write(utc(2020, 5, 6, 7, 8, 9, 999), PlistFormat::Xml));
    ASSERT_TRUE(cut);
    EXPECT_EQ(*cut, QVariant(utc(2020, 5, 6, 7, 8, 9)));
    auto beforeEpoch = PropertyList::read(*PropertyList::write(utc(1969, 12, 31, 23, 59, 59, 500), PlistFormat::Xml));
    EXPECT_EQ(*beforeEpoch, QVariant(utc(1969, 12, 31, 23, 59, 59)));
    EXPECT_EQ(*readXml("<date>0000-02-29T00:00:00Z</date>"), QVariant(utc(-1, 2, 29)));
    EXPECT_TRUE(PropertyList::write(utc(9999, 12, 31, 23, 59, 59, 999), PlistFormat::Xml));
    for (const QDateTime& outside : {utc(10000, 1, 1), utc(-2, 12, 31, 23, 59, 59)}) {
        auto r = PropertyList::write(outside, PlistFormat::Xml);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().code, kUnsupported);
    }
}

TEST(PropertyList, UidsFromTwoToTheThirtyTwoOnAreRefusedBothWays)
{
    for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        auto r = PropertyList::write(QVariantList{uid(quint64(1) << 32)}, format);
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.error().message.contains(QStringLiteral("[0]")));
    }
    // Binary UIDs are as wide as the marker says; the value decides, not the width.
    EXPECT_EQ(*PropertyList::read(binaryPlist({"\x83\xFF\xFF\xFF\xFF"})), uid(0xFFFFFFFFULL));
    EXPECT_EQ(*PropertyList::read(binaryPlist({QByteArray("\x87\0\0\0\0\0\0\0\x05", 9)})), uid(5));
    EXPECT_FALSE(PropertyList::read(binaryPlist({QByteArray("\x84\x01\0\0\0\0", 6)})));
    EXPECT_FALSE(PropertyList::read(binaryPlist({"\x87\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"})));
    // XML writes a UID as {"CF$UID": n}; the same bounds apply when reading it.
    EXPECT_EQ(*readXml("<dict><key>CF$UID</key><integer>4294967295</integer></dict>"), uid(0xFFFFFFFFULL));
    EXPECT_FALSE(readXml("<dict><key>CF$UID</key><integer>4294967296</integer></dict>"));
    EXPECT_FALSE(readXml("<dict><key>CF$UID</key><integer>-1</integer></dict>"));
    // A dictionary that merely has such a key among others stays a dictionary.
    EXPECT_EQ(readXml("<dict><key>CF$UID</key><string>x</string></dict>")->metaType().id(),
              QMetaType::QVariantMap);
}

TEST(PropertyList, XmlIsReadAsXmlDefinesIt)
{
    const QByteArray document =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<?editor keep-this?>\n"
        "<plist version=\"1.0\">\n<dict>\n"
        "  <!-- </dict></plist> inside a comment is no markup -->\n"
        "  <key>text</key><string>a &amp; b &lt;c&gt; &#x263A; &#13;<![CDATA[</string>&amp;]]><!-- x --></string>\n"
        "  <key>empty</key><string/>\n"
        "  <key>leadingZero</key><integer>0123</integer>\n"
        "  <key>hex</key><integer> 0x1F </integer>\n"
        "  <key>negative</key><integer>-9223372036854775808</integer>\n"
        "  <key>unsigned</key><integer>18446744073709551615</integer>\n"
        "  <key>plus</key><integer>+5</integer>\n"
        "  <key>reals</key><array><real>nan</real><real>inf</real><real>-inf</real>"
        "<real>-0.0</real><real>1E3</real><real>.5</real></array>\n"
        "  <key>flags</key><array><true/><false></false></array>\n"
        "  <key>data</key><data>\n\tAAEC\n\t/w==\n</data>\n"
        "  <key>date</key><date>2069-01-20T00:00:00Z</date>\n"
        "  <key>d</key><dict/>\n  <key>a</key><array/>\n"
        "</dict>\n</plist>\n";
    auto r = PropertyList::read(document);
    ASSERT_TRUE(r) << describe(r);
    const QVariantMap map = r->toMap();
    EXPECT_EQ(map.value(QStringLiteral("text")), QVariant(QString::fromUtf16(u"a & b <c> ☺ \r</string>&amp;")));
    EXPECT_EQ(map.value(QStringLiteral("empty")), QVariant(QString()));
    EXPECT_EQ(map.value(QStringLiteral("leadingZero")), QVariant(qint64(123)));
    EXPECT_EQ(map.value(QStringLiteral("hex")), QVariant(qint64(31)));
    EXPECT_EQ(map.value(QStringLiteral("negative")), QVariant(std::numeric_limits<qint64>::min()));
    EXPECT_EQ(map.value(QStringLiteral("unsigned")), QVariant(std::numeric_limits<quint64>::max()));
    EXPECT_EQ(map.value(QStringLiteral("plus")), QVariant(qint64(5)));
    const QVariantList reals = map.value(QStringLiteral("reals")).toList();
    ASSERT_EQ(reals.size(), 6);
    EXPECT_TRUE(std::isnan(reals[0].toDouble()));
    EXPECT_EQ(reals[1].toDouble(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(reals[2].toDouble(), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(reals[3].toDouble() == 0 && std::signbit(reals[3].toDouble()));
    EXPECT_EQ(reals[4].toDouble(), 1000.0);
    EXPECT_EQ(reals[5].toDouble(), 0.5);
    EXPECT_EQ(map.value(QStringLiteral("flags")), QVariant(QVariantList{true, false}));
    EXPECT_EQ(map.value(QStringLiteral("data")), QVariant(QByteArray("\0\1\2\xFF", 4)));
    EXPECT_EQ(map.value(QStringLiteral("date")), QVariant(utc(2069, 1, 20)));
    EXPECT_EQ(map.value(QStringLiteral("d")), QVariant(QVariantMap()));
    EXPECT_EQ(map.value(QStringLiteral("a")), QVariant(QVariantList()));

    // UTF-16 either way round, told by a byte-order mark or by the zero beside "<".
    const QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                                        "<plist><string>Grüße 𝄞</string></plist>");
    QByteArray little, big;
    for (QChar c : text) {
        little += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
        big += char(c.unicode() >> 8) + QByteArray(1, char(c.unicode() & 0xFF));
    }
    for (const QByteArray& utf16 : {QByteArray("\xFF\xFE") + little, big, QByteArray("\xFE\xFF") + big}) {
        EXPECT_EQ(PropertyList::detectFormat(utf16), PlistFormat::Xml);
        auto s = PropertyList::read(utf16);
        ASSERT_TRUE(s) << describe(s);
        EXPECT_EQ(*s, QVariant(QStringLiteral("Grüße 𝄞")));
    }
    auto latin = PropertyList::read("<?xml version=\"1.0\" encoding=\"EBCDIC-US\"?><plist><true/></plist>");
    ASSERT_FALSE(latin);
    EXPECT_TRUE(latin.error().message.contains(QStringLiteral("UTF-16"))) << describe(latin);

    EXPECT_EQ(PropertyList::detectFormat(QByteArray()), std::nullopt);
    EXPECT_FALSE(PropertyList::read("{ \"json\": true }"));
}

TEST(PropertyList, XmlThatCannotBeReadExactlyIsRefused)
{
    const QList<QByteArray> refused{
        // Numbers that are no numbers, or beyond 64 bits.
        "<integer>12a</integer>", "<integer></integer>", "<integer>1.0</integer>",
        "<integer>18446744073709551616</integer>", "<integer>-9223372036854775809</integer>",
        "<integer>0x</integer>", "<integer>0x10000000000000000</integer>", "<integer>- 1</integer>",
        "<integer>1_000</integer>", "<integer>-0x1</integer>",
        "<real>abc</real>", "<real></real>", "<real>1e999</real>", "<real>0x1p3</real>", "<real>1,5</real>",
        // Dates that are no dates, or of another form.
        "<date>yesterday</date>", "<date>2023-02-29T00:00:00Z</date>", "<date>2024-01-01T24:00:00Z</date>",
        "<date>2024-01-01T00:00:60Z</date>", "<date>2024-01-01 00:00:00Z</date>", "<date>2024-01-01T00:00:00</date>",
        "<date>2024-01-01T00:00:00.5Z</date>", "<date>12024-01-01T00:00:00Z</date>",
        // Base64 that is not.
        "<data>A</data>", "<data>@@@@</data>", "<data>AA=A</data>", "<data>AAAA=</data>", "<data>Ã</data>",
        // Structure.
        "<array><key>k</key><string>v</string></array>", "<dict><key>lone</key></dict>",
        "<dict><string>no key</string></dict>", "<dict><key>k</key><key>k2</key><true/></dict>",
        "<dict><key>k</key><true/><key>k</key><false/></dict>", "<key>top</key>",
        "<string>a<b/></string>", "<true>yes</true>", "<set/>", "<string>unclosed",
        "<true/><false/>", "", "<array>text</array>", "<plist><true/></plist>",
        // Entities a DTD would have to define; characters XML forbids.
        "<string>&nbsp;</string>", "<string>&#0;</string>", "<string>\x01</string>",
        "<string>\xC3</string>", "<string>\xED\xA0\x80</string>",
    };
    for (const QByteArray& body : refused) {
        auto r = readXml(body);
        EXPECT_FALSE(r) << body.toStdString() << " gave " << describe(r);
        if (!r) {
            EXPECT_EQ(r.error().domain, QStringLiteral("PropertyList"));
        }
    }
}

TEST(PropertyList, DeclarationsAndInexactEncodingsAreRefusedBeforeAnythingUnfolds)
{
    // Expanded, each of these would hold far more text than the document: refused at the DOCTYPE.
    const QByteArray big(4000, 'x');
    QByteArray flood = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY a \"" + big + "\">]>\n<plist><string>";
    for (int i = 0; i < 20000; ++i)
        flood += "&a;";
    flood += "</string></plist>";
    const QList<QByteArray> refused{
        flood,
        "<!DOCTYPE plist [<!ENTITY % p \"x\">]><plist><true/></plist>",
        "<!DOCTYPE plist [<!ELEMENT plist ANY>]><plist><true/></plist>",
        // Decoded by converters that do not read exactly: UTF-7 gives a lone surrogate here.
        "<?xml version=\"1.0\" encoding=\"UTF-7\"?><plist><string>+2D0-</string></plist>",
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><plist><string>a</string></plist>",
    };
    for (const QByteArray& document : refused) {
        auto r = PropertyList::read(document);
        EXPECT_FALSE(r) << document.left(80).toStdString() << " gave " << describe(r);
        if (!r) {
            EXPECT_EQ(r.error().code, kMalformed) << describe(r);
        }
    }
    // UTF-16 carries what the writer cannot: a lone surrogate, U+FFFF.
    for (char16_t bad : {char16_t(0xDC00), char16_t(0xFFFF)}) {
        const QString text = QStringLiteral("<plist><string>a") + QChar(bad) + QStringLiteral("</string></plist>");
        QByteArray utf16("\xFF\xFE");
        for (QChar c : text)
            utf16 += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
        EXPECT_FALSE(PropertyList::read(utf16)) << int(bad);
    }
    // The usual DOCTYPE, Latin-1 and UTF-8 still read.
    EXPECT_EQ(PropertyList::read("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><string>\xE9</string></plist>")
                  .value_or(QVariant()),
              QVariant(QStringLiteral("é")));
    EXPECT_TRUE(PropertyList::read(
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"
        "<plist><true/></plist>"));

    // A binary list may hold text XML cannot: it reads, the XML write says why it cannot, and
    // the binary write keeps it.
    const QByteArray control = QByteArray("bplist00\x53\x61\x00\x62\x08", 13) + QByteArray(6, '\0')
                               + QByteArray("\x01\x01", 2) + QByteArray(7, '\0') + '\x01' + QByteArray(8, '\0')
                               + QByteArray(7, '\0') + '\x0C';
    auto value = PropertyList::read(control);
    ASSERT_TRUE(value) << describe(value);
    EXPECT_EQ(*value, QVariant(QString::fromLatin1("a\0b", 3)));
    auto xml = PropertyList::write(*value, PlistFormat::Xml);
    ASSERT_FALSE(xml);
    EXPECT_EQ(xml.error().code, kUnsupported);
    EXPECT_TRUE(xml.error().message.contains(QStringLiteral("XML cannot carry"))) << xml.error().message.toStdString();
    EXPECT_TRUE(PropertyList::write(*value, PlistFormat::Binary));
}

TEST(PropertyList, BinaryThatCannotBeReadExactlyIsRefused)
{
    const QByteArray okString = ascii("ok");
    const QList<std::pair<const char*, QByteArray>> refused{
        {"ASCII byte over 0x7F", binaryPlist({"\x52\xC3\xA9"})},
        {"lone high surrogate", binaryPlist({QByteArray("\x61\xD8\x00", 3)})},
        {"lone low surrogate", binaryPlist({QByteArray("\x62\0a\xDC\x00", 5)})},
        {"null", binaryPlist({QByteArray(1, '\0')})},
        {"fill byte", binaryPlist({"\x0F"})},
        {"set", binaryPlist({"\xC1\x01", smallInt(1)})},
        {"integer beyond 64 bits", binaryPlist({QByteArray("\x14\0\0\0\0\0\0\0\x01", 9) + QByteArray(8, '\0')})},
        {"integer of 32 bytes", binaryPlist({QByteArray(1, '\x15') + QByteArray(32, '\0')})},
        {"real of one byte", binaryPlist({"\x20\x01"})},
        {"date of four bytes", binaryPlist({QByteArray("\x32\0\0\0\0", 5)})},
        {"non-string key", binaryPlist({container(0xD, {1, 1}), smallInt(1)})},
        {"repeated key", binaryPlist({container(0xD, {1, 1, 2, 2}), okString, smallInt(1)})},
        {"reference beyond the objects", binaryPlist({container(0xA, {5})})},
        {"array holding itself", binaryPlist({container(0xA, {0})})},
        {"arrays holding each other", binaryPlist({container(0xA, {1}), container(0xA, {0})})},
        {"top beyond the objects", binaryPlist({okString}, {.top = 3})},
        {"offset width 0", binaryPlist({okString}, {.offsetSize = 0})},
        {"offset width 9", binaryPlist({okString}, {.offsetSize = 9})},
        {"reference width 0", binaryPlist({okString}, {.refSize = 0})},
        {"offset into the header", binaryPlist({container(0xA, {1})}, {.extraOffsets = {2}})},
        {"offset into the offset table", binaryPlist({container(0xA, {2}), okString}, {.extraOffsets = {15}})},
        {"count far beyond the file", binaryPlist({"\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"})},
        {"negative count", binaryPlist({"\x4F\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"})},
        {"count that is no integer", binaryPlist({"\x4F\x23\0\0\0\0\0\0\0\x01"})},
        {"string running into the table", binaryPlist({"\x5E" "abc"})},
        // References to bytes that are also part of another object.
        {"object inside another", binaryPlist({container(0xA, {1, 2}), QByteArray("\x43\x10\x05\x00", 4)}, {.extraOffsets = {12}})},
        {"two indices, one object", binaryPlist({container(0xA, {1, 2}), okString}, {.extraOffsets = {11}})},
    };
    for (const auto& [what, bytes] : refused) {
        auto r = PropertyList::read(bytes);
        EXPECT_FALSE(r) << what << " gave " << describe(r);
    }
    // Sanity of the cases above: the same layouts with sound objects are read.
    EXPECT_EQ(*PropertyList::read(binaryPlist({container(0xD, {1, 2}), okString, smallInt(1)})),
              QVariant(QVariantMap{{QStringLiteral("ok"), qint64(1)}}));
    EXPECT_EQ(*PropertyList::read(binaryPlist({QByteArray("\x62\xD8\x34\xDD\x1E", 5)})),
              QVariant(QStringLiteral("𝄞")));
    EXPECT_EQ(*PropertyList::read(binaryPlist({QByteArray("\x14", 1) + QByteArray(8, '\xFF') + bigEndian(quint64(1) << 63, 8)})),
              QVariant(std::numeric_limits<qint64>::min()));
    EXPECT_EQ(*PropertyList::read(binaryPlist({QByteArray("\x22\x3F\xC0\x00\x00", 5)})), QVariant(1.5));

    // Nesting: 512 containers are read, 513 are not; either way without deep recursion.
    auto chain = [](int depth) {
        QList<QByteArray> objects;
        for (int i = 0; i < depth; ++i)
            objects.append(QByteArray(1, '\xA1') + bigEndian(quint64(i + 1), 2));
        objects.append(smallInt(1));
        return binaryPlist(objects, {.offsetSize = 2, .refSize = 2});
    };
    EXPECT_TRUE(PropertyList::read(chain(512)));
    auto deep = PropertyList::read(chain(513));
    ASSERT_FALSE(deep);
    EXPECT_EQ(deep.error().code, kTooDeep);

    // Every cut of a written list loses its trailer.
    const QByteArray whole = *PropertyList::write(sampleValue(), PlistFormat::Binary);
    for (int n = 0; n < whole.size(); ++n)
        EXPECT_FALSE(PropertyList::read(whole.left(n))) << "cut at " << n;
}

TEST(PropertyList, SharedReferencesCannotUnfoldPastTheValueBudget)
{
    // Each array holds the next one twice: 2^40 values from 41 tiny objects.
    auto doubling = [](int levels) {
        QList<QByteArray> objects;
        for (int i = 1; i <= levels; ++i)
            objects.append(container(0xA, {i, i}));
        objects.append(smallInt(7));
        return objects;
    };
    const QList<QByteArray> objects = doubling(40);
    auto bomb = PropertyList::read(binaryPlist(objects));
    ASSERT_FALSE(bomb);
    EXPECT_EQ(bomb.error().code, kTooManyValues);
    EXPECT_LT(binaryPlist(objects).size(), 300);

    // The same sharing a few levels deep is legitimate and reads whole.
    auto ok = PropertyList::read(binaryPlist(doubling(10)));
    ASSERT_TRUE(ok) << describe(ok);
    QVariant inner = *ok;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(inner.toList().size(), 2);
        inner = inner.toList().at(1);
    }
    EXPECT_EQ(inner, QVariant(qint64(7)));

    // A list larger than the budget that shares only scalars is no bomb: it is read.
    const int many = 1'100'000;
    QByteArray wide("\xAF\x12", 2);
    wide += bigEndian(many, 4);
    wide += QByteArray(many, '\x01');
    auto large = PropertyList::read(binaryPlist({wide, smallInt(1)}, {.offsetSize = 4}));
    ASSERT_TRUE(large) << describe(large);
    EXPECT_EQ(large->toList().size(), many);
}

TEST(PropertyList, XmlNestingIsCountedOnRealElements)
{
    auto nested = [](int depth, const QByteArray& between) {
        QByteArray body;
        for (int i = 0; i < depth; ++i)
            body += "<array>" + between;
        body += "<true/>";
        for (int i = 0; i < depth; ++i)
            body += "</array>";
        return readXml(body);
    };
    EXPECT_TRUE(nested(512, ""));
    auto deep = nested(513, "");
    ASSERT_FALSE(deep);
    EXPECT_EQ(deep.error().code, kTooDeep);
    // Closing tags inside comments and text are not markup: they neither end a level…
    auto hidden = nested(600, "<!-- </array> --><string><![CDATA[</array>]]></string>");
    ASSERT_FALSE(hidden);
    EXPECT_EQ(hidden.error().code, kTooDeep);
    // …nor, where many, stop a shallow list from being read.
    QByteArray shallow = "<array>";
    for (int i = 0; i < 3000; ++i)
        shallow += "<!-- <array> --><string>&lt;array&gt;<![CDATA[<array>]]></string>";
    shallow += "</array>";
    auto flat = readXml(shallow);
    ASSERT_TRUE(flat) << describe(flat);
    EXPECT_EQ(flat->toList().size(), 3000);

    // Megabytes of opening tags end in an error, not in a stack overflow.
    QByteArray huge = "<plist>";
    huge += QByteArray("<array>").repeated(300'000);
    auto r = PropertyList::read(huge);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, kTooDeep);
}

TEST(PropertyList, WritingRefusesWhatAFormatCannotHold)
{
    auto refusedAt = [](const QVariant& value, PlistFormat format, const QString& path) {
        auto r = PropertyList::write(value, format);
        EXPECT_FALSE(r) << path.toStdString();
        if (!r) {
            EXPECT_TRUE(r.error().message.contains(path)) << r.error().message.toStdString();
        }
    };
    const QString lone = QString(QChar(0xD800)) + QStringLiteral("x");
    for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        refusedAt(QVariantMap{{QStringLiteral("outer"), QVariantMap{{QStringLiteral("p"), QPoint(1, 2)}}}},
                  format, QStringLiteral("/outer/p"));
        refusedAt(QVariantList{1, QVariant()}, format, QStringLiteral("/[1]"));
        refusedAt(QVariantMap{{QStringLiteral("s"), lone}}, format, QStringLiteral("/s"));
        refusedAt(QVariantMap{{lone, 1}}, format, QStringLiteral("/"));
        refusedAt(QVariantList{QDateTime()}, format, QStringLiteral("/[0]"));
        QVariant deep = 1;
        for (int i = 0; i < 600; ++i)
            deep = QVariantList{deep};
        EXPECT_FALSE(PropertyList::write(deep, format));
    }
    // Only XML: control characters and a dictionary that would read back as a UID.
    refusedAt(QVariantMap{{QStringLiteral("c"), QStringLiteral("bell\a")}}, PlistFormat::Xml, QStringLiteral("/c"));
    refusedAt(QVariantMap{{QStringLiteral("u"), QVariantMap{{QStringLiteral("CF$UID"), 3}}}},
              PlistFormat::Xml, QStringLiteral("/u"));
    EXPECT_TRUE(PropertyList::write(QVariantMap{{QStringLiteral("CF$UID"), 3}}, PlistFormat::Binary));
}

TEST(PropertyList, OutputIsWhatStockReadersAndWritersUse)
{
    // Python's plistlib reads both outputs below to these values (the UID as UID(300), or in
    // XML as {"CF$UID": 300}), and writes the binary one byte for byte the same.
    const QVariantMap value{
        {QStringLiteral("a"), QVariantList{qint64(1), -2.5, true, QStringLiteral("é<&>")}},
        {QStringLiteral("b"), QByteArray("\0\xFF", 2)},
        {QStringLiteral("c"), utc(2100, 1, 2, 3, 4, 5)},
        {QStringLiteral("d"), QVariantMap{}},
        {QStringLiteral("e"), std::numeric_limits<quint64>::max()},
        {QStringLiteral("f"), -0.0},
        {QStringLiteral("g"), uid(300)},
    };
    const QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n"
        "<dict>\n"
        "\t<key>a</key>\n"
        "\t<array>\n"
        "\t\t<integer>1</integer>\n"
        "\t\t<real>-2.5</real>\n"
        "\t\t<true/>\n"
        "\t\t<string>\xC3\xA9&lt;&amp;&gt;</string>\n"
        "\t</array>\n"
        "\t<key>b</key>\n"
        "\t<data>AP8=</data>\n"
        "\t<key>c</key>\n"
        "\t<date>2100-01-02T03:04:05Z</date>\n"
        "\t<key>d</key>\n"
        "\t<dict/>\n"
        "\t<key>e</key>\n"
        "\t<integer>18446744073709551615</integer>\n"
        "\t<key>f</key>\n"
        "\t<real>-0.0</real>\n"
        "\t<key>g</key>\n"
        "\t<dict>\n"
        "\t\t<key>CF$UID</key>\n"
        "\t\t<integer>300</integer>\n"
        "\t</dict>\n"
        "</dict>\n"
        "</plist>\n";
    const QByteArray binary = QByteArray::fromHex(
        "62706c6973743030d701020304050607080d0e0f101112516151625163516451"
        "6551665167a4090a0b0c100123c004000000000000096400e9003c0026003e42"
        "00ff3341e7470164a00000d0140000000000000000ffffffffffffffff238000"
        "00000000000081012c0817191b1d1f2123252a2c35363f424b4c5d6600000000"
        "00000101000000000000001300000000000000000000000000000069");
    EXPECT_EQ(*PropertyList::write(value, PlistFormat::Xml), xml);
    EXPECT_EQ(*PropertyList::write(value, PlistFormat::Binary), binary);

    // plistlib's XML for the same values lays out data over lines of its own.
    QByteArray fromPython = xml;
    fromPython.replace("<data>AP8=</data>", "<data>\n\tAP8=\n\t</data>");
    for (const QByteArray& bytes : {xml, binary, fromPython}) {
        auto back = PropertyList::read(bytes);
        ASSERT_TRUE(back) << describe(back);
        expectSameValues(value, back->toMap(), PlistFormat::Binary);
        EXPECT_TRUE(std::signbit(back->toMap().value(QStringLiteral("f")).toDouble()));
    }
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
