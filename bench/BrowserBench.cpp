// Grouping 100,000 documents into sections with file sorting (by title), for the group types the
// grid's group buttons offer (1 letter, 4 size, 5 kind, 8 modified date, 10 source), folders (3)
// and the plain list sorted by title (type 0), each beside its floor: a plain std::sort of the
// same (group key, title collation key) pairs held as plain values in a vector. Twins are named
// "Browser/grouping/typeN/100000" and "Browser/raw_std_sort/typeN/100000".
//
// The library (titles of words and numbers, sizes, dates, extensions, tags, folders and source
// folders) is built once into $TMPDIR/folivo-browser-bench; HOME and the XDG folders point in
// there. The display models are made and their display values loaded outside the timing; the
// first benchmark reports the memory of the 100,000 models ("models_rss_mb") and the process's
// peak ("peak_rss_mb"). Run: build/bin/browser_bench
#include "BenchHome.h"
#include "BenchLibrary.h"
#include "BenchMemory.h"
#include "Browser/KPGroupingEngine.h"
#include "Browser/KPSortFunctions.h"
#include "Browser/KPViewSizeManager.h"
#include "Import/KPFileFormatManager.h"
#include "Platform/Foundation/NaturalCompare.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBNode.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

using benchlibrary::kDocuments;

QString benchDir()
{
    return QDir::tempPath() + QStringLiteral("/folivo-browser-bench");
}

QString libraryDir()
{
    return benchDir() + QStringLiteral("/library");
}

struct Library {
    std::unique_ptr<DataBaseEngine> engine;
    KPItemDataSet items;
    double modelsRssMb = 0;

    static Library& shared()
    {
        static Library library = [] {
            Library l;
            l.engine = benchlibrary::openBenchLibrary(libraryDir());
            auto records = l.engine->queryRecordByName(DBFileInfo::entityName());
            const double before = rssMb("VmRSS:");
            l.items.reserve(size_t(kDocuments));
            for (const auto& object : records.value_or(QList<platform::ManagedObjectPtr>()))
                l.items.insert(KPItemData::create(DBFileInfo(object)));
            for (const KPItemDataPtr& item : l.items)
                item->loadDataContent();
            l.modelsRssMb = rssMb("VmRSS:") - before;
            return l;
        }();
        return library;
    }
};

void grouping(benchmark::State& state, int groupType)
{
    Library& library = Library::shared();
    KPViewSizeManager::instance().setItemViewType(groupType == 0 ? KPItemViewTypeDocuments : KPItemViewTypeGroupedDocuments);
    QList<KPSectionDataPtr> sections;
    KPGroupingEngine::Services services;
    services.engine = library.engine.get();
    KPGroupingEngine engine(sections, services);
    const QVariantMap setting{{KPGroupingEngine::kGroupTypeKey, groupType == 0 ? 1 : groupType},
                              {KPGroupingEngine::kGroupAscendingKey, true},
                              {KPGroupingEngine::kFileTypeKey, int(KPFileSortTypeTitle)},
                              {KPGroupingEngine::kFileAscendingKey, true}};
    for (auto _ : state) {
        engine.createDataAndFileDataByGroupSortSetting(library.items, setting);
        benchmark::DoNotOptimize(sections);
    }
    qsizetype listed = 0;
    for (const KPSectionDataPtr& section : sections)
        listed += section->itemCount();
    state.counters["sections"] = double(sections.size());
    state.counters["documents"] = double(listed);
    state.counters["models_rss_mb"] = library.modelsRssMb;
    state.counters["peak_rss_mb"] = rssMb("VmHWM:");
}

// The same pairs a grouping sorts by, read out beforehand, as plain values.
template <class GroupKey>
void rawSort(benchmark::State& state, const std::function<GroupKey(const DBFileInfo&)>& groupKey)
{
    Library& library = Library::shared();
    std::vector<std::pair<GroupKey, QCollatorSortKey>> pairs;
    pairs.reserve(library.items.size());
    for (const KPItemDataPtr& item : library.items)
        pairs.emplace_back(groupKey(item->data()), platform::naturalSortKey(item->data().title()));
    auto less = [](const std::pair<GroupKey, QCollatorSortKey>& a, const std::pair<GroupKey, QCollatorSortKey>& b) {
        if (a.first != b.first)
            return a.first < b.first;
        return a.second.compare(b.second) < 0;
    };
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::pair<GroupKey, QCollatorSortKey>> work = pairs;
        state.ResumeTiming();
        std::sort(work.begin(), work.end(), less);
        benchmark::DoNotOptimize(work);
    }
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : path.left(slash);
}

void raw(benchmark::State& state, int groupType)
{
    const KPGroupingEngine::DateBucketLimits limits = KPGroupingEngine::dateBucketLimits(QDateTime::currentDateTimeUtc());
    switch (groupType) {
    case 0:
        rawSort<int>(state, [](const DBFileInfo&) { return 0; });
        break;
    case 1:
        rawSort<QString>(state, [](const DBFileInfo& f) { return KPGroupingEngine::firstLetterKey(f.title()); });
        break;
    case 3:
        rawSort<QString>(state, [](const DBFileInfo& f) { return f.node().title(); });
        break;
    case 4:
        rawSort<int>(state, [](const DBFileInfo& f) {
            const qint64 size = f.valueForKeyPath(QStringLiteral("metadata.fileSize")).toLongLong();
            const auto& ranges = KPGroupingEngine::fileSizeGroups();
            return int(std::find_if(ranges.begin(), ranges.end(),
                                    [&](const auto& r) { return size >= r.from && size < r.below; }) - ranges.begin());
        });
        break;
    case 5:
        rawSort<QString>(state, [](const DBFileInfo& f) {
            return KPFileFormatManager::fileFormatManager().kindNameByExtenstion(f.pathExtension());
        });
        break;
    case 8:
        rawSort<int>(state, [limits](const DBFileInfo& f) {
            const QDateTime date = f.valueForKeyPath(QStringLiteral("metadata.dateModified")).toDateTime();
            return KPGroupingEngine::dateBucket(date.isValid() ? std::optional<QDateTime>(date) : std::nullopt, limits);
        });
        break;
    case 10:
        rawSort<QString>(state, [](const DBFileInfo& f) {
            return parentOf(f.isIndex() ? f.path() : f.valueForKeyPath(QStringLiteral("metadata.from")).toString());
        });
        break;
    default:
        break;
    }
}

} // namespace

int main(int argc, char** argv)
{
    useBenchHome(benchDir() + QStringLiteral("/home"));
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    for (int type : {0, 1, 3, 4, 5, 8, 10}) {
        const std::string name = type == 0 ? std::string("type0_title") : "type" + std::to_string(type);
        benchmark::RegisterBenchmark(("Browser/grouping/" + name + "/100000").c_str(),
                                     [type](benchmark::State& s) { grouping(s, type); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Browser/raw_std_sort/" + name + "/100000").c_str(),
                                     [type](benchmark::State& s) { raw(s, type); })
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The store is closed in order, never by static destruction.
    if (Library::shared().engine)
        (void)Library::shared().engine->close();
    return 0;
}
