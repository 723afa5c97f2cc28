// bench-libs: tolvaren_calibration tolvaren_protocol tolvaren_simulator tolvaren_test_support
// A whole calibration run with the designed timings on the paced rig of
// tolvaren-sim (cards at 115200 baud, the calibration board at 9600), against its lower bound:
// the run's designed sleeps (counted as it makes them), the half second before the backup, and
// the wire time of every byte to and from the cards (counted at the port) and of every board
// frame (a SetConfig is a 6-byte request and a 4-byte reply, a Ping 3 and 4 bytes). An Input
// Card of register-map version 7 and one of version 8; Output Cards measured by cards of
// version 7 and 10, where the operator's answer to the jumper prompt is taken out of the time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <benchmark/benchmark.h>

#include "calibration/CalibrationRun.h"
#include "comms/AutoReconnectSerialComms.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusMasterDatalink.h"
#include "tests/support/ServedCardLink.h"

namespace {

const double cardByteSeconds = 10.0 / 115200.0;
const double boardByteSeconds = 10.0 / 9600.0;

// Passes everything through and counts the bytes both ways.
class ByteCountingComms : public ICommsInterface
{
public:
    explicit ByteCountingComms(ICommsInterface& inner) : m_inner(inner)
    {
        // Connected first, so it sees the bytes before the datalink takes them.
        m_counter = m_inner.ConnectDataReceived([this](ByteVec& bytes) { bytes_ += bytes.size(); });
    }
    void Transmit(const ByteVec& bytes) override
    {
        bytes_ += bytes.size();
        // A function 4 read of one raw register (65400-65415): one sample.
        if (bytes.size() == 8 && bytes[1] == 4 && bytes[2] == 0xFF && bytes[3] >= 0x78 &&
            bytes[3] < 0x88)
            ++rawReads;
        m_inner.Transmit(bytes);
    }
    boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) override
    {
        return m_inner.ConnectDataReceived(slot);
    }

    std::atomic<long> bytes_{0};
    std::atomic<long> rawReads{0};

private:
    ICommsInterface& m_inner;
    boost::signals2::scoped_connection m_counter;
};

class QuietFeedback : public IAutoReconnectSerialCommsFeedback
{
};

// The second card of an Output-Card rig, on COM301.
struct SecondCard
{
    SecondCard()
    {
        SerialPortSettings settings;
        settings.port = 301;
        comms.reset(new AutoReconnectSerialComms(&feedback, settings));
        counting.reset(new ByteCountingComms(*comms));
        datalink.reset(new ModbusMasterDatalink(counting.get()));
        ModbusMaster master(*datalink);
        for (int attempt = 0;; ++attempt) {
            try {
                master.ReadInputRegister(65433).get();
                break;
            } catch (const std::exception&) {
                if (attempt > 20)
                    throw;
            }
        }
    }
    ~SecondCard()
    {
        datalink.reset();
        counting.reset();
        comms.reset();
    }
    QuietFeedback feedback;
    std::unique_ptr<AutoReconnectSerialComms> comms;
    std::unique_ptr<ByteCountingComms> counting;
    std::unique_ptr<ModbusMasterDatalink> datalink;
};

} // namespace

class BenchCalibWindow : public QObject
{
    Q_OBJECT
public:
    bool succeeded = false;
    QString error;
    ChildProcess* rig = nullptr;
    double promptSeconds = 0.0;

