// bench-libs: tolvaren_calibration tolvaren_protocol tolvaren_simulator tolvaren_comms tolvaren_test_support
// One averaged raw reading as a calibration takes it (at least 10 samples and
// at least 50 ms of back-to-back reads of one input register) from the simulated card served by
// tolvaren-sim on a pseudo-terminal paced as 115200 baud 8N1: reads taken per call against the most
// the line allows in the sample duration (a function 4 read of one register is an 8-byte request
// and a 7-byte reply, 150 bit times); and, for scale, the same on the card in-process.
#include <atomic>
#include <chrono>

#include <benchmark/benchmark.h>

#include "calibration/CalibMaths.h"
#include "calibration/CalibSettings.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "simulator/FullCardSimulator.h"
#include "tests/support/ServedCardLink.h"

namespace {

const double secondsPerRead = 15.0 * 10.0 / 115200.0;

// Passes everything through to the port and counts the requests sent.
class CountingComms : public ICommsInterface
{
public:
    explicit CountingComms(ICommsInterface& inner) : m_inner(inner) {}

    void Transmit(const ByteVec& bytes) override
    {
        ++requests;
        m_inner.Transmit(bytes);
    }
    boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) override
    {
        return m_inner.ConnectDataReceived(slot);
    }

    std::atomic<long> requests{0};

private:
    ICommsInterface& m_inner;
};

void Measure(benchmark::State& state, ModbusMasterDatalink& datalink,
             const std::atomic<long>& requests)
{
    CalibSettings& settings = CalibSettings::Instance();
    settings = CalibSettings(); // 10 samples, 50 ms
    TolvarenCommsCommon comms(datalink);
    comms.ReadSingleRegister(false, TolvarenCommsCommon::baseRawValue).get(); // line warmed up
    const long before = requests;
    double elapsed = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        // Any spread is allowed: the plant's signal moves.
        benchmark::DoNotOptimize(CalibMaths::ReadRawAveraged(comms, 0, 65535));
        elapsed += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double calls = double(state.iterations());
    const double reads = double(requests - before) / calls;
    const double lineMost = (elapsed / calls) / secondsPerRead;
    state.counters["reads_per_call"] = reads;
    state.counters["line_most_reads"] = lineMost;
    state.counters["of_line_pct"] = 100.0 * reads / lineMost;
    state.counters["line_most_in_50ms"] = 0.050 / secondsPerRead;
}

void BM_ServedReadRawAveraged(benchmark::State& state)
{
    ServedCardLink served(ServedCardLink::ProgramBeside());
    CountingComms& counting = served.InsertTap<CountingComms>();
    Measure(state, served.Datalink(), counting.requests);
}
BENCHMARK(BM_ServedReadRawAveraged)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

void BM_InProcessReadRawAveraged(benchmark::State& state)
{
    FullCardSimulator card;
    CountingComms counting(card);
    ModbusMasterDatalink datalink(&counting);
    Measure(state, datalink, counting.requests);
}
BENCHMARK(BM_InProcessReadRawAveraged)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

} // namespace

BENCHMARK_MAIN();
