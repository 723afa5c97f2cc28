#include "graphs/GraphWindow.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "graphs/DataPlotRenderer.h"
#include "graphs/DataPlotWidget.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenScalingProfile.h"
#include "simulator/DEDOCardSimulator.h"
#include "tests/cardui/CardUiDialogSteps.h"
#include "tests/protocol/FakeCardRig.h"
#include "tests/support/EventLoopWait.h"
#include "tests/support/FileSizeLimit.h"

using Tolvaren::Input;
using Tolvaren::Output;

namespace {

// Runs the event loop for a while, for checks that something does not happen.
void ProcessEventsFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

int ThreadCount()
{
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

ByteVec SamplesPayload(const std::vector<float>& samples)
{
    ByteVec payload{static_cast<unsigned char>(samples.size())};
    for (float v : samples) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int shift = 24; shift >= 0; shift -= 8)
            payload.push_back(static_cast<unsigned char>(bits >> shift));
    }
    return payload;
}

const float nan = std::numeric_limits<float>::quiet_NaN();

// Counts the Show events of a window.
class ShowCounter : public QObject
{
public:
    int shows = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        return false;
    }
};

// Every request the simulated card receives.
class CountingSimulator : public DEDOCardSimulator
{
public:
    std::atomic<int> requests{0};
    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override
    {
        ++requests;
        return DEDOCardSimulator::HandleRequest(functionCode, requestData, replyData);
    }
};

// Types a file name into the save dialog and accepts it.
ModalScript::Step SaveAs(const QString& path)
{
    return [path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

std::vector<std::string> Lines(const QStringList& lines)
{
    std::vector<std::string> result;
    for (const QString& line : lines)
        result.push_back(line.toStdString());
    return result;
}

// The file's lines as UTF-8, for readable failures.
std::vector<std::string> ReadLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLatin1(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return Lines(lines);
}

class GraphWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rig.content.SetNamedVariable("LiveDataSampleIntervalMsecs", CPackedVal::FromFloat(50.0f));
        // The first window of the process may start Qt helper threads for good; let that happen
        // before threads are counted.
        QWidget warmUp;
        warmUp.show();
        QCoreApplication::processEvents();
    }

    void TearDown() override
    {
        delete window.data();
        QCoreApplication::processEvents();
    }

    // Waits with any unexpected message box answered and recorded as a failure, so that a
    // broken flow fails instead of hanging in the box.
    bool WaitQuietly(const std::function<bool()>& condition)
    {
        ModalScript script;
        const bool met = script.Run([&] { return WaitFor(condition); });
        EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join(",").toStdString();
        return met;
    }

    DataPlotWidget* Plot() { return window->findChild<DataPlotWidget*>("plotWidget"); }
    DataPlotRenderer& Renderer() { return Plot()->Renderer(); }
    QLabel* Info() { return window->findChild<QLabel*>("infoLabel"); }
    QWidget* Bar() { return window->findChild<QWidget*>("buttonBar"); }

    // Answers sub-command 16 with the queued chunks (none: no reply at all), then with no
    // samples.
    typedef std::optional<std::vector<float>> Chunk;
    void ScriptLiveData(std::vector<Chunk> chunks)
    {
        auto queue = std::make_shared<std::deque<Chunk>>(chunks.begin(), chunks.end());
        rig.card.SetVendorHandler(TolvarenCommsCommon::QEL_GET_LIVE_DATA,
                                  [queue](const ByteVec&, ByteVec& payload) {
                                      Chunk next = std::vector<float>();
                                      if (!queue->empty()) {
                                          next = queue->front();
                                          queue->pop_front();
                                      }
                                      if (!next)
                                          return ModbusSimulator::NoReply;
                                      payload = SamplesPayload(*next);
                                      return 0;
                                  });
    }

    // Serves the 8-day record in pieces of up to 50 samples (what fits a reply) from the requested
    // first sample; historyArgs receives every request's arguments.
    void ServeHistory(std::vector<float> record)
    {
        rig.card.SetVendorHandler(
            TolvarenCommsCommon::QEL_GET_HISTORICAL_DATA,
            [this, record](const ByteVec& args, ByteVec& payload) {
                if (args.size() != 4)
                    return 3;
                const std::size_t first = (args[2] << 8) | args[3];
                std::lock_guard<std::mutex> lock(historyMutex);
                historyArgs.push_back(args);
                const std::size_t end = std::min(record.size(), first + 50);
                payload = SamplesPayload(
                    first < end ? std::vector<float>(record.begin() + first, record.begin() + end)
                                : std::vector<float>());
                return 0;
            });
    }

    // The card outlives every window on it (TearDown) and the handlers' records outlive it.
    std::mutex historyMutex;
    std::vector<ByteVec> historyArgs;
    FakeCardRig rig{4, 9};
    QPointer<GraphWindow> window;
};

