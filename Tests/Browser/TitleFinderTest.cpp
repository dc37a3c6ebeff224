// Type-to-find over the grid's sections: what a key leaves in the grid, in which order and
// sections, and that a listing changed under the search is never narrowed as it was.
#include "Browser/KPTitleFinder.h"
#include "BrowserLibraryKit.h"

using namespace browsertest;

namespace {

class TitleFinderTest : public BrowserLibraryTest {
protected:
    KPItemDataPtr doc(const QString& title) { return KPItemData::create(addDocument({.title = title})); }
    static QStringList titlesOf(const QList<KPSectionDataPtr>& sections)
    {
        QStringList out;
        for (const KPSectionDataPtr& section : sections) {
            QStringList items;
            for (const KPSectionItem& entry : section->datas())
                items << (entry.itemData() ? entry.itemData()->data().title() : QStringLiteral("<record>"));
            out << section->title() + QStringLiteral(": ") + items.join(QStringLiteral(", "));
        }
        return out;
    }
    KPTitleFinder finder;
};

} // namespace

// A key narrows the listing the grid showed: the same sections in the same order, empty ones
// left out, titles matched ignoring case and diacritics, never across two titles; no text gives
// the listing back as it was.
TEST_F(TitleFinderTest, AKeyNarrowsTheShownListingInItsOrder)
{
    const KPItemDataPtr zeta = doc(QStringLiteral("Zeta Résumé"));
    const KPItemDataPtr alpha = doc(QStringLiteral("alpha report"));
    const KPItemDataPtr beta = doc(QStringLiteral("Beta"));
    const KPItemDataPtr gamma = doc(QStringLiteral("gamma RESUME draft"));
    KPSectionDataPtr first = KPSectionData::create(QStringLiteral("First"), QList<KPItemDataPtr>{zeta, alpha});
    first->setIsExpand(false);
    const QList<KPSectionDataPtr> listing{first, KPSectionData::create(QStringLiteral("Second"), QList<KPItemDataPtr>{beta, gamma})};

    QList<KPSectionDataPtr> shown = finder.find(listing, QStringLiteral("resume"));
    EXPECT_EQ(titlesOf(shown), (QStringList{QStringLiteral("First: Zeta Résumé"), QStringLiteral("Second: gamma RESUME draft")}));
    EXPECT_FALSE(shown.first()->isExpand()) << "a collapsed section stays collapsed";
    EXPECT_TRUE(finder.isCurrent(shown));
    EXPECT_EQ(finder.indexedCount(), 4);

    shown = finder.find(shown, QStringLiteral("ta"));
    EXPECT_EQ(titlesOf(shown), (QStringList{QStringLiteral("First: Zeta Résumé"), QStringLiteral("Second: Beta")}));
    // "ab" only spans the end of one title and the start of the next.
    shown = finder.find(shown, QStringLiteral("ab"));
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_TRUE(finder.isCurrent(shown));
    shown = finder.find(shown, QStringLiteral("a"));
    EXPECT_EQ(titlesOf(shown).size(), 2);
    EXPECT_EQ(shown.first()->datas().size(), 2);
    // "p" twice in one title, and in no title after it: that title alone, once.
    shown = finder.find(shown, QStringLiteral("p"));
    EXPECT_EQ(titlesOf(shown), QStringList{QStringLiteral("First: alpha report")});

    shown = finder.find(shown, QString());
    EXPECT_EQ(shown, listing);
    EXPECT_FALSE(finder.prepare(shown)) << "the base is folded once";
}

// A listing the finder did not give the grid is taken as the new base; a section that lost a
// document in place makes the old base stale, so a search never brings the document back.
TEST_F(TitleFinderTest, AListingChangedUnderTheSearchIsTakenAgain)
{
    const KPItemDataPtr a = doc(QStringLiteral("report one"));
    const KPItemDataPtr b = doc(QStringLiteral("report two"));
    const KPItemDataPtr c = doc(QStringLiteral("letter"));
    KPSectionDataPtr section = KPSectionData::create(QStringLiteral("All"), QList<KPItemDataPtr>{a, b, c});
    const QList<KPSectionDataPtr> listing{section};
    QList<KPSectionDataPtr> shown = finder.find(listing, QStringLiteral("report"));
    ASSERT_EQ(titlesOf(shown), QStringList{QStringLiteral("All: report one, report two")});

    // The shown section loses a document (moved to the Trash): not what the finder gave.
    shown.first()->datas().removeAt(1);
    EXPECT_FALSE(finder.isCurrent(shown));
    // The base itself loses one.
    shown = finder.find(listing, QString());
    EXPECT_TRUE(finder.isCurrent(shown));
    section->datas().removeAt(0);
    EXPECT_FALSE(finder.isCurrent(listing));
    shown = finder.find(listing, QStringLiteral("report"));
    EXPECT_EQ(titlesOf(shown), QStringList{QStringLiteral("All: report two")});

    // Another listing altogether, with a title changed since.
    DBFileInfo(b->data()).setTitle(QStringLiteral("renamed"));
    const QList<KPSectionDataPtr> other{KPSectionData::create(QStringLiteral("New"), QList<KPItemDataPtr>{b, c})};
    EXPECT_FALSE(finder.isCurrent(other));
    EXPECT_TRUE(finder.find(other, QStringLiteral("report")).isEmpty());
    EXPECT_EQ(titlesOf(finder.find(other, QStringLiteral("ren"))), QStringList{QStringLiteral("New: renamed")});
}
