#include "SearchField/SearchResultViewController.h"

#include "Controls/KPThemeImageButton.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPThemeManager.h"

#include <QImage>
#include <QTest>
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

TEST_F(SearchResultListTest, ATabShowsItsWholeKindAndDropsTheTypedQuery)
{
    list.show();
    EXPECT_EQ(list.doSearchValue("#wo"), std::optional<QString>("#work"));
    EXPECT_EQ(list.rowTitle(0), "Search for 'wo'");

    QTest::mouseClick(list.tabButton(SearchResultViewController::Authors), Qt::LeftButton);
    EXPECT_EQ(list.dataType(), SearchResultViewController::Authors);
    EXPECT_TRUE(list.tabButton(SearchResultViewController::Authors)->isHighlight());
    EXPECT_FALSE(list.tabButton(SearchResultViewController::Tags)->isHighlight());
    // Every author and no free-text row: "wo" no longer narrows anything.
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.rowTitle(0), "Ann");
    EXPECT_EQ(list.rowTitle(1), "Walter");
    EXPECT_EQ(list.selectedRow(), -1);
    EXPECT_EQ(list.preferredSize().height(), 2 * 32 + 37);
    // Nothing selected: a run committed now stays free text.
    EXPECT_EQ(list.selectedRowDataType(), "");
    // The lit tab alone stands on the list's blue.
    const QPoint patch(3, 11); // inside the rounded patch, clear of the glyph
    EXPECT_EQ(QColor(list.tabButton(SearchResultViewController::Authors)->grab().toImage().pixel(patch)),
              QColor(52, 145, 250));
    EXPECT_NE(QColor(list.tabButton(SearchResultViewController::Tags)->grab().toImage().pixel(patch)),
              QColor(52, 145, 250));

    // From a bare word too, and the arrows then walk the kind's rows.
    list.doSearchValue("p");
    QTest::mouseClick(list.tabButton(SearchResultViewController::FileTypes), Qt::LeftButton);
    ASSERT_EQ(list.rowCount(), 3);
    EXPECT_EQ(list.rowTitle(0), "Image(.jpg)");
    EXPECT_EQ(list.doMoveRecordByKeyCode(63233), std::optional<QString>(".jpg"));
}

namespace {

int inkIn(const QImage& shot, const QRectF& pointRect, QRgb ground)
{
    const qreal s = shot.devicePixelRatio();
    const QRect pixels = QRectF(pointRect.topLeft() * s, pointRect.size() * s).toAlignedRect() & shot.rect();
    int ink = 0;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y)
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            const QRgb p = shot.pixel(x, y);
            ink += std::abs(qRed(p) - qRed(ground)) + std::abs(qGreen(p) - qGreen(ground)) + std::abs(qBlue(p) - qBlue(ground)) > 60;
        }
    return ink;
}

QRgb pixelAt(const QImage& shot, QPointF point)
{
    return shot.pixel((point * shot.devicePixelRatio()).toPoint());
}

QImage cut(const QImage& shot, const QRectF& pointRect)
{
    const qreal s = shot.devicePixelRatio();
    return shot.copy(QRectF(pointRect.topLeft() * s, pointRect.size() * s).toAlignedRect());
}

} // namespace

// The line picture parts the tabs from the list, which starts right under it.
TEST_F(SearchResultListTest, ALineUnderTheTabsAndTheListRightUnderIt)
{
    ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
    list.show();
    list.doSearchValue("w");
    ASSERT_GE(list.rowCount(), 2);
    // The list at 35, its first row a point of spacing below.
    EXPECT_EQ(list.rowRect(0).top(), 36);
    const QImage shot = list.grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // Left of the tabs: the strip's ground, then the line in the two points above the list.
    const QRgb ground = pixelAt(shot, QPointF(5, 20));
    const int line = std::min(qGray(pixelAt(shot, QPointF(5, 33.25))), qGray(pixelAt(shot, QPointF(5, 34.25))));
    EXPECT_LT(line, qGray(ground) - 20) << "no line between the tabs and the list";
}