TEST(GraphWindowYRangeTest, RangeFollowsUnitThenProfileName)
{
    struct Case
    {
        const char* profile;
        double low, high;
    };
    const Case cases[] = {
        {"Voltage 0-10V <-> 0-100%", -5, 105},
        {"Voltage in Volts", -1, 11},
        {"Current in milliAmps", -1, 21},
        {"Resistance in Ohms - HIGH", -100, 10000},
        {"10K Potentiometer (HIGH)", -5, 105},
        {"Thermistor 10K3A1 LOW", -10, 40},
        {"Voltage 0-10V <-> lower-upper", -12, 250},
        {"Digital", -0.1, 1.1},
        {"Pulse counter", 0, 100},
        {"", 0, 100},
    };
    for (const Case& c : cases) {
        int limitReads = 0;
        const auto range =
            GraphWindow::YRangeFor(UnitFromProfileName(c.profile, true), c.profile, [&] {
                ++limitReads;
                return std::make_pair<short, short>(-12, 250);
            });
        EXPECT_DOUBLE_EQ(range.low, c.low) << c.profile;
        EXPECT_DOUBLE_EQ(range.high, c.high) << c.profile;
        // The card is asked for limits only when the profile scales between them.
        EXPECT_EQ(limitReads, std::string(c.profile).find("upper") != std::string::npos ? 1 : 0)
            << c.profile;
    }

    // A unit the table does not know, and limits that leave no range.
    auto noLimits = []() -> std::pair<short, short> { throw std::logic_error("not asked"); };
    EXPECT_DOUBLE_EQ(GraphWindow::YRangeFor("kPa", "lower-upper", noLimits).high, 100);
    for (auto limits : {std::make_pair<short, short>(7, 7), std::make_pair<short, short>(9, 3)}) {
        const auto range = GraphWindow::YRangeFor("", "lower-upper", [limits] { return limits; });
        EXPECT_DOUBLE_EQ(range.low, limits.first);
        EXPECT_DOUBLE_EQ(range.high, limits.first + 1);
    }
}

// The simulated card behind a datalink: the graph keeps polling, anchors its time
// axis on the card's live interval, and once closed asks nothing more and leaves no thread.
TEST_F(GraphWindowTest, LivePollingOnSimulatedCardStopsWhenClosed)
{
    DEDOCardSimulator::ResetSharedStores();
    CountingSimulator card;
    ModbusMasterDatalink datalink(&card);
    // Even when a check fails, the window goes before the datalink it uses.
    struct DeleteWindowFirst
    {
        QPointer<GraphWindow>& w;
        ~DeleteWindowFirst() { delete w.data(); }
    } deleteWindowFirst{window};
    std::string label;
    {
        TolvarenCommsCommon comms(datalink);
        label = comms.GetLabel(Input, 2).get();
    }
    const int threadsBefore = ThreadCount();

    window = GraphWindow::OpenLiveGraph(datalink, Input, 2, "Current in milliAmps", nullptr);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(),
              QString("Live graph of Input 3 \"%1\"").arg(QString::fromStdString(label)));
    EXPECT_TRUE(window->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_TRUE(window->isWindow());
    EXPECT_DOUBLE_EQ(Renderer().YMin(), -1);
    EXPECT_DOUBLE_EQ(Renderer().YMax(), 21);
    EXPECT_EQ(Renderer().YAxisTitle(), "mA");

    // The first chunk is the card's gap marker and 31 samples; later polls add a few each.
    const int requestsAtStart = card.requests;
    ASSERT_TRUE(WaitQuietly([&] { return window->isVisible() && Renderer().SampleCount() > 40; }));
    EXPECT_GE(card.requests - requestsAtStart, 4);
    EXPECT_TRUE(Renderer().TimeAxis());
    EXPECT_DOUBLE_EQ(Renderer().SecondsPerSample(), 0.05);
    EXPECT_EQ(Renderer().FractionDigits(), 0);
    EXPECT_EQ(window->PollIntervalMs(), 150); // the card samples faster than the window polls
    EXPECT_LT(std::llabs(Renderer()
                             .DateTimeOfSample(Renderer().SampleCount() - 1)
                             .msecsTo(QDateTime::currentDateTime())),
              2000);
    EXPECT_TRUE(Info()->isHidden()); // a first chunk opening with a gap marker is no gap

    window->close();
    ASSERT_TRUE(WaitFor([&] { return window.isNull(); }));
    const int requestsAtClose = card.requests;
    EXPECT_EQ(ThreadCount(), threadsBefore);
    ProcessEventsFor(3 * 150);
    EXPECT_EQ(card.requests, requestsAtClose);
}

