#include "ItemViewTestSupport.h"

#include "Browser/ItemViews/ItemViewGeometry.h"
#include "Theme/KPColor.h"
#include "Theme/ThemeContrast.h"
#include "Theme/KPCustomThemeObject.h"

using namespace itemtest;
namespace geo = itemgeometry;

TEST(ItemGeometry, ThumbnailsFitTheFrameWithoutGrowingAndRowsSplitTheirWidth)
{
    const QRectF frame(8, 0, 203, 189);
    EXPECT_EQ(geo::iconThumbnailRect(QSize(1000, 500), frame).size(), QSizeF(183, 92));
    EXPECT_EQ(geo::iconThumbnailRect(QSize(40, 30), frame).size(), QSizeF(40, 30));
    EXPECT_EQ(geo::iconThumbnailRect(QSize(150, 500), frame).size(), QSizeF(51, 169));
    // Centred in the frame.
    EXPECT_EQ(geo::iconThumbnailRect(QSize(40, 30), frame).topLeft(), QPointF(90, 80));
    EXPECT_EQ(geo::listThumbnailRect(QSize(500, 1000)), QRectF(40, 5, 20, 40));
    // A broken thumbnail size draws nothing rather than dividing by zero.
    EXPECT_TRUE(geo::iconThumbnailRect(QSize(0, 10), frame).isEmpty());

    const auto wide = geo::listColumns(700);
    EXPECT_EQ(std::tuple(wide.titleWidth, wide.tagWidth, wide.x), std::tuple(115.0, 77.0, 322.0));
    const auto narrow = geo::listColumns(600);
    EXPECT_EQ(std::tuple(narrow.titleWidth, narrow.tagWidth, narrow.x), std::tuple(100.0, 80.0, 310.0));
}

TEST(ItemGeometry, SizeTextsAndRatingsAtTheEdges)
{
    EXPECT_EQ(geo::fileSizeText(0), QString());
    EXPECT_EQ(geo::fileSizeText(1), QStringLiteral("1 byte"));
    EXPECT_EQ(geo::fileSizeText(500), QStringLiteral("500 bytes"));
    EXPECT_EQ(geo::fileSizeText(1536), QStringLiteral("1.5 KB"));
    EXPECT_EQ(geo::fileSizeText(1048576), QStringLiteral("1.00 MB"));
    EXPECT_EQ(geo::fileSizeText(3221225472), QStringLiteral("3.0 GB"));

    const QRectF stars(100, 10, 78, 14);
    EXPECT_EQ(geo::ratingByPoint(90, stars), 0);
    EXPECT_EQ(geo::ratingByPoint(100, stars), 0);
    EXPECT_EQ(geo::ratingByPoint(100.5, stars), 1);
    EXPECT_EQ(geo::ratingByPoint(117, stars), 2);
    EXPECT_EQ(geo::ratingByPoint(178, stars), 5);
    EXPECT_EQ(geo::ratingByPoint(500, stars), 5);
}

class ItemDrawing : public ItemViewTest {
protected:
    // A view of the item size on its own, painted once.
    std::unique_ptr<KPSectionItemView> standalone(const KPItemDataPtr& item, qint64 index = 0)
    {
        auto view = std::make_unique<KPSectionItemView>();
        view->resize(settings().itemSize().toSize().expandedTo(QSize(1, 1)));
        if (settings().isListMode())
            view->resize(700, 50);
        view->setItemData(item);
        view->setItemIndex(index);
        view->loadContent();
        lastImage = paint(view.get());
        return view;
    }
    QColor at(const KPSectionItemView& view, QPointF up) const
    {
        const qreal r = lastImage.devicePixelRatio();
        return lastImage.pixelColor((platform::kit::toQt(up, view.height()) * r).toPoint());
    }
    static QColor themeColor(const char* group, const char* name)
    {
        auto* g = KPThemeObject::customThemeObjectWithName(QLatin1String(group));
        auto* c = g ? g->themeObjectWithName<KPColor>(QLatin1String(name)) : nullptr;
        return c && c->color() ? *c->color() : QColor();
    }

    QImage lastImage;
};

