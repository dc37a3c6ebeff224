#include "TextIndexFixture.h"

#include <QSet>
#include <atomic>
#include <string_view>
#include <thread>

using platform::TextIndexSearch;
using std::chrono::milliseconds;

namespace {

QStringList names(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* n : list)
        out << QString::fromUtf8(n);
    out.sort();
    return out;
}

class TextIndexCorpus : public TextIndexFixture {
protected:
    void SetUp() override
    {
        TextIndexFixture::SetUp();
        add(QStringLiteral("en-report"),
            QStringLiteral("The Annual Report 2023: the company plan grew. Contact foo:bar@example.com. "
                           "Written in C++ with a-b testing."));
        add(QStringLiteral("en-leave"), QStringLiteral("A report on annual leave and holidays."));
        add(QStringLiteral("fr"), QStringLiteral("Le résumé du rapport annuel est très élégant. Ça coûte cher."));
        add(QStringLiteral("de-umlaut"), QStringLiteral("Die Größe der Straße ist übermäßig. Schöne Grüße!"));
        add(QStringLiteral("de-plain"), QStringLiteral("Die grosse Strasse"));
        flush();
    }
};

} // namespace

TEST_F(TextIndexCorpus, CaseAndAccentsDoNotMatter)
{
    EXPECT_EQ(find(QStringLiteral("resume")), names({"fr"}));
    EXPECT_EQ(find(QStringLiteral("RÉSUMÉ")), names({"fr"}));
    EXPECT_EQ(find(QStringLiteral("ca coute")), names({"fr"}));
    EXPECT_EQ(find(QStringLiteral("elegant")), names({"fr"}));
    EXPECT_EQ(find(QStringLiteral("GROSSE")), names({"de-plain"}));
    EXPECT_EQ(find(QStringLiteral("gruße")), names({"de-umlaut"}));
    EXPECT_EQ(find(QStringLiteral("Übermäßig")), names({"de-umlaut"}));
    // ß is a letter of its own to the tokenizer, not "ss": Größe and grosse stay apart.
    EXPECT_EQ(find(QStringLiteral("größe")), names({"de-umlaut"}));
    EXPECT_EQ(find(QStringLiteral("strasse")), names({"de-plain"}));
}

TEST_F(TextIndexCorpus, PhrasesPrefixesAndOperators)
{
    EXPECT_EQ(find(QStringLiteral("annual report")), names({"en-leave", "en-report"}));
    EXPECT_EQ(find(QStringLiteral("\"annual report\"")), names({"en-report"}));
    EXPECT_EQ(find(QStringLiteral("\"report annual\"")), QStringList());
    EXPECT_EQ(find(QStringLiteral("rep*")), names({"en-leave", "en-report"}));
    EXPECT_EQ(find(QStringLiteral("rapp* OR uber*")), names({"de-umlaut", "fr"}));
    EXPECT_EQ(find(QStringLiteral("\"annual rep\"*")), names({"en-report"}));
    EXPECT_EQ(find(QStringLiteral("resume OR strasse")), names({"de-plain", "fr"}));
    EXPECT_EQ(find(QStringLiteral("resume | strasse")), names({"de-plain", "fr"}));
    EXPECT_EQ(find(QStringLiteral("report NOT leave")), names({"en-report"}));
    EXPECT_EQ(find(QStringLiteral("report & !leave")), names({"en-report"}));
    EXPECT_EQ(find(QStringLiteral("(leave OR plan) report")), names({"en-leave", "en-report"}));
    EXPECT_EQ(find(QStringLiteral("(leave OR plan OR resume) NOT (holidays OR cher)")), names({"en-report"}));
    EXPECT_EQ(find(QStringLiteral("annual and")), names({"en-leave"}));
    // Nothing positive to look for finds nothing rather than everything.
    EXPECT_EQ(find(QStringLiteral("NOT leave")), QStringList());
}

