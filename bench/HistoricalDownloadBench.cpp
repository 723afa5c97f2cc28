// bench-libs: tolvaren_protocol tolvaren_simulator tolvaren_comms tolvaren_test_support
// Download of all 8-day data of the full simulated 24 + 24 card into a CSV file:
// - in-process: time, requests, and time per request split into the simulated card's own
//   answer and the tool's host time on top of it (the writing of the rows, after the last
//   request, is counted apart);
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

typedef std::chrono::steady_clock SteadyClock;

const char* const csvPath = "/tmp/tolvaren-bench-8day.csv";

class CountingCard : public FullCardSimulator
{
public:
    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override
    {
        ++requests;
        const auto start = SteadyClock::now();
        const int result = FullCardSimulator::HandleRequest(functionCode, requestData, replyData);
        answering += (SteadyClock::now() - start).count();
        return result;
    }

    std::atomic<long> requests{0};
    // The card's own time to answer, in steady-clock ticks.
    std::atomic<long long> answering{0};
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

// Returns the time spent writing the rows (between the progress reports 99 and 100).
SteadyClock::duration Download(ModbusMasterDatalink& datalink)
{
    SteadyClock::time_point rowsStart, rowsEnd;
    HistoricalDataDownloader downloader(datalink, csvPath, [&](float percent) {
        if (percent >= 100.0f)
            rowsEnd = SteadyClock::now();
        else if (percent >= 99.0f)
            rowsStart = SteadyClock::now();
    });
    downloader.Start().get();
    return rowsEnd - rowsStart;
}

void BM_InProcessDownload(benchmark::State& state)
{
    CountingCard card;
    ModbusMasterDatalink datalink(&card);
    long requests = 0;
    SteadyClock::duration elapsed{}, answering{}, writing{};
    for (auto _ : state) {
        card.requests = 0;
        card.answering = 0;
        const auto start = SteadyClock::now();
        writing += Download(datalink);
        elapsed += SteadyClock::now() - start;
        requests += card.requests;
        answering += SteadyClock::duration(card.answering.load());
    }
    const auto perRequest = [&](SteadyClock::duration d) {
        return std::chrono::duration<double, std::micro>(d).count() / double(requests);
    };
    state.counters["requests"] = double(requests) / double(state.iterations());
    state.counters["us_per_request"] = perRequest(elapsed);
    state.counters["card_us_per_request"] = perRequest(answering);
    state.counters["host_us_per_request"] = perRequest(elapsed - answering - writing);
    state.counters["rows_ms"] =
        std::chrono::duration<double, std::milli>(writing).count() / double(state.iterations());
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
    SteadyClock::duration elapsed{};
    for (auto _ : state) {
        counting.requests = counting.sent = counting.received = 0;
        const auto start = SteadyClock::now();
        Download(datalink);
        elapsed += SteadyClock::now() - start;
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
