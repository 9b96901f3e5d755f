// The editor's start to a shown window, measured as a whole process: loading the libraries,
// creating the window and showing it offscreen. Reports the peak memory too.

#include <QProcess>

#include <benchmark/benchmark.h>

static void BM_EditorStartToShownWindow(benchmark::State& state)
{
    double peakKiB = 0;
    for (auto _ : state) {
        QProcess probe;
        probe.start(QStringLiteral(CINDRAL_EDITOR_PROBE), {});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0) {
            state.SkipWithError("the editor did not come up");
            break;
        }
        peakKiB = std::max(peakKiB, probe.readAllStandardOutput().trimmed().toDouble());
    }
    state.counters["peak_MiB"] = peakKiB / 1024.0;
}
BENCHMARK(BM_EditorStartToShownWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
