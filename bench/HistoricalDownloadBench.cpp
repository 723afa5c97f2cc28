// bench-libs: tolvaren_protocol tolvaren_simulator tolvaren_comms tolvaren_test_support
// Download of all 8-day data of the full simulated 24 + 24 card into a CSV file:
// - in-process: time, requests and time per request (all of it host time: the simulated card
//   answers at once);
// - from tolvaren-sim over a pseudo-terminal paced as 115200 baud 8N1: time against the
//   wire-time lower bound of every request and reply byte that crossed the line.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/HistoricalDataDownloader.h"
#include "simulator/FullCardSimulator.h"
#include "tests/support/ServedCardLink.h"

namespace {

typedef std::chrono::steady_clock Clock;

const char* const csvPath = "/tmp/tolvaren-bench-8day.csv";

class CountingCard : public FullCardSimulator
{
public:
    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override
    {
        ++requests;
        return FullCardSimulator::HandleRequest(functionCode, requestData, replyData);
    }

    std::atomic<long> requests{0};
};

// Passes everything through to the port and counts the bytes each way.
class CountingComms : public ICommsInterface
{
public:
    explicit CountingComms(ICommsInterface& inner) : m_inner(inner) {}

    void Transmit(const ByteVec& bytes) override
    {
        ++requests;
        sent += bytes.size();
        m_inner.Transmit(bytes);
    }
    boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) override
    {
        m_signal.connect(slot);
        return m_inner.ConnectDataReceived([this](ByteVec& bytes) {
            received += bytes.size();
            m_signal(bytes);
        });
    }

    std::atomic<long> requests{0};
    std::atomic<long> sent{0};
    std::atomic<long> received{0};

private:
    ICommsInterface& m_inner;
    DataReceivedSignal m_signal;
};

void Download(ModbusMasterDatalink& datalink)
{
    HistoricalDataDownloader downloader(datalink, csvPath, boost::function<void(float)>());
    downloader.Start().get();
}

void BM_InProcessDownload(benchmark::State& state)
{
    CountingCard card;
    ModbusMasterDatalink datalink(&card);
    long requests = 0;
    Clock::duration elapsed{};
    for (auto _ : state) {
        card.requests = 0;
        const auto start = Clock::now();
        Download(datalink);
        elapsed += Clock::now() - start;
        requests += card.requests;
    }
    state.counters["requests"] = double(requests) / double(state.iterations());
    state.counters["us_per_request"] =
        std::chrono::duration<double, std::micro>(elapsed).count() / double(requests);
    std::remove(csvPath);
}
BENCHMARK(BM_InProcessDownload)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ServedDownload(benchmark::State& state)
{
    ServedCardLink served(ServedCardLink::ProgramBeside());
    CountingComms& counting = served.InsertTap<CountingComms>();
    ModbusMasterDatalink& datalink = served.Datalink();

    const double secondsPerByte = 10.0 / 115200.0; // start, 8 data, stop bits
    long sent = 0, received = 0, requests = 0;
    Clock::duration elapsed{};
    for (auto _ : state) {
        counting.requests = counting.sent = counting.received = 0;
        const auto start = Clock::now();
        Download(datalink);
        elapsed += Clock::now() - start;
        sent += counting.sent;
        received += counting.received;
        requests += counting.requests;
    }
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const double bound = double(sent + received) * secondsPerByte;
    state.counters["requests"] = double(requests) / double(state.iterations());
    state.counters["wire_bound_s"] = bound / double(state.iterations());
    state.counters["time_s"] = seconds / double(state.iterations());
    state.counters["over_bound_pct"] = (seconds / bound - 1.0) * 100.0;
    std::remove(csvPath);
}
BENCHMARK(BM_ServedDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