TEST_F(TextIndexCorpus, HostileQueriesFindWhatTheyCan)
{
    EXPECT_EQ(find(QStringLiteral("C++")), names({"en-report"}));
    EXPECT_EQ(find(QStringLiteral("foo:bar")), names({"en-report"}));
    EXPECT_EQ(find(QStringLiteral("a-b")), names({"en-report"}));
    EXPECT_EQ(find(QStringLiteral("\"annual report")), names({"en-report"}));
    EXPECT_EQ(find(QStringLiteral("(resume OR strasse")), names({"de-plain", "fr"}));
    EXPECT_EQ(find(QStringLiteral("leave)")), names({"en-leave"}));
    EXPECT_EQ(find(QStringLiteral("*report")), names({"en-leave", "en-report"}));
    EXPECT_EQ(find(QStringLiteral("body:leave")), QStringList()); // a phrase "body leave", not a column
    EXPECT_EQ(find(QStringLiteral("NEAR(annual leave)")), QStringList());
    for (const char* q : {"", "NOT", "AND OR NOT", "()", "\"", "*", "&&||!!", "+++", "^", "{body}:x", "\\\\"})
        EXPECT_EQ(find(QString::fromUtf8(q)), QStringList()) << q;
}

TEST_F(TextIndexCorpus, ControlCharactersInAQueryAreIgnored)
{
    using namespace std::literals;
    // Text pasted from elsewhere: a NUL would end the expression inside its quotes and fail the
    // whole search; other controls would split the word.
    const auto text = [](std::u16string_view units) {
        return QString(reinterpret_cast<const QChar*>(units.data()), qsizetype(units.size()));
    };
    EXPECT_EQ(find(text(u"resu\0me"sv)), names({"fr"}));
    EXPECT_EQ(find(text(u"resume\0"sv)), names({"fr"}));
    EXPECT_EQ(find(text(u"\0\"annual\0 re\x7fport\""sv)), names({"en-report"}));
    EXPECT_EQ(find(text(u"l\x01" u"e\x1b" u"a\x9cve"sv)), names({"en-leave"}));
    // Line breaks and tabs still separate words.
    EXPECT_EQ(find(QStringLiteral("annual\nleave\tholidays")), names({"en-leave"}));
    EXPECT_EQ(find(text(u"\0\x02\x7f"sv)), QStringList());
}

TEST_F(TextIndexFixture, BatchesRespectTheMaximumAndTheDeadline)
{
    for (int i = 0; i < 250; ++i)
        add(QStringLiteral("d%1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("common word %1").arg(i));
    flush();

    auto search = TextIndexSearch::start(path, QStringLiteral("common"));
    ASSERT_TRUE(search);
    std::vector<size_t> sizes;
    QSet<qint64> ids;
    for (;;) {
        auto batch = (*search)->findMatches(100, milliseconds(60000));
        ASSERT_TRUE(batch);
        sizes.push_back(batch->hits.size());
        for (const auto& hit : batch->hits)
            ids.insert(hit.documentID);
        if (!batch->more)
            break;
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{100, 100, 50}));
    EXPECT_EQ(ids.size(), 250);

    // With no time at all, every call still makes progress: the row under way is finished.
    auto hurried = TextIndexSearch::start(path, QStringLiteral("common"));
    ASSERT_TRUE(hurried);
    ids.clear();
    int calls = 0;
    for (bool more = true; more && calls < 1000; ++calls) {
        auto batch = (*hurried)->findMatches(100, milliseconds(0));
        ASSERT_TRUE(batch);
        EXPECT_TRUE(!batch->hits.empty() || !batch->more);
        for (const auto& hit : batch->hits)
            ids.insert(hit.documentID);
        more = batch->more;
    }
    EXPECT_EQ(ids.size(), 250);
}

TEST_F(TextIndexFixture, CancelStopsTheSearch)
{
    for (int i = 0; i < 30; ++i)
        add(QStringLiteral("d%1").arg(i), QStringLiteral("common"));
    flush();

    auto search = TextIndexSearch::start(path, QStringLiteral("common"));
    ASSERT_TRUE(search);
    auto first = (*search)->findMatches(10, milliseconds(300));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->hits.size(), 10u);
    EXPECT_TRUE(first->more);
    (*search)->cancel();
    for (int i = 0; i < 2; ++i) {
        auto after = (*search)->findMatches(10, milliseconds(300));
        ASSERT_TRUE(after);
        EXPECT_TRUE(after->hits.empty());
        EXPECT_FALSE(after->more);
    }

    // Cancelled from another thread before its first batch.
    auto other = TextIndexSearch::start(path, QStringLiteral("common"));
    ASSERT_TRUE(other);
    std::thread([&] { (*other)->cancel(); }).join();
    auto none = (*other)->findMatches(10, milliseconds(300));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->hits.empty());
    EXPECT_FALSE(none->more);
}

