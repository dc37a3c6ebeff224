// What predicates decide: folding modifiers, LIKE, ANY and @count, nil, dates, exact numbers,
// precedence, format arguments and error reporting.
#include "FakeObjects.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"

#include <QDateTime>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace platform;
using namespace predicatetest;

namespace {

// Parses (failing the test on an error) and evaluates against subject.
bool eval(const QString& format, const QVariant& subject, const QVariantList& arguments = {})
{
    const Result<Predicate> p = Predicate::format(format, arguments);
    EXPECT_TRUE(p.has_value()) << qPrintable(format) << ": " << (p ? "" : qPrintable(p.error().message));
    return p && p->evaluate(subject);
}

// The position named by the error message of a text that must not parse.
qsizetype errorPosition(const QString& format, const QVariantList& arguments = {}, int* code = nullptr)
{
    const Result<Predicate> p = Predicate::format(format, arguments);
    if (p)
        return -1;
    if (code)
        *code = p.error().code;
    const QString message = p.error().message;
    const qsizetype at = message.lastIndexOf(QLatin1String("at position "));
    return at < 0 ? -2 : message.mid(at + 12).toLongLong();
}

TEST(PredicateSemantics, FoldingModifiers)
{
    const QVariantMap m{{"name", "Caf\u00e9 Cr\u00e8me"}};
    EXPECT_FALSE(eval("name == 'cafe creme'", m));
    EXPECT_FALSE(eval("name ==[c] 'cafe creme'", m));
    EXPECT_TRUE(eval("name ==[c] 'CAF\u00c9 CR\u00c8ME'", m));
    EXPECT_FALSE(eval("name ==[d] 'cafe creme'", m));
    EXPECT_TRUE(eval("name ==[d] 'Cafe Creme'", m));
    EXPECT_TRUE(eval("name ==[cd] 'CAFE CREME'", m));
    EXPECT_TRUE(eval("name CoNtAiNs[dc] 'E CR'", m));
    EXPECT_TRUE(eval("name like[CD] 'cafe*'", m));
    EXPECT_TRUE(eval("name beginswith[c] 'caf\u00e9'", m));
    EXPECT_FALSE(eval("name BEGINSWITH 'caf\u00e9'", m));
    // A decomposed e + combining accent is the same text as the composed one.
    EXPECT_TRUE(eval("name ENDSWITH %@", m, {QStringLiteral("Cre\u0300me")}));
    // Text operators over non-text never match, whatever the pattern.
    const QVariantMap n{{"rate", 4}, {"nothing", QVariant()}};
    EXPECT_FALSE(eval("rate CONTAINS '4'", n));
    EXPECT_FALSE(eval("rate LIKE '*'", n));
    EXPECT_FALSE(eval("nothing LIKE '*'", n));
    EXPECT_FALSE(eval("rate == '4'", n));
}

TEST(PredicateSemantics, LikeWildcardsAndEscapes)
{
    auto like = [](const QString& text, const QString& pattern) {
        return eval("SELF LIKE %@", text, {pattern});
    };
    EXPECT_TRUE(like("abbc", "a*c"));
    EXPECT_TRUE(like("ac", "a*c"));
    EXPECT_FALSE(like("abcd", "a*c"));
    EXPECT_TRUE(like("abc", "a?c"));
    EXPECT_FALSE(like("ac", "a?c"));
    EXPECT_TRUE(like("a*c", "a\\*c"));
    EXPECT_FALSE(like("abc", "a\\*c"));
    EXPECT_TRUE(like("a?c", "a\\?c"));
    EXPECT_TRUE(like("a\\c", "a\\\\c"));
    EXPECT_TRUE(like("100%", "100%"));
    EXPECT_TRUE(like("x.pdf", "*.pdf"));
    EXPECT_FALSE(like("xpdf", "*.pdf"));
    // In a quoted literal "\\" is one backslash; other pairs stay as written for LIKE.
    EXPECT_TRUE(eval("SELF LIKE 'a\\\\*c'", QStringLiteral("a*c")));
    EXPECT_TRUE(eval("SELF LIKE 'a\\*c'", QStringLiteral("a*c")));
    EXPECT_FALSE(eval("SELF LIKE 'a\\*c'", QStringLiteral("abc")));
    // Backslashes quadrupled into a built text reach LIKE as one literal backslash.
    EXPECT_TRUE(eval("ANY authors.name like[cd] \"a\\\\\\\\b\"",
                     QVariantMap{{"authors", QVariantList{object({{"name", "A\\B"}})}}}));
}

TEST(PredicateSemantics, EscapeLikeAndQuoteStringKeepUserTextLiteral)
{
    const QStringList nasty{"50% *off*?", "a\\b", "say \"hi\" & 'bye'", "line\nbreak\ttab", "%@ AND x == 1",
                            "\u00e9\U0001F600", ""};
    for (const QString& text : nasty) {
        const QVariantMap m{{"name", text}};
        const Result<Predicate> exact = Predicate::parse("name == " + Predicate::quoteString(text));
        ASSERT_TRUE(exact.has_value()) << qPrintable(text);
        EXPECT_TRUE(exact->evaluate(m)) << qPrintable(text);
        EXPECT_TRUE(eval("name LIKE %@", m, {Predicate::escapeLike(text)})) << qPrintable(text);
        EXPECT_TRUE(eval("name LIKE %@", QVariantMap{{"name", "[" + text + "]"}},
                         {"*" + Predicate::escapeLike(text) + "*"}));
        const Result<Predicate> pattern = Predicate::parse(
            "name like[cd] " + Predicate::quoteString("*" + Predicate::escapeLike(text) + "*"));
        ASSERT_TRUE(pattern.has_value()) << qPrintable(text);
        EXPECT_TRUE(pattern->evaluate(m)) << qPrintable(text);
    }
    EXPECT_FALSE(eval("name LIKE %@", QVariantMap{{"name", "50% xoffx?"}}, {Predicate::escapeLike("50% *off*?")}));
}

TEST(PredicateSemantics, AnyOverToManyAndCount)
{
    const QVariant work = object({{"name", "Work"}, {"isTrash", false}});
    const QVariant old = object({{"name", "Old"}, {"isTrash", true}});
    const QVariantMap doc{{"tags", QVariantList{work, old}}};
    const QVariantMap bare{{"tags", QVariantList{}}};
    const QVariantMap missing{};

    EXPECT_TRUE(eval("ANY tags.name == 'Work'", doc));
    EXPECT_TRUE(eval("tags.name == 'Old'", doc)); // implicit ANY
    EXPECT_FALSE(eval("ANY tags.name == 'Home'", doc));
    EXPECT_TRUE(eval("ANY tags.name != 'Work'", doc));
    EXPECT_TRUE(eval("NOT (ANY tags.name == 'Home')", doc));
    EXPECT_FALSE(eval("ANY tags.name != 'x'", bare));
    EXPECT_FALSE(eval("ANY tags.name == nil", bare));
    EXPECT_FALSE(eval("ANY tags.name like '*'", missing));
    EXPECT_FALSE(eval("ANY tags == nil", missing));

    EXPECT_TRUE(eval("tags.@count == 2", doc));
    EXPECT_TRUE(eval("tags.@count == 0", bare));
    EXPECT_TRUE(eval("tags.@count == 0", missing));
    EXPECT_TRUE(eval("tags.@count > 1 && tags.@count < 3", doc));

    // A path through two to-manys flattens: every tag of every document.
    const QVariantMap author{{"fileInfos", QVariantList{object(doc), object(bare), object({{"tags", QVariantList{work}}})}}};
    EXPECT_TRUE(eval("fileInfos.tags.@count == 3", author));
    EXPECT_TRUE(eval("ANY fileInfos.tags.isTrash == YES", author));
    EXPECT_TRUE(eval("fileInfos.@count == 3", author));
}

TEST(PredicateSemantics, ContainsOnACollectionTestsMembership)
{
    const QVariant work = object({{"name", "Work"}}, fakeID(101));
    const QVariant resume = object({{"name", "R\u00e9sum\u00e9"}}, fakeID(102));
    const QVariantMap doc{{"title", "Work plan"}, {"tags", QVariantList{work, resume}}};

    // An element must be the value; part of an element is not enough.
    EXPECT_TRUE(eval("tags.name CONTAINS 'Work'", doc));
    EXPECT_FALSE(eval("tags.name CONTAINS 'Wor'", doc));
    EXPECT_FALSE(eval("tags.name CONTAINS 'ork'", doc));
    EXPECT_TRUE(eval("NOT (tags.name CONTAINS 'Wor')", doc));
    // The folding flags fold the elements as == folds them.
    EXPECT_FALSE(eval("tags.name CONTAINS 'work'", doc));
    EXPECT_TRUE(eval("tags.name CONTAINS[c] 'WORK'", doc));
    EXPECT_FALSE(eval("tags.name CONTAINS[c] 'resume'", doc));
    EXPECT_TRUE(eval("tags.name CONTAINS[cd] 'RESUME'", doc));
    EXPECT_FALSE(eval("tags.name CONTAINS[cd] 'RESUM'", doc));
    // Objects by identity.
    EXPECT_TRUE(eval("tags CONTAINS %@", doc, {fakeID(102)}));
    EXPECT_FALSE(eval("tags CONTAINS %@", doc, {fakeID(7)}));
    // ANY still compares each element as text, and a plain string still looks inside itself.
    EXPECT_TRUE(eval("ANY tags.name CONTAINS 'ork'", doc));
    EXPECT_TRUE(eval("ANY tags.name CONTAINS[cd] 'SUM'", doc));
    EXPECT_TRUE(eval("title CONTAINS 'k pl'", doc));
    EXPECT_FALSE(eval("title CONTAINS 'Work plans'", doc));

    // Lists as SELF, numbers, nothing, and a path through two to-manys.
    EXPECT_TRUE(eval("SELF CONTAINS 'b'", QStringList{"abc", "b"}));
    EXPECT_FALSE(eval("SELF CONTAINS 'b'", QStringList{"abc"}));
    EXPECT_TRUE(eval("SELF CONTAINS 2", QVariantList{1, 2, 3}));
    EXPECT_FALSE(eval("SELF CONTAINS '2'", QVariantList{1, 2, 3}));
    EXPECT_FALSE(eval("tags.name CONTAINS 'Work'", QVariantMap{{"tags", QVariantList{}}}));
    EXPECT_FALSE(eval("tags.name CONTAINS nil", QVariantMap{{"tags", QVariantList{}}}));
    const QVariantMap author{{"fileInfos", QVariantList{object(doc), object({{"tags", QVariantList{}}})}}};
    EXPECT_TRUE(eval("fileInfos.tags.name CONTAINS 'Work'", author));
    EXPECT_FALSE(eval("fileInfos.tags.name CONTAINS 'Wo'", author));
}

TEST(PredicateSemantics, InTestsMembershipOfAList)
{
    const QVariantMap doc{{"ext", "PDF"}, {"rate", 3}, {"nothing", QVariant()},
                          {"tags", QVariantList{object({{"name", "Work"}}), object({{"name", "Caf\u00e9"}})}}};
    const QStringList kinds{"pdf", "txt"};

    // Case and diacritics only fold with their modifiers, on the list's elements as on the key.
    EXPECT_FALSE(eval("ext IN %@", doc, {kinds}));
    EXPECT_TRUE(eval("ext IN[c] %@", doc, {kinds}));
    EXPECT_TRUE(eval("ext IN[cd] {'p\u00e9f', 'pdf'}", doc));
    EXPECT_FALSE(eval("ext IN[c] {'p\u00e9f'}", doc));
    EXPECT_TRUE(eval("ANY tags.name IN[d] {'Cafe'}", doc));
    EXPECT_FALSE(eval("ANY tags.name IN[d] {'cafe'}", doc));
    EXPECT_TRUE(eval("tags.name IN {'Home', 'Work'}", doc)); // implicit ANY over a to-many

    // Numbers compare by value across kinds; a number is never the same as its text.
    EXPECT_TRUE(eval("rate IN {1, 3.0}", doc));
    EXPECT_TRUE(eval("rate IN %@", doc, {QVariant(QVariantList{qint64(3)})}));
    EXPECT_FALSE(eval("rate IN {'3'}", doc));

    // Nothing is in an empty list, nil or a single value; only nil is in a list holding nil.
    EXPECT_FALSE(eval("ext IN {}", doc));
    EXPECT_TRUE(eval("NOT ext IN %@", doc, {QVariant(QVariantList{})}));
    EXPECT_FALSE(eval("ext IN nil", doc));
    EXPECT_FALSE(eval("ext IN[c] 'pdf'", doc));
    EXPECT_FALSE(eval("ext IN %@", doc, {QVariant()}));
    EXPECT_FALSE(eval("nothing IN {'pdf'}", doc));
    EXPECT_FALSE(eval("missing IN {'pdf'}", doc));
    EXPECT_TRUE(eval("nothing IN {nil, 'pdf'}", doc));

    // An argument's text is data: quotes and wildcards in it match only themselves.
    const QVariantMap odd{{"ext", "a\"b"}, {"other", "x*"}};
    EXPECT_TRUE(eval("ext IN[c] %@", odd, {QStringList{"A\"B"}}));
    EXPECT_FALSE(eval("other IN %@", odd, {QStringList{"*", "x?"}}));
    EXPECT_TRUE(eval("other IN %@ AND ext IN %@", odd, {QStringList{"x*"}, QStringList{"a\"b"}}));

    // Written back out, the predicate reads the same.
    const Result<Predicate> p = Predicate::format("isTrash == NO && pathExtension IN[c] %@", {kinds});
    ASSERT_TRUE(p.has_value());
    const Result<Predicate> again = Predicate::parse(p->toString());
    ASSERT_TRUE(again.has_value()) << qPrintable(p->toString());
    EXPECT_TRUE(again->evaluate(QVariantMap{{"isTrash", false}, {"pathExtension", "Txt"}}));
    EXPECT_FALSE(again->evaluate(QVariantMap{{"isTrash", true}, {"pathExtension", "Txt"}}));
}

TEST(PredicateSemantics, NilComparesOnlyWithNil)
{
    const QVariantMap m{{"zero", 0}, {"empty", ""}, {"no", false}};
    EXPECT_TRUE(eval("absent == nil", m));
    EXPECT_TRUE(eval("absent == NULL", m));
    EXPECT_TRUE(eval("nil == absent", m));
    EXPECT_FALSE(eval("absent != nil", m));
    EXPECT_FALSE(eval("zero == nil", m));
    EXPECT_FALSE(eval("empty == nil", m));
    EXPECT_FALSE(eval("absent == NO", m));
    EXPECT_TRUE(eval("absent != 0", m));
    // Ordering against nil is false both ways, so its negation is true.
    EXPECT_FALSE(eval("absent < 1", m));
    EXPECT_FALSE(eval("absent >= 1", m));
    EXPECT_FALSE(eval("zero > nil", m));
    EXPECT_FALSE(eval("absent <= nil", m));
    EXPECT_TRUE(eval("NOT (absent > 'a')", m));
    EXPECT_TRUE(eval("no == NO && no == FALSE && no == 0 && zero == NO", m));
    EXPECT_TRUE(eval("name == %@", QVariantMap{}, {QVariant()}));
}

TEST(PredicateSemantics, CastDatesAndDateComparisons)
{
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    const QVariantMap m{{"at", reference.addSecs(86400)}, {"later", reference.addSecs(86401)}};
    EXPECT_TRUE(eval("at == CAST(86400, \"NSDate\")", m));
    EXPECT_TRUE(eval("at == CAST(%f, 'NSDate')", m, {86400.0}));
    EXPECT_TRUE(eval("at > CAST(%f, \"NSDate\") && at < CAST(%f, \"NSDate\")", m, {86399.5, 86400.5}));
    EXPECT_TRUE(eval("at < later && later > at", m));
    EXPECT_TRUE(eval("at == %@", m, {reference.addSecs(86400).toTimeZone(QTimeZone(3600))}));
    EXPECT_TRUE(eval("CAST(-1, \"NSDate\") < at", m));
    EXPECT_FALSE(eval("at > 'x'", m));
    EXPECT_FALSE(eval("missing < CAST(0, \"NSDate\")", m));

    int code = 0;
    EXPECT_EQ(errorPosition("at > CAST(1, \"NSNumber\")", {}, &code), 13);
    EXPECT_EQ(code, Predicate::UnsupportedError);
    EXPECT_EQ(errorPosition("at > CAST('1', \"NSDate\")"), 10);
}

TEST(PredicateSemantics, NumbersCompareExactlyAcrossKinds)
{
    const QVariantMap m{{"big", QVariant::fromValue(18446744073709551615ull)},
                        {"half", QVariant::fromValue(quint64(1) << 63)},
                        {"signedMax", QVariant::fromValue(qint64(9223372036854775807))},
                        {"minusOne", qint64(-1)},
                        {"twoTo53", QVariant::fromValue(qint64(9007199254740992))},
                        {"short", QVariant::fromValue(short(-3))},
                        {"real", 2.5}};
    EXPECT_TRUE(eval("big > -1 && big >= 0 && big > minusOne && minusOne < big", m));
    EXPECT_TRUE(eval("big == 18446744073709551615 && big != 18446744073709551614", m));
    EXPECT_TRUE(eval("half > signedMax && signedMax < half && half == 9223372036854775808", m));
    EXPECT_TRUE(eval("big == %llu && minusOne == %lld && half == %lu", m,
                     {QVariant::fromValue(18446744073709551615ull), qint64(-1),
                      QVariant::fromValue(quint64(1) << 63)}));
    // 2^53 + 1 has no double; a lossy comparison would call it equal to 2^53.
    EXPECT_TRUE(eval("twoTo53 < 9007199254740993 && 9007199254740993 > twoTo53", m));
    EXPECT_FALSE(eval("twoTo53 == 9007199254740993", m));
    EXPECT_TRUE(eval("big < 1.8446744073709552e19 && minusOne < -0.5 && short < -2.5", m));
    EXPECT_TRUE(eval("real > 2 && real < 3 && real == 2.5 && real != 2", m));
    EXPECT_TRUE(eval("short == -3 && short == %d", m, {-3}));
}

TEST(PredicateSemantics, PrecedenceNotOverAndOverOr)
{
    const QVariantMap m{{"a", 1}, {"b", 0}, {"c", 0}};
    EXPECT_TRUE(eval("a == 1 || b == 1 && c == 1", m));
    EXPECT_FALSE(eval("(a == 1 || b == 1) && c == 1", m));
    EXPECT_TRUE(eval("b == 1 && c == 1 OR a == 1", m));
    EXPECT_FALSE(eval("NOT a == 1 || b == 1", m));
    EXPECT_TRUE(eval("!a == 1 || a == 1", m));
    EXPECT_TRUE(eval("!(a == 1 && b == 1)", m));
    EXPECT_TRUE(eval("NOT NOT a == 1", m));
    EXPECT_TRUE(eval("a == 1 and b == 0 or c == 5", m));

    const Result<Predicate> p = Predicate::parse("x == 1 || y == 1 && z == 1 || !w == 1");
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->toString(), QStringLiteral("x == 1 OR y == 1 AND z == 1 OR NOT (w == 1)"));
    EXPECT_EQ(Predicate::parse("(x == 1 || y == 1) && z == 1")->toString(),
              QStringLiteral("(x == 1 OR y == 1) AND z == 1"));
}

