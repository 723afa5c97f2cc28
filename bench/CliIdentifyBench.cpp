// bench-libs: tolvaren_protocol tolvaren_simulator tolvaren_comms tolvaren_test_support
// `tolvaren-cli identify` on the card that tolvaren-sim serves, paced as 115200 baud 8N1:
// - in-process: the same requests on the tool's own serial stack, already open, with the bytes
//   that crossed the line and their wire time (10 bits a byte);
// - the program: from starting the process to its exit, as a script runs it. What it takes
//   beyond the in-process requests is the program's start-up (goal: under 100 ms).
#include <atomic>
#include <chrono>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ServedCardLink.h"

extern char** environ;

namespace {

typedef std::chrono::steady_clock SteadyClock;

const double baudRate = 115200.0;

// Milliseconds of the in-process identify, for the program's start-up figure.
double inProcessMs = 0.0;

class CountingComms : public ICommsInterface
{
public:
    explicit CountingComms(ICommsInterface& inner) : m_inner(inner) {}

    void Transmit(const ByteVec& bytes) override
    {
        bytes_ += bytes.size();
        m_inner.Transmit(bytes);
    }
    boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) override
    {
        m_signal.connect(slot);
        return m_inner.ConnectDataReceived([this](ByteVec& bytes) {
            bytes_ += bytes.size();
            m_signal(bytes);
        });
    }

    std::atomic<long> bytes_{0};

private:
    ICommsInterface& m_inner;
    DataReceivedSignal m_signal;
};

// The requests of `tolvaren-cli identify`, queued at once as it queues them.
void Identify(ModbusMasterDatalink& datalink)
{
    TolvarenCommsCommon comms(datalink);
    auto firmware = comms.GetFirmwareVersionString();
    auto version = comms.GetRegisterVersion();
    auto type = comms.GetCardType(false);
    auto hardware = comms.ReadSingleRegister(false, TolvarenCommsCommon::regHardwareRevision);
    auto serial = comms.ReadSingleRegister(false, TolvarenCommsCommon::regSerialNumber);
    auto volts = comms.GetBoardVoltage();
    auto health = comms.ReadSingleBit(false, TolvarenCommsCommon::bitHealthy);
    firmware.get();
    version.get();
    type.get();
    hardware.get();
    serial.get();
    volts.get();
    health.get();
}

std::string CliBeside()
{
    const std::string sim = ServedCardLink::ProgramBeside(); // <build>/simulator/serve/...
    return sim.substr(0, sim.rfind("/simulator/")) + "/cli/tolvaren-cli";
}

void BM_IdentifyRequestsInProcess(benchmark::State& state)
{
    ServedCardLink served(ServedCardLink::ProgramBeside());
    CountingComms& tap = served.InsertTap<CountingComms>();
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        Identify(served.Datalink());
        seconds += std::chrono::duration<double>(SteadyClock::now() - start).count();
    }
    const double bytes = double(tap.bytes_) / double(state.iterations());
    inProcessMs = seconds * 1000.0 / double(state.iterations());
    state.counters["bytes"] = bytes;
    state.counters["wire_ms"] = bytes * 10.0 / baudRate * 1000.0;
    state.counters["requests_ms"] = inProcessMs;
}
BENCHMARK(BM_IdentifyRequestsInProcess)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_IdentifyProgram(benchmark::State& state)
{
    // Served on its own: the program opens the port exclusively.
    ChildProcess sim(ServedCardLink::ProgramBeside(), {});
    const std::string prefix = "TOLVAREN_EXTRA_SERIAL_PORTS=";
    const auto line = sim.LineStartingWith(prefix);
    if (!line) {
        state.SkipWithError("tolvaren-sim served no port");
        return;
    }
    const std::string path = line->substr(prefix.size());
    const std::string cli = CliBeside();
    double seconds = 0.0;
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>(cli.c_str()), const_cast<char*>("identify"),
                        const_cast<char*>("--port"), const_cast<char*>(path.c_str()), nullptr};
        const auto start = SteadyClock::now();
        pid_t pid = 0;
        int status = -1;
        if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv, environ) == 0)
            ::waitpid(pid, &status, 0);
        seconds += std::chrono::duration<double>(SteadyClock::now() - start).count();
        posix_spawn_file_actions_destroy(&actions);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("tolvaren-cli identify failed");
            break;
        }
    }
    const double ms = seconds * 1000.0 / double(state.iterations());
    state.counters["process_ms"] = ms;
    state.counters["startup_ms"] = ms - inProcessMs;
}
BENCHMARK(BM_IdentifyProgram)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
