#include "protocol/HistoricalDataDownloader.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>

#include <boost/exception_ptr.hpp>
#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "modbus/ModbusErrors.h"
#include "protocol/LineFileWriter.h"
#include "protocol/TolvarenScalingProfile.h"

using namespace Tolvaren;

namespace {

const char* const warningLine =
    "WARNING: number of entries in each column are not equal, so entries don't match up.";
const char* const timeFormat = "yyyy-MM-dd hh:mm:ss";
const char* const intervalVariable = "HistoricalDataSampleIntervalMsecs";
const char* const ageVariable = "HistoricalDataMsecsSinceLastStore";

// 8 days at one sample every 15 minutes: only shapes the progress figure.
const double samplesPerPoint = 768.0;
// The request carries the first sample wanted in 16 bits.
const std::size_t maxFirstSample = 0xFFFF;
// Time offsets (seconds or milliseconds) beyond this are no plausible sample times, and stay far
// inside the range of qint64.
const double maxOffset = 1e13;

// The output file, written one whole line at a time, so that a download that stops part-way
// leaves only complete lines behind. It is opened before the card is read, so a file that cannot
// be written is said at once, but keeps what it held until the first line: a download that stops
// while the points are still being read leaves an earlier file as it was, and no empty file. Bytes are written as they are: lines end in CR LF on every
// platform.
class CsvFile
{
public:
    explicit CsvFile(const std::string& name)
        : m_file(QString::fromUtf8(name.c_str()), LineFileWriter::Replace)
    {
    }

