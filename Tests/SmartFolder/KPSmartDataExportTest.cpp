#include "SmartFolder/KPSmartDataExport.h"

#include "../Browser/BrowserLibraryKit.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/KeyedUnarchiver.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "SmartFolder/SmartFolderRules.h"
#include "Store/DBNode.h"

#include <QDateTime>
#include <clocale>

namespace {

using browsertest::DocumentFields;
using browsertest::localDate;
using Env = KPSmartDataExport::Environment;

QVariantMap rule(const QString& title, const QString& left, const QString& op, const QVariant& right)
{
    return {{"Title", title}, {"Left", left}, {"Center", op}, {"Right", right}};
}

QVariantMap rules(bool all, const QVariantList& rows)
{
    return {{"Operation", all}, {"SmartData", rows}};
}

QVariantMap rating(const QString& op, int n)
{
    return rule("Rating", "metadata.rate", op, n);
}

QVariantMap tag(const QString& op, const QString& name)
{
    return rule("Tag", "tags", op, name);
}

Env fixedEnv(const QDateTime& now = localDate(2026, 6, 15, 12, 0))
{
    Env env;
    env.now = now;
    env.extensions = [](qint64 kind) { return kind == 5 ? QStringList{"jpg", "jpeg"} : QStringList(); };
    env.collection = [](quint64 id) -> std::optional<KPSmartDataExport::CollectionIds> {
        if (id == 7)
            return KPSmartDataExport::CollectionIds{7, {7}};
        if (id == 9)
            return KPSmartDataExport::CollectionIds{9, {9, 10, 11}};
        if (id == 12)
            return KPSmartDataExport::CollectionIds{12, {}};
        return std::nullopt;
    };
    return env;
}

// The rules' vectors, as written.
TEST(KPSmartDataExport, TextOfTheRuleVectors)
{
    const Env env = fixedEnv();
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(rules(true, {rating(">", 3)}), env),
              "(metadata.rate > 3) AND isTrash == NO");
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(rules(true, {rating(">", 3), tag("==", "work")}), env),
              "((metadata.rate > 3) AND ((ANY tags.name == \"work\"))) AND isTrash == NO");
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(rules(false, {rating(">", 3), tag("==", "work")}), env),
              "((metadata.rate > 3) OR ((ANY tags.name == \"work\"))) AND isTrash == NO");
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(
                  rules(true, {rule("Content", "content", "CONTAINS[cd]", "tax,annual report")}), env),
              "isTrash == NO");
    // The collection part is ANDed even under "any".
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(
                  rules(false, {rating(">", 3), rule("Collection", "source", "==", 7)}), env),
              "((metadata.rate > 3) AND (node.nodeID == 7)) AND isTrash == NO");
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(
                  rules(true, {rule("Size", "metadata.fileSize", ">", QVariantMap{{"Size", 1.5}, {"Index", 1}})}), env),
              "(metadata.fileSize > 1572864.000000) AND isTrash == NO");
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(rules(true, {rule("Collection", "source", "==", 9)}), env),
              "(node.nodeID == 9 OR node.nodeID == 10 OR node.nodeID == 11) AND isTrash == NO");
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(rules(true, {rule("Collection", "source", "!=", 9)}), env),
              "(!(node.nodeID == 9 OR node.nodeID == 10 OR node.nodeID == 11)) AND isTrash == NO");
    // No rules: no predicate at all.
    EXPECT_TRUE(KPSmartDataExport::smartStringFromData(rules(true, {}), env).isEmpty());
    EXPECT_TRUE(KPSmartDataExport::smartStringFromData(QVariantMap{}, env).isEmpty());
}

// Numbers are written the same under a decimal-comma locale.
TEST(KPSmartDataExport, NumbersIgnoreTheDecimalCommaLocale)
{
    const std::string old = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const QString text = KPSmartDataExport::smartStringFromData(
        rules(true, {rule("Size", "metadata.fileSize", "<", QVariantMap{{"Size", 2.25}, {"Index", 0}}),
                     rule("Date Created", "metadata.dateCreated", "ISTODAY", QVariantMap{{"IsToDay", true}})}),
        fixedEnv());
    std::setlocale(LC_NUMERIC, old.c_str());
    EXPECT_TRUE(text.contains("metadata.fileSize < 2304.000000")) << qPrintable(text);
    EXPECT_TRUE(platform::Predicate::parse(text).has_value()) << qPrintable(text);
}