TEST_F(TextIndexFixture, SearchesReadCommittedDataWhileTheWriterHoldsItsTransaction)
{
    add(QStringLiteral("committed"), QStringLiteral("shared first"));
    flush();
    // Left pending: the writer's transaction stays open during the search.
    add(QStringLiteral("pending"), QStringLiteral("shared second"));

    std::atomic<bool> done{false};
    QStringList found;
    std::thread reader([&] {
        found = find(QStringLiteral("shared"));
        done = true;
    });
    const bool finished = testsupport::spinUntil([&] { return done.load(); });
    reader.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(found, names({"committed"}));

    // A search keeps the snapshot of its first batch: a flush in the middle neither breaks it
    // nor mixes in the newer state.
    auto search = TextIndexSearch::start(path, QStringLiteral("shared"));
    ASSERT_TRUE(search);
    auto first = (*search)->findMatches(1, milliseconds(300));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->hits.size(), 1u);
    flush();
    auto rest = (*search)->findMatches(100, milliseconds(300));
    ASSERT_TRUE(rest);
    EXPECT_TRUE(rest->hits.empty());
    EXPECT_FALSE(rest->more);
    EXPECT_EQ(find(QStringLiteral("shared")), names({"committed", "pending"}));
}

TEST_F(TextIndexFixture, SearchesFromManyThreadsShareTheKeptReadersWhileTheWriterWrites)
{
    QStringList common;
    for (int i = 0; i < 120; ++i) {
        const QString name = QStringLiteral("d%1").arg(i, 3, 10, QLatin1Char('0'));
        add(name, i % 3 == 0 ? QStringLiteral("shared rare%1").arg(i) : QStringLiteral("shared"));
        common << name;
    }
    flush();
    common.sort();

    // Eight searchers, each checking every answer, while the writer adds and flushes documents
    // the searches must never see half of.
    constexpr int threads = 8;
    constexpr int searchesEach = 30;
    std::atomic<int> wrong{0};
    std::atomic<int> done{0};
    std::vector<std::thread> searchers;
    for (int t = 0; t < threads; ++t) {
        searchers.emplace_back([&, t] {
            for (int n = 0; n < searchesEach; ++n) {
                const int i = (t * searchesEach + n) % 40 * 3;
                const QString rare = QStringLiteral("d%1").arg(i, 3, 10, QLatin1Char('0'));
                if (find(QStringLiteral("shared")) != common
                    || find(QStringLiteral("rare%1").arg(i)) != QStringList{rare})
                    ++wrong;
            }
            ++done;
        });
    }
    for (int batch = 0; done.load() < threads; ++batch) {
        for (int i = 0; i < 10; ++i)
            add(QStringLiteral("late%1-%2").arg(batch).arg(i), QStringLiteral("later words"));
        flush();
        const QStringList later = find(QStringLiteral("later"));
        if (later.size() != (batch + 1) * 10)
            ++wrong;
    }
    for (std::thread& searcher : searchers)
        searcher.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(index->keptReaderCount(), platform::TextIndexReaderPool::kMaxIdle);
    EXPECT_GE(index->keptReaderCount(), 1u);
}