// What a user sees of each row: the kind's icon beside its name, the separator at its foot.
TEST_F(SearchResultListTest, RowsShowTheirKindsIconAndTheSeparator)
{
    ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
    tags.append("pink");
    authors.append("Pat");
    list.show();
    list.doSearchValue("p"); // free text, pink, PDF(.pdf), Image(.png), Pat
    ASSERT_EQ(list.rowCount(), 5);
    list.doMoveRecordByKeyCode(63232); // the free-text row: every suggestion drawn unselected
    const QImage shot = list.grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // FOLIVO_GRAB_DIR keeps the grab for a look.
    if (const QString dir = qEnvironmentVariable("FOLIVO_GRAB_DIR"); !dir.isEmpty())
        shot.save(QStringLiteral("%1/suggestions@%2x.png").arg(dir).arg(shot.devicePixelRatio()));

    QImage icons[5];
    for (int row = 0; row < 5; ++row) {
        const QRect r = list.rowRect(row);
        ASSERT_EQ(r.height(), SearchResultViewController::kRowHeight);
        const QRectF icon = SearchResultViewController::iconRect(r);
        EXPECT_EQ(icon.height(), 22);
        EXPECT_NEAR(icon.center().y(), r.y() + r.height() / 2.0, 0.5);
        const QRgb ground = pixelAt(shot, QPointF(icon.right() + 3, r.y() + 3));
        if (row > 0) {
            EXPECT_GT(inkIn(shot, icon, ground), 12) << "no icon on row " << row;
            // The separator's dark line, two points above the row's end, darkens its foot.
            const QRgb foot = pixelAt(shot, QPointF(r.center().x(), r.y() + r.height() - 1.75));
            EXPECT_LT(qGray(foot), qGray(ground) - 20) << "no separator under row " << row;
        }
        icons[row] = cut(shot, icon);
    }
    // One icon per kind: both file types share theirs, tag, file type and author differ.
    EXPECT_EQ(icons[2], icons[3]);
    EXPECT_NE(icons[1], icons[2]);
    EXPECT_NE(icons[1], icons[4]);
    EXPECT_NE(icons[2], icons[4]);

    // The selected row keeps its icon on the selection's blue, drawn from the lit picture.
    list.doMoveRecordByKeyCode(63233);
    ASSERT_EQ(list.selectedRow(), 1);
    const QImage lit = list.grab().toImage();
    const QRect r = list.rowRect(1);
    const QRectF icon = SearchResultViewController::iconRect(r);
    const QRgb blue = pixelAt(lit, QPointF(icon.right() + 3, r.y() + 3));
    EXPECT_EQ(QColor(blue), QColor(52, 145, 250));
    // Its glyph reads there: light on the blue, not blue on blue.
    int light = 0;
    const qreal s = lit.devicePixelRatio();
    const QRect pixels = QRectF(icon.topLeft() * s, icon.size() * s).toAlignedRect();
    for (int y = pixels.top(); y <= pixels.bottom(); ++y)
        for (int x = pixels.left(); x <= pixels.right(); ++x)
            light += qGray(lit.pixel(x, y)) > 200;
    EXPECT_GT(light, 12 * s * s);

    // A theme change gives the tabs the new theme's pictures.
    KPThemeManager* themes = KPThemeManager::themeManager();
    for (const QString& name : {QStringLiteral("dark"), QStringLiteral("gray")}) {
        ASSERT_TRUE(themes->updateThemeByName(name));
        const KPCustomThemeObject* search = themes->customThemeObjectWithName(QStringLiteral("Search"));
        ASSERT_TRUE(search);
        EXPECT_EQ(list.tabButton(SearchResultViewController::Authors)->multiSprite(),
                  search->themeObjectWithName<KPMultiSprite>(QStringLiteral("SearchPanel_Author_Button")))
            << name.toStdString();
    }
}

} // namespace
