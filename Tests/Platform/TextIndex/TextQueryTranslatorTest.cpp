#include "Platform/TextIndex/TextQueryTranslator.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <sqlite3.h>

using platform::TextQueryTranslator;

namespace {

QString tr(const char* q)
{
    return TextQueryTranslator::toMatchExpression(QString::fromUtf8(q));
}

// Runs an expression against a real FTS5 table: the translation is only safe if SQLite accepts
// everything it produces.
class Fts5Probe {
public:
    Fts5Probe()
    {
        sqlite3_open(":memory:", &m_db);
        sqlite3_exec(m_db,
                     "CREATE VIRTUAL TABLE f USING fts5(body, tokenize = 'unicode61 remove_diacritics 2');"
                     "INSERT INTO f VALUES ('alpha beta gamma');",
                     nullptr, nullptr, nullptr);
    }
    ~Fts5Probe() { sqlite3_close(m_db); }

    // Empty when FTS5 accepted the expression, else its complaint.
    QString errorFor(const QString& expr)
    {
        if (expr.isEmpty())
            return {};
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(m_db, "SELECT count(*) FROM f WHERE f MATCH ?1", -1, &st, nullptr);
        const QByteArray bytes = expr.toUtf8();
        sqlite3_bind_text(st, 1, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
        const int rc = sqlite3_step(st);
        QString err = rc == SQLITE_ROW ? QString() : QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(st);
        return err;
    }

private:
    sqlite3* m_db = nullptr;
};

} // namespace

TEST(TextQueryTranslator, WordsPhrasesAndPrefixes)
{
    EXPECT_EQ(tr("report \"annual plan\""), u"\"report\" AND \"annual plan\"");
    EXPECT_EQ(tr("rep*"), u"\"rep\"*");
    EXPECT_EQ(tr("\"annual pl\"*"), u"\"annual pl\"*");
    // No suffix search: a leading star is dropped, an inner one ends the prefix.
    EXPECT_EQ(tr("*port"), u"\"port\"");
    EXPECT_EQ(tr("re*p*"), u"\"re\"*");
    // Lower-case words are words, not operators: "to be or not" is four required words.
    EXPECT_EQ(tr("to be or not"), u"\"to\" AND \"be\" AND \"or\" AND \"not\"");
    EXPECT_EQ(tr("Größe résumé"), u"\"Größe\" AND \"résumé\"");
}

TEST(TextQueryTranslator, OperatorsAndGroups)
{
    // The form smart folders build for "any of": groups joined by OR, one trailing blank.
    EXPECT_EQ(tr("(a b) OR (c) "), u"(\"a\" AND \"b\") OR \"c\"");
    EXPECT_EQ(tr("a & b | c"), u"(\"a\" AND \"b\") OR \"c\"");
    EXPECT_EQ(tr("a AND (b OR c)"), u"\"a\" AND (\"b\" OR \"c\")");
    EXPECT_EQ(tr("a NOT b"), u"\"a\" NOT \"b\"");
    EXPECT_EQ(tr("a AND NOT b"), u"\"a\" NOT \"b\"");
    EXPECT_EQ(tr("!b a !c"), u"\"a\" NOT (\"b\" OR \"c\")");
    EXPECT_EQ(tr("a !(b | c)"), u"\"a\" NOT (\"b\" OR \"c\")");
    EXPECT_EQ(tr("a NOT NOT b"), u"\"a\" AND \"b\"");
    // NOT a OR NOT b excludes the documents with both; it joins a positive partner.
    EXPECT_EQ(tr("x (NOT a OR NOT b)"), u"\"x\" NOT (\"a\" AND \"b\")");
}

TEST(TextQueryTranslator, NothingPositiveFindsNothing)
{
    for (const char* q : {"", "   ", "NOT a", "!a !b", "AND", "OR OR", "()", "\"\"", "*", "***", "+++", "&|!", "(NOT a)"})
        EXPECT_EQ(tr(q), QString()) << q;
    // An excluding branch beside a finding one cannot be expressed and is dropped.
    EXPECT_EQ(tr("a OR NOT b"), u"\"a\"");
}

TEST(TextQueryTranslator, UnbalancedTextIsRepaired)
{
    EXPECT_EQ(tr("\"annual plan"), u"\"annual plan\"");
    EXPECT_EQ(tr("(a OR b"), u"\"a\" OR \"b\"");
    EXPECT_EQ(tr("a) OR (b"), u"\"a\" OR \"b\"");
    EXPECT_EQ(tr("OR a AND"), u"\"a\"");
    EXPECT_EQ(tr("NEAR(a b)"), u"\"NEAR\" AND (\"a\" AND \"b\")");
}

TEST(TextQueryTranslator, DeepNestingAndLongRunsAreBounded)
{
    const QString deep = QString(100000, QLatin1Char('(')) + QStringLiteral("a") + QString(100000, QLatin1Char(')'));
    EXPECT_EQ(TextQueryTranslator::toMatchExpression(deep), u"\"a\"");
    const QString nots = QString(100001, QLatin1Char('!')) + QStringLiteral(" a b");
    EXPECT_EQ(TextQueryTranslator::toMatchExpression(nots), u"\"b\" NOT \"a\"");

    // Shapes that nest the expression faster than the text: each level adds two parentheses.
    Fts5Probe probe;
    for (const char* level : {"(w%1 OR (v%1 %2))", "v%1 (%2) !w%1", "(a%1 b%1 | (%2) !w%1)"}) {
        QString nested = QStringLiteral("x");
        for (int i = 0; i < 40; ++i)
            nested = QString::fromUtf8(level).arg(i).arg(nested);
        const QString expr = TextQueryTranslator::toMatchExpression(nested);
        EXPECT_FALSE(expr.isEmpty()) << level;
        EXPECT_EQ(probe.errorFor(expr), QString()) << level;
    }
}

TEST(TextQueryTranslator, Fts5AcceptsEveryTranslation)
{
    Fts5Probe probe;
    const char* fixed[] = {"C++", "foo:bar", "a-b", "\"unbalanced", "(((a", "a)))", "NOT", "NEAR(a b, 2)",
                           "col:*", "{a b}:c", "a + b", "- a", "\"a\"\"b\"", "'quoted'", "a\tb\nc", "*a*",
                           "a AND AND b", "a OR OR b", "a NOT NOT NOT b", "(a OR) (AND b)", "\x01\x02",
                           "日本語 テキスト", "emoji 😀 test", "a\"*b", "\"*\"", "! ( ) & | \""};
    for (const char* q : fixed) {
        const QString expr = tr(q);
        EXPECT_EQ(probe.errorFor(expr), QString()) << q << " -> " << expr.toStdString();
    }

    // Random strings over the characters that mean something to either syntax (a NUL ends
    // FTS5's text).
    const QString alphabet = QStringLiteral("ab \"()*&|!:^+-{},.NOTARD") + QChar(u'\0') + QChar(u'\x1f');
    QRandomGenerator rng(20261206);
    for (int i = 0; i < 3000; ++i) {
        QString q;
        const int len = int(rng.bounded(1, 120));
        for (int j = 0; j < len; ++j)
            q += alphabet.at(int(rng.bounded(alphabet.size())));
        const QString expr = TextQueryTranslator::toMatchExpression(q);
        ASSERT_EQ(probe.errorFor(expr), QString()) << q.toStdString() << " -> " << expr.toStdString();
    }
}
