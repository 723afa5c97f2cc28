// bench-libs: tolvaren_calibration tolvaren_simulator util
// One SetConfig exchange of the calibration board link against the simulated board served on a
// null modem paced as 9600 baud 8N1: the median exchange against the wire time of its 10 bytes
// (6 request and 4 reply bytes at 10 bits each, 10.42 ms), and their ratio.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "calibration/CalibBoard.h"
#include "calibration/CalibBoardCommands.h"
#include "simulator/CalibBoardSerialBridge.h"
#include "simulator/SimulatedCalibBoard.h"
// The serving program's null modem is compiled into that program only; the bench builds its own.
#include "simulator/serve/PacedNullModem.cpp"

namespace {

typedef std::chrono::steady_clock Clock;

void BM_SetConfigExchange(benchmark::State& state)
{
    PacedNullModem::Settings line;
    line.baudRate = CalibBoardLink::BaudRate;
    PacedNullModem modem(line);
    const std::string ports = modem.ToolPath() + ":" + modem.CardPath();
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", ports.c_str(), 1);
    SerialPortSettings boardPort;
    boardPort.port = 301;
    boardPort.baudRate = CalibBoardLink::BaudRate;
    CalibBoardSerialBridge bridge(std::make_shared<SimulatedCalibBoard>(), boardPort);
    CalibBoard board(300);

    std::vector<double> samples;
    unsigned input = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        board.SetConfig(input, CalibBoardCommands::PathCode(0),
                        CalibBoardCommands::SelectReferenceA);
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        input = (input + 1) % 16;
    }
    std::sort(samples.begin(), samples.end());
    const double median = samples[samples.size() / 2];
    const double wireMs = 10 * 10 * 1000.0 / CalibBoardLink::BaudRate;
    state.counters["median_ms"] = median;
    state.counters["wire_ms"] = wireMs;
    state.counters["ratio"] = median / wireMs;
    ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
}

} // namespace

BENCHMARK(BM_SetConfigExchange)->Iterations(100)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
