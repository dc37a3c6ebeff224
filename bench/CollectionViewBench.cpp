// Scrolling the document grid from top to bottom, a quarter viewport per frame, each frame
// rendered into an image, against a raw twin that paints the same visible items' rectangles,
// thumbnails and titles with one painter and no widgets: the floor for drawing that many items.
//
//   build/bin/collectionview_bench [--benchmark_filter=…]
//
// Counters: grid_fps and raw_fps (frames per second), cost (grid time per frame over raw time
// per frame; the goal is 3 or less), views (item views ever constructed) and visible (the most
// item views on screen at once; the goal is views below twice that).
#include "BenchWidgetMain.h"
#include "GridBench.h"
#include "Browser/CollectionView/FakeGrid.h"

#include "Browser/KPDefaultSectionLayoutManager.h"
#include "Browser/KPNotTitleLayoutManager.h"
#include "Browser/KPViewSizeManager.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 800;
constexpr int kItems = 100000;

const std::vector<QImage>& thumbnails()
{
    static const std::vector<QImage> images = [] {
        std::vector<QImage> out;
        for (int i = 0; i < 8; ++i) {
            QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
            QPainter p(&image);
            QLinearGradient gradient(0, 0, 256, 256);
            gradient.setColorAt(0, QColor::fromHsv(i * 45, 160, 230));
            gradient.setColorAt(1, QColor::fromHsv(i * 45 + 20, 200, 120));
            p.fillRect(image.rect(), gradient);
            out.push_back(image);
        }
        return out;
    }();
    return images;
}

// What one item shows, drawn the same way by the item view and by the raw twin.
void paintItem(QPainter& p, const QRectF& box, qint64 index, bool selected)
{
    const bool list = box.height() < 100;
    const QRectF thumb = list ? QRectF(box.x() + 8, box.y() + 5, box.height() - 10, box.height() - 10)
                              : QRectF(box.x() + 10, box.y() + 10, box.width() - 20, box.width() - 20);
    if (selected)
        p.fillRect(box, QColor(210, 225, 250));
    p.drawImage(thumb, thumbnails()[size_t(index % 8)]);
    const QRectF text = list ? QRectF(thumb.right() + 10, box.y(), box.width() - thumb.width() - 30, box.height())
                             : QRectF(box.x() + 4, thumb.bottom() + 6, box.width() - 8, 20);
    p.drawText(text, Qt::AlignVCenter | (list ? Qt::AlignLeft : Qt::AlignHCenter),
               QStringLiteral("Document %1.pdf").arg(index + 1));
}

class BenchItemView : public KPCollectionItemView {
public:
    static inline int constructed = 0;
    explicit BenchItemView(QWidget* parent = nullptr) : KPCollectionItemView(parent) { ++constructed; }
    qint64 index = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        paintItem(p, rect(), index, selected());
    }
};

struct Result {
    double seconds = 0;
    int frames = 0;
    int maxVisible = 0;
};

struct Config {
    KPDisplayMode mode;
    bool grouped;   // 100 titled sections of 1,000, else one untitled section of 100,000
};

Result scrollGrid(KPCollectionView& grid)
{
    const GridScrollRun run = scrollGridToBottom(grid, QSize(kWidth, kHeight));
    return {run.seconds, run.frames, run.maxVisible};
}

Result paintRaw(KPCollectionView& grid, gridtest::FakeGrid& fake)
{
    Result r;
    QImage frame(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    const double height = grid.frameUp().height();
    const int maximum = std::max(0, int(height) - kHeight);
    const QFont headerFont = QApplication::font();
    QElapsedTimer timer;
    timer.start();
    for (int top = 0;; top += kHeight / 4) {
        const int shown = std::min(top, maximum);
        const QRectF visible(0, height - shown - kHeight, kWidth, kHeight);
        const double visibleTop = visible.y() + visible.height();
        QPainter p(&frame);
        p.fillRect(frame.rect(), Qt::white);
        for (const KPSectionIndexSet& a : grid.itemIndexsWithRect(visible)) {
            const QRectF up = grid.itemRectWithSectionIndexSet(a);
            const QRectF box(up.x(), visibleTop - (up.y() + up.height()), up.width(), up.height());
            paintItem(p, box, a.itemIndex(), false);
        }
        if (fake.titled) {
            for (const KPSectionIndexSet& s : grid.visibleSectionIndexSets()) {
                const QRectF section = *grid.sectionRect(s.sectionIndex());
                const double headerTop = std::max(0.0, visibleTop - (section.y() + section.height()));
                const QRectF header(0, headerTop, kWidth, 26);
                p.fillRect(header, QColor(236, 236, 238));
                p.setFont(headerFont);
                p.drawText(header.adjusted(20, 0, 0, 0), Qt::AlignVCenter, fake.sections[s.sectionIndex()]->title());
            }
        }
        p.end();
        ++r.frames;
        if (shown >= maximum || r.frames == benchFrameCap())
            break;
    }
    r.seconds = timer.nsecsElapsed() / 1e9;
    return r;
}

void BM_ScrollGrid(benchmark::State& state, Config config)
{
    useGridBenchSettings(config.mode);

    KPDefaultSectionLayoutManager titledLayout;
    KPNotTitleLayoutManager plainLayout;
    KPCollectionView grid;
    showGridWithViewport(grid, QSize(kWidth, kHeight));
    gridtest::FakeGrid fake(&grid, config.grouped ? static_cast<KPSectionContentLayoutManager*>(&titledLayout) : &plainLayout,
                            config.grouped);
    fake.setSections(config.grouped ? std::vector<qint64>(100, kItems / 100) : std::vector<qint64>{kItems});
    fake.makeItem = [](KPCollectionView* g) { return g->dequeueReusableWithClass<BenchItemView>(); };
    fake.configureItem = [](KPCollectionItemView* view, const KPSectionIndexSet& a) {
        static_cast<BenchItemView*>(view)->index = a.itemIndex();
    };
    BenchItemView::constructed = 0;
    grid.reloadData();

    Result gridRun;
    Result rawRun;
    for (auto _ : state) {
        gridRun = scrollGrid(grid);
        rawRun = paintRaw(grid, fake);
    }
    const double gridFps = gridRun.frames / gridRun.seconds;
    const double rawFps = rawRun.frames / rawRun.seconds;
    state.counters["frames"] = gridRun.frames;
    state.counters["grid_fps"] = gridFps;
    state.counters["raw_fps"] = rawFps;
    state.counters["cost"] = rawFps / gridFps;
    state.counters["views"] = BenchItemView::constructed;
    state.counters["visible"] = gridRun.maxVisible;
}

} // namespace

BENCHMARK_CAPTURE(BM_ScrollGrid, icon_one_section, Config{KPDisplayModeIcon, false})
    ->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_ScrollGrid, icon_100_sections, Config{KPDisplayModeIcon, true})
    ->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_ScrollGrid, list_one_section, Config{KPDisplayModeList, false})
    ->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_ScrollGrid, list_100_sections, Config{KPDisplayModeList, true})
    ->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv, QDir::tempPath() + QStringLiteral("/folivo-collectionview-bench"));
}
