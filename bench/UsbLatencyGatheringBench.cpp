// bench-libs: tolvaren_protocol tolvaren_simulator tolvaren_comms tolvaren_test_support
// What a USB adapter's latency timer costs a gathering. The requests and reply bytes of one full
// and one incremental gathering are recorded on the card tolvaren-sim serves; from them the
// duration at 115200 baud 8N1 is computed with the timer at 16 ms (the kernel's default for
// FTDI adapters) and at 1 ms (after the low-latency request): the bytes on the wire, the 3.5
// character silence that ends each frame, and the timer holding the tail of every reply.
// The same gatherings are then timed through tolvaren-sim on a pseudo-terminal paced at 115200
// baud, holding each reply 16 or 1 ms (--reply-delay).
#include <string>

#include <benchmark/benchmark.h>

#include <boost/thread/mutex.hpp>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "simulator/FullCardSimulator.h"
#include "tests/support/ServedCardLink.h"

namespace {

const double baud = 115200.0;
const double bitsPerCharacter = 10.0; // start, 8 data, stop

class RecordingCard : public FullCardSimulator
{
public:
    struct Tally
    {
        long requests = 0;
        long requestBytes = 0;
        long replyBytes = 0;
    };

    Tally Take()
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        Tally t = m_tally;
        m_tally = Tally();
        return t;
    }

protected:
    // Runs on the requesting thread with the card's state lock held.
    void FrameHandled(const ByteVec& request, const ByteVec* reply) override
    {
        FullCardSimulator::FrameHandled(request, reply);
        boost::lock_guard<boost::mutex> lock(m_mutex);
        ++m_tally.requests;
        m_tally.requestBytes += long(request.size());
        m_tally.replyBytes += reply ? long(reply->size()) : 0;
    }

private:
    boost::mutex m_mutex;
    Tally m_tally;
};

double WireSeconds(const RecordingCard::Tally& t, double latencyTimerMs)
{
    const double character = bitsPerCharacter / baud;
    const double bytes = double(t.requestBytes + t.replyBytes);
    const double silences = 2.0 * 3.5 * double(t.requests);
    return (bytes + silences) * character + double(t.requests) * latencyTimerMs / 1000.0;
}

void Report(benchmark::State& state, const RecordingCard::Tally& t)
{
    state.counters["requests"] = double(t.requests);
    state.counters["request_bytes"] = double(t.requestBytes);
    state.counters["reply_bytes"] = double(t.replyBytes);
    state.counters["s_at_16ms"] = WireSeconds(t, 16.0);
    state.counters["s_at_1ms"] = WireSeconds(t, 1.0);
    state.counters["s_bytes_only"] = WireSeconds(t, 0.0);
}

// arg 0: full gathering, 1: incremental (after a full one).
void BM_GatheringComputed(benchmark::State& state)
{
    RecordingCard card;
    ModbusMasterDatalink datalink(&card);
    RecordingCard::Tally tally;
    for (auto _ : state) {
        TolvarenSnapshotGatherer gatherer(datalink);
        if (state.range(0) == 1)
            gatherer.RefreshSnapshot().get();
        card.Take();
        gatherer.RefreshSnapshot().get();
        tally = card.Take();
    }
    Report(state, tally);
}
BENCHMARK(BM_GatheringComputed)->Arg(0)->Arg(1)->Iterations(1);

// args: full (0) or incremental (1), reply delay in ms.
void BM_ServedGatheringWithReplyDelay(benchmark::State& state)
{
    ServedCardLink served(ServedCardLink::ProgramBeside(),
                          {"--reply-delay", std::to_string(state.range(1))});
    TolvarenSnapshotGatherer gatherer(served.Datalink());
    if (state.range(0) == 1)
        gatherer.RefreshSnapshot().get();
    for (auto _ : state)
        gatherer.RefreshSnapshot().get();
}
BENCHMARK(BM_ServedGatheringWithReplyDelay)
    ->Args({0, 16})
    ->Args({0, 1})
    ->Args({1, 16})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
