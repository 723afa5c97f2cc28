#include <algorithm>
#include <cmath>
#include <fstream>
#include <future>
#include <limits>
#include <map>
#include <string>
#include <typeinfo>
#include <vector>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include "async/FutureThen.h"
#include "protocol/FileWriteError.h"
#include "protocol/HistoricalDataDownloader.h"
#include "protocol/ProtocolBytes.h"
#include "tests/protocol/FakeCardRig.h"
#include "tests/support/ExpectThrowText.h"
#include "tests/support/FutureWait.h"
#include "tests/support/WaitUntil.h"

using namespace Tolvaren;

namespace {

const float gap = std::numeric_limits<float>::quiet_NaN();
const char* const warning =
    "WARNING: number of entries in each column are not equal, so entries don't match up.";

ByteVec Padded(const std::string& text, std::size_t length)
{
    ByteVec bytes(text.begin(), text.end());
    bytes.resize(length, 0);
    return bytes;
}

// A card of type 3 (6 inputs, 9 outputs) with its 8-day timing variables, and a file to write.
struct DownloadRig : FakeCardRig
{
    QTemporaryDir folder;
    std::string path = folder.filePath("eight-day.csv").toStdString();
    std::vector<float> progress;

    DownloadRig() : FakeCardRig(3, 9)
    {
        content.SetNamedVariable("HistoricalDataSampleIntervalMsecs",
                                 CPackedVal::FromFloat(900000.0f));
        // Truncated to whole milliseconds: the newest sample is at 11:59:00, not 11:58:59.
        content.SetNamedVariable("HistoricalDataMsecsSinceLastStore",
                                 CPackedVal::FromFloat(60000.9f));
    }

    // Per-point registers; outputs are moved by 50 on this register-map version.
    void Label(IoDirection dir, unsigned i, const std::string& text)
    {
        card.SetHoldingRegister(static_cast<std::uint16_t>(9200 + i + (dir == Output ? 50 : 0)),
                                Padded(text, 40));
    }
    void Profile(IoDirection dir, unsigned i, std::uint16_t id)
    {
        card.SetHoldingRegister(static_cast<std::uint16_t>(9100 + i + (dir == Output ? 50 : 0)),
                                ProtocolBytes::U16(id));
    }

    // A downloader whose clock says 2024-01-20 12:00:00 local time.
    std::unique_ptr<HistoricalDataDownloader> Make(std::string file = std::string())
    {
        auto downloader = std::make_unique<HistoricalDataDownloader>(
            datalink, file.empty() ? path : file, [this](float p) { progress.push_back(p); });
        downloader->SetClock([] { return QDateTime(QDate(2024, 1, 20), QTime(12, 0)); });
        return downloader;
    }

    // Downloads to the end; the future holds the outcome.
    boost::future<void> Download(std::string file = std::string())
    {
        auto downloader = Make(file);
        boost::future<void> done = downloader->Start();
        EXPECT_TRUE(FutureWait::Ready(done));
        return done;
    }

    std::string Contents() const
    {
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll().toStdString();
    }

    // The file's lines; every line must end in CR LF.
    std::vector<std::string> Lines() const
    {
        const std::string text = Contents();
        std::vector<std::string> lines;
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                ADD_FAILURE() << "unterminated last line: " << text.substr(at);
                break;
            }
            lines.push_back(text.substr(at, end - at));
            EXPECT_EQ(lines.back().find('\n'), std::string::npos) << lines.back();
            at = end + 2;
        }
        return lines;
    }
};

// A row of the type-3 card: the time, then the 15 points' cells, empty unless given.
std::string Row(const std::string& time, std::map<unsigned, std::string> cells)
{
    std::string row = "2024-01-" + time;
    for (unsigned c = 0; c < 15; ++c)
        row += "," + cells[c];
    return row;
}