// Rules are bytes anyone could edit: every damaged form gives empty text or text that parses,
// and nothing of a value reaches the text as predicate syntax.
TEST(KPSmartDataExport, DamagedRulesGiveDefinedText)
{
    const Env env = fixedEnv();
    const QList<QVariantMap> cases{
        rules(true, {QVariantMap{}}),                                                    // a row without keys
        rules(true, {rule("Rating", "metadata.rate", ">", QVariantList{3})}),             // wrong type
        rules(true, {rule("Rating", "metadata.rate", ">", "3")}),                        // a string number
        rules(true, {rule("Nonsense", "title", "==", "x")}),                             // unknown title
        rules(true, {rule("Title", "title) OR (TRUEPREDICATE", "==", "x")}),             // injected key path
        rules(true, {rule("Title", "title", "== \"x\" OR TRUEPREDICATE OR title", "x")}), // injected operator
        rules(true, {rule("Title", "title", "-", "x")}),                                 // a separator
        rules(true, {rule("Date Created", "metadata.dateCreated", "==", QVariantMap{{"Date", "yesterday"}})}),
        rules(true, {rule("Date Created", "metadata.dateCreated", "ISINTHELAST", QVariantMap{{"IntValue", -3}, {"Index", 0}})}),
        rules(true, {rule("Date Created", "metadata.dateCreated", "ISINTHELAST", QVariantMap{{"IntValue", 1e12}, {"Index", 2}})}),
        rules(true, {rule("Size", "metadata.fileSize", ">", QVariantMap{{"Size", 1e18}, {"Index", 2}})}),
        rules(true, {rule("Size", "metadata.fileSize", ">", QVariantMap{{"Size", 0}, {"Index", 7}})}),
        rules(true, {rule("Collection", "source", "==", 123456)}),                      // a deleted collection
        rules(true, {rule("Collection", "source", "==", "seven")}),
        QVariantMap{{"Operation", "maybe"}, {"SmartData", "rows"}},
    };
    for (const QVariantMap& r : cases) {
        const QString text = KPSmartDataExport::smartStringFromData(r, env);
        if (text.isEmpty())
            continue;
        auto parsed = platform::Predicate::parse(text);
        ASSERT_TRUE(parsed.has_value()) << qPrintable(text);
        EXPECT_FALSE(text.contains("TRUEPREDICATE")) << qPrintable(text);
    }
    // What is dropped adds no clause; what is kept is the number.
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(cases[1], env), "isTrash == NO");
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(cases[4], env), "isTrash == NO");
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(cases[12], env), "((node.nodeID >= 0 || node == nil)) AND isTrash == NO");

    // Rows past the editor's twenty are not read.
    QVariantList many;
    for (int i = 0; i < 30; ++i)
        many.append(rating("==", i));
    const QString text = KPSmartDataExport::smartStringFromData(rules(false, many), env);
    EXPECT_TRUE(text.contains("metadata.rate == 19"));
    EXPECT_FALSE(text.contains("metadata.rate == 20"));

    // An archive that is no dictionary, and bytes that are no archive.
    EXPECT_TRUE(KPSmartDataExport::smartStringFromData(*platform::KeyedArchiver::archivedData(QVariantList{1, 2})).isEmpty());
    EXPECT_TRUE(KPSmartDataExport::smartStringFromData(QByteArray("bplist00 not really")).isEmpty());
}

