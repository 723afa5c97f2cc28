#include "graphs/GraphWindow.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QApplication>
#include <QByteArray>
#include <QDateTime>
#include <QMenu>
#include <QPointer>

#include <boost/exception_ptr.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/throw_exception.hpp>

#include "graphs/AskCsvFileName.h"
#include "graphs/DataPlotRenderer.h"
#include "graphs/DataPlotWidget.h"
#include "modbus/ModbusErrors.h"
#include "protocol/FileWriteError.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenScalingProfile.h"
#include "protocol/WholeFileWriter.h"
#include "ui_GraphWindow.h"
#include "widgets/WaitCursor.h"

using Tolvaren::IoDirection;

namespace {

const char* const csvDateFormat = "yyyy-MM-dd hh:mm:ss";
const char* const readErrorPrefix = "Error reading data for graph: ";
// A card that reports an absurd live interval must not stop the polling for days.
const double maxPollIntervalMs = 60000.0;
// CSV text is handed to the file in pieces of about this size.
const int csvChunkBytes = 64 * 1024;

QString ErrorText(const std::exception& e)
{
    return QString::fromUtf8(e.what());
}

bool IsUsableInterval(float ms)
{
    return std::isfinite(ms) && ms > 0.0f;
}

// The reply of sub-command 16 or 17 as samples. A live reply too short for its count is the
// tool's own request heard back on the bus and counts as a missing reply.
std::vector<float> ParseChunk(const ByteVec& payload, bool live)
{
    if (!live)
        return TolvarenCommsCommon::ParseSamples(payload);
    try {
        return TolvarenCommsCommon::ParseSamples(payload);
    } catch (const Modbus::ReplyTooShortError&) {
        boost::throw_exception(Modbus::TimeoutError("actually message was reflected"));
    }
}

} // namespace

// ---- Opening ------------------------------------------------------------------------------

GraphWindow* GraphWindow::OpenLiveGraph(ModbusMasterDatalink& datalink, IoDirection dir,
                                        unsigned index, const QString& scalingText, QWidget* parent)
{
    auto* window = new GraphWindow(datalink, dir, index, scalingText, true, parent);
    window->SetUp();
    return window;
}

GraphWindow* GraphWindow::OpenHistoricalGraph(ModbusMasterDatalink& datalink, IoDirection dir,
                                              unsigned index, const QString& scalingText,
                                              QWidget* parent)
{
    auto* window = new GraphWindow(datalink, dir, index, scalingText, false, parent);
    window->SetUp();
    return window;
}

GraphWindow::GraphWindow(ModbusMasterDatalink& datalink, IoDirection dir, unsigned index,
                         const QString& scalingText, bool live, QWidget* parent)
    : QWidget(parent, Qt::Window), m_ui(new Ui::GraphWindow), m_dir(dir), m_index(index),
      m_scalingText(scalingText), m_live(live), m_comms(new TolvarenCommsCommon(datalink))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_ui->setupUi(this);
    m_ui->infoLabel->hide();

    connect(m_ui->plotWidget, &DataPlotWidget::FollowingNewestDataChanged, m_ui->followCheckBox,
            &QCheckBox::setChecked);
    connect(m_ui->followCheckBox, &QCheckBox::toggled, m_ui->plotWidget,
            &DataPlotWidget::SetFollowNewestData);

    auto* exportMenu = new QMenu(m_ui->exportButton);
    exportMenu->addAction("All data to CSV file (for Excel)", this, &GraphWindow::ExportAllToCsv);
    exportMenu->addAction("Between markers M1 and M2 to CSV", this,
                          &GraphWindow::ExportBetweenMarkersToCsv);
    m_ui->exportButton->setMenu(exportMenu);

    m_pollTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &GraphWindow::GetNextChunkOfData);
}

GraphWindow::~GraphWindow()
{
    m_pollTimer.stop();
    if (m_relay)
        m_relay->Close();
}

DataPlotRenderer& GraphWindow::Renderer() const
{
    return m_ui->plotWidget->Renderer();
}

GraphWindow::YRange
GraphWindow::YRangeFor(const std::string& unit, const std::string& scalingText,
                       const std::function<std::pair<short, short>()>& readLimits)
{
    static const std::pair<const char*, YRange> byUnit[] = {
        {"%", {-5.0, 105.0}},
        {"V", {-1.0, 11.0}},
        {"mA", {-1.0, 21.0}},
        {"Ohms", {-100.0, 10000.0}},
        {"\xC2\xB0"
         "C",
         {-10.0, 40.0}},
    };
    for (const auto& entry : byUnit) {
        if (unit == entry.first)
            return entry.second;
    }
    if (!unit.empty())
        return {0.0, 100.0};
    if (scalingText.find("upper") != std::string::npos) {
        const std::pair<short, short> limits = readLimits();
        const double lower = limits.first;
        const double upper = limits.first >= limits.second ? lower + 1.0 : limits.second;
        return {lower, upper};
    }
    if (scalingText.rfind("Digital", 0) == 0)
        return {-0.1, 1.1};
    return {0.0, 100.0};
}

