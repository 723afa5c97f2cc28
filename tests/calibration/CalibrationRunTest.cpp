#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <regex>

#include <functional>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "calibration/CalibBoard.h"
#include "calibration/CalibMaths.h"
#include "calibration/CalibrationRun.h"
#include "protocol/TolvarenCommsCommon.h"
#include "tests/calibration/CalibTestSupport.h"
#include "tests/calibration/ServedRig.h"
#include "tests/support/FileSizeLimit.h"

namespace {

// Stands in for the calibration window: records what a run sends to its slots. Lives in the
// test's thread; Wait runs that thread's event loop until the run reports its end.
class RecordingCalibWindow : public QObject
{
    Q_OBJECT
public:
    struct Value
    {
        int path, index, refPoint;
        double theoretical, raw;
    };

    QStringList log;
    std::vector<Value> values;
    int successes = 0;
    QStringList errors;
    int jumperPrompts = 0;
    QStringList currentFailures;
    std::function<bool()> onJumpers = [] { return true; };
    std::function<bool(const QString&)> onCurrentFailure = [](const QString&) { return false; };

    // True when the run finished (either way) within the bound.
    bool Wait(int boundMs = 60000)
    {
        if (Finished())
            return true;
        QTimer bound;
        bound.setSingleShot(true);
        connect(&bound, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        bound.start(boundMs);
        m_loop.exec();
        return Finished();
    }
    bool Finished() const { return successes + errors.size() > 0; }
    // The log lines from the first one that starts with text on.
    QStringList LogFrom(const QString& text) const
    {
        for (int i = 0; i < log.size(); ++i) {
            if (log[i].startsWith(text))
                return log.mid(i);
        }
        return QStringList();
    }

public slots:
    void AddLogLine(QString line) { log << line; }
    void HandleNewCalibVal(int path, int index, int refPoint, double theoretical, double raw)
    {
        values.push_back({path, index, refPoint, theoretical, raw});
    }
    void CalibrationFinishedWithSuccess()
    {
        ++successes;
        m_loop.quit();
    }
    void CalibrationFinishedWithError(QString message)
    {
        errors << message;
        m_loop.quit();
    }
    bool AwaitJumpersForCurrent()
    {
        ++jumperPrompts;
        return onJumpers();
    }
    bool OutputCurrentCalibFailed(QString message)
    {
        currentFailures << message;
        return onCurrentFailure(message);
    }

private:
    QEventLoop m_loop;
};

using Kind = CalibrationRig::Kind;

// One calibration run against a rig served on pseudo-terminals, with a recording window.
class CalibrationRunTest : public CalibSettingsTest
{
protected:
    void Serve(Kind kind, std::uint16_t version, double noise = 0.4)
    {
        CalibrationRig::Setup setup;
        setup.registerMapVersion = version;
        setup.hardwareRevision = 3;
        setup.seed = 11u + version;
        served.reset(new ServedRig(kind, setup));
        served->Rig().SetNoise(noise);
        inputs.outputCard = kind == Kind::OutputCard;
        inputs.params = CalibParams::Defaults();
        if (inputs.outputCard) {
            inputs.params.voltsA = 2.5;
            inputs.params.voltsB = 9.0;
            inputs.params.milliAmpsA = 4.0037;
            inputs.params.milliAmpsB = 9.0;
        }
        inputs.allowedJitterVR = 2;
        inputs.allowedJitterI = 2;
        inputs.boardPort = ServedRig::secondPort;
        inputs.logBasePath = dir.path().toStdString() + "/00042";
        inputs.inputCardLink = &served->InputLink();
        inputs.outputCardLink = served->OutputLink();
        // The designed pauses only recorded: the rig settles at once.
        inputs.sleep = [this](int ms) {
            std::lock_guard<std::mutex> lock(sleepMutex);
            sleeps.push_back(ms);
        };
    }

    // Runs to its end; the thread is joined.
    void Run()
    {
        boost::thread thread = StartCalibrationRun(inputs, &window);
        ASSERT_TRUE(window.Wait()) << window.log.join("\n").toStdString();
        ASSERT_TRUE(thread.try_join_for(boost::chrono::seconds(10)));
    }

    std::string Error() const
    {
        return window.errors.isEmpty() ? std::string() : window.errors.front().toStdString();
    }

    ByteVec Backup() const
    {
        QFile file(QString::fromStdString(inputs.logBasePath + ".dat"));
        if (!file.open(QIODevice::ReadOnly))
            return ByteVec();
        const QByteArray bytes = file.readAll();
        return ByteVec(bytes.begin(), bytes.end());
    }