TEST_F(GraphWindowTest, LiveGapReanchorsTimesAndRaisesPollInterval)
{
    rig.content.SetNamedVariable("LiveDataSampleIntervalMsecs", CPackedVal::FromFloat(400.0f));
    ScriptLiveData(
        {std::vector<float>{1, 2, 3}, std::vector<float>{}, std::vector<float>{nan, 4, 5}});

    window = GraphWindow::OpenLiveGraph(rig.datalink, Output, 4, "Voltage in Volts", nullptr);
    ASSERT_TRUE(WaitQuietly([&] { return Renderer().SampleCount() == 6 && Info()->isVisible(); }));
    const QDateTime now = QDateTime::currentDateTime();

    EXPECT_EQ(window->windowTitle(), "Live graph of Output 5 \"Output label 5\"");
    EXPECT_EQ(window->PollIntervalMs(), 400);
    EXPECT_DOUBLE_EQ(Renderer().SecondsPerSample(), 0.4);
    EXPECT_LT(std::llabs(Renderer().DateTimeOfSample(5).msecsTo(now)), 2000);

    const QString text = Info()->text();
    const QString prefix = "Data contains a gap - times before ";
    const QString suffix = " may not be correct.";
    ASSERT_TRUE(text.startsWith(prefix) && text.endsWith(suffix)) << text.toStdString();
    const QDateTime named = QDateTime::fromString(
        text.mid(prefix.size(), text.size() - prefix.size() - suffix.size()), Qt::TextDate);
    EXPECT_LT(std::llabs(named.msecsTo(now)), 2000);

    // The interval is read for the first chunk and for the gap, not on every poll.
    EXPECT_EQ(rig.Vendor(TolvarenCommsCommon::QEL_READ_NAMED_VAR).size(), 2u);
    for (const FakeCardRequest& r : rig.Vendor(TolvarenCommsCommon::QEL_GET_LIVE_DATA))
        EXPECT_EQ(r.VendorArguments(), (ByteVec{0, 4}));
}