TEST(PredicateSemantics, FormatArguments)
{
    const QVariantMap m{{"title", "x\" OR 1 == 1"}, {"label", 2}, {"metadata", object({{"label", 2}})}};
    // A value is a value: quotes and keywords in it change nothing.
    EXPECT_TRUE(eval("title == %@", m, {"x\" OR 1 == 1"}));
    EXPECT_FALSE(eval("title == %@", m, {"y\" OR 1 == 1"}));
    EXPECT_TRUE(eval("%K == %d", m, {"metadata.label", 2}));
    EXPECT_TRUE(eval("%K == %i", m, {"label", 2}));
    EXPECT_TRUE(eval("label == %@ && label == %f && label < %@", m, {2, 2.0, 2.5}));
    // Quoted text is never substituted into; "%%" there is a percent sign.
    EXPECT_TRUE(eval("SELF == '%@'", QStringLiteral("%@"), {"unused"}));
    EXPECT_TRUE(eval("SELF == '100%%' AND SELF == \"100%%\"", QStringLiteral("100%")));
    EXPECT_TRUE(Predicate::parse("SELF == '100%%'")->evaluate(QStringLiteral("100%%")));
    EXPECT_TRUE(Predicate::parse("SELF == '50%'")->evaluate(QStringLiteral("50%")));

    // Objects: an object equals itself and its identity; by default the identity is the object.
    const ObjectRef node = makeObject({{"nodeID", 5}}, fakeID(9));
    const ObjectRef plain = makeObject({{"nodeID", 5}});
    const QVariantMap doc{{"node", QVariant::fromValue(node)}, {"other", QVariant::fromValue(plain)}};
    EXPECT_TRUE(eval("node == %@", doc, {QVariant::fromValue(node)}));
    EXPECT_TRUE(eval("node == %@", doc, {fakeID(9)}));
    EXPECT_TRUE(eval("node == %@", doc, {QVariant::fromValue(makeObject({}, fakeID(9)))}));
    EXPECT_FALSE(eval("node == %@", doc, {fakeID(10)}));
    EXPECT_TRUE(eval("other == %@", doc, {QVariant::fromValue(plain)}));
    EXPECT_FALSE(eval("other == %@", doc, {QVariant::fromValue(makeObject({{"nodeID", 5}}))}));
    EXPECT_FALSE(eval("node == %@", doc, {9}));
    EXPECT_TRUE(eval("SELF == %@", QVariant::fromValue(node), {fakeID(9)}));
    EXPECT_TRUE(Predicate::format("SELF == %@", {fakeID(9)})->evaluate(*node));

    // A parsed predicate passed for %@ joins as a term.
    const Predicate fileTypes = *Predicate::parse("ext like[cd] 'pdf' || ext like[cd] 'txt'");
    const Result<Predicate> joined = Predicate::format("(%@) && (isTrash == NO)", {QVariant::fromValue(fileTypes)});
    ASSERT_TRUE(joined.has_value());
    EXPECT_TRUE(joined->evaluate(QVariantMap{{"ext", "TXT"}, {"isTrash", false}}));
    EXPECT_FALSE(joined->evaluate(QVariantMap{{"ext", "TXT"}, {"isTrash", true}}));
    EXPECT_FALSE(joined->evaluate(QVariantMap{{"ext", "doc"}, {"isTrash", false}}));

    int code = 0;
    EXPECT_EQ(errorPosition("a == %@ && b == %@", {1}, &code), 16);
    EXPECT_EQ(code, Predicate::ArgumentError);
    EXPECT_EQ(errorPosition("%K == 1", {"a == 1 OR b"}, &code), 0);
    EXPECT_EQ(code, Predicate::ArgumentError);
    EXPECT_EQ(errorPosition("%K == 1", {5}), 0);
    EXPECT_EQ(errorPosition("a == %d", {"seven"}), 5);
    EXPECT_EQ(errorPosition("a == %x", {1}), 5);
    EXPECT_EQ(errorPosition("a == 5%%", {}), 6);
    EXPECT_EQ(errorPosition("a == %@", {QVariant::fromValue(fileTypes)}), 5);
    EXPECT_EQ(Predicate::parse("a == %@").error().code, Predicate::ArgumentError);
}