void GraphWindow::SetUp()
{
    try {
        const std::string scaling = m_scalingText.toUtf8().toStdString();
        const std::string unit = UnitFromProfileName(scaling, true);
        m_unit = QString::fromUtf8(unit.c_str());
        const YRange range = YRangeFor(unit, scaling, [this] {
            const std::vector<short> lower = m_comms->GetLowerLimits(m_dir).get();
            const std::vector<short> upper = m_comms->GetUpperLimits(m_dir).get();
            return std::make_pair(lower.at(m_index), upper.at(m_index));
        });
        m_ui->plotWidget->SetYRange(range.low, range.high);
        Renderer().SetYAxisTitle(m_unit);

        const std::string label = m_comms->GetLabel(m_dir, m_index).get();
        setWindowTitle(
            QString(m_live ? "Live graph of %1 %2 \"%3\"" : "Historical graph of %1 %2 \"%3\"")
                .arg(m_dir == Tolvaren::Input ? "Input" : "Output")
                .arg(m_index + 1)
                .arg(QString::fromUtf8(label.c_str())));
    } catch (const std::exception& e) {
        // Without its title or range the window is not worth showing.
        if (ShowBox(QMessageBox::Warning, readErrorPrefix + ErrorText(e)))
            deleteLater();
        return;
    }

    if (!m_live) {
        m_ui->infoLabel->setText("Reading data from card...");
        m_ui->infoLabel->show();
        m_ui->followCheckBox->hide();
        m_ui->buttonBar->hide();
        Renderer().SetShowXLabels(false);
    }
    GetNextChunkOfData();
}

// ---- Reading ------------------------------------------------------------------------------

void GraphWindow::GetNextChunkOfData()
{
    // One request at a time: the next is asked for when this one has been handled.
    if (m_relay)
        return;
    if (m_ui->plotWidget->IsFull()) {
        m_ui->infoLabel->setText("Data storage limit reached. Data collection has stopped.");
        m_ui->infoLabel->show();
        if (!m_live)
            m_ui->buttonBar->show();
        return;
    }
    try {
        RequestChunk();
    } catch (const std::exception& e) {
        // No thread for the delivery: nothing is outstanding after all.
        if (m_relay)
            m_relay->Close();
        m_relay.reset();
        ReportFailure(e);
    }
}

// The request goes to the card access object's master directly rather than through its
// GetLiveData / GetHistoricalData, whose continuations that object waits for when it is
// destroyed: a window closed while the card is slow to answer would freeze the user interface
// until the reply or its time-out. Here nothing waits for the card but the relay.
void GraphWindow::RequestChunk()
{
    ByteVec args{static_cast<unsigned char>(m_dir == Tolvaren::Input ? 1 : 0),
                 static_cast<unsigned char>(m_index)};
    std::uint16_t subCommand = TolvarenCommsCommon::QEL_GET_LIVE_DATA;
    if (!m_live) {
        subCommand = TolvarenCommsCommon::QEL_GET_HISTORICAL_DATA;
        args.push_back(static_cast<unsigned char>((m_samplesReceived >> 8) & 0xFF));
        args.push_back(static_cast<unsigned char>(m_samplesReceived & 0xFF));
    }

    auto relay = std::make_shared<ReplyRelay<std::vector<float>>>();
    boost::future<std::vector<float>> samples = relay->Future();
    boost::future<ByteVec> reply;
    try {
        auto lock = m_comms->LockMaster();
        reply = m_comms->master.SendQelCommand(subCommand, args);
    } catch (...) {
        boost::promise<ByteVec> failed;
        failed.set_exception(boost::current_exception());
        reply = failed.get_future();
    }
    // Runs on whichever thread completes the request and touches nothing but the relay, which
    // it keeps alive; the window may be gone by then.
    const bool live = m_live;
    reply.then(boost::launch::sync, [relay, live](boost::future<ByteVec> done) {
        relay->Complete(done, [live](const ByteVec& reply) { return ParseChunk(reply, live); });
    });

    m_relay = relay;
    ThenDeliverToSlot(m_then, std::move(samples), this, "HandleNewData");
}

