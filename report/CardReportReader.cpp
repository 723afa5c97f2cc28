#include "report/CardReportReader.h"

#include <cmath>
#include <memory>

#include <boost/exception_ptr.hpp>
#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "modbus/ModbusErrors.h"
#include "protocol/CardParamsAccessor.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"

using namespace Tolvaren;

namespace {

const char* const intervalVariable = "HistoricalDataSampleIntervalMsecs";
const char* const ageVariable = "HistoricalDataMsecsSinceLastStore";
// 8 days at one sample every 15 minutes: only shapes the progress figure.
const double samplesPerPoint = 768.0;
// The request carries the first sample wanted in 16 bits.
const std::size_t maxFirstSample = 0xFFFF;
// A parameter belongs to module m when its name begins with 'A' + m and an underscore.
const std::size_t modulePrefixLength = 2;

// Shares of the progress bar: the gathering, the modules, then the 8-day data.
const float gatheredWithout = 90, gatheredWith = 15, modulesDoneWith = 20;

template <typename Read> auto Retried(Read read) -> decltype(read().get())
{
    for (unsigned attempt = 0;; ++attempt) {
        try {
            return read().get();
        } catch (const Modbus::TimeoutError&) {
            if (attempt >= CardReportReader::maxRetries)
                throw;
        }
    }
}

// Age and interval as the card gives them; nonsense is refused rather than turned into times.
qint64 Milliseconds(float value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e13)
        boost::throw_exception(
            ExceptionWithString("invalid sample interval or age reported by the card"));
    return qint64(value);
}

} // namespace

CardReportReader::CardReportReader(ModbusMasterDatalink& datalink, bool withEightDay,
                                   boost::function<void(float)> progress)
    : m_datalink(datalink), m_withEightDay(withEightDay), m_progress(std::move(progress))
{
}

CardReportReader::~CardReportReader()
{
    boost::this_thread::disable_interruption noInterruption;
    InterruptAndJoin();
}

boost::future<CardReading> CardReportReader::Start()
{
    if (m_started)
        boost::throw_exception(ExceptionWithString("report reading already started"));
    m_started = true;
    auto promise = std::make_shared<boost::promise<CardReading>>();
    boost::future<CardReading> result = promise->get_future();
    m_worker = boost::thread([this, promise]() mutable {
        // Only the worker holds the promise from here on, so an interrupted worker abandons it.
        const std::shared_ptr<boost::promise<CardReading>> mine = std::move(promise);
        try {
            CardReading reading;
            Read(reading);
            boost::this_thread::interruption_point();
            mine->set_value(std::move(reading));
        } catch (const boost::thread_interrupted&) {
            throw;
        } catch (...) {
            mine->set_exception(boost::current_exception());
        }
    });
    return result;
}

void CardReportReader::InterruptAndJoin()
{
    if (m_worker.joinable()) {
        m_worker.interrupt();
        m_worker.join();
    }
}

void CardReportReader::Report(float percent)
{
    if (m_progress)
        m_progress(percent);
}

void CardReportReader::Read(CardReading& reading)
{
    const float gathered = m_withEightDay ? gatheredWith : gatheredWithout;
    {
        // A gatherer of its own: the report shows the card as it is now, not as the face's
        // gatherer read it when it connected.
        TolvarenSnapshotGatherer gatherer(m_datalink);
        gatherer.SetProgressCallback([this, gathered](unsigned done, unsigned expected) {
            if (expected > 0)
                Report(gathered * float(std::min(done, expected)) / float(expected));
        });
        gatherer.RefreshSnapshot().get();
        reading.snapshot = gatherer.Snapshot();
        if (reading.snapshot.numInputs + reading.snapshot.numOutputs == 0)
            boost::throw_exception(
                ExceptionWithString("this device has no I/O points: there is no card to report"));
    }
    Report(gathered);
    ReadModules(reading);
    Report(m_withEightDay ? modulesDoneWith : 100.0f);
    if (m_withEightDay) {
        ReadEightDay(reading);
        Report(100);
    }
}

void CardReportReader::ReadModules(CardReading& reading)
{
    const int count = reading.snapshot.numControlModules;
    if (count <= 0)
        return;
    TolvarenCommsCommon comms(m_datalink);
    const CardParamsVec all = comms.GetParameterDefinitions().get();
    for (int m = 0; m < count && m < 26; ++m) {
        const std::string prefix = std::string(1, char('A' + m)) + "_";
        CardParamsVec mine;
        for (const CardParameter& p : all)
            if (p.name.compare(0, modulePrefixLength, prefix) == 0)
                mine.push_back(p);
        ReportModule module;
        module.name = std::string("Control ") + char('A' + m);
        if (!mine.empty()) {
            CardParamsAccessor accessor(mine, m_datalink);
            const std::vector<std::string> values = accessor.ReadAllValues().get();
            for (std::size_t i = 0; i < mine.size() && i < values.size(); ++i) {
                ReportModule::Parameter parameter;
                parameter.name = mine[i].name.substr(modulePrefixLength);
                parameter.value = values[i];
                parameter.unit = mine[i].units;
                parameter.writable = mine[i].IsWritable();
                module.parameters.push_back(parameter);
            }
            // As the card face titles the module's tab.
            if (module.parameters.size() >= 2 && module.parameters[1].name == "ModuleName" &&
                !module.parameters[1].value.empty())
                module.name = module.parameters[1].value;
        }
        reading.modules.push_back(module);
    }
}

void CardReportReader::ReadEightDay(CardReading& reading)
{
    const TolvarenSnapshot& s = reading.snapshot;
    TolvarenCommsCommon comms(m_datalink);
    // Learned once, so that the output reads are issued at once.
    Retried([&] { return comms.GetRegisterVersion(); });
    const unsigned total = s.numInputs + s.numOutputs;
    EightDayData& data = reading.eightDay;
    data.series.assign(total, std::vector<float>());
    const float span = 100.0f - modulesDoneWith;
    for (unsigned p = 0; p < total; ++p) {
        const IoDirection dir = p < s.numInputs ? Input : Output;
        const unsigned index = p < s.numInputs ? p : p - s.numInputs;
        std::vector<float>& samples = data.series[p];
        for (;;) {
            const double share = std::min(1.0, samples.size() / samplesPerPoint);
            Report(modulesDoneWith + span * float((p + share) / total));
            if (samples.size() > maxFirstSample)
                break;
            const unsigned first = unsigned(samples.size());
            const std::vector<float> piece =
                Retried([&] { return comms.GetHistoricalData(dir, index, first); });
            if (piece.empty())
                break;
            samples.insert(samples.end(), piece.begin(), piece.end());
        }
    }
    const float interval =
        Retried([&] { return comms.ReadNamedVariableAsFloat(intervalVariable); });
    const float age = Retried([&] { return comms.ReadNamedVariableAsFloat(ageVariable); });
    const qint64 intervalMs = Milliseconds(interval);
    if (intervalMs <= 0)
        boost::throw_exception(
            ExceptionWithString("invalid sample interval or age reported by the card"));
    data.secondsPerSample = double(intervalMs) / 1000.0;
    data.newest = QDateTime::currentDateTime().addMSecs(-Milliseconds(age));
    data.present = true;
}