TEST(PredicateSemantics, BrokenTextsReportPositions)
{
    struct Broken {
        const char* text;
        qsizetype position;
        int code;
    };
    const Broken cases[] = {
        {"", 0, Predicate::SyntaxError},
        {"isTrash == ", 11, Predicate::SyntaxError},
        {"isTrash === NO", 10, Predicate::SyntaxError},
        {"(isTrash == NO", 14, Predicate::SyntaxError},
        {"isTrash == NO)", 13, Predicate::SyntaxError},
        {"title CONTAINS[cd] \"a\"b\"", 22, Predicate::SyntaxError},
        {"title CONTAINS[cd] \"abc", 19, Predicate::SyntaxError},
        {"name LIKE[xy] 'a'", 10, Predicate::SyntaxError},
        {"name LIKE[cd 'a'", 13, Predicate::SyntaxError},
        {"name LIKES 'a'", 5, Predicate::SyntaxError},
        {"a == 1 & b == 2", 7, Predicate::SyntaxError},
        {"a == 1 AND", 10, Predicate::SyntaxError},
        {"a == 1 AND OR b == 2", 11, Predicate::SyntaxError},
        {"a IN {1, 2", 10, Predicate::SyntaxError},
        {"a IN {1 2}", 8, Predicate::SyntaxError},
        {"a IN {1, b}", 9, Predicate::SyntaxError},
        {"a IN {{1}}", 6, Predicate::UnsupportedError},
        {"a IN[x] {1}", 5, Predicate::SyntaxError},
        {"a BETWEEN {1, 2}", 2, Predicate::UnsupportedError},
        {"tags.@sum > 1", 0, Predicate::UnsupportedError},
        {"tags.@count.name > 1", 0, Predicate::SyntaxError},
        {"a == 12abc", 5, Predicate::SyntaxError},
        {"a == #", 5, Predicate::SyntaxError},
        {"ALL tags.name == 'x'", 0, Predicate::UnsupportedError},
    };
    for (const Broken& b : cases) {
        int code = 0;
        EXPECT_EQ(errorPosition(QString::fromUtf8(b.text), {}, &code), b.position) << b.text;
        EXPECT_EQ(code, b.code) << b.text;
    }
}

