// bench-libs: tolvaren_protocol tolvaren_simulator tolvaren_comms tolvaren_test_support
// A card reached through a serial device server on loopback against the same card on its
// pseudo-terminal: tolvaren-sim serves the 24 + 24 card, ser2net (raw TCP, RFC 2217) serves its
// pseudo-terminal on 127.0.0.1.
//   BM_FullGathering: a full gathering with the line paced at 115200 baud 8N1 (the card's).
//   BM_Request: one register read on an unpaced line: the host time per request, so that the
//   difference between the paths is what the network port adds.
// Arg: 0 the pseudo-terminal itself, 1 ser2net raw TCP, 2 ser2net RFC 2217.
// The repetitions of the three paths run interleaved in random order, so that a change in the
// machine's pace during the run weighs on all of them alike. tool_cpu_us is the CPU time this
// process (all its threads: the caller, the port's reader, the timers) spends per request; the
// rest of the difference is the server's own hop.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include "comms/SerialCommsThread.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/NetworkSerialServer.h"
#include "tests/support/ServedCardLink.h"

namespace {

const unsigned short regRegisterVersion = 65433;

// The served card and the tool's port on it (COM300), directly or through a server.
struct Path
{
    QTemporaryDir dir;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<NetworkSerialServer> server;
    std::unique_ptr<SerialCommsThread> port;
    std::unique_ptr<ModbusMasterDatalink> datalink;

    Path(int kind, bool paced)
    {
        std::vector<std::string> options;
        if (!paced)
            options.push_back("--no-pacing");
        sim.reset(new ChildProcess(ServedCardLink::ProgramBeside(), options));
        const auto line = sim->LineStartingWith("TOLVAREN_EXTRA_SERIAL_PORTS=");
        if (!line)
            throw std::runtime_error("tolvaren-sim served no port");
        std::string url = line->substr(line->find('=') + 1);
        if (kind != 0) {
            server.reset(new NetworkSerialServer(kind == 1 ? NetworkSerialServer::Ser2netRaw
                                                           : NetworkSerialServer::Ser2netRfc2217,
                                                 url, dir.path().toStdString()));
            url = server->Url();
        }
        ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", url.c_str(), 1);
        SerialPortSettings settings;
        settings.port = 300;
        port.reset(new SerialCommsThread(settings, nullptr));
        datalink.reset(new ModbusMasterDatalink(port.get()));
    }
    ~Path()
    {
        datalink.reset();
        port.reset();
        server.reset();
    }
};

double ProcessCpuMicroseconds()
{
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

const char* KindName(int kind)
{
    return kind == 0 ? "pty" : kind == 1 ? "ser2net_raw" : "ser2net_rfc2217";
}

void BM_FullGathering(benchmark::State& state)
{
    Path path(int(state.range(0)), true);
    state.SetLabel(KindName(int(state.range(0))));
    for (auto _ : state) {
        TolvarenSnapshotGatherer gatherer(*path.datalink);
        gatherer.RefreshSnapshot().get();
    }
}
BENCHMARK(BM_FullGathering)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Request(benchmark::State& state)
{
    Path path(int(state.range(0)), false);
    state.SetLabel(KindName(int(state.range(0))));
    ModbusMaster master(*path.datalink);
    master.ReadInputRegister(regRegisterVersion).get();
    const double cpuBefore = ProcessCpuMicroseconds();
    for (auto _ : state)
        benchmark::DoNotOptimize(master.ReadInputRegister(regRegisterVersion).get());
    state.counters["tool_cpu_us"] =
        (ProcessCpuMicroseconds() - cpuBefore) / double(state.iterations());
}
BENCHMARK(BM_Request)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> arguments(argv, argv + argc);
    static char interleaved[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleaved); // a later flag given by hand wins
    int count = int(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
