// The group tiles as the grid shows them, on the theme's grid ground in every theme: their counts
// read and stand whole inside the tile.
#include "ItemViewTestSupport.h"
#include "Support/GrabContrast.h"

#include "Browser/ItemViews/KPSectionAuthorItemView.h"
#include "Theme/KPSprite.h"

using namespace itemtest;

namespace {

class TileLook : public ItemViewTest {
protected:
    void TearDown() override
    {
        KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray"));
        ItemViewTest::TearDown();
    }

    // The tile over a board painted like the grid's ground.
    static QImage grabOnGround(QWidget& tile)
    {
        auto* ground = KPThemeObject::themeObjectWithName<KPSprite>(QStringLiteral("CenterViewBG"));
        QWidget board;
        board.resize(tile.size() + QSize(20, 20));
        board.setAutoFillBackground(true);
        board.setPalette(QPalette(themecontrast::averageColor(ground ? ground->image() : QImage(), Qt::white)));
        tile.setParent(&board);
        tile.move(10, 10);
        board.show();
        QApplication::processEvents();
        const QImage image = board.grab().toImage();
        tile.setParent(nullptr);
        return image;
    }
};

TEST_F(TileLook, TheAuthorCountReadsWholeUnderTheCard)
{
    for (int i = 0; i < 8; ++i)
        addDocument(browsertest::DocumentFields{.title = QStringLiteral("Note %1").arg(i), .authors = {QStringLiteral("Ada Lovelace")}});
    for (const QString theme : {"gray", "light", "dark", "blue", "red", "green", "yellow"}) {
        SCOPED_TRACE(theme.toStdString());
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(theme));
        KPSectionAuthorItemView tile;
        tile.resize(166, 210);
        tile.setAuthor(authorNamed(QStringLiteral("Ada Lovelace")));
        ASSERT_EQ(tile.itemCount(), 8);
        const QImage image = grabOnGround(tile);
        const double dpr = image.devicePixelRatio();
        // The count's strip: the tile's lowest 20 points and the board's margin under it.
        const QRect strip(int(10 * dpr), int((10 + 210 - 20) * dpr), int(166 * dpr), int(30 * dpr));
        const testsupport::InkContrast count = testsupport::inkContrast(image, strip);
        EXPECT_GE(count.ratio, themecontrast::kMinimum)
            << qPrintable(QColor(count.ink).name()) << " on " << qPrintable(QColor(count.ground).name());
        // Whole: no stroke cut by the tile's lower edge or touching the strip's top.
        ASSERT_FALSE(count.inkBounds.isEmpty());
        EXPECT_GT(count.inkBounds.top(), strip.top());
        EXPECT_LT(count.inkBounds.bottom(), int((10 + 210) * dpr) - 1);
    }
}

} // namespace
