// The tags side bar with thousands of tags, all selected: reading the selection (what a merge or
// a new tag group acts on) and a reload that keeps it. Both should grow with the number of rows,
// not its square; the run reports the fitted complexity ("SideBar/select_all_and_reload_BigO").
// Run: build/bin/sidebar_bench
#include "BenchWidgetMain.h"
#include "SideBar/KPNode.h"
#include "SideBar/KPNodeTreeModel.h"
#include "SideBar/KPSideBarOutlineView.h"
#include "SideBar/SideBarNodeType.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <benchmark/benchmark.h>

namespace {

void selectAllAndReload(benchmark::State& state)
{
    const KPNode::Ptr root = KPNode::create();
    const KPNode::Ptr tags = KPNode::initWithTitle(QStringLiteral("TAGS"), SideBarNodeType::SectionNode);
    root->addChild(tags);
    for (int64_t i = 0; i < state.range(0); ++i)
        tags->addChild(KPNode::initWithTitle(QStringLiteral("tag %1").arg(i), SideBarNodeType::TagNode));
    KPNodeTreeModel model(root);
    KPSideBarOutlineView view;
    view.resize(240, 600);
    view.setNodeModel(&model);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.expandNode(tags.get());
    QItemSelection all;
    const QModelIndex parent = model.indexForNode(tags.get());
    all.select(model.index(0, 0, parent), model.index(model.rowCount(parent) - 1, 0, parent));
    view.selectionModel()->select(all, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    for (auto _ : state) {
        benchmark::DoNotOptimize(view.selectedNodes().size());
        view.reloadAll();
    }
    if (view.selectedNodes().size() != size_t(state.range(0)))
        state.SkipWithError("the reload lost part of the selection");
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(selectAllAndReload)->Name("SideBar/select_all_and_reload")->Arg(500)->Arg(1000)->Arg(2000)->Arg(4000)
    ->Unit(benchmark::kMillisecond)->Complexity();

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv, QDir::tempPath() + QStringLiteral("/folivo-sidebar-bench"));
}
