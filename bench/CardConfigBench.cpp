// bench-libs: tolvaren_protocol tolvaren_simulator
// Saving and restoring the configuration image of the full simulated 24 + 24 point card,
// in-process: the time of one save or restore, its number of requests and the host time per
// request.
#include <atomic>
#include <chrono>

#include <benchmark/benchmark.h>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "simulator/FullCardSimulator.h"

namespace {

class CountingCard : public FullCardSimulator
{
public:
    CountingCard()
    {
        // A real card restarts without answering and the tool waits out the reply time-out;
        // here it answers at once, so that the figures are the tool's own time.
        SetVendorCommand(25, [](const ByteVec&, ByteVec&, std::int64_t) { return 0; });
    }

    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override
    {
        ++requests;
        return FullCardSimulator::HandleRequest(functionCode, requestData, replyData);
    }

    std::atomic<long> requests{0};
};

typedef std::chrono::steady_clock Clock;

void Report(benchmark::State& state, long requests, Clock::duration elapsed)
{
    state.counters["requests"] = double(requests) / state.iterations();
    state.counters["us_per_request"] =
        std::chrono::duration<double, std::micro>(elapsed).count() / double(requests);
}

void BM_SaveCardConfig(benchmark::State& state)
{
    DEDOCardSimulator::ResetSharedStores();
    CountingCard card;
    ModbusMasterDatalink datalink(&card);
    long requests = 0;
    Clock::duration elapsed{};
    for (auto _ : state) {
        card.requests = 0;
        const auto start = Clock::now();
        TolvarenCommsCommon comms(datalink);
        benchmark::DoNotOptimize(comms.GetCardConfig().get());
        elapsed += Clock::now() - start;
        requests += card.requests;
    }
    Report(state, requests, elapsed);
}
BENCHMARK(BM_SaveCardConfig)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RestoreCardConfig(benchmark::State& state)
{
    DEDOCardSimulator::ResetSharedStores();
    CountingCard card;
    ModbusMasterDatalink datalink(&card);
    ByteVec image;
    {
        TolvarenCommsCommon comms(datalink);
        comms.SetIoNote(Tolvaren::Input, 0, std::string(300, 'n')).get();
        image = comms.GetCardConfig().get();
    }
    long requests = 0;
    Clock::duration elapsed{};
    for (auto _ : state) {
        card.requests = 0;
        const auto start = Clock::now();
        TolvarenCommsCommon comms(datalink);
        comms.SetCardConfig(image).get();
        elapsed += Clock::now() - start;
        requests += card.requests;
    }
    Report(state, requests, elapsed);
}
BENCHMARK(BM_RestoreCardConfig)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