TEST_F(GraphWindowTest, HistoricalDownloadFillsPlotSetsTimesAndReportsPowerLoss)
{
    rig.content.SetNamedVariable("HistoricalDataSampleIntervalMsecs",
                                 CPackedVal::FromFloat(900000.0f));
    rig.content.SetNamedVariable("HistoricalDataMsecsSinceLastStore",
                                 CPackedVal::FromFloat(60000.0f));
    std::vector<float> record;
    for (int i = 0; i < 250; ++i)
        record.push_back(i % 2 ? 1.0f : 0.0f);
    record[7] = nan;
    record[120] = nan;
    ServeHistory(record);

    window = GraphWindow::OpenHistoricalGraph(rig.datalink, Output, 0, "Digital", nullptr);
    EXPECT_EQ(window->windowTitle(), "Historical graph of Output 1 \"Output label 1\"");
    EXPECT_FALSE(Info()->isHidden());
    EXPECT_EQ(Info()->text(), "Reading data from card...");
    EXPECT_TRUE(Bar()->isHidden());
    EXPECT_FALSE(Renderer().ShowXLabels());
    ASSERT_TRUE(WaitQuietly([&] { return window->isVisible() && Bar()->isVisible(); }));
    const QDateTime now = QDateTime::currentDateTime();

    EXPECT_DOUBLE_EQ(Renderer().YMin(), -0.1);
    EXPECT_DOUBLE_EQ(Renderer().YMax(), 1.1);
    EXPECT_EQ(Renderer().YAxisTitle(), "");
    ASSERT_EQ(Renderer().SampleCount(), record.size());
    for (std::size_t i = 0; i < record.size(); ++i)
        ASSERT_TRUE(Renderer().Samples()[i] == record[i] ||
                    (std::isnan(record[i]) && std::isnan(Renderer().Samples()[i])))
            << i;
    EXPECT_EQ(window->SamplesReceived(), 250);
    {
        std::lock_guard<std::mutex> lock(historyMutex);
        ASSERT_EQ(historyArgs.size(), 6u);
        for (unsigned i = 0; i < 6; ++i)
            EXPECT_EQ(historyArgs[i], (ByteVec{0, 0, 0, static_cast<unsigned char>(50 * i)}));
    }

    EXPECT_TRUE(Renderer().TimeAxis());
    EXPECT_TRUE(Renderer().ShowXLabels());
    EXPECT_EQ(Renderer().FractionDigits(), 0);
    EXPECT_DOUBLE_EQ(Renderer().SecondsPerSample(), 900);
    const qint64 newestAge = Renderer().DateTimeOfSample(249).msecsTo(now);
    EXPECT_GE(newestAge, 60000);
    EXPECT_LT(newestAge, 63000);
    EXPECT_EQ(Info()->text(),
              "The card was without power on one or more occasions. The times before " +
                  Renderer().DateTimeOfSample(120).toString() + " may not be correct.");
    EXPECT_TRUE(Info()->isVisible());
    EXPECT_TRUE(window->findChild<QCheckBox*>("followCheckBox")->isHidden());
    EXPECT_TRUE(window->findChild<QWidget*>("exportButton")->isVisible());
}

TEST_F(GraphWindowTest, HistoricalDownloadWithoutSamplesEndsWithEmptyPlot)
{
    ServeHistory({});

    window = GraphWindow::OpenHistoricalGraph(rig.datalink, Input, 1, "Voltage in Volts", nullptr);
    ASSERT_TRUE(WaitQuietly([&] { return window->isVisible() && Bar()->isVisible(); }));
    EXPECT_EQ(Renderer().SampleCount(), 0u);
    EXPECT_FALSE(Renderer().TimeAxis());
    EXPECT_TRUE(Info()->isHidden());
    EXPECT_TRUE(rig.Vendor(TolvarenCommsCommon::QEL_READ_NAMED_VAR).empty());
}

TEST_F(GraphWindowTest, FirstRequestFailingDeletesWindowUnseen)
{
    rig.card.FailVendorCommand(TolvarenCommsCommon::QEL_GET_LIVE_DATA, 4);
    ShowCounter counter;
    QString message;
    bool parentVisible = true;
    ModalScript script;
    script.Then([&](QWidget* modal) {
        parentVisible = modal->parentWidget() && modal->parentWidget()->isVisible();
        CardUiDialogSteps::Press(QMessageBox::Ok, &message)(modal);
    });
    const bool gone = script.Run([&] {
        window = GraphWindow::OpenLiveGraph(rig.datalink, Input, 0, "Voltage in Volts", nullptr);
        window->installEventFilter(&counter);
        return WaitFor([&] { return window.isNull(); });
    });
    EXPECT_TRUE(gone);
    EXPECT_EQ(script.StepsLeft(), 0);
    EXPECT_TRUE(message.startsWith("Error reading data for graph: ")) << message.toStdString();
    EXPECT_GT(message.size(), QString("Error reading data for graph: ").size());
    EXPECT_FALSE(parentVisible);
    EXPECT_EQ(counter.shows, 0);
    EXPECT_EQ(rig.Vendor(TolvarenCommsCommon::QEL_GET_LIVE_DATA).size(), 1u);
}