    // Each line is a point where a cancelled download stops.
    void WriteLine(QByteArray line)
    {
        line += "\r\n";
        m_file.Write(line);
        boost::this_thread::interruption_point();
    }

private:
    LineFileWriter m_file;
};

// One CSV field in Latin-1; quoted (quotes doubled) when it holds a separator, a quote or a line
// break, so that a label cannot shift the columns or split the header.
QByteArray CsvField(const QString& text)
{
    QByteArray field = text.toLatin1();
    if (field.contains(',') || field.contains('"') || field.contains('\r') ||
        field.contains('\n')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

// A time offset read from the card, truncated toward zero; nonsense (NaN, infinities, absurd
// magnitudes) would be undefined in the conversion and is refused instead.
qint64 Truncated(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > maxOffset) {
        boost::throw_exception(
            ExceptionWithString("invalid sample interval or age reported by the card"));
    }
    return static_cast<qint64>(value);
}

// The result of one card read; a read whose reply was lost (a time-out) is sent again, up to
// maxRetries times, each counted in retries. Every read of the download only asks, so asking
// twice changes nothing on the card. Any other failure ends the download as it is.
template <typename Read>
auto Retried(Read read, std::atomic<unsigned>& retries) -> decltype(read().get())
{
    for (unsigned attempt = 0;; ++attempt) {
        try {
            return read().get();
        } catch (const Modbus::TimeoutError&) {
            if (attempt >= HistoricalDataDownloader::maxRetries)
                throw;
            ++retries;
        }
    }
}

} // namespace

struct HistoricalDataDownloader::Point
{
    IoDirection dir = Input;
    unsigned index = 0;
    unsigned profileId = 0;
    std::string label;
    std::string unit;
    std::vector<float> samples;
};

HistoricalDataDownloader::HistoricalDataDownloader(ModbusMasterDatalink& datalink,
                                                   const std::string& fileName,
                                                   boost::function<void(float)> progress)
    : m_comms(datalink), m_fileName(fileName), m_progress(std::move(progress))
{
}

HistoricalDataDownloader::~HistoricalDataDownloader()
{
    // A destructor must not throw: join is an interruption point of the destroying thread.
    boost::this_thread::disable_interruption noInterruption;
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void HistoricalDataDownloader::SetClock(boost::function<QDateTime()> now)
{
    m_now = std::move(now);
}

boost::future<void> HistoricalDataDownloader::Start()
{
    if (m_started) {
        boost::throw_exception(ExceptionWithString("download already started"));
    }
    auto promise = std::make_shared<boost::promise<void>>();
    boost::future<void> result = promise->get_future();
    m_worker = boost::thread([this, promise = std::move(promise)]() mutable {
        // Only the worker holds the promise, so an interrupted worker abandons it as it ends.
        const std::shared_ptr<boost::promise<void>> mine = std::move(promise);
        Run(*mine);
    });
    m_started = true;
    return result;
}

void HistoricalDataDownloader::InterruptAndJoin()
{
    if (m_worker.joinable()) {
        m_worker.interrupt();
        m_worker.join();
    }
}

void HistoricalDataDownloader::Run(boost::promise<void>& promise)
{
    try {
        Download();
        // A cancel that came after the last wait still means nobody wants to hear about it.
        boost::this_thread::interruption_point();
        promise.set_value();
    } catch (const boost::thread_interrupted&) {
        throw;
    } catch (...) {
        promise.set_exception(boost::current_exception());
    }
}

void HistoricalDataDownloader::Report(float percent)
{
    if (m_progress) {
        m_progress(percent);
    }
}

void HistoricalDataDownloader::Download()
{
    CsvFile file(m_fileName);

    const unsigned numInputs = Retried([&] { return m_comms.GetNumInputs(); }, m_retries);
    const unsigned numOutputs = Retried([&] { return m_comms.GetNumOutputs(); }, m_retries);
    const unsigned total = numInputs + numOutputs;
    // Learned once here, so that every later request (output addresses, named variables) is
    // issued at once instead of on a thread of its own.
    Retried([&] { return m_comms.GetRegisterVersion(); }, m_retries);
    const std::vector<unsigned short> inputProfiles =
        Retried([&] { return m_comms.GetScalingProfileIds(Input); }, m_retries);
    const std::vector<unsigned short> outputProfiles =
        Retried([&] { return m_comms.GetScalingProfileIds(Output); }, m_retries);
    Report(1);

    std::vector<Point> points(total);
    for (unsigned p = 0; p < total; ++p) {
        Point& point = points[p];
        point.dir = p < numInputs ? Input : Output;
        point.index = p < numInputs ? p : p - numInputs;
        const std::vector<unsigned short>& ids = p < numInputs ? inputProfiles : outputProfiles;
        point.profileId = point.index < ids.size() ? ids[point.index] : 0;

        point.label = Retried([&] { return m_comms.GetLabel(point.dir, point.index); }, m_retries);
        // Ids outside the catalogue have no name; the card is not asked about registers beyond
        // its catalogue.
        std::string profileName;
        if (point.profileId < TolvarenScaling::numProfileIds ||
            point.profileId == TolvarenScaling::digitalProfileId) {
            profileName =
                Retried([&] { return m_comms.GetScalingProfileName(point.profileId); }, m_retries);
        }
        point.unit = UnitFromProfileName(profileName, false);
        ReadSamples(point, p, total);
    }

    std::size_t largest = 0;
    bool unequal = false;
    for (std::size_t p = 0; p < points.size(); ++p) {
        largest = std::max(largest, points[p].samples.size());
        if (p > 0 && points[p].samples.size() != points[p - 1].samples.size()) {
            unequal = true;
        }
    }
    if (unequal) {
        file.WriteLine(warningLine);
        file.WriteLine(QByteArray());
    }

    const float intervalMsecs =
        Retried([&] { return m_comms.ReadNamedVariableAsFloat(intervalVariable); }, m_retries);
    const float ageMsecs =
        Retried([&] { return m_comms.ReadNamedVariableAsFloat(ageVariable); }, m_retries);
    const QDateTime now = m_now ? m_now() : QDateTime::currentDateTime();
    const QDateTime newest = now.addMSecs(-Truncated(ageMsecs));
    const double intervalSeconds = double(intervalMsecs) / 1000.0;
    // The time of the sample `offset` samples after the newest one (offset <= 0).
    auto sampleTime = [&](qint64 offset) {
        return newest.addSecs(Truncated(double(offset) * intervalSeconds))
            .toString(timeFormat)
            .toLatin1();
    };

    // The card was without power before its newest gap; the times before it are guesses.
    if (!points.empty()) {
        const std::vector<float>& first = points[0].samples;
        for (std::size_t k = first.size(); k-- > 1;) {
            if (std::isnan(first[k])) {
                const qint64 newestIndex = qint64(first.size()) - 1;
                file.WriteLine("The card was without power on one or more occasions. The times "
                               "before " +
                               sampleTime(qint64(k) - newestIndex) + " may not be correct.");
                file.WriteLine(QByteArray());
                break;
            }
        }
    }

    Report(99);
    QByteArray header("Date/Time");
    for (const Point& point : points) {
        header += ',' + CsvField(QString::fromUtf8(point.label.c_str()) + " (" +
                                 QString::fromUtf8(point.unit.c_str()) + ")");
    }
    file.WriteLine(header);

    for (std::size_t r = 0; r < largest; ++r) {
        QByteArray row = sampleTime(qint64(r) + 1 - qint64(largest));
        for (const Point& point : points) {
            row += ',';
            // Shorter columns are empty at the top, so every column ends with its newest sample.
            const qint64 at = qint64(point.samples.size()) - qint64(largest) + qint64(r);
            if (at >= 0 && !std::isnan(point.samples[at])) {
                row += QString::number(double(point.samples[at]), 'g', 6).toLatin1();
            }
        }
        file.WriteLine(row);
    }

    Report(100);
}

void HistoricalDataDownloader::ReadSamples(Point& point, unsigned position, unsigned total)
{
    for (;;) {
        Report(float((point.samples.size() / samplesPerPoint + position) * 100.0 / total));
        // A card that never runs out would have the sample counter wrap round to the start.
        if (point.samples.size() > maxFirstSample) {
            return;
        }
        const unsigned first = static_cast<unsigned>(point.samples.size());
        const std::vector<float> piece = Retried(
            [&] { return m_comms.GetHistoricalData(point.dir, point.index, first); }, m_retries);
        if (piece.empty()) {
            return;
        }
        point.samples.insert(point.samples.end(), piece.begin(), piece.end());
    }
}