    std::uint16_t WatchdogDelay()
    {
        TolvarenCommsCommon card(*served->OutputLink());
        return card.ReadSingleRegister(true, TolvarenCommsCommon::regCommsDogBusOffDelay).get();
    }

    int SleepsOf(int ms)
    {
        std::lock_guard<std::mutex> lock(sleepMutex);
        return int(std::count(sleeps.begin(), sleeps.end(), ms));
    }

    // The stored voltage and current lines agree with the rig's true lines at both references
    // (noise of 0.4 counts and, on the coarse scale, half a count of rounding), and so do the
    // pull-ups and the rail.
    void ExpectInputCalibrationRecoversTruth()
    {
        ExpectStoredInputCalibrationMatchesRig(served->InputLink(), served->Rig(), inputs.params);
    }

    QTemporaryDir dir;
    std::unique_ptr<ServedRig> served;
    CalibrationRunInputs inputs;
    RecordingCalibWindow window;
    std::mutex sleepMutex;
    std::vector<int> sleeps;
};

std::string Cell(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

TEST_F(CalibrationRunTest, InputCardRunStoresWhatTheRigReallyIsAndBacksUpTheCard)
{
    Serve(Kind::InputCard, 10);
    Run();
    ASSERT_EQ(window.successes, 1) << Error();
    ExpectInputCalibrationRecoversTruth();

    // Every input at both references of the four paths, each against its theoretical value.
    ASSERT_EQ(window.values.size(), 4u * 2u * 16u);
    for (const auto& v : window.values) {
        const double real = v.path == 0 ? (v.refPoint ? 9.0 : 3.0) : -1;
        if (v.path == 0) {
            EXPECT_DOUBLE_EQ(v.theoretical, real * 85.25);
        }
        // The resistance paths' theoretical values are on a scale of their own.
        if (v.path < 2) {
            EXPECT_NEAR(v.raw, v.theoretical, 0.1 * v.theoretical) << v.path << " " << v.index;
        }
    }

    // From register-map version 8: the voltage phase reads once and verifies after 1050 ms,
    // the current and resistance phases (and the rail) wait 1050 ms on every input.
    EXPECT_EQ(SleepsOf(1050), 2 * 2 + 16 * (2 + 1 + 2 + 2));
    EXPECT_EQ(SleepsOf(50), 2 + 1 + 2 + 2);

    // The voltage table, line by line.
    const QStringList lines = window.LogFrom("Calibrating voltage measurement...");
    ASSERT_GE(lines.size(), 12);
    EXPECT_EQ(lines[1], "Ref A real world val: \t3.000");
    EXPECT_EQ(lines[2], "Ref B real world val: \t9.000");
    EXPECT_EQ(lines[3], "Ref A theoretical raw val: \t255.750");
    EXPECT_EQ(lines[4], "Ref B theoretical raw val: \t767.250");
    EXPECT_EQ(lines[5].toStdString(),
              "Input number:       \t ____1___\t ____2___\t ____3___\t ____4___\t ____5___\t"
              " ____6___\t ____7___\t ____8___\t ____9___\t ___10___\t ___11___\t ___12___\t"
              " ___13___\t ___14___\t ___15___\t ___16___\t");
    std::string rawA = "Ref A raw vals:     \t", discA = "Ref A discrepancies:\t";
    std::string rawB = "Ref B raw vals:     \t", discB = "Ref B discrepancies:\t";
    for (const auto& v : window.values) {
        if (v.path != 0)
            continue;
        (v.refPoint ? rawB : rawA) += Cell(" %8.1f\t", v.raw);
        (v.refPoint ? discB : discA) += Cell(" %8.1f\t", v.raw - v.theoretical);
    }
    EXPECT_EQ(lines[6].toStdString(), rawA);
    EXPECT_EQ(lines[7].toStdString(), discA);
    EXPECT_EQ(lines[8].toStdString(), rawB);
    EXPECT_EQ(lines[9].toStdString(), discB);
    TolvarenCommsCommon card(served->InputLink());
    std::string intercepts = "Fitted intercepts:  \t", gradients = "Fitted gradients:   \t";
    for (float value : card.ReadCalibrationBlock(0).get())
        intercepts += Cell(" %8.5f\t", value);
    for (float value : card.ReadCalibrationBlock(1).get())
        gradients += Cell(" %8.5f\t", value);
    EXPECT_EQ(lines[10].toStdString(), intercepts);
    EXPECT_EQ(lines[11].toStdString(), gradients);
    EXPECT_TRUE(lines.contains("Calibrating current measurement..."));
    EXPECT_TRUE(window.log.contains("(Calibrating 10V/12V rail first...)"));
    // A revision-3 board's rail is about 12 V.
    EXPECT_TRUE(
        window.log.filter(QRegularExpression("^10v measured voltage: 11\\.[56]\\d\\d$")).size() ==
        1)
        << window.log.join("\n").toStdString();
    EXPECT_TRUE(window.log.filter("Pull-up ohms avg:").size() == 2);

    EXPECT_EQ(Backup(), card.GetCardConfig().get());
    EXPECT_FALSE(window.log.contains("Card still busy..."));
    // The board's port was let go when the run ended.
    EXPECT_NO_THROW(CalibBoard board(ServedRig::secondPort));
}

TEST_F(CalibrationRunTest, OlderInputCardWithTheDesignedTimings)
{
    Serve(Kind::InputCard, 7);
    inputs.sleep = nullptr;
    const auto start = std::chrono::steady_clock::now();
    Run();
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(window.successes, 1) << Error();
    ExpectInputCalibrationRecoversTruth();
    // Nine sweeps of 16 inputs: 50 ms settling, then 10 ms and at least 50 ms of sampling per
    // input; and half a second before the backup.
    EXPECT_GE(took, std::chrono::milliseconds(9 * (50 + 16 * 60) + 500));
}

// The calibration is stored already: a backup that meets a full disk leaves the old one as it
// was, says so in the log and does not fail the run.
TEST_F(CalibrationRunTest, AFullDiskKeepsTheOldBackupAndTheLogSaysSo)
{
    Serve(Kind::InputCard, 10);
    const QString path = QString::fromStdString(inputs.logBasePath + ".dat");
    const std::string earlier = "an earlier backup";
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(earlier.c_str());
    }
    {
        FileSizeLimit full(8);
        Run();
    }
    ASSERT_EQ(window.successes, 1) << Error();
    EXPECT_EQ(window.log.filter("Could not write the backup: Cannot write to file: " + path).size(),
              1)
        << window.log.join("\n").toStdString();
    EXPECT_EQ(Backup(), ByteVec(earlier.begin(), earlier.end()));
}

TEST_F(CalibrationRunTest, NoisyInputFailsTheRunNamingThePhaseAndPointAndStoresNothing)
{
    Serve(Kind::InputCard, 7, 6.0);
    Run();
    const std::regex expected("error while doing voltage calibration: too much jitter \\("
                              "[0-9]+ counts\\) in reading raw val of IO point number 1");
    EXPECT_TRUE(std::regex_match(Error(), expected)) << Error();
    EXPECT_EQ(window.successes, 0);
    TolvarenCommsCommon card(served->InputLink());
    EXPECT_EQ(card.ReadSingleRegister(false, TolvarenCommsCommon::regCalibrated).get(), 0u);
    EXPECT_TRUE(Backup().empty());
}

TEST_F(CalibrationRunTest, CancelDuringASettleEndsTheRunSilentlyAndFreesTheBoard)
{
    Serve(Kind::InputCard, 10);
    std::mutex mutex;
    std::condition_variable settling;
    bool inSettle = false;
    inputs.sleep = [&](int ms) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            inSettle = true;
        }
        settling.notify_all();
        boost::this_thread::sleep_for(boost::chrono::milliseconds(ms));
    };
    boost::thread thread = StartCalibrationRun(inputs, &window);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(settling.wait_for(lock, std::chrono::seconds(10), [&] { return inSettle; }));
    }
    thread.interrupt();
    EXPECT_TRUE(thread.try_join_for(boost::chrono::milliseconds(500)));
    thread.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.successes, 0);
    EXPECT_TRUE(window.errors.isEmpty()) << Error();
    EXPECT_NO_THROW(CalibBoard board(ServedRig::secondPort));
}