// The point row (or the window's parent) may delete the window while its error box is open.
TEST_F(GraphWindowTest, DeletedWhileItsErrorBoxIsOpen)
{
    rig.card.FailVendorCommand(TolvarenCommsCommon::QEL_GET_LIVE_DATA, 4);
    ModalScript script;
    script.Then([&](QWidget* modal) {
        EXPECT_EQ(modal->parentWidget(), window.data());
        delete window.data();
    });
    EXPECT_TRUE(script.Run([&] {
        window = GraphWindow::OpenLiveGraph(rig.datalink, Input, 0, "Voltage in Volts", nullptr);
        return WaitFor([&] { return window.isNull() && script.StepsLeft() == 0; });
    }));
    EXPECT_TRUE(script.Unexpected().isEmpty());
}

TEST_F(GraphWindowTest, TimeoutIsSilentAndPollingGoesOn)
{
    rig.content.SetNamedVariable("LiveDataSampleIntervalMsecs", CPackedVal::FromFloat(50.0f));
    rig.datalink.SetReplyTimeoutMs(150);
    ScriptLiveData({std::nullopt, std::vector<float>{2.5f}});

    ModalScript script;
    script.Run([&] {
        window = GraphWindow::OpenLiveGraph(rig.datalink, Input, 0, "Voltage in Volts", nullptr);
        return WaitFor([&] { return Renderer().SampleCount() == 1; });
    });
    EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join(",").toStdString();
    EXPECT_TRUE(window->isVisible());
    EXPECT_GE(rig.Vendor(TolvarenCommsCommon::QEL_GET_LIVE_DATA).size(), 2u);
}

// Closing while the card has not answered: the window goes at once instead of waiting for the
// reply or its time-out, nothing is delivered to it later, and the datalink carries on.
TEST_F(GraphWindowTest, DeletedWithRequestInFlightGoesAtOnce)
{
    rig.datalink.SetReplyTimeoutMs(1500);
    ScriptLiveData({std::vector<float>{1.0f}});
    const int threadsBefore = ThreadCount();

    window = GraphWindow::OpenLiveGraph(rig.datalink, Input, 0, "Voltage in Volts", nullptr);
    ASSERT_TRUE(WaitQuietly([&] { return Renderer().SampleCount() == 1; }));
    rig.card.SetDropAllReplies(true);
    rig.card.ClearRequests();
    ASSERT_TRUE(WaitFor([&] { return rig.card.RequestCount() == 1; }));

    QElapsedTimer timer;
    timer.start();
    delete window.data();
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_EQ(ThreadCount(), threadsBefore);

    // The abandoned request still occupies the wire until it times out (failing what queued
    // behind it); then the link serves others, and the graph has asked for nothing more.
    rig.card.SetDropAllReplies(false);
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_THROW(comms.GetLabel(Input, 0).get(), Modbus::TimeoutError);
    EXPECT_EQ(comms.GetLabel(Input, 0).get(), "Input label 1");
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.Vendor(TolvarenCommsCommon::QEL_GET_LIVE_DATA).size(), 1u);
}

class GraphWindowCsvTest : public GraphWindowTest
{
protected:
    void SetUp() override
    {
        GraphWindowTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        rig.content.SetNamedVariable("HistoricalDataSampleIntervalMsecs",
                                     CPackedVal::FromFloat(60000.0f));
        rig.content.SetNamedVariable("HistoricalDataMsecsSinceLastStore",
                                     CPackedVal::FromFloat(0.0f));
        ServeHistory({1.5f, nan, 3.25f, 1e6f, -0.000123f});
        window = GraphWindow::OpenHistoricalGraph(rig.datalink, Input, 1, "Thermistor 10K3A1 LOW",
                                                  nullptr);
        ASSERT_TRUE(WaitQuietly([&] { return window->isVisible() && Bar()->isVisible(); }));
    }

    // Runs an export through the file dialog; returns the text of the box that follows.
    QString Export(void (GraphWindow::*exportSlot)(), const QString& path)
    {
        QString box;
        ModalScript script;
        script.Then(SaveAs(path)).Then(CardUiDialogSteps::Press(QMessageBox::Ok, &box));
        script.Run([&] { (window->*exportSlot)(); });
        EXPECT_EQ(script.StepsLeft(), 0);
        return box;
    }

