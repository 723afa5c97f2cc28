// bench-libs: tolvaren_mainwindow tolvaren_app
// The program on the simulated card, in-process and headless: the time from creating the main
// window to its first card face, and the process's CPU use while the window polls the card face
// for 60 s (the goal is under 5 % of one core).
#include <cstdlib>
#include <ctime>
#include <memory>

#include <benchmark/benchmark.h>

#include <QEventLoop>
#include <QMetaObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "app/EventLoopTrackingApp.h"
#include "mainwindow/TolvarenDiagnostics.h"

namespace {

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::unique_ptr<TolvarenDiagnostics> OpenOnSimulatedCard()
{
    auto window = std::make_unique<TolvarenDiagnostics>(QStringLiteral("MainWindow"), nullptr,
                                                        Qt::WindowMinimizeButtonHint);
    QEventLoop loop;
    QObject::connect(window.get(), &TolvarenDiagnostics::CardFaceCreated, &loop,
                     &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    window->show();
    QMetaObject::invokeMethod(window.get(), "on_simulateInputCardButton_clicked",
                              Qt::QueuedConnection);
    loop.exec();
    return window;
}

void BM_WindowToFirstCardFace(benchmark::State& state)
{
    for (auto _ : state) {
        std::unique_ptr<TolvarenDiagnostics> window = OpenOnSimulatedCard();
        if (!window->CardWidget())
            state.SkipWithError("no card face within 30 s");
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowToFirstCardFace)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PollingCpuFor60s(benchmark::State& state)
{
    for (auto _ : state) {
        std::unique_ptr<TolvarenDiagnostics> window = OpenOnSimulatedCard();
        int refreshes = 0;
        QObject::connect(window.get(), &TolvarenDiagnostics::CardFaceRefreshed,
                         [&refreshes] { ++refreshes; });
        const double cpuBefore = ProcessCpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        const double cpu = ProcessCpuSeconds() - cpuBefore;
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / 60.0;
        state.counters["refreshes_per_s"] = refreshes / 60.0;
        window.reset();
    }
}
BENCHMARK(BM_PollingCpuFor60s)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Own settings and an empty port list: the machine's ports and settings play no part.
    QTemporaryDir sandbox;
    const QByteArray root = sandbox.path().toLocal8Bit();
    setenv("TOLVAREN_SYSFS_TTY", root.constData(), 1);
    setenv("TOLVAREN_DEV_DIR", root.constData(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, sandbox.path());
    QCoreApplication::setOrganizationName(QStringLiteral("QEL"));
    QCoreApplication::setApplicationName(QStringLiteral("TolvarenDiagnostics"));
    EventLoopTrackingApp app(argc, argv);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
