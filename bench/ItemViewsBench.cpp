// Scrolling the document grid from top to bottom with the real document item views, a quarter
// viewport per frame, each frame rendered into an image: the same run as collectionview_bench,
// whose items are plain rectangles, so the two grid_fps figures show what the item views cost.
//
//   build/bin/itemviews_bench [--benchmark_filter=…]
//
// Counters: grid_fps (frames per second), views (item views ever constructed) and visible (the
// most item views on screen at once).
#include "BenchWidgetMain.h"
#include "GridBench.h"
#include "Browser/CollectionView/FakeGrid.h"
#include "Browser/ItemViews/ItemViewGeometry.h"
#include "Browser/ItemViews/KPSectionItemView.h"

#include "Browser/KPNotTitleLayoutManager.h"
#include "Browser/KPViewSizeManager.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 800;
constexpr int kItems = 100000;

class CountingItemView : public KPSectionItemView {
public:
    static inline int constructed = 0;
    explicit CountingItemView(QWidget* parent = nullptr) : KPSectionItemView(parent) { ++constructed; }
};

// Documents whose thumbnails come as the loader hands them over: already fitted to the item.
QList<KPItemDataPtr> documents(KPDisplayMode mode)
{
    const QRectF frame(QPointF(0, 0), KPViewSizeManager::instance().itemImageSize() - QSizeF(24, 16));
    std::vector<std::pair<QImage, QSize>> images;
    for (int i = 0; i < 8; ++i) {
        const QSize original(800, 600 + 100 * i);
        const QSizeF fitted = mode == KPDisplayModeIcon ? itemgeometry::iconThumbnailRect(original, frame).size()
                                                         : itemgeometry::listThumbnailRect(original).size();
        QImage image(fitted.toSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor::fromHsv(i * 45, 160, 200));
        images.emplace_back(image, original);
    }
    QList<KPItemDataPtr> items;
    items.reserve(kItems);
    for (int i = 0; i < kItems; ++i) {
        auto item = KPItemData::create(DBFileInfo());
        item->loadDataContent();
        item->setTitle(QStringLiteral("Document %1 of the benchmark library").arg(i + 1));
        item->setFilePath(QStringLiteral("/library/Documents/Document %1.pdf").arg(i + 1));
        item->setRate(i % 6);
        item->setLabel(i % 8);
        const auto& [image, original] = images[size_t(i % 8)];
        item->setSourceImage(image);
        item->setImageOriginalSize(original);
        item->setBLoadedResource(true);
        items.append(item);
    }
    return items;
}

void BM_ScrollItemViews(benchmark::State& state, KPDisplayMode mode)
{
    useGridBenchSettings(mode);

    const QList<KPItemDataPtr> items = documents(mode);
    KPNotTitleLayoutManager layout;
    KPCollectionView grid;
    showGridWithViewport(grid, QSize(kWidth, kHeight));
    gridtest::FakeGrid fake(&grid, &layout, false);
    fake.sections = {KPSectionData::create(QString(), items)};
    fake.makeItem = [](KPCollectionView* g) { return g->dequeueReusableWithClass<CountingItemView>(); };
    fake.configureItem = [&fake](KPCollectionItemView* view, const KPSectionIndexSet& a) {
        auto* item = static_cast<KPSectionItemView*>(view);
        item->setItemData(fake.sections[0]->itemAt(a.itemIndex()));
        item->setItemIndex(a.itemIndex());
        item->loadContent();
    };
    CountingItemView::constructed = 0;
    grid.reloadData();

    GridScrollRun run;
    for (auto _ : state)
        run = scrollGridToBottom(grid, QSize(kWidth, kHeight));
    state.counters["frames"] = run.frames;
    state.counters["grid_fps"] = run.frames / run.seconds;
    state.counters["views"] = CountingItemView::constructed;
    state.counters["visible"] = run.maxVisible;
}

} // namespace

BENCHMARK_CAPTURE(BM_ScrollItemViews, icon, KPDisplayModeIcon)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_ScrollItemViews, list, KPDisplayModeList)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv, QDir::tempPath() + QStringLiteral("/folivo-itemviews-bench"),
                               [] { KPSectionItemView::setServices(ItemViewServices()); });
}
