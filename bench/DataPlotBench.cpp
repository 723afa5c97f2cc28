// bench-libs: tolvaren_graphs
//
// Strip chart costs: painting a full-HD plot with a million samples shown whole (reduced to
// pixel columns) and with ten thousand, appending one sample while following the newest, and
// the renderer's memory for a million samples.
#include "graphs/DataPlotRenderer.h"
#include "graphs/DataPlotWidget.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <malloc.h>
#include <memory>

namespace {

const QSize FullHd(1920, 1080);

std::vector<float> Series(std::size_t count)
{
    std::vector<float> values(count);
    std::uint32_t noise = 12345;
    for (std::size_t k = 0; k < count; ++k) {
        noise = noise * 1103515245u + 12345u;
        values[k] =
            static_cast<float>(50.0 + 40.0 * std::sin(k * 1e-4) + ((noise >> 16) % 1000) / 100.0);
    }
    // A gap, as a card without power leaves one.
    for (std::size_t k = count / 3; k < count / 3 + count / 100; ++k)
        values[k] = std::numeric_limits<float>::quiet_NaN();
    return values;
}

void PaintWhole(benchmark::State& state, std::size_t count)
{
    DataPlotRenderer renderer;
    renderer.SetYRange(0, 110);
    renderer.AddValues(Series(count));
    renderer.SetViewportSize(FullHd);
    renderer.ShowAllData();
    QImage image(FullHd, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&image);
        renderer.Paint(painter, FullHd, true);
    }
    state.counters["pixels_per_sample"] = renderer.PixelsPerSample();
}

void BM_PaintMillionSamplesWhole(benchmark::State& state)
{
    PaintWhole(state, 1000000);
}
BENCHMARK(BM_PaintMillionSamplesWhole)->Unit(benchmark::kMillisecond);

void BM_PaintTenThousandSamplesWhole(benchmark::State& state)
{
    PaintWhole(state, 10000);
}
BENCHMARK(BM_PaintTenThousandSamplesWhole)->Unit(benchmark::kMillisecond);

// The reduction of a million samples to pixel columns alone, without drawing.
void BM_ReduceMillionSamplesToColumns(benchmark::State& state)
{
    DataPlotRenderer renderer;
    renderer.SetYRange(0, 110);
    renderer.AddValues(Series(1000000));
    renderer.SetViewportSize(FullHd);
    renderer.ShowAllData();
    for (auto _ : state) {
        DataPlotRenderer::Trace trace = renderer.BuildTrace();
        benchmark::DoNotOptimize(trace.points.data());
    }
}
BENCHMARK(BM_ReduceMillionSamplesToColumns)->Unit(benchmark::kMillisecond);

// The widget's append: store, scroll bars, repaint request.
void BM_AppendOneSampleFollowingNewest(benchmark::State& state)
{
    DataPlotWidget widget;
    widget.resize(FullHd);
    widget.SetYRange(0, 110);
    widget.AddValues(Series(100000));
    float v = 1.0f;
    for (auto _ : state) {
        widget.AddValue(v);
        v += 0.001f;
    }
}
BENCHMARK(BM_AppendOneSampleFollowingNewest)->Iterations(200000)->Unit(benchmark::kMicrosecond);

// The same append with the repaint it causes, drawn at once.
void BM_AppendAndRepaintFollowingNewest(benchmark::State& state)
{
    DataPlotRenderer renderer;
    renderer.SetYRange(0, 110);
    renderer.AddValues(Series(100000));
    QImage image(FullHd, QImage::Format_RGB32);
    float v = 1.0f;
    for (auto _ : state) {
        renderer.AddValue(v);
        v += 0.001f;
        QPainter painter(&image);
        renderer.Paint(painter, FullHd, true);
    }
}
BENCHMARK(BM_AppendAndRepaintFollowingNewest)->Iterations(2000)->Unit(benchmark::kMillisecond);

void BM_RendererMemoryForMillionSamples(benchmark::State& state)
{
    const std::vector<float> values = Series(1000000);
    double bytes = 0;
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks;
        auto renderer = std::make_unique<DataPlotRenderer>();
        renderer->AddValues(values);
        renderer->SetViewportSize(FullHd);
        renderer->ShowAllData();
        const std::size_t after = mallinfo2().uordblks;
        bytes = static_cast<double>(after - before);
        benchmark::DoNotOptimize(renderer.get());
    }
    state.counters["renderer_MB"] = bytes / (1024.0 * 1024.0);
}
BENCHMARK(BM_RendererMemoryForMillionSamples)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