TEST(HistoricalDataDownloaderTest, UnequalColumnsAndPowerGapLineByLine)
{
    DownloadRig rig;
    rig.content.SetHistoricalPieceSize(2);
    rig.content.SetHistoricalSamples(Input, 0, {1.5f, gap, 2.25f, gap, 1234567.0f});
    rig.content.SetHistoricalSamples(Input, 1, {10, 20, 30});
    rig.content.SetHistoricalSamples(Output, 8, {gap, -0.125f});
    // A label with the separator and quotes, one outside ASCII, a thermistor, and a profile id
    // beyond the catalogue.
    rig.Label(Input, 0, "Tank \"A\", top");
    rig.Label(Input, 1, "Temp \xc2\xb0");
    rig.Profile(Input, 2, 7);
    rig.Profile(Output, 0, 500);

    rig.Download().get();

    const std::vector<std::string> expected{
        warning,
        "",
        "The card was without power on one or more occasions. The times before 2024-01-20 "
        "11:44:00 may not be correct.",
        "",
        "Date/Time,\"Tank \"\"A\"\", top ()\",Temp \xb0 (%),Input label 3 (degrees C),"
        "Input label 4 (),Input label 5 (),Input label 6 (),Output label 1 (),"
        "Output label 2 (%),Output label 3 (V),Output label 4 (),Output label 5 (),"
        "Output label 6 (),Output label 7 (),Output label 8 (degrees C),Output label 9 ()",
        Row("20 10:59:00", {{0, "1.5"}}),
        Row("20 11:14:00", {}),
        Row("20 11:29:00", {{0, "2.25"}, {1, "10"}}),
        Row("20 11:44:00", {{1, "20"}}),
        Row("20 11:59:00", {{0, "1.23457e+06"}, {1, "30"}, {14, "-0.125"}}),
    };
    EXPECT_EQ(rig.Lines(), expected);

    // Piece by piece, each request asking from the number already received, until [0].
    std::vector<ByteVec> firstPoint;
    for (const FakeCardRequest& r : rig.Vendor(17)) {
        if (r.VendorArguments()[0] == 1 && r.VendorArguments()[1] == 0)
            firstPoint.push_back(r.VendorArguments());
    }
    EXPECT_EQ(firstPoint,
              (std::vector<ByteVec>{{1, 0, 0, 0}, {1, 0, 0, 2}, {1, 0, 0, 4}, {1, 0, 0, 5}}));
    EXPECT_EQ(rig.Count(4, 9600 + 500), 0u);

    ASSERT_GE(rig.progress.size(), 4u);
    EXPECT_EQ(rig.progress.front(), 1.0f);
    // After the first figure, the points' reads count up from 0.
    EXPECT_EQ(rig.progress[1], 0.0f);
    EXPECT_TRUE(std::is_sorted(rig.progress.begin() + 1, rig.progress.end()));
    EXPECT_NE(std::find(rig.progress.begin(), rig.progress.end(), 100.0f / 15), rig.progress.end());
    EXPECT_EQ(rig.progress[rig.progress.size() - 2], 99.0f);
    EXPECT_EQ(rig.progress.back(), 100.0f);
}

TEST(HistoricalDataDownloaderTest, EightDaysOfSamples)
{
    std::vector<float> full(768), shorter(700);
    for (unsigned i = 0; i < full.size(); ++i)
        full[i] = float(i);
    for (unsigned i = 0; i < shorter.size(); ++i)
        shorter[i] = 1000.0f + i;

    // Every point full, a gap at index 0 only: no warning, no power line.
    {
        DownloadRig rig;
        std::vector<float> first = full;
        first[0] = gap;
        rig.content.SetHistoricalSamples(Input, 0, first);
        for (unsigned i = 1; i < 6; ++i)
            rig.content.SetHistoricalSamples(Input, i, full);
        for (unsigned i = 0; i < 9; ++i)
            rig.content.SetHistoricalSamples(Output, i, full);
        rig.Download().get();
        const auto lines = rig.Lines();
        ASSERT_EQ(lines.size(), 769u);
        EXPECT_EQ(lines[0].substr(0, 10), "Date/Time,");
        // Rows 15 minutes apart, the last at the newest sample's time.
        EXPECT_EQ(lines[1].substr(0, 22), "2024-01-12 12:14:00,,0");
        EXPECT_EQ(lines[2].substr(0, 22), "2024-01-12 12:29:00,1,");
        EXPECT_EQ(lines[768], Row("20 11:59:00", {{0, "767"},
                                                  {1, "767"},
                                                  {2, "767"},
                                                  {3, "767"},
                                                  {4, "767"},
                                                  {5, "767"},
                                                  {6, "767"},
                                                  {7, "767"},
                                                  {8, "767"},
                                                  {9, "767"},
                                                  {10, "767"},
                                                  {11, "767"},
                                                  {12, "767"},
                                                  {13, "767"},
                                                  {14, "767"}}));
    }

    // A shorter second column is empty at the top; a gap at 500 of the first point dates the
    // power line 267 intervals before the newest sample.
    {
        DownloadRig rig;
        std::vector<float> first = full;
        first[500] = gap;
        rig.content.SetHistoricalSamples(Input, 0, first);
        rig.content.SetHistoricalSamples(Input, 1, shorter);
        rig.Download().get();
        const auto lines = rig.Lines();
        ASSERT_EQ(lines.size(), 4u + 1 + 768);
        EXPECT_EQ(lines[0], warning);
        EXPECT_EQ(lines[2], "The card was without power on one or more occasions. The times "
                            "before 2024-01-17 17:14:00 may not be correct.");
        const std::size_t top = 5; // first row
        EXPECT_EQ(lines[top], Row("12 12:14:00", {{0, "0"}}));
        EXPECT_EQ(lines[top + 67], Row("13 04:59:00", {{0, "67"}}));
        EXPECT_EQ(lines[top + 68], Row("13 05:14:00", {{0, "68"}, {1, "1000"}}));
        EXPECT_EQ(lines[top + 500], Row("17 17:14:00", {{1, "1432"}}));
        EXPECT_EQ(lines[top + 767], Row("20 11:59:00", {{0, "767"}, {1, "1699"}}));
    }
}

