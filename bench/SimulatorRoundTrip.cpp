// bench-libs: tolvaren_simulator
// Request to reply round trip through the simulated card alone (no master): Transmit on the
// calling thread, reply emitted on the simulator's timer thread, caller woken by a condition
// variable. The master's own benchmark adds its framing and reassembly on top of this.
#include <algorithm>

#include <benchmark/benchmark.h>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/lock_types.hpp>
#include <boost/thread/mutex.hpp>

#include "modbus/ModbusCrc.h"
#include "simulator/DEDOCardSimulator.h"
#include "simulator/SlotGuard.h"

namespace {

class Waiter
{
public:
    explicit Waiter(ICommsInterface& comms)
    {
        m_connection = comms.ConnectDataReceived(m_guard.Guard([this](ByteVec& chunk) {
            {
                boost::lock_guard<boost::mutex> lock(m_mutex);
                m_received += chunk.size();
            }
            m_changed.notify_one();
        }));
    }
    // A reply may still be on its way in on the simulator's thread.
    ~Waiter()
    {
        m_connection.disconnect();
        m_guard.Close();
    }

    void WaitFor(std::size_t bytes)
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_received >= bytes; });
        m_received -= bytes;
    }

private:
    SlotGuard m_guard;
    boost::signals2::connection m_connection;
    boost::mutex m_mutex;
    boost::condition_variable m_changed;
    std::size_t m_received = 0;
};

ByteVec Frame(unsigned char functionCode, const ByteVec& data)
{
    // Sized up front: growing a two-byte vector by insert() trips a false -Warray-bounds.
    ByteVec frame(2 + data.size());
    frame[0] = 1;
    frame[1] = functionCode;
    std::copy(data.begin(), data.end(), frame.begin() + 2);
    AppendModbusCrc(frame);
    return frame;
}

void RoundTrip(benchmark::State& state, const ByteVec& request, std::size_t replySize)
{
    DEDOCardSimulator sim;
    Waiter waiter(sim);
    for (auto _ : state) {
        sim.Transmit(request);
        waiter.WaitFor(replySize);
    }
}

void BM_ReadCardType(benchmark::State& state)
{
    RoundTrip(state, Frame(4, {0x03, 0x8E, 0x00, 0x01}), 7);
}

void BM_ReadLabel(benchmark::State& state)
{
    RoundTrip(state, Frame(3, {0x23, 0xF0, 0x00, 0x14}), 45);
}

void BM_ConfigText(benchmark::State& state)
{
    RoundTrip(state, Frame(100, {0x02, 0x00, 0x16}), 47);
}

} // namespace

BENCHMARK(BM_ReadCardType)->UseRealTime();
BENCHMARK(BM_ReadLabel)->UseRealTime();
BENCHMARK(BM_ConfigText)->UseRealTime();
BENCHMARK_MAIN();