    QString Time(std::size_t index)
    {
        return Renderer().DateTimeOfSample(index).toString("yyyy-MM-dd hh:mm:ss");
    }

    QTemporaryDir dir;
};

TEST_F(GraphWindowCsvTest, ExportsAllAndBetweenMarkersLineByLine)
{
    const QString title = "Historical graph of Input 2 \"Input label 2\"";
    const QString header =
        QString("Date/Time,Seconds since first entry,Value(") + QChar(0xB0) + "C)";
    const QDateTime first = Renderer().DateTimeOfSample(0);
    EXPECT_LT(std::llabs(first.addSecs(240).msecsTo(QDateTime::currentDateTime())), 3000);
    auto at = [&](int seconds) { return first.addSecs(seconds).toString("yyyy-MM-dd hh:mm:ss"); };

    EXPECT_EQ(Export(&GraphWindow::ExportAllToCsv, dir.filePath("all.csv")), "File saved");
    EXPECT_EQ(ReadLines(dir.filePath("all.csv")),
              Lines({title, "Date/Time of first entry: " + at(0), ",,", header, at(0) + ",0.00,1.5",
                     at(60) + ",60.00,", at(120) + ",120.00,3.25", at(180) + ",180.00,1e+06",
                     at(240) + ",240.00,-0.000123"}));
    // Latin-1 on disk: the degree sign is one byte.
    QFile raw(dir.filePath("all.csv"));
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().contains("Value(\xB0"
                                       "C)"));

    // M2 left of M1, then the other way round: the same samples 1 to 3.
    const std::vector<std::string> between =
        Lines({title, "Date/Time of first entry: " + at(60), ",,", header, at(60) + ",0.00,",
               at(120) + ",60.00,3.25", at(180) + ",120.00,1e+06"});
    Renderer().SetMarker(2, 1);
    Renderer().SetMarker(1, 3);
    EXPECT_EQ(Export(&GraphWindow::ExportBetweenMarkersToCsv, dir.filePath("m2m1.csv")),
              "File saved");
    EXPECT_EQ(ReadLines(dir.filePath("m2m1.csv")), between);
    Renderer().SetMarker(1, 1);
    Renderer().SetMarker(2, 3);
    EXPECT_EQ(Export(&GraphWindow::ExportBetweenMarkersToCsv, dir.filePath("m1m2.csv")),
              "File saved");
    EXPECT_EQ(ReadLines(dir.filePath("m1m2.csv")), between);
}

TEST_F(GraphWindowCsvTest, RefusedExportsSayWhy)
{
    // One marker only: no file dialog, just the hint.
    Renderer().SetMarker(1, 2);
    QString box;
    ModalScript hint;
    hint.Then(CardUiDialogSteps::Press(QMessageBox::Ok, &box));
    hint.Run([&] { window->ExportBetweenMarkersToCsv(); });
    EXPECT_EQ(hint.StepsLeft(), 0);
    EXPECT_EQ(box, "Markers 1 and 2 have not been set. Right-click to set markers.");

    const QString missing = dir.filePath("no/such/folder.csv");
    ModalScript open;
    open.Then(CardUiDialogSteps::Press(QMessageBox::Ok, &box));
    open.Run([&] { window->WriteGraphCsv(0, 4, missing); });
    EXPECT_EQ(box, "Cannot open file: " + missing);

    // A full disk is reported, not "File saved", and the earlier export stays as it was.
    const QString saved = dir.filePath("saved.csv");
    ASSERT_EQ(Export(&GraphWindow::ExportAllToCsv, saved), "File saved");
    const std::vector<std::string> before = ReadLines(saved);
    ModalScript full;
    full.Then(CardUiDialogSteps::Press(QMessageBox::Ok, &box));
    {
        FileSizeLimit limit(100);
        full.Run([&] { window->WriteGraphCsv(0, 4, saved); });
    }
    EXPECT_EQ(full.StepsLeft(), 0);
    EXPECT_TRUE(full.Unexpected().isEmpty());
    EXPECT_EQ(box, "Cannot write to file: " + saved);
    EXPECT_EQ(ReadLines(saved), before);
}

} // namespace