// The request numbers samples in 16 bits: a card with more stops being asked before the number
// would wrap round to the start.
TEST(HistoricalDataDownloaderTest, SampleNumbersDoNotWrap)
{
    DownloadRig rig;
    rig.content.SetHistoricalSamples(Input, 0, std::vector<float>(70000, 1.0f));
    rig.Download().get();
    const auto requests = rig.Vendor(17);
    ASSERT_EQ(requests.size(), 65520 / 60 + 1 + 14u); // the other points answer [0] at once
    EXPECT_EQ(requests[65520 / 60].VendorArguments(), (ByteVec{1, 0, 0xff, 0xf0}));
    EXPECT_EQ(rig.Lines().size(), 2 + 1 + 65580u);
}

// Card failures and file failures end the download with their own error in the future.
TEST(HistoricalDataDownloaderTest, FailuresEndTheDownload)
{
    struct Case
    {
        const char* what;
        std::function<void(DownloadRig&)> setUp;
        std::string file;
        const std::type_info& type;
        std::string text; // empty: not compared
    };
    const auto emptyReply = [](DownloadRig& rig) {
        rig.card.SetVendorHandler(17, [](const ByteVec&, ByteVec&) { return 0; });
    };
    const auto noReply = [](DownloadRig& rig) {
        rig.datalink.SetReplyTimeoutMs(100);
        rig.card.SetVendorHandler(17, [](const ByteVec&, ByteVec&) { return -1; });
    };
    const Case cases[] = {
        {"empty reply", emptyReply, "", Thrown<Modbus::ReplyTooShortError>(),
         "reply zero length (invalid request?)"},
        {"exception reply", [](DownloadRig& rig) { rig.card.FailVendorCommand(17, 4); }, "",
         Thrown<Modbus::Error>(), ""},
        {"time-out", noReply, "", Thrown<Modbus::TimeoutError>(), "No reply from node"},
        {"no interval",
         [](DownloadRig& rig) {
             rig.content.RemoveNamedVariable("HistoricalDataSampleIntervalMsecs");
         },
         "", Thrown<Modbus::Error>(), ""},
        {"nonsense age",
         [](DownloadRig& rig) {
             rig.content.SetNamedVariable("HistoricalDataMsecsSinceLastStore",
                                          CPackedVal::FromFloat(std::nanf("")));
         },
         "", Thrown<ExceptionWithString>(), "invalid sample interval or age reported by the card"},
        {"no folder", nullptr, "/nonexistent-folder/x.csv", Thrown<FileWriteError>(),
         "Cannot open file: /nonexistent-folder/x.csv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DownloadRig rig;
        rig.content.SetHistoricalSamples(Input, 0, {1, 2, 3});
        if (c.setUp)
            c.setUp(rig);
        auto done = rig.Download(c.file);
        try {
            done.get();
            ADD_FAILURE() << "no error";
        } catch (const std::exception& e) {
            EXPECT_EQ(typeid(e), c.type) << typeid(e).name() << ": " << e.what();
            if (!c.text.empty()) {
                EXPECT_EQ(e.what(), c.text);
            }
        }
        if (c.file == "/nonexistent-folder/x.csv") {
            EXPECT_EQ(rig.card.RequestCount(), 0u); // the file is opened first
        }
    }
}

// A download that ends while the points are still being read has no line to write yet: an
// earlier file keeps what it held, and where there was none no empty file is left behind.
TEST(HistoricalDataDownloaderTest, EndedBeforeTheFirstLineKeepsTheEarlierFile)
{
    for (const bool earlierFile : {true, false}) {
        SCOPED_TRACE(earlierFile ? "earlier file" : "no file");
        DownloadRig rig;
        if (earlierFile)
            std::ofstream(rig.path, std::ios::binary) << "earlier download\r\n";
        rig.datalink.SetReplyTimeoutMs(100);
        rig.card.SetVendorHandler(17, [](const ByteVec&, ByteVec&) { return -1; });
        auto done = rig.Download();
        EXPECT_TRUE(FutureWait::ErrorAs<Modbus::TimeoutError>(done).has_value());
        EXPECT_EQ(QFileInfo::exists(QString::fromStdString(rig.path)), earlierFile);
        if (earlierFile) {
            EXPECT_EQ(rig.Contents(), "earlier download\r\n");
        }
    }
}

// A cancel while the worker waits for the card: the file keeps its whole lines so far, the
// promise is abandoned and a continuation is never run.
TEST(HistoricalDataDownloaderTest, InterruptedAtAWaitLeavesWholeLines)
{
    DownloadRig rig;
    rig.content.SetHistoricalSamples(Input, 0, {1, 2});
    rig.content.SetHistoricalSamples(Input, 1, {1});
    std::promise<void> waiting;
    bool held = false;
    // The warning line is written by the time the interval is asked for; that reply is held.
    // (The handler runs on the worker, which sends the request.)
    rig.card.SetVendorHandler(19, [&](const ByteVec&, ByteVec& payload) {
        payload = CPackedVal::FromFloat(900000.0f).Bytes();
        if (!held) {
            held = true;
            rig.card.HoldReplies();
            waiting.set_value();
        }
        return 0;
    });
    auto downloader = rig.Make();
    FutureThen then;
    bool continued = false;
    auto after =
        then.Then<void, void>(downloader->Start(), [&](boost::future<void>&) { continued = true; });
    ASSERT_EQ(waiting.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

    downloader->InterruptAndJoin();
    EXPECT_EQ(rig.Contents(), std::string(warning) + "\r\n\r\n");
    EXPECT_TRUE(FutureWait::ErrorAs<boost::broken_promise>(after).has_value());
    EXPECT_FALSE(continued);
    downloader->InterruptAndJoin(); // ended already: returns at once
    rig.card.ReleaseReplies();
}

// A cancel that comes while the rows are written stops at a line boundary, with no outcome.
TEST(HistoricalDataDownloaderTest, InterruptedWhileWritingLeavesWholeLines)
{
    DownloadRig rig;
    std::vector<float> samples(500, 1.0f);
    rig.content.SetHistoricalSamples(Input, 0, samples);
    std::promise<void> writing;
    std::unique_ptr<HistoricalDataDownloader> downloader =
        std::make_unique<HistoricalDataDownloader>(rig.datalink, rig.path, [&](float percent) {
            if (percent == 99.0f) {
                writing.set_value();
                // Holds the worker here until the cancel has been asked for.
                EXPECT_TRUE(WaitUntil([] { return boost::this_thread::interruption_requested(); }));
            }
        });
    auto done = downloader->Start();
    ASSERT_EQ(writing.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    downloader->InterruptAndJoin();

    EXPECT_TRUE(FutureWait::ErrorAs<boost::broken_promise>(done).has_value());
    // The warning (the other points have no samples) and the header; no row.
    const auto lines = rig.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], warning);
    EXPECT_EQ(lines[2].substr(0, 10), "Date/Time,");
}

} // namespace