TEST(PredicateSemantics, NestingIsBoundedNotRecursedToDeath)
{
    const int shallow = 150;
    EXPECT_TRUE(Predicate::parse(QString(shallow, u'(') + "a == 1" + QString(shallow, u')')).has_value());
    EXPECT_TRUE(Predicate::parse(QString(shallow, u'!') + "a == 1").has_value());
    const int deep = 100000;
    EXPECT_EQ(Predicate::parse(QString(deep, u'(') + "a == 1" + QString(deep, u')')).error().code,
              Predicate::NestingError);
    EXPECT_EQ(Predicate::parse(QString(deep, u'!') + "a == 1").error().code, Predicate::NestingError);
    EXPECT_EQ(Predicate::parse("NOT " + QString(deep, u'(')).error().code, Predicate::NestingError);
    // Long flat chains are not nesting.
    QStringList terms;
    for (int i = 0; i < 5000; ++i)
        terms.append(QStringLiteral("node.nodeID == %1").arg(i));
    const Result<Predicate> chain = Predicate::parse(terms.join(" OR "));
    ASSERT_TRUE(chain.has_value());
    EXPECT_TRUE(chain->evaluate(QVariantMap{{"node", object({{"nodeID", 4999}})}}));
}

TEST(PredicateSemantics, TopLevelTermsAreVisibleForPlanning)
{
    const Result<Predicate> p = Predicate::format("isTrash == NO && (ANY tags == %@) && (a == 1 || b == 2)",
                                                  {fakeID(3)});
    ASSERT_TRUE(p.has_value());
    const std::vector<const PredicateNode*> terms = p->conjuncts();
    ASSERT_EQ(terms.size(), 3u);
    EXPECT_EQ(terms[0]->left.keyPath, QStringLiteral("isTrash"));
    EXPECT_EQ(terms[0]->right.constant, QVariant(false));
    EXPECT_EQ(terms[1]->modifier, PredicateModifier::Any);
    EXPECT_EQ(terms[1]->left.components, QStringList{"tags"});
    EXPECT_EQ(terms[1]->right.constant.value<FakeID>().pk, 3);
    EXPECT_EQ(terms[2]->kind, PredicateNode::Kind::Or);
    EXPECT_EQ(Predicate().conjuncts().front()->kind, PredicateNode::Kind::True);
    EXPECT_TRUE(Predicate().evaluate(QVariant()));

    const Predicate both = Predicate::andPredicate({*p, *Predicate::parse("c == 3")});
    EXPECT_EQ(both.conjuncts().size(), 4u);
    EXPECT_TRUE(Predicate::notPredicate(both).evaluate(QVariantMap{}));
}

