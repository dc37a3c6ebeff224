#include "SearchField/SearchResultViewController.h"

#include <gtest/gtest.h>

namespace {

class SearchResultListTest : public ::testing::Test {
protected:
    SearchResultListTest() : list(services()) {}

    SearchResultViewController::Services services()
    {
        SearchResultViewController::Services s;
        const auto from = [](const QStringList* names) {
            return [names](const QString& prefix, int limit) {
                QStringList out;
                for (const QString& n : *names) {
                    if (n.startsWith(prefix, Qt::CaseInsensitive))
                        out.append(n);
                }
                return out.mid(0, limit);
            };
        };
        s.tagNames = from(&tags);
        s.authorNames = from(&authors);
        s.extensions = [this] { return extensions; };
        s.kindName = [](const QString& ext) { return ext == "pdf" ? QStringLiteral("PDF") : QStringLiteral("Image"); };
        return s;
    }

    QStringList tags{"first", "second", "work"};
    QStringList authors{"Ann", "Walter"};
    QStringList extensions{"png", "pdf", "jpg"};
    SearchResultViewController list;
};

TEST_F(SearchResultListTest, ThePrefixChoosesTheKindAndTheCompletion)
{
    EXPECT_EQ(list.doSearchValue("#"), std::optional<QString>("#first"));
    EXPECT_EQ(list.dataType(), SearchResultViewController::Tags);
    EXPECT_EQ(list.rowCount(), 3);
    EXPECT_EQ(list.selectedRow(), -1);
    EXPECT_EQ(list.preferredSize(), QSize(300, 3 * 32 + 37));

    EXPECT_EQ(list.doSearchValue("@w"), std::optional<QString>("@Walter"));
    EXPECT_EQ(list.rowTitle(0), "Search for 'w'");
    EXPECT_EQ(list.selectedRow(), 0);
    EXPECT_EQ(list.doSearchValue(".p"), std::optional<QString>(".pdf"));
    EXPECT_EQ(list.rowTitle(1), "PDF(.pdf)");
    EXPECT_EQ(list.rowTitle(2), "Image(.png)");
    EXPECT_EQ(list.selectedRowDataType(), "");

    // A bare word: every kind, the free-text row first and the first match selected.
    EXPECT_EQ(list.doSearchValue("w"), std::optional<QString>("work"));
    EXPECT_EQ(list.dataType(), SearchResultViewController::Mixed);
    EXPECT_EQ(list.rowCount(), 3); // free text, the tag work, the author Walter
    EXPECT_EQ(list.selectedRow(), 1);
    EXPECT_EQ(list.selectedRowDataType(), "#");
    EXPECT_EQ(list.doMoveRecordByKeyCode(63233), std::optional<QString>("Walter"));
    EXPECT_EQ(list.selectedRowDataType(), "@");
    EXPECT_EQ(list.doMoveRecordByKeyCode(63233), std::nullopt);
    EXPECT_EQ(list.doMoveRecordByKeyCode(63232), std::optional<QString>("work"));
    EXPECT_EQ(list.doMoveRecordByKeyCode(63232), std::optional<QString>("w"));
    EXPECT_EQ(list.selectedRowDataType(), "");
    EXPECT_EQ(list.doMoveRecordByKeyCode(63232), std::nullopt);
}

TEST_F(SearchResultListTest, HeightsFollowTheRowsUpToTen)
{
    EXPECT_EQ(list.doSearchValue("zzz"), std::nullopt);
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.preferredSize().height(), 69);
    EXPECT_EQ(list.selectedRow(), -1);

    tags.clear();
    for (int i = 0; i < 30; ++i)
        tags.append(QStringLiteral("t%1").arg(i, 2, 10, QLatin1Char('0')));
    list.doSearchValue("#t");
    EXPECT_EQ(list.rowCount(), 31);
    EXPECT_EQ(list.preferredSize().height(), 357);

    // Quotes, "%" and backslashes are names like any other.
    tags = {"50% \"off\"", "a\\b"};
    EXPECT_EQ(list.doSearchValue("#a\\"), std::optional<QString>("#a\\b"));
    EXPECT_EQ(list.doSearchValue("#50% \""), std::optional<QString>("#50% \"off\""));
}

} // namespace