TEST(KPSmartDataExport, ArchivedRulesKeepTheirTypes)
{
    const QVariantMap original = rules(
        true, {rating(">", 3), rule("Collection", "source", "==", QVariant::fromValue<quint64>(18446744073709551557ull)),
               rule("Size", "metadata.fileSize", ">", QVariantMap{{"Size", 1.5}, {"Index", 1}}),
               rule("Date Created", "metadata.dateCreated", "BEFORE",
                    QVariantMap{{"Date", QDateTime(QDate(2020, 2, 29), QTime(10, 0), Qt::UTC)}})});
    auto bytes = platform::KeyedArchiver::archivedData(original);
    ASSERT_TRUE(bytes.has_value());
    auto back = platform::KeyedUnarchiver::unarchiveObject(*bytes);
    ASSERT_TRUE(back.has_value());
    const QVariantList rows = back->toMap().value("SmartData").toList();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(back->toMap().value("Operation").typeId(), QMetaType::Bool);
    EXPECT_EQ(rows[1].toMap().value("Right").toULongLong(), 18446744073709551557ull);
    EXPECT_EQ(rows[2].toMap().value("Right").toMap().value("Size").toDouble(), 1.5);
    EXPECT_EQ(rows[3].toMap().value("Right").toMap().value("Date").typeId(), QMetaType::QDateTime);
    EXPECT_EQ(KPSmartDataExport::smartStringFromData(back->toMap(), fixedEnv()),
              KPSmartDataExport::smartStringFromData(original, fixedEnv()));
}

// ---- what the text finds in a library ----

class SmartRulesLibraryTest : public browsertest::BrowserLibraryTest {
protected:
    QStringList found(const QVariantMap& r, const Env& env)
    {
        const QString text = KPSmartDataExport::smartStringFromData(r, env);
        auto predicate = platform::Predicate::parse(text);
        EXPECT_TRUE(predicate.has_value()) << qPrintable(text);
        if (!predicate)
            return {"<unparsable>"};
        auto rows = engine->queryRecordByName(DBFileInfo::entityName(), *predicate);
        EXPECT_TRUE(rows.has_value());
        QStringList titles;
        for (const auto& row : *rows)
            titles.append(DBFileInfo(row).title());
        titles.sort();
        return titles;
    }
    QStringList found(const QVariantMap& r) { return found(r, env); }

    DBFileInfo doc(const QString& title, DocumentFields fields = {})
    {
        fields.title = title;
        return addDocument(fields);
    }

    Env env = fixedEnv();
};

TEST_F(SmartRulesLibraryTest, ClausesKeepTheirMeaningWhenJoined)
{
    doc("jpg rated", {.extension = "jpg", .rate = 4});
    doc("jpeg rated", {.extension = "JPEG", .rate = 5});
    doc("jpg unrated", {.extension = "jpg", .rate = 1});
    doc("pdf rated", {.rate = 5});
    doc("trashed", {.extension = "jpg", .rate = 5}).setIsTrash(true);
    EXPECT_EQ(found(rules(true, {rule("File Type", "pathExtension", "==", 5), rating(">", 3)})),
              QStringList({"jpeg rated", "jpg rated"}));
    EXPECT_EQ(found(rules(true, {rule("File Type", "pathExtension", "!=", 5)})), QStringList({"pdf rated"}));
    EXPECT_EQ(found(rules(false, {rule("File Type", "pathExtension", "==", 5), rating(">", 4)})),
              QStringList({"jpeg rated", "jpg rated", "jpg unrated", "pdf rated"}));
    EXPECT_EQ(found(rules(true, {rule("Label", "metadata.label", "!=", 0)})), QStringList());
}

TEST_F(SmartRulesLibraryTest, TagAndAuthorRulesOverNoneOneAndManyNames)
{
    doc("untagged");
    doc("work only", {.tags = {"work"}, .authors = {"Ann"}});
    doc("work and home", {.tags = {"work", "home"}, .authors = {"Ann", "Bob"}});
    doc("home only", {.tags = {"home"}, .authors = {"Bob"}});
    EXPECT_EQ(found(rules(true, {tag("!=", "work")})), QStringList({"home only", "untagged"}));
    EXPECT_EQ(found(rules(true, {tag("==", "work")})), QStringList({"work and home", "work only"}));
    EXPECT_EQ(found(rules(true, {tag("==", "")})), QStringList({"untagged"}));
    // "is not" with no name chosen means the same as "is": documents without any.
    EXPECT_EQ(found(rules(true, {tag("!=", "")})), QStringList({"untagged"}));
    EXPECT_EQ(found(rules(true, {rule("Author", "authors", "!=", "")})), QStringList({"untagged"}));
    EXPECT_EQ(found(rules(true, {tag("BEGINSWITH[cd]", "HO")})), QStringList({"home only", "work and home"}));
    EXPECT_EQ(found(rules(true, {rule("Author", "authors", "!=", "Ann")})), QStringList({"home only", "untagged"}));
    EXPECT_EQ(found(rules(true, {rule("Author", "authors", "ENDSWITH[cd]", "ob")})),
              QStringList({"home only", "work and home"}));
    // Empty operands of the text searches find nothing.
    EXPECT_EQ(found(rules(true, {tag("BEGINSWITH[cd]", "")})), QStringList());
    EXPECT_EQ(found(rules(true, {rule("Title", "title", "CONTAINS[cd]", "")})), QStringList());
    EXPECT_EQ(found(rules(true, {rule("Description", "metadata.comment", "ENDSWITH[cd]", "")})), QStringList());
}

