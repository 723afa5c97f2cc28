// bench-libs: tolvaren_cardui tolvaren_app tolvaren_comms tolvaren_test_support Qt5::Widgets
// A visible parameter tab of 40 parameters (module B of the full simulated card, served by
// tolvaren-sim in a process of its own, paced as 115200 baud) refreshing every 300 ms: CPU of the
// program over 10 s of wall time, refreshes per second, and how long one refresh holds the GUI
// thread (handling the delivered values, then painting the table it changed).
#include <algorithm>
#include <chrono>
#include <cstdlib>

#include <sys/resource.h>

#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <boost/make_shared.hpp>

#include "app/EventLoopTrackingApp.h"
#include "cardui/CardParamsWidget.h"
#include "cardui/ParamsTableModel.h"
#include "tests/support/ServedCardLink.h"

namespace {

double CpuSeconds()
{
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The program's application object, timing the events of the objects watched: the model's
// queued deliveries and the table's paints.
class TimingApp : public EventLoopTrackingApp
{
public:
    TimingApp(int& argc, char** argv) : EventLoopTrackingApp(argc, argv) {}

    QObject* model = nullptr;
    QObject* viewport = nullptr;
    double deliveryMaxMs = 0, deliveryTotalMs = 0, paintMaxMs = 0, paintTotalMs = 0;
    int deliveries = 0, paints = 0;

    void Reset()
    {
        deliveryMaxMs = deliveryTotalMs = paintMaxMs = paintTotalMs = 0;
        deliveries = paints = 0;
    }

    bool notify(QObject* receiver, QEvent* event) override
    {
        const bool delivery = receiver == model && event->type() == QEvent::MetaCall;
        const bool paint = receiver == viewport && event->type() == QEvent::Paint;
        if (!delivery && !paint)
            return EventLoopTrackingApp::notify(receiver, event);
        const auto start = std::chrono::steady_clock::now();
        const bool result = EventLoopTrackingApp::notify(receiver, event);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (delivery) {
            deliveryMaxMs = std::max(deliveryMaxMs, ms);
            deliveryTotalMs += ms;
            ++deliveries;
        } else {
            paintMaxMs = std::max(paintMaxMs, ms);
            paintTotalMs += ms;
            ++paints;
        }
        return result;
    }
};

TimingApp* App()
{
    return static_cast<TimingApp*>(QCoreApplication::instance());
}

void Run(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void BM_ParamsTabCpu(benchmark::State& state)
{
    ServedCardLink served(ServedCardLink::ProgramBeside());
    TimingApp* app = App();

    for (auto _ : state) {
        CardParamsWidget tab(1, boost::make_shared<SharedCardParams>(), served.Datalink(),
                             nullptr);
        tab.resize(800, 1100);
        tab.show();
        for (int waited = 0; !tab.Model() && waited < 20000; waited += 100)
            Run(100);
        if (!tab.Model() || tab.Model()->rowCount() != 40) {
            state.SkipWithError("module B did not load with 40 parameters");
            return;
        }
        app->model = tab.Model();
        app->viewport = tab.findChild<QWidget*>("qt_scrollarea_viewport");
        Run(1000);

        int reads = 0;
        QObject::connect(tab.Model(), &ParamsTableModel::ValuesGathered, [&reads] { ++reads; });
        app->Reset();
        const double cpuBefore = CpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        Run(10000);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        state.counters["cpu_pct_of_one_core"] = (CpuSeconds() - cpuBefore) / wall * 100.0;
        state.counters["refreshes_per_s"] = reads / wall;
        state.counters["delivery_max_ms"] = app->deliveryMaxMs;
        state.counters["delivery_mean_ms"] =
            app->deliveries ? app->deliveryTotalMs / app->deliveries : 0.0;
        state.counters["paint_max_ms"] = app->paintMaxMs;
        state.counters["paint_mean_ms"] = app->paints ? app->paintTotalMs / app->paints : 0.0;
        app->model = app->viewport = nullptr;
    }
}
BENCHMARK(BM_ParamsTabCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TimingApp app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
