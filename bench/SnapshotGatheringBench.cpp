// bench-libs: tolvaren_protocol tolvaren_simulator
// Full and incremental gatherings of the simulated 24 + 24 point card, in-process: the time of
// one gathering, its number of requests and the host time per request; and the peak number of
// live threads of the process during a full gathering.
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include <boost/thread/thread.hpp>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "simulator/DEDOCardSimulator.h"

namespace {

class CountingCard : public DEDOCardSimulator
{
public:
    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override
    {
        ++requests;
        return DEDOCardSimulator::HandleRequest(functionCode, requestData, replyData);
    }

    std::atomic<long> requests{0};
};

int LiveThreads()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 8, "Threads:") == 0) {
            return std::stoi(line.substr(8));
        }
    }
    return -1;
}

typedef std::chrono::steady_clock Clock;

void Report(benchmark::State& state, long requests, Clock::duration elapsed)
{
    state.counters["requests"] = double(requests) / state.iterations();
    state.counters["us_per_request"] =
        std::chrono::duration<double, std::micro>(elapsed).count() / double(requests);
}

void BM_FullGathering(benchmark::State& state)
{
    CountingCard card;
    ModbusMasterDatalink datalink(&card);
    long requests = 0;
    Clock::duration elapsed{};
    for (auto _ : state) {
        const auto start = Clock::now();
        TolvarenSnapshotGatherer gatherer(datalink);
        card.requests = 0;
        gatherer.RefreshSnapshot().get();
        elapsed += Clock::now() - start;
        requests += card.requests;
    }
    Report(state, requests, elapsed);
}
BENCHMARK(BM_FullGathering)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IncrementalGathering(benchmark::State& state)
{
    CountingCard card;
    ModbusMasterDatalink datalink(&card);
    TolvarenSnapshotGatherer gatherer(datalink);
    gatherer.RefreshSnapshot().get();
    long requests = 0;
    Clock::duration elapsed{};
    for (auto _ : state) {
        const auto start = Clock::now();
        card.requests = 0;
        gatherer.RefreshSnapshot().get();
        elapsed += Clock::now() - start;
        requests += card.requests;
    }
    Report(state, requests, elapsed);
}
BENCHMARK(BM_IncrementalGathering)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The floor an incremental gathering is compared with: one register read through the master and
// the datalink, waited for on the calling thread.
void BM_SingleRequest(benchmark::State& state)
{
    CountingCard card;
    ModbusMasterDatalink datalink(&card);
    TolvarenCommsCommon comms(datalink);
    for (auto _ : state) {
        comms.ReadSingleRegister(false, TolvarenCommsCommon::regBoardMillivolts).get();
    }
}
BENCHMARK(BM_SingleRequest)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Samples the thread count as fast as it can while a full gathering runs.
void BM_FullGatheringPeakThreads(benchmark::State& state)
{
    CountingCard card;
    ModbusMasterDatalink datalink(&card);
    int peak = 0;
    int before = 0;
    for (auto _ : state) {
        before = LiveThreads();
        std::atomic<bool> done(false);
        std::atomic<int> seen(0);
        boost::thread sampler([&] {
            while (!done) {
                const int n = LiveThreads();
                if (n > seen) {
                    seen = n;
                }
            }
        });
        {
            TolvarenSnapshotGatherer gatherer(datalink);
            gatherer.RefreshSnapshot().get();
        }
        done = true;
        sampler.join();
        peak = std::max(peak, seen.load() - 1); // not counting the sampler itself
    }
    state.counters["threads_before"] = before;
    state.counters["peak_threads"] = peak;
}
BENCHMARK(BM_FullGatheringPeakThreads)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