TEST_F(SmartRulesLibraryTest, QuotesBackslashesPercentAndStarsAreOrdinaryText)
{
    doc("say \"hi\"", {.tags = {"50% off"}, .authors = {"O\\Brien"}});
    doc("C:\\temp", {.tags = {"a*b"}});
    doc("plain", {.tags = {"axb"}, .authors = {"OBrien"}});
    EXPECT_EQ(found(rules(true, {rule("Title", "title", "CONTAINS[cd]", "\"hi\"")})), QStringList({"say \"hi\""}));
    EXPECT_EQ(found(rules(true, {rule("Title", "title", "==", "C:\\temp")})), QStringList({"C:\\temp"}));
    EXPECT_EQ(found(rules(true, {rule("Title", "title", "DONTCONTAINS", "\\")})), QStringList({"plain", "say \"hi\""}));
    EXPECT_EQ(found(rules(true, {tag("==", "50% off")})), QStringList({"say \"hi\""}));
    EXPECT_EQ(found(rules(true, {tag("==", "a*b")})), QStringList({"C:\\temp"}));
    EXPECT_EQ(found(rules(true, {rule("Author", "authors", "==", "O\\Brien")})), QStringList({"say \"hi\""}));
}

TEST_F(SmartRulesLibraryTest, CollectionsAndDocumentSources)
{
    DBNode collection = engine->createDBNode();
    collection.setType(DBNode::Collection);
    DBNode inner = folderNamed("inner");
    DBNode deeper = folderNamed("deeper");
    collection.addChildrenObject(inner);
    inner.addChildrenObject(deeper);
    DBNode empty = engine->createDBNode();
    empty.setType(DBNode::Collection);
    doc("in inner").setNode(inner);
    doc("in deeper").setNode(deeper);
    doc("loose");
    doc("under b", {.isIndex = true, .path = "/a/b/x.pdf"});
    doc("under bc", {.isIndex = true, .path = "/a/bc/x.pdf"});
    doc("under B", {.isIndex = true, .path = "/a/B/x.pdf"});
    const Env store = KPSmartDataExport::environment(engine.get());

    const auto src = [](const QString& op, const QVariant& value) { return rule("Collection", "source", op, value); };
    EXPECT_EQ(found(rules(true, {src("==", collection.nodeID())}), store), QStringList({"in deeper", "in inner"}));
    EXPECT_EQ(found(rules(true, {src("==", empty.nodeID())}), store), QStringList());
    EXPECT_EQ(found(rules(true, {src("!=", empty.nodeID())}), store).size(), 6);
    empty.setIsTrash(true);
    EXPECT_EQ(found(rules(true, {src("==", empty.nodeID())}), store).size(), 6);

    const auto source = [](const QString& op, const QString& value) {
        return rule("DocumentSource", "documentSource", op, value);
    };
    EXPECT_EQ(found(rules(true, {source("==", "/a/b")})), QStringList({"under b"}));
    EXPECT_EQ(found(rules(true, {source("==", "/a/b/")})), QStringList({"under b"}));
    EXPECT_EQ(found(rules(true, {source("!=", "/a/b")})), QStringList({"under B", "under bc"}));
    EXPECT_EQ(found(rules(true, {source("!=", "0")})), QStringList({"under B", "under b", "under bc"}));
    EXPECT_EQ(found(rules(true, {source("==", "0")})).size(), 6);
}