void GraphWindow::HandleNewData(FuturePtr<std::vector<float>>::type fut)
{
    m_relay.reset();
    if (!fut)
        return;
    try {
        const std::vector<float> chunk = fut->get();
        ShowIfHidden();
        if (m_live)
            AddLiveChunk(chunk);
        else
            AddHistoricalChunk(chunk);
    } catch (const Modbus::TimeoutError&) {
        // A window that only ever timed out would otherwise go on polling unseen, with no way
        // for the user to close it.
        ShowIfHidden();
        if (m_live)
            m_pollTimer.start(m_pollIntervalMs);
        else
            ShowDownloadEnded();
    } catch (const std::exception& e) {
        ReportFailure(e);
    }
}

void GraphWindow::ShowIfHidden()
{
    if (isHidden()) {
        m_everShown = true;
        show();
    }
}

void GraphWindow::AddLiveChunk(const std::vector<float>& chunk)
{
    // An empty chunk (nothing new yet) neither repaints nor allocates.
    if (!chunk.empty()) {
        const bool wasEmpty = Renderer().SampleCount() == 0;
        m_ui->plotWidget->AddValues(chunk);
        const bool gap = !wasEmpty && std::isnan(chunk.front());
        // Also re-anchored when an earlier attempt timed out.
        if (wasEmpty || gap || !m_timeAnchored)
            AnchorLiveTimes(gap);
    }
    m_pollTimer.start(m_pollIntervalMs);
}

void GraphWindow::AnchorLiveTimes(bool gap)
{
    const float intervalMs = m_comms->ReadNamedVariableAsFloat("LiveDataSampleIntervalMsecs").get();
    m_timeAnchored = true;
    // Without a usable interval the plot keeps its sample axis: a zero or negative spacing has
    // no time scale to draw.
    if (!IsUsableInterval(intervalMs))
        return;
    if (intervalMs > m_pollIntervalMs)
        m_pollIntervalMs = static_cast<int>(std::min<double>(intervalMs, maxPollIntervalMs));
    DataPlotRenderer& renderer = Renderer();
    renderer.SetTimeAxis(true);
    renderer.SetFractionDigits(0);
    renderer.SetSecondsPerSample(intervalMs / 1000.0);
    const QDateTime now = QDateTime::currentDateTime();
    m_ui->plotWidget->SetDateTimeOfLatestData(now);
    if (gap) {
        m_ui->infoLabel->setText("Data contains a gap - times before " + now.toString() +
                                 " may not be correct.");
        m_ui->infoLabel->show();
    }
}

void GraphWindow::AddHistoricalChunk(const std::vector<float>& chunk)
{
    if (chunk.empty()) {
        FinishDownload();
        return;
    }
    m_samplesReceived += static_cast<int>(chunk.size());
    GetNextChunkOfData();
    if (Renderer().ReachedLeftEdge()) {
        m_ui->plotWidget->SetFollowNewestData(false);
        m_ui->followCheckBox->setChecked(false);
    }
    m_ui->plotWidget->AddValues(chunk);
}

// The end of a download, however it ended: what was read can be looked at and exported.
void GraphWindow::ShowDownloadEnded()
{
    m_ui->buttonBar->show();
    m_ui->infoLabel->hide();
    Renderer().SetShowXLabels(true);
}

void GraphWindow::FinishDownload()
{
    ShowDownloadEnded();
    DataPlotRenderer& renderer = Renderer();
    if (renderer.SampleCount() == 0)
        return;
    const float intervalMs =
        m_comms->ReadNamedVariableAsFloat("HistoricalDataSampleIntervalMsecs").get();
    const float ageMs =
        m_comms->ReadNamedVariableAsFloat("HistoricalDataMsecsSinceLastStore").get();
    if (!IsUsableInterval(intervalMs))
        return;
    renderer.SetSecondsPerSample(intervalMs / 1000.0);
    renderer.SetTimeAxis(true);
    renderer.SetFractionDigits(0);
    // Truncated to whole milliseconds; an age that is no number counts as none.
    const double age = std::isfinite(ageMs) ? std::trunc(double(ageMs)) : 0.0;
    const qint64 ageWholeMs = static_cast<qint64>(std::max(-1e15, std::min(1e15, age)));
    m_ui->plotWidget->SetDateTimeOfLatestData(QDateTime::currentDateTime().addMSecs(-ageWholeMs));

    const std::vector<float>& samples = renderer.Samples();
    const auto newestNaN =
        std::find_if(samples.rbegin(), samples.rend(), [](float v) { return std::isnan(v); });
    if (newestNaN != samples.rend()) {
        const std::size_t index = samples.size() - 1 - (newestNaN - samples.rbegin());
        m_ui->infoLabel->setText(
            "The card was without power on one or more occasions. The times before " +
            renderer.DateTimeOfSample(index).toString() + " may not be correct.");
        m_ui->infoLabel->show();
    }
}