    void Wait()
    {
        QTimer bound;
        bound.setSingleShot(true);
        connect(&bound, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        bound.start(600000);
        m_loop.exec();
    }

public slots:
    void AddLogLine(QString) {}
    void HandleNewCalibVal(int, int, int, double, double) {}
    void CalibrationFinishedWithSuccess()
    {
        succeeded = true;
        m_loop.quit();
    }
    void CalibrationFinishedWithError(QString message)
    {
        error = message;
        m_loop.quit();
    }
    bool AwaitJumpersForCurrent()
    {
        const auto start = std::chrono::steady_clock::now();
        rig->Signal(SIGUSR1);
        const bool fitted = bool(rig->LineStartingWith("Jumpers for current fitted"));
        promptSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return fitted;
    }
    bool OutputCurrentCalibFailed(QString) { return false; }

private:
    QEventLoop m_loop;
};

namespace {

void RunOnRig(benchmark::State& state, bool outputCard, const char* version)
{
    ServedCardLink served(ServedCardLink::ProgramBeside(),
                          {"--rig", outputCard ? "output" : "input", "--card-version", version});
    ByteCountingComms& counting = served.InsertTap<ByteCountingComms>();
    std::unique_ptr<SecondCard> second;
    if (outputCard)
        second.reset(new SecondCard);

    std::atomic<long> sleptMs{0};
    CalibrationRunInputs inputs;
    inputs.outputCard = outputCard;
    inputs.params = CalibParams::Defaults();
    if (outputCard) {
        inputs.params.voltsA = 2.5;
        inputs.params.voltsB = 9.0;
        inputs.params.milliAmpsA = 4.0037;
        inputs.params.milliAmpsB = 9.0;
    }
    inputs.allowedJitterVR = 2;
    inputs.allowedJitterI = 2;
    inputs.boardPort = 301;
    inputs.logBasePath = "/tmp/tolvaren-calibration-bench";
    inputs.inputCardLink = &served.Datalink();
    inputs.outputCardLink = second ? second->datalink.get() : nullptr;
    inputs.sleep = [&sleptMs](int ms) {
        sleptMs += ms;
        boost::this_thread::sleep_for(boost::chrono::milliseconds(ms));
    };

    double seconds = 0.0, bound = 0.0, boundWithSampling = 0.0;
    for (auto _ : state) {
        BenchCalibWindow window;
        window.rig = &served.Process();
        const long before = counting.bytes_ + (second ? second->counting->bytes_.load() : 0);
        sleptMs = 0;
        const auto start = std::chrono::steady_clock::now();
        boost::thread run = StartCalibrationRun(inputs, &window);
        window.Wait();
        run.join();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() -
                  window.promptSeconds;
        if (!window.succeeded) {
            state.SkipWithError(window.error.toStdString().c_str());
            break;
        }
        const long cardBytes =
            counting.bytes_ + (second ? second->counting->bytes_.load() : 0) - before;
        // Board frames: a SetConfig before each sweep of 16 inputs and one per input; from
        // register-map version 8 the two voltage sweeps verify every input once more.
        long boardBytes = 0;
        if (!outputCard) {
            const long sweeps = 2 + 2 + 1 + 2 + 2;
            const long verifying = std::atoi(version) >= 8 ? 2 : 0;
            boardBytes = (3 + 4) + (sweeps * 17 + verifying * 16) * (6 + 4);
        }
        bound =
            sleptMs / 1000.0 + 0.5 + cardBytes * cardByteSeconds + boardBytes * boardByteSeconds;
        // Before register-map version 8 every reading samples for at least 50 ms, whatever
        // the line carries meanwhile: the bound with those windows as designed waits.
        const long reads = counting.rawReads + (second ? second->counting->rawReads.load() : 0);
        const double readsWire = reads * 15 * cardByteSeconds;
        const long readings = outputCard ? 2 * 16 + 2 * 4 : 9 * 16;
        const double designedSampling = std::atoi(version) < 8 ? readings * 0.050 : 0.0;
        boundWithSampling = bound - readsWire + std::max(readsWire, designedSampling);
        state.counters["raw_reads"] = double(reads);
        state.counters["card_bytes"] = double(cardBytes);
        state.counters["board_bytes"] = double(boardBytes);
        state.counters["slept_s"] = sleptMs / 1000.0;
    }
    state.counters["run_s"] = seconds;
    state.counters["bound_s"] = bound;
    state.counters["over_bound_pct"] = bound > 0 ? 100.0 * (seconds - bound) / bound : 0.0;
    state.counters["bound_sampling_s"] = boundWithSampling;
    state.counters["over_sampling_bound_pct"] =
        boundWithSampling > 0 ? 100.0 * (seconds - boundWithSampling) / boundWithSampling : 0.0;
    std::remove("/tmp/tolvaren-calibration-bench.dat");
}

void BM_InputCardRunVersion7(benchmark::State& state)
{
    RunOnRig(state, false, "7");
}
void BM_InputCardRunVersion8(benchmark::State& state)
{
    RunOnRig(state, false, "8");
}
void BM_OutputCardRunVersion7(benchmark::State& state)
{
    RunOnRig(state, true, "7");
}
void BM_OutputCardRunVersion10(benchmark::State& state)
{
    RunOnRig(state, true, "10");
}
BENCHMARK(BM_InputCardRunVersion7)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_InputCardRunVersion8)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_OutputCardRunVersion7)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_OutputCardRunVersion10)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    // The run reports to its window by queued calls: they need an application object.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "CalibrationRunBench.moc"