TEST_F(ItemDrawing, IconFormRecordsItsRectanglesAtScale40)
{
    auto view = standalone(document(browsertest::DocumentFields{.title = QStringLiteral("Quarterly report"), .rate = 3}, QSize(1000, 500)));
    const double top = view->height();
    EXPECT_EQ(view->width(), 227);
    EXPECT_EQ(view->actualFrameRect(), QRectF(8, top - 197, 203, 189));
    EXPECT_EQ(view->actualImageRect().size(), QSizeF(183, 92));
    EXPECT_EQ(view->actualTextRect().height(), 17);
    EXPECT_EQ(view->actualTextRect().y(), top - 205 + 2 - 17);
    const QRectF stars = view->actualRateRect();
    EXPECT_EQ(stars, QRectF(std::round(203 * 0.5 - 39 + 8), view->actualTextRect().y() - 16, 78, 14));
    // No tags, not hovered: an invisible 50-wide click zone centred under the frame.
    EXPECT_EQ(view->actualTagRect(), QRectF(std::round((203 - 50) * 0.5) + 8, 2, 50, 14));
    // Three filled stars at x, x + 16, x + 32; the empty places show only while hovered.
    const QColor background = at(*view, stars.topLeft() + QPointF(-6, 7));
    const auto drawnIn = [&](double x) {
        for (int dx = 1; dx < 14; ++dx)
            for (int dy = 1; dy < 14; ++dy)
                if (at(*view, QPointF(x + dx, stars.y() + dy)) != background)
                    return true;
        return false;
    };
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(drawnIn(stars.x() + 16 * i)) << i;
    EXPECT_FALSE(drawnIn(stars.x() + 48));
    view->mouseEntered(view->actualFrameRect().center());
    lastImage = paint(view.get());
    EXPECT_TRUE(drawnIn(stars.x() + 48));

    // Stars switched off leave no invisible place to rate in.
    settings().setIsShowRating(false);
    view->resize(settings().itemSize().toSize());
    paint(view.get());
    EXPECT_TRUE(view->actualRateRect().isEmpty());
}

TEST_F(ItemDrawing, AMissingThumbnailStillDrawsFrameTitleAndStars)
{
    auto view = standalone(document(QStringLiteral("No picture yet"), QSize()));
    EXPECT_TRUE(view->actualImageRect().isEmpty());
    EXPECT_FALSE(view->actualFrameRect().isEmpty());
    EXPECT_FALSE(view->actualTextRect().isEmpty());
    EXPECT_FALSE(view->actualRateRect().isEmpty());
}

TEST_F(ItemDrawing, SelectionDrawsTheOutlineTheVeilAndTheBadgeInTheKindsColour)
{
    auto pdf = standalone(document(QStringLiteral("Paper")));
    EXPECT_EQ(pdf->fileTypeStr(), QStringLiteral("PDF"));
    EXPECT_EQ(pdf->fileTypeColor(), themeColor("FileType", "pdf"));
    const QRectF f = pdf->actualFrameRect();
    const QPointF onOutline(f.center().x(), f.y() + 1);
    const QPointF inVeil(f.x() + 12, f.y() + 40);
    const QColor plainOutline = at(*pdf, onOutline);
    const QColor plainVeil = at(*pdf, inVeil);

    pdf->setSelected(true);
    lastImage = paint(pdf.get());
    EXPECT_NE(at(*pdf, onOutline), plainOutline);
    EXPECT_NE(at(*pdf, inVeil), plainVeil);
    // The badge's fill, left of its text.
    const QColor badge = at(*pdf, QPointF(18, pdf->height() - 26));
    EXPECT_EQ(badge.rgb(), themeColor("FileType", "pdf").rgb());

    auto odd = standalone(document(browsertest::DocumentFields{.title = QStringLiteral("Odd"), .extension = QStringLiteral("XyZ")}));
    EXPECT_EQ(odd->fileTypeStr(), QStringLiteral("xyz"));
    EXPECT_EQ(odd->fileTypeColor(), themeColor("FileType", "Unknown"));
    auto bare = standalone(document(browsertest::DocumentFields{.title = QStringLiteral("Bare"), .extension = QString()}));
    // No extension is the kind "unknown", which the theme's "Unknown" member names.
    EXPECT_EQ(bare->fileTypeStr(), QStringLiteral("UNKNOWN"));
}

TEST_F(ItemDrawing, ListRowsAlternateByTheirIndexInTheSection)
{
    settings().setDisplayMode(KPDisplayModeList);
    auto item = document(browsertest::DocumentFields{.title = QStringLiteral("Row"), .size = 1536});
    auto even = standalone(item, 0);
    const QColor evenColor = at(*even, QPointF(2, 45));
    auto odd = standalone(item, 1);
    EXPECT_EQ(at(*odd, QPointF(2, 45)).rgb(), themeColor("ListViewItem", "SingleLineColor").rgb());
    EXPECT_EQ(evenColor.rgb(), themeColor("ListViewItem", "DoubleLineColor").rgb());
    EXPECT_EQ(odd->actualTextRect().topLeft(), QPointF(100, 14));
    EXPECT_EQ(odd->actualRateRect(), QRectF(322 - 12, 14, 78, 14));
    EXPECT_EQ(odd->actualImageRect(), QRectF(35, 5, 30, 40));
}