void GraphWindow::ReportFailure(const std::exception& error)
{
    m_pollTimer.stop();
    if (!m_live)
        ShowDownloadEnded();
    // The point row may have shown it already, when asked for the same graph again.
    const bool wasShown = m_everShown || isVisible();
    if (!ShowBox(QMessageBox::Warning, readErrorPrefix + ErrorText(error)))
        return;
    if (!wasShown)
        deleteLater();
}

bool GraphWindow::ShowBox(QMessageBox::Icon icon, const QString& text)
{
    // On the heap: a box on the stack would be deleted twice if the window (its parent) were
    // deleted while the box is open, as the point row may do.
    QPointer<GraphWindow> self(this);
    QPointer<QMessageBox> box = new QMessageBox(icon, QString(), text, QMessageBox::Ok, this);
    box->exec();
    delete box.data();
    return !self.isNull();
}

// ---- Buttons and export -------------------------------------------------------------------

void GraphWindow::on_showAllButton_clicked()
{
    m_ui->plotWidget->ShowAllData();
}

void GraphWindow::ExportAllToCsv()
{
    QPointer<GraphWindow> self(this);
    const QString fileName = AskCsvFileName(nullptr);
    if (!self || fileName.isEmpty())
        return;
    WriteGraphCsv(0, static_cast<int>(Renderer().SampleCount()) - 1, fileName);
}

void GraphWindow::ExportBetweenMarkersToCsv()
{
    const DataPlotRenderer& renderer = Renderer();
    const std::map<int, std::size_t>& markers = renderer.Markers();
    const auto m1 = markers.find(1);
    const auto m2 = markers.find(2);
    if (m1 == markers.end() || m2 == markers.end() || m1->second >= renderer.SampleCount() ||
        m2->second >= renderer.SampleCount()) {
        ShowBox(QMessageBox::Information,
                "Markers 1 and 2 have not been set. Right-click to set markers.");
        return;
    }
    // Taken now: the markers may move while the file dialog is open.
    const int first = static_cast<int>(std::min(m1->second, m2->second));
    const int last = static_cast<int>(std::max(m1->second, m2->second));
    QPointer<GraphWindow> self(this);
    const QString fileName = AskCsvFileName(nullptr);
    if (!self || fileName.isEmpty())
        return;
    WriteGraphCsv(first, last, fileName);
}

void GraphWindow::WriteGraphCsv(int first, int last, const QString& fileName)
{
    WholeFileWriter file(fileName);
    try {
        file.Open();
    } catch (const FileWriteError&) {
        ShowBox(QMessageBox::Warning, "Cannot open file: " + fileName);
        return;
    }
    try {
        WaitCursor wait;
        const DataPlotRenderer& renderer = Renderer();
        const int count = static_cast<int>(renderer.SampleCount());
        last = std::min(last, count - 1);
        first = std::max(first, 0);
        const QDateTime t0 = first <= last ? renderer.DateTimeOfSample(first) : QDateTime();

        QByteArray text;
        auto addLine = [&](const QString& line) {
            text += line.toLatin1();
            text += '\n';
            if (text.size() >= csvChunkBytes) {
                file.Write(text);
                text.clear();
            }
        };
        addLine(windowTitle());
        addLine("Date/Time of first entry: " + t0.toString(csvDateFormat));
        addLine(",,");
        addLine("Date/Time,Seconds since first entry,Value(" + m_unit + ")");
        const std::vector<float>& samples = renderer.Samples();
        for (int k = first; k <= last; ++k) {
            const QDateTime t = renderer.DateTimeOfSample(k);
            // Without a time axis there are no dates; the spacing still gives the seconds.
            const double seconds =
                t0.isValid() ? t0.msecsTo(t) / 1000.0 : (k - first) * renderer.SecondsPerSample();
            QString line = t.toString(csvDateFormat) + ',' + QString::number(seconds, 'f', 2) + ',';
            if (!std::isnan(samples[k]))
                line += QString::number(samples[k], 'g', 6);
            addLine(line);
        }
        file.Write(text);
        file.Commit();
    } catch (const FileWriteError& e) {
        // A full disk must not be reported as a saved file; the old file stays as it was.
        ShowBox(QMessageBox::Warning, QString::fromUtf8(e.what()));
        return;
    }
    ShowBox(QMessageBox::Information, "File saved");
}