TEST_F(SmartRulesLibraryTest, DayWindowsAreHalfOpenCalendarDays)
{
    browsertest::ScopedTimeZone berlin("Europe/Berlin");
    const auto created = [](const QString& op, const QVariantMap& right) {
        return rule("Date Created", "metadata.dateCreated", op, right);
    };
    // 29 March 2026: clocks go from 02:00 to 03:00, a day of 23 hours.
    doc("midnight", {.created = localDate(2026, 3, 29, 0, 0, 0)});
    doc("late", {.created = localDate(2026, 3, 29, 23, 59, 59).addMSecs(500)});
    doc("next midnight", {.created = localDate(2026, 3, 30, 0, 0, 0)});
    doc("day before", {.created = localDate(2026, 3, 28, 23, 59, 59)});
    doc("undated");

    env.now = localDate(2026, 3, 29, 12, 0);
    EXPECT_EQ(found(rules(true, {created("ISTODAY", {{"IsToDay", true}})})), QStringList({"late", "midnight"}));
    EXPECT_EQ(found(rules(true, {created("ISYERTERDAY", {{"IsYerterday", true}})})), QStringList({"day before"}));
    const QVariantMap day{{"Date", localDate(2026, 3, 29, 15, 0)}};
    EXPECT_EQ(found(rules(true, {created("==", day)})), QStringList({"late", "midnight"}));
    EXPECT_EQ(found(rules(true, {created("!=", day)})), QStringList({"day before", "next midnight"}));
    EXPECT_EQ(found(rules(true, {created("AFTER", day)})), QStringList({"next midnight"}));
    EXPECT_EQ(found(rules(true, {created("BEFORE", day)})), QStringList({"day before"}));
    // Sunday 29 March: this week starts that day, last week the Sunday before.
    EXPECT_EQ(found(rules(true, {created("ISTHISWEEK", {{"IsThisWeek", true}})})),
              QStringList({"late", "midnight", "next midnight"}));
    EXPECT_EQ(found(rules(true, {created("ISLASTWEEK", {{"IsLastWeek", true}})})), QStringList({"day before"}));
}

TEST_F(SmartRulesLibraryTest, MonthsAndTheLastNUnits)
{
    const auto created = [](const QString& op, const QVariantMap& right) {
        return rule("Date Created", "metadata.dateCreated", op, right);
    };
    doc("30 Nov", {.created = localDate(2025, 11, 30, 23, 0)});
    doc("1 Dec", {.created = localDate(2025, 12, 1, 0, 0)});
    doc("31 Dec", {.created = localDate(2025, 12, 31, 23, 59, 59)});
    doc("1 Jan", {.created = localDate(2026, 1, 1, 0, 0)});
    doc("9 Oct", {.created = localDate(2025, 10, 9, 23, 0)});
    doc("10 Oct", {.created = localDate(2025, 10, 10, 0, 0)});
    doc("10 Mar", {.created = localDate(2026, 3, 10, 23, 0)});

    env.now = localDate(2026, 1, 15, 9, 0);
    EXPECT_EQ(found(rules(true, {created("ISLASTMONTH", {{"IsLastMonth", true}})})), QStringList({"1 Dec", "31 Dec"}));
    EXPECT_EQ(found(rules(true, {created("ISTHISMONTH", {{"IsThisMonth", true}})})), QStringList({"1 Jan"}));
    env.now = localDate(2026, 3, 10, 9, 0);
    EXPECT_EQ(found(rules(true, {created("ISINTHELAST", {{"IntValue", 5}, {"Index", 2}})})),
              QStringList({"1 Dec", "1 Jan", "10 Mar", "10 Oct", "30 Nov", "31 Dec"}));
    EXPECT_EQ(found(rules(true, {created("ISINTHELAST", {{"IntValue", 9}, {"Index", 0}})})), QStringList({"10 Mar"}));
    EXPECT_EQ(found(rules(true, {created("ISINTHELAST", {{"IntValue", 10}, {"Index", 1}})})),
              QStringList({"1 Jan", "10 Mar", "31 Dec"}));
}

} // namespace