// The title and the kind column stand on one baseline (neither has letters below it), and the
// flag keeps off the row's left edge, where the grid meets the side bar's divider.
TEST_F(ItemDrawing, ListTitleSharesTheColumnsBaselineAndTheFlagClearsTheEdge)
{
    settings().setDisplayMode(KPDisplayModeList);
    auto view = standalone(document(browsertest::DocumentFields{.title = QStringLiteral("NOTE"), .label = 2}));
    const QImage& image = lastImage;
    const qreal r = image.devicePixelRatio();
    const QColor ground = at(*view, QPointF(250, 45));
    // The lowest row (top-down, device pixels) with ink between x0 and x1 (points).
    auto lowestInk = [&](qreal x0, qreal x1) {
        int lowest = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = int(x0 * r); x < int(x1 * r); ++x)
                if (themecontrast::contrastRatio(image.pixelColor(x, y), ground) >= 2.5)
                    lowest = y;
        return lowest;
    };
    const qreal kindX = geo::listColumns(view->width()).x + 88;
    const int title = lowestInk(100, 140);
    const int kind = lowestInk(kindX, kindX + 30);
    ASSERT_GE(title, 0);
    ASSERT_GE(kind, 0);
    EXPECT_LE(std::abs(title - kind), int(std::ceil(r))) << "title " << title << ", kind " << kind;

    for (int x = 0; x < int(2 * r); ++x)
        for (qreal y = 16; y < 32; y += 1)
            EXPECT_EQ(at(*view, QPointF(x / r, y)).rgb(), ground.rgb()) << "x " << x << ", y " << y;
    EXPECT_NE(at(*view, QPointF(10, 24)).rgb(), ground.rgb()) << "the flag is drawn";
}

TEST_F(ItemDrawing, AThemeChangeRebuildsTheCachedFrames)
{
    auto view = standalone(document(QStringLiteral("Cached")));
    EXPECT_EQ(KPSectionItemView::frameCacheCount(), 1);
    settings().setItemScale(50);
    view->resize(settings().itemSize().toSize());
    paint(view.get());
    EXPECT_EQ(KPSectionItemView::frameCacheCount(), 2);

    ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("dark")));
    KPSectionItemView::resetTheme();
    EXPECT_EQ(KPSectionItemView::frameCacheCount(), 0);
    view->setSelected(true);
    lastImage = paint(view.get());
    EXPECT_EQ(KPSectionItemView::frameCacheCount(), 1);
    const QRectF f = view->actualFrameRect();
    EXPECT_EQ(at(*view, QPointF(f.center().x(), f.y() + 1)).rgb(), themeColor("ViewItem", "FrameColor").rgb());
    ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")));
}

TEST_F(ItemDrawing, TitlesOfAnyLengthAndScriptStayInsideTheFrame)
{
    const QString longTitle = QString(QStringLiteral("😀漢字ä")).repeated(200);
    auto view = standalone(document(longTitle));
    EXPECT_LE(view->actualTextRect().width(), settings().itemImageSize().width() - 16);
    EXPECT_GE(view->actualTextRect().x(), 0);
}

// Views are reused for other documents while the grid scrolls, and models load their values only
// when first shown: every view on screen must show its own document's values, and draw what a
// fresh view of that document draws, in both forms.
TEST_F(ItemDrawing, ReusedViewsShowTheirOwnDocumentAfterAFastScroll)
{
    constexpr int kDocuments = 1200;
    QList<KPItemDataPtr> items;
    for (int i = 0; i < kDocuments; ++i) {
        browsertest::DocumentFields fields{.title = QStringLiteral("Document %1").arg(i), .label = i % 8, .rate = i % 6};
        if (i % 3)
            fields.tags = {QStringLiteral("tag %1").arg(i % 5)};
        items.append(KPItemData::create(addDocument(fields)));
        if (i % 2) {
            QImage image(QSize(200 + i % 7, 300 - i % 11), QImage::Format_ARGB32);
            image.fill(QColor::fromHsv(i % 360, 120, 200));
            items.back()->setSourceImage(image);
            items.back()->setImageOriginalSize(image.size());
            items.back()->setBLoadedResource(true);
        }
    }
    ASSERT_TRUE(save());
    for (KPDisplayMode mode : {KPDisplayModeIcon, KPDisplayModeList}) {
        SCOPED_TRACE(int(mode));
        settings().setDisplayMode(mode);
        showGrid(items);
        QScrollBar* bar = grid->verticalScrollBar();
        int compared = 0;
        for (int step = 0, top = 0; top <= bar->maximum() + bar->pageStep(); ++step, top += bar->pageStep() * 3 + 17) {
            bar->setValue(std::min(top, bar->maximum()));
            QApplication::processEvents();
            for (KPCollectionItemView* shown : grid->visibleItemViews()) {
                auto* view = static_cast<KPSectionItemView*>(shown);
                const qint64 index = view->itemIndex();
                ASSERT_EQ(view->itemData(), items[index]);
                const QImage drawn = paint(view);
                const KPItemData& item = *view->itemData();
                ASSERT_EQ(item.title(), QStringLiteral("Document %1").arg(index));
                ASSERT_EQ(item.rate(), index % 6);
                ASSERT_EQ(item.label(), index % 8);
                ASSERT_EQ(item.tagString(), index % 3 ? QStringLiteral("tag %1").arg(index % 5) : QString());
                if (step % 4 == 0) {
                    auto fresh = standalone(view->itemData(), index);
                    fresh->resize(view->size());
                    // A view inside the grid grabs into another pixel format than one on its own.
                    ASSERT_EQ(drawn.convertToFormat(QImage::Format_ARGB32),
                              paint(fresh.get()).convertToFormat(QImage::Format_ARGB32)) << index;
                    ++compared;
                }
            }
        }
        EXPECT_GT(compared, 20);
    }
}
