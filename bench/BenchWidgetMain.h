// The main of a benchmark that draws widgets: a home of its own, an application on the
// offscreen screen and the generated "gray" theme, then the registered benchmarks.
#pragma once

#include "BenchHome.h"
#include "Theme/KPThemeManager.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <functional>

inline int runWidgetBenchmarks(int argc, char** argv, const QString& home, const std::function<void()>& setUp = {})
{
    useBenchHome(home);
    QApplication app(argc, argv);
    if (!KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")))
        return 1;
    if (setUp)
        setUp();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