class OutputCalibrationRunTest : public CalibrationRunTest
{
protected:
    void Serve()
    {
        CalibrationRunTest::Serve(Kind::OutputCard, 10);
        served->Rig().CalibrateInputCardExactly();
        TolvarenCommsCommon card(*served->OutputLink());
        card.WriteSingleRegister(TolvarenCommsCommon::regCommsDogBusOffDelay, 30).get();
        window.onJumpers = [this] {
            served->Rig().SetJumpersForCurrent(true);
            return true;
        };
    }
};

TEST_F(OutputCalibrationRunTest, RunFitsEveryOutputRetriesCurrentAndRestoresTheWatchdog)
{
    Serve();
    // The first current attempt is too noisy for its second reading; the operator then fixes
    // it and retries.
    window.onJumpers = [this] {
        served->Rig().SetJumpersForCurrent(true);
        served->Rig().SetNoise(8.0);
        return true;
    };
    window.onCurrentFailure = [this](const QString&) {
        served->Rig().SetNoise(0.4);
        return true;
    };
    served->Rig().OutputCard()->AnswerBusy(TolvarenCommsCommon::QEL_READ_CONFIG_START, 3);
    Run();
    ASSERT_EQ(window.successes, 1) << Error();
    EXPECT_EQ(window.jumperPrompts, 1);
    ASSERT_EQ(window.currentFailures.size(), 1);
    EXPECT_TRUE(window.currentFailures[0].startsWith("too much jitter(3) ("))
        << window.currentFailures[0].toStdString();
    EXPECT_EQ(window.log.filter("Calibrating current generation...").size(), 2);

    TolvarenCommsCommon card(*served->OutputLink());
    const double codes[2][2] = {{1000, 3600}, {800, 1800}};
    for (int path : {0, 1}) {
        const auto intercepts = card.ReadCalibrationBlock(std::uint8_t(2 * path)).get();
        const auto gradients = card.ReadCalibrationBlock(std::uint8_t(2 * path + 1)).get();
        ASSERT_EQ(gradients.size(), 16u);
        for (unsigned i = 0; i < 16; ++i) {
            if (path == 1 && i < 12) {
                EXPECT_EQ(intercepts[i], 0.0f);
                EXPECT_EQ(gradients[i], 0.0f);
                continue;
            }
            const CalibrationRig::Line truth = served->Rig().TrueOutputLine(path, i);
            for (double code : codes[path]) {
                EXPECT_NEAR(intercepts[i] + gradients[i] * code,
                            truth.intercept + truth.gradient * code, 0.02 + truth.gradient)
                    << "path " << path << " output " << i + 1;
            }
        }
    }
    EXPECT_EQ(WatchdogDelay(), 30);
    EXPECT_EQ(window.log.filter("Card still busy...").size(), 3);
    EXPECT_EQ(Backup(), card.GetCardConfig().get());

    // The current table has the four current outputs only.
    const QStringList lines = window.LogFrom("Calibrating current generation...").mid(2);
    ASSERT_GE(lines.size(), 12);
    EXPECT_EQ(lines[0], "Ref A real world val: \t4.004");
    EXPECT_EQ(lines[2], "Ref A theoretical raw val: \t800.740");
    EXPECT_EQ(lines[4].toStdString(),
              "Input number:       \t ___13___\t ___14___\t ___15___\t ___16___\t");
    EXPECT_TRUE(lines[5].startsWith("Ref A read value:   \t"));
    EXPECT_EQ(lines[5].count('\t'), 5);
}

