// bench-libs: tolvaren_graphs tolvaren_comms tolvaren_test_support Qt5::Widgets
// CPU of the program while a live graph polls the card every 150 ms: the full simulated card is
// served by tolvaren-sim in a process of its own (paced as 115200 baud), so only the tool's own
// work is counted. The graph runs for 10 s of wall time (a graph window painted offscreen).
#include <chrono>
#include <cstdlib>

#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include "graphs/GraphWindow.h"
#include "tests/support/ServedCardLink.h"

namespace {

double CpuSeconds()
{
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_LiveGraphCpu(benchmark::State& state)
{
    ServedCardLink served(ServedCardLink::ProgramBeside());
    ModbusMasterDatalink& datalink = served.Datalink();

    double cpuPercent = 0.0;
    int polls = 0;
    for (auto _ : state) {
        QPointer<GraphWindow> graph = GraphWindow::OpenLiveGraph(
            datalink, Tolvaren::Input, 0, "Voltage 0-10V <-> 0-100%", nullptr);
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();

        const double cpuBefore = CpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        QEventLoop run;
        QTimer::singleShot(10000, &run, &QEventLoop::quit);
        run.exec();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        cpuPercent = (CpuSeconds() - cpuBefore) / wall * 100.0;
        if (!graph || !graph->isVisible()) {
            state.SkipWithError("the graph window did not stay open");
            return;
        }
        polls = graph->PollIntervalMs();
        delete graph;
    }
    state.counters["cpu_pct_of_one_core"] = cpuPercent;
    state.counters["poll_interval_ms"] = polls;
}
BENCHMARK(BM_LiveGraphCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
