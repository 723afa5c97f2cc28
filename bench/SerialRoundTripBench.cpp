// Requests per second over a pseudo-terminal against a libmodbus RTU slave: our master
// (AutoReconnectSerialComms, ModbusMasterDatalink, ModbusMaster) and a libmodbus master, each
// on a pty pair of its own, for a single-register read and a 48-register read. The ratio of the
// two is printed at the end, with what the reply's hand-off to the caller costs.
//
// bench-libs: tolvaren_modbus tolvaren_comms modbus util

#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "comms/AutoReconnectSerialComms.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusMasterDatalink.h"
#include "tests/serialpeer/LibmodbusPeer.h"

namespace {

struct Pty
{
    int master = -1;
    int slave = -1;
    std::string slavePath;

    Pty()
    {
        char name[256] = {0};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        slavePath = name;
        termios tio;
        ::tcgetattr(slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ~Pty()
    {
        ::close(master);
        ::close(slave);
    }
};

void FillMap(modbus_mapping_t* map)
{
    for (int i = 0; i < 100; ++i)
        map->tab_registers[i] = uint16_t(i);
}

// Our stack on the pty's slave, given to it as the first extra serial port (COM300).
struct OurSide : IAutoReconnectSerialCommsFeedback
{
    Pty pty;
    LibmodbusSlave slave{pty.master, 100, FillMap};
    std::unique_ptr<AutoReconnectSerialComms> comms;
    std::unique_ptr<ModbusMasterDatalink> datalink;
    std::unique_ptr<ModbusMaster> master;

    OurSide()
    {
        setenv("TOLVAREN_EXTRA_SERIAL_PORTS", pty.slavePath.c_str(), 1);
        SerialPortSettings settings;
        settings.port = 300;
        comms.reset(new AutoReconnectSerialComms(this, settings));
        datalink.reset(new ModbusMasterDatalink(comms.get()));
        master.reset(new ModbusMaster(*datalink));
        // The port opens on the comms' timer thread: retry until a read succeeds.
        for (int attempt = 0;; ++attempt) {
            try {
                master->ReadHoldingRegister(0).get();
                break;
            } catch (const std::exception&) {
                if (attempt > 20)
                    throw;
            }
        }
    }
    ~OurSide()
    {
        master.reset();
        datalink.reset();
        comms.reset();
    }
};

// A libmodbus master that opens the pty's slave as its serial port.
struct LibmodbusSide
{
    Pty pty;
    LibmodbusSlave slave{pty.master, 100, FillMap};
    modbus_t* ctx;

    LibmodbusSide() : ctx(modbus_new_rtu(pty.slavePath.c_str(), 115200, 'N', 8, 1))
    {
        modbus_set_slave(ctx, 1);
        if (modbus_connect(ctx) != 0)
            throw std::runtime_error("modbus_connect failed");
        modbus_set_response_timeout(ctx, 1, 0);
    }
    ~LibmodbusSide()
    {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};

OurSide& Ours()
{
    static OurSide side;
    return side;
}

LibmodbusSide& Theirs()
{
    static LibmodbusSide side;
    return side;
}

void BM_Ours(benchmark::State& state)
{
    ModbusMaster& master = *Ours().master;
    const unsigned short n = static_cast<unsigned short>(state.range(0));
    for (auto _ : state) {
        if (n == 1)
            benchmark::DoNotOptimize(master.ReadHoldingRegister(5).get());
        else
            benchmark::DoNotOptimize(
                master.ReadRegistersUInt16(ModbusMaster::HoldingRegisters, 0, n).get());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Libmodbus(benchmark::State& state)
{
    modbus_t* ctx = Theirs().ctx;
    const int n = int(state.range(0));
    uint16_t regs[125];
    for (auto _ : state) {
        if (modbus_read_registers(ctx, n == 1 ? 5 : 0, n, regs) != n) {
            state.SkipWithError("libmodbus read failed");
            break;
        }
        benchmark::DoNotOptimize(regs[0]);
    }
    state.SetItemsProcessed(state.iterations());
}

// Our stack with the caller spinning on the reply instead of sleeping until it is woken: what is
// left of the difference to BM_Ours is the price of the reply's hand-off from the I/O thread to
// the caller (the one hand-off the stack keeps; a measurement, not a way to call it).
void BM_OursCallerSpinning(benchmark::State& state)
{
    ModbusMaster& master = *Ours().master;
    const unsigned short n = static_cast<unsigned short>(state.range(0));
    for (auto _ : state) {
        boost::future<std::vector<unsigned short>> reply =
            master.ReadRegistersUInt16(ModbusMaster::HoldingRegisters, n == 1 ? 5 : 0, n);
        while (!reply.is_ready()) {
        }
        benchmark::DoNotOptimize(reply.get());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Ours)->Arg(1)->Arg(48)->UseRealTime();
BENCHMARK(BM_OursCallerSpinning)->Arg(1)->Arg(48)->UseRealTime();
BENCHMARK(BM_Libmodbus)->Arg(1)->Arg(48)->UseRealTime();

// Prints the usual table, then ours / libmodbus in requests per second for each size.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.real_accumulated_time <= 0)
                continue;
            m_rates[run.benchmark_name()] = double(run.iterations) / run.real_accumulated_time;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const char* size : {"1", "48"}) {
            const auto ours = m_rates.find(std::string("BM_Ours/") + size + "/real_time");
            const auto theirs = m_rates.find(std::string("BM_Libmodbus/") + size + "/real_time");
            if (ours == m_rates.end() || theirs == m_rates.end())
                continue;
            std::cout << "read of " << size << " register(s): ours " << int(ours->second)
                      << " req/s, libmodbus " << int(theirs->second)
                      << " req/s, ratio " << ours->second / theirs->second;
            const auto spinning =
                m_rates.find(std::string("BM_OursCallerSpinning/") + size + "/real_time");
            if (spinning != m_rates.end())
                std::cout << "; caller spinning " << int(spinning->second) << " req/s, ratio "
                          << spinning->second / theirs->second << ", the reply's hand-off "
                          << 1e6 / ours->second - 1e6 / spinning->second << " us";
            std::cout << "\n";
        }
    }

private:
    std::map<std::string, double> m_rates;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
