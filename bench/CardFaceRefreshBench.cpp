// bench-libs: tolvaren_cardui tolvaren_simulator
// The card face on the simulated 24 + 24 point card: the user-interface part of an incremental
// refresh (UpdateFromSnapshot of the face and all 48 rows, with values that differ from the
// previous refresh, and the same followed by the layout and paint work it causes), an
// incremental refresh including its gathering, and a first card face (full gathering and
// building the face).
#include <cstdlib>

#include <benchmark/benchmark.h>

#include <QApplication>

#include "cardui/TolvarenCardWidget.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "simulator/DEDOCardSimulator.h"

namespace {

struct SimulatedFace
{
    DEDOCardSimulator card;
    ModbusMasterDatalink datalink{&card};
    TolvarenSnapshotGatherer gatherer{datalink};
    TolvarenCardWidget face{&datalink, nullptr};

    SimulatedFace()
    {
        gatherer.RefreshSnapshot().get();
        face.resize(764, 448);
        face.show();
        face.UpdateFromSnapshot(&gatherer);
        gatherer.RefreshSnapshot().get();
        face.UpdateFromSnapshot(&gatherer);
        QApplication::processEvents();
    }

    // The gatherer hands its snapshot out read-only; the benchmark swaps values in between
    // refreshes, while no gathering runs.
    TolvarenSnapshot& Snapshot() { return const_cast<TolvarenSnapshot&>(gatherer.Snapshot()); }
};

// Two snapshots whose every value differs, so that every label really changes.
void Alternate(TolvarenSnapshot& s, bool odd)
{
    const float delta = odd ? 1.25f : -1.25f;
    for (float& v : s.inputValues)
        v += delta;
    for (float& v : s.outputValues)
        v += delta;
    for (float& v : s.overrideValues)
        v += delta;
    s.boardVoltage += delta;
}

void BM_CardFaceUpdateOnly(benchmark::State& state)
{
    SimulatedFace f;
    bool odd = false;
    for (auto _ : state) {
        state.PauseTiming();
        Alternate(f.Snapshot(), odd = !odd);
        state.ResumeTiming();
        f.face.UpdateFromSnapshot(&f.gatherer);
    }
}
BENCHMARK(BM_CardFaceUpdateOnly)->Unit(benchmark::kMillisecond);

void BM_CardFaceUpdateAndRepaint(benchmark::State& state)
{
    SimulatedFace f;
    bool odd = false;
    for (auto _ : state) {
        state.PauseTiming();
        Alternate(f.Snapshot(), odd = !odd);
        state.ResumeTiming();
        f.face.UpdateFromSnapshot(&f.gatherer);
        f.face.repaint();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_CardFaceUpdateAndRepaint)->Unit(benchmark::kMillisecond);

void BM_IncrementalRefreshWithGathering(benchmark::State& state)
{
    SimulatedFace f;
    for (auto _ : state) {
        f.gatherer.RefreshSnapshot().get();
        f.face.UpdateFromSnapshot(&f.gatherer);
    }
}
BENCHMARK(BM_IncrementalRefreshWithGathering)->Unit(benchmark::kMillisecond);

void BM_FirstCardFace(benchmark::State& state)
{
    DEDOCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    for (auto _ : state) {
        TolvarenSnapshotGatherer gatherer(datalink);
        gatherer.RefreshSnapshot().get();
        TolvarenCardWidget face(&datalink, nullptr);
        face.resize(764, 448);
        face.show();
        face.UpdateFromSnapshot(&gatherer);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_FirstCardFace)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
