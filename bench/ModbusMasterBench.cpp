// bench-libs: tolvaren_modbus tolvaren_simulator
//
// Round trips of ModbusMaster through the datalink to the in-process simulated card: requests per
// second, and the median and 99th-percentile round trip in microseconds.
#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

#include <benchmark/benchmark.h>

#include "modbus/ModbusMaster.h"
#include "modbus/ModbusMasterDatalink.h"
#include "simulator/DEDOCardSimulator.h"

namespace {

void MeasureRoundTrips(benchmark::State& state, const std::function<void(ModbusMaster&)>& call)
{
    DEDOCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    ModbusMaster master(datalink);
    call(master); // warms up the threads and the allocator

    std::vector<double> roundTrips;
    roundTrips.reserve(1 << 16);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        call(master);
        const auto end = std::chrono::steady_clock::now();
        roundTrips.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    if (roundTrips.empty())
        return;
    std::sort(roundTrips.begin(), roundTrips.end());
    state.counters["median_us"] = roundTrips[roundTrips.size() / 2];
    state.counters["p99_us"] = roundTrips[std::min(roundTrips.size() - 1,
                                                   roundTrips.size() * 99 / 100)];
    state.counters["requests_per_s"] =
        benchmark::Counter(static_cast<double>(roundTrips.size()), benchmark::Counter::kIsRate);
}

void SingleRegisterRead(benchmark::State& state)
{
    MeasureRoundTrips(state, [](ModbusMaster& master) {
        benchmark::DoNotOptimize(master.ReadInputRegister(910).get());
    });
}

void FloatRead48Registers(benchmark::State& state)
{
    MeasureRoundTrips(state, [](ModbusMaster& master) {
        benchmark::DoNotOptimize(master.ReadRegistersFloat(ModbusMaster::HoldingRegisters, 9000, 24)
                                     .get());
    });
}

void VendorCommand(benchmark::State& state)
{
    MeasureRoundTrips(state, [](ModbusMaster& master) {
        benchmark::DoNotOptimize(master.SendQelCommand(22).get());
    });
}

} // namespace

BENCHMARK(SingleRegisterRead)->UseRealTime();
BENCHMARK(FloatRead48Registers)->UseRealTime();
BENCHMARK(VendorCommand)->UseRealTime();

BENCHMARK_MAIN();