TEST_F(OutputCalibrationRunTest, OperatorRefusalsFailTheRunAndTheWatchdogComesBack)
{
    struct Case
    {
        bool refuseJumpers;
        const char* error;
    };
    const Case cases[] = {
        {true, "error while doing voltage calibration: user cancelled"},
        {false, "error while doing current calibration: user cancelled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        window.errors.clear();
        Serve();
        if (c.refuseJumpers)
            window.onJumpers = [] { return false; };
        else // the current path is too noisy for its second reading, and no retry is wanted
            window.onJumpers = [this] {
                served->Rig().SetNoise(8.0);
                return true;
            };
        Run();
        EXPECT_EQ(Error(), c.error);
        EXPECT_EQ(WatchdogDelay(), 30);
        TolvarenCommsCommon card(*served->OutputLink());
        EXPECT_EQ(card.ReadSingleRegister(false, TolvarenCommsCommon::regCalibrated).get(), 0u);
        served.reset();
    }
}

TEST_F(OutputCalibrationRunTest, CancelWhileWaitingForACardStillRestoresTheWatchdog)
{
    Serve();
    // The measuring card takes its time over its calibration blocks.
    std::mutex mutex;
    std::condition_variable changed;
    bool asked = false, released = false;
    served->Rig().InputCard().SetVendorCommand(
        TolvarenCommsCommon::QEL_READ_CALIBRATION, [&](const ByteVec&, ByteVec&, std::int64_t) {
            std::unique_lock<std::mutex> lock(mutex);
            asked = true;
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(10), [&] { return released; });
            return 4;
        });
    boost::thread thread = StartCalibrationRun(inputs, &window);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return asked; }));
    }
    EXPECT_EQ(WatchdogDelay(), 0);
    thread.interrupt();
    // The run stops waiting at once; the read it left is given up by the link within its reply
    // time-out, and the run's card access waits for that before it goes.
    const unsigned timeoutMs = served->InputLink().GetReplyTimeoutMs();
    EXPECT_TRUE(thread.try_join_for(boost::chrono::milliseconds(timeoutMs + 500)));
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
    }
    changed.notify_all();
    thread.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.successes, 0);
    EXPECT_TRUE(window.errors.isEmpty()) << Error();
    EXPECT_EQ(WatchdogDelay(), 30);
}

} // namespace

#include "CalibrationRunTest.moc"
