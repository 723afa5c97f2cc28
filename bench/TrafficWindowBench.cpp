// bench-libs: tolvaren_widgets tolvaren_simulator
//
// Traffic window costs in the user-interface thread: decoding the card's log and appending the
// rows to the table and the log file once the table holds its 5001 rows (each new row drops the
// oldest), and the process memory before and after a long run, which must stay flat.
#include "widgets/CommsTrafficWindow.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <unistd.h>

#include "modbus/ModbusCrc.h"
#include "modbus/ModbusMasterDatalink.h"
#include "simulator/FullCardSimulator.h"
#include "widgets/ExtendedTableWidget.h"

namespace {

const std::size_t replySize = 249;

double ResidentMB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The log of a card polled for ten holding registers: request and reply records, 10 ms apart,
// cut into replies of a card's size.
class TrafficSource
{
public:
    TrafficSource()
    {
        m_request = {0x01, 0x03, 0x00, 0x64, 0x00, 0x0A};
        AppendModbusCrc(m_request);
        m_reply = {0x01, 0x03, 0x14};
        for (unsigned char k = 0; k < 20; ++k)
            m_reply.push_back(k);
        AppendModbusCrc(m_reply);
    }

    ByteVec NextReply()
    {
        while (m_stream.size() < replySize) {
            Add(2, m_request);
            Add(3, m_reply);
        }
        ByteVec reply(m_stream.begin(), m_stream.begin() + replySize);
        m_stream.erase(m_stream.begin(), m_stream.begin() + replySize);
        return reply;
    }

    std::size_t Records() const { return m_records; }

private:
    void Add(unsigned char type, const ByteVec& frame)
    {
        m_units += 625;
        const ByteVec header{type,
                             static_cast<unsigned char>(m_units),
                             static_cast<unsigned char>(m_units >> 8),
                             static_cast<unsigned char>(m_units >> 16),
                             static_cast<unsigned char>(m_units >> 24),
                             static_cast<unsigned char>(m_units >> 32),
                             static_cast<unsigned char>(frame.size())};
        m_stream.insert(m_stream.end(), header.begin(), header.end());
        m_stream.insert(m_stream.end(), frame.begin(), frame.end());
        ++m_records;
    }

    ByteVec m_request, m_reply, m_stream;
    std::uint64_t m_units = 0;
    std::size_t m_records = 0;
};

void BM_DecodeAndAppendAtRowLimit(benchmark::State& state)
{
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    FullCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    auto* window = new CommsTrafficWindow(datalink);
    window->show();
    TrafficSource source;
    while (window->Table()->rowCount() < CommsTrafficWindow::maxRows)
        window->ProcessLogBytes(source.NextReply());
    QApplication::processEvents();

    malloc_trim(0);
    const double before = ResidentMB();
    const std::size_t firstRecord = source.Records();
    for (auto _ : state) {
        window->ProcessLogBytes(source.NextReply());
        // The event loop runs between two replies: layout and painting happen there.
        QApplication::processEvents();
    }
    const double rows = double(source.Records() - firstRecord);
    state.counters["rows_per_s"] = benchmark::Counter(rows, benchmark::Counter::kIsRate);
    state.counters["rows"] = rows;
    malloc_trim(0);
    state.counters["rss_before_MB"] = before;
    state.counters["rss_after_MB"] = ResidentMB();
    delete window;
}
BENCHMARK(BM_DecodeAndAppendAtRowLimit)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