TEST(PredicateSemantics, SelfOverPlainValues)
{
    EXPECT_TRUE(eval("SELF == 3", 3));
    EXPECT_TRUE(eval("SELF > 2.5", QVariant::fromValue(quint64(3))));
    EXPECT_TRUE(eval("self BEGINSWITH[cd] 'AB'", QStringLiteral("\u00e1bc")));
    EXPECT_FALSE(eval("SELF CONTAINS 'x'", 5));
    EXPECT_TRUE(eval("name == 'x' && SELF.name == 'x'", QVariantMap{{"name", "x"}}));
    EXPECT_TRUE(eval("SELF == nil", QVariant()));
    EXPECT_TRUE(eval("SELF.name LIKE 'a*'", QVariantList{QVariantMap{{"name", "b"}}, QVariantMap{{"name", "ab"}}}));
}

} // namespace

// An empty operand of the substring operators is found nowhere, literal or bound, with or
// without folding, and also when folding leaves nothing of it (a lone combining mark).
TEST(PredicateSemantics, EmptyOperandsOfSubstringOperatorsMatchNothing)
{
    const QVariantMap m{{"name", "Report"}};
    for (const char* op : {"CONTAINS", "BEGINSWITH", "ENDSWITH", "CONTAINS[cd]", "BEGINSWITH[c]", "ENDSWITH[d]"}) {
        const QString literal = QStringLiteral("name %1 \"\"").arg(QLatin1String(op));
        EXPECT_FALSE(eval(literal, m)) << op;
        EXPECT_TRUE(eval("NOT (" + literal + ")", m)) << op;
        EXPECT_FALSE(eval(QStringLiteral("name %1 %@").arg(QLatin1String(op)), m, {QString()})) << op;
        EXPECT_FALSE(eval(QStringLiteral("SELF %1 %@").arg(QLatin1String(op)), QStringLiteral("Report"), {QString()}));
    }
    EXPECT_FALSE(eval("name CONTAINS[d] %@", m, {QStringLiteral("\u0301")}));
    EXPECT_TRUE(eval("name CONTAINS[cd] 'port'", m));
}
