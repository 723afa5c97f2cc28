// bench-libs: tolvaren_protocol tolvaren_simulator tolvaren_comms tolvaren_test_support
// A card reached through a serial device server on loopback against the same card on its
// pseudo-terminal: tolvaren-sim serves the 24 + 24 card, ser2net (raw TCP, RFC 2217) serves its
// pseudo-terminal on 127.0.0.1.
//   BM_FullGathering: a full gathering with the line paced at 115200 baud 8N1 (the card's).
//   BM_Request: one register read on an unpaced line: the host time per request, so that the
//   difference between the paths is what the network port adds.
//   BM_BareRequest: the same request by the barest client each path allows (a blocking write
//   and read on the pseudo-terminal or on a TCP socket to the server, no tool code): what it
//   takes through a server beyond the pseudo-terminal is the server's own hop, and what
//   BM_Request adds beyond that is the tool's network port.
// Arg: 0 the pseudo-terminal itself, 1 ser2net raw TCP, 2 ser2net RFC 2217.
// The repetitions of the three paths run interleaved in random order, so that a change in the
// machine's pace during the run weighs on all of them alike. tool_cpu_us is the CPU time this
// process (all its threads: the caller, the port's reader, the timers) spends per request; the
// rest of the difference is the server's own hop.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

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
    std::string url; // the pseudo-terminal's path, or the server's URL

    // tool: open the tool's port on the path (COM300).
    Path(int kind, bool paced, bool tool = true)
    {
        std::vector<std::string> options;
        if (!paced)
            options.push_back("--no-pacing");
        sim.reset(new ChildProcess(ServedCardLink::ProgramBeside(), options));
        const auto line = sim->LineStartingWith("TOLVAREN_EXTRA_SERIAL_PORTS=");
        if (!line)
            throw std::runtime_error("tolvaren-sim served no port");
        url = line->substr(line->find('=') + 1);
        if (kind != 0) {
            server.reset(new NetworkSerialServer(kind == 1 ? NetworkSerialServer::Ser2netRaw
                                                           : NetworkSerialServer::Ser2netRfc2217,
                                                 url, dir.path().toStdString()));
            url = server->Url();
        }
        if (!tool)
            return;
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

// Reads input register 65433 of node 1, written plainly and with its 0xFF doubled for Telnet;
// the reply is 7 bytes with no 0xFF in them.
const unsigned char bareRequest[] = {0x01, 0x04, 0xFF, 0x99, 0x00, 0x01, 0xD1, 0xF1};
const unsigned char bareTelnetRequest[] = {0x01, 0x04, 0xFF, 0xFF, 0x99, 0x00, 0x01, 0xD1, 0xF1};
const std::size_t bareReplyLength = 7;

class BareClient
{
public:
    BareClient(int kind, const std::string& url) : m_telnet(kind == 2)
    {
        if (kind == 0) {
            m_fd = ::open(url.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            termios tio;
            if (m_fd < 0 || ::tcgetattr(m_fd, &tio) != 0)
                throw std::runtime_error("cannot open " + url);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
            return;
        }
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(std::uint16_t(std::stoi(url.substr(url.rfind(':') + 1))));
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0 ||
            ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to " + url);
        int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // The server's Telnet offers are read and left unanswered: data passes regardless.
        unsigned char ignored[256];
        pollfd p = {m_fd, POLLIN, 0};
        while (::poll(&p, 1, 300) > 0 && ::read(m_fd, ignored, sizeof ignored) > 0) {
        }
    }
    ~BareClient() { ::close(m_fd); }

    void Exchange()
    {
        const unsigned char* request = m_telnet ? bareTelnetRequest : bareRequest;
        const std::size_t length = m_telnet ? sizeof bareTelnetRequest : sizeof bareRequest;
        if (::write(m_fd, request, length) != ssize_t(length))
            throw std::runtime_error("request not written");
        unsigned char reply[64];
        std::size_t got = 0;
        while (got < bareReplyLength) {
            pollfd p = {m_fd, POLLIN, 0};
            const ssize_t n =
                ::poll(&p, 1, 1000) > 0 ? ::read(m_fd, reply + got, sizeof reply - got) : -1;
            if (n <= 0)
                throw std::runtime_error("no reply");
            got += std::size_t(n);
        }
        if (got != bareReplyLength)
            throw std::runtime_error("unexpected reply length");
    }

private:
    int m_fd = -1;
    bool m_telnet;
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

void BM_BareRequest(benchmark::State& state)
{
    Path path(int(state.range(0)), false, false);
    state.SetLabel(KindName(int(state.range(0))));
    BareClient client(int(state.range(0)), path.url);
    client.Exchange();
    for (auto _ : state)
        client.Exchange();
}
BENCHMARK(BM_BareRequest)
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
