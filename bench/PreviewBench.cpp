// The preview's text page with the worst inputs a user's files hold: text without break points
// up to the read cap, and a mail whose Subject is megabytes long. Each must be read and shown
// (laid out and drawn in a window of the preview's size) within 200 ms; unbroken, the first
// took over a minute and the second over ten.
//
//   build/bin/preview_bench
#include "BenchHome.h"
#include "Platform/Preview/PreviewContentLoader.h"

#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <benchmark/benchmark.h>

using platform::PreviewContent;
using platform::PreviewContentLoader;

namespace {

QString g_folder;

QString writeInput(const QString& name, const QByteArray& bytes)
{
    const QString path = g_folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

// Read as the preview reads it, then shown as its text page shows it.
void showFile(benchmark::State& state, const QString& path)
{
    QPlainTextEdit view;
    view.setReadOnly(true);
    view.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view.resize(800, 600);
    view.show();
    for (auto _ : state) {
        const PreviewContent content = PreviewContentLoader::load(path, nullptr);
        view.setPlainText(PreviewContentLoader::breakLongLines(content.text));
        benchmark::DoNotOptimize(view.grab());
        state.counters["chars"] = double(content.text.size());
    }
}

void BM_ShowLettersWithoutBreaks(benchmark::State& state)
{
    const QString path = writeInput(QStringLiteral("letters.txt"), QByteArray(PreviewContentLoader::kTextCapBytes, 'x'));
    showFile(state, path);
}

void BM_ShowMailWithHugeSubject(benchmark::State& state)
{
    const QString path = writeInput(QStringLiteral("subject.eml"),
                                    "From: a@example.org\r\nSubject: " + QByteArray(15 * 1000 * 1000, 'S') + "\r\n\r\nBody\r\n");
    showFile(state, path);
}

} // namespace

BENCHMARK(BM_ShowLettersWithoutBreaks)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ShowMailWithHugeSubject)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv)
{
    const QString home = QDir::tempPath() + QStringLiteral("/folivo-preview-bench");
    useBenchHome(home);
    g_folder = home + QStringLiteral("/inputs");
    QDir().mkpath(g_folder);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QDir(g_folder).removeRecursively();
    return 0;
}
