#include <atomic>
#include <memory>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>

#include <boost/chrono.hpp>
#include <boost/thread/thread.hpp>

#include "modbus/ModbusMaster.h"
#include "tests/calibration_ui/CalibUiRig.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/FutureWait.h"

using namespace CalibUiSteps;

namespace {

// Starting, cancelling and finishing runs, and the run's log file, as the window handles them.
// The run is held in its first sleep, so these tests do not depend on what it does meanwhile.
class CalibrationRunWindowTest : public CalibUiTest
{
protected:
    CalibrationRunWindowTest()
    {
        window = OpenOutputWindow();
        window->findChild<QLineEdit*>("logDirectoryEdit")->setText(logDir.filePath("logs/sub"));
        for (const char* name :
             {"paramVoltsA", "paramVoltsB", "paramMilliAmpsA", "paramMilliAmpsB"})
            Field(window, name)->setText("2.5");
        // Held until interrupted or released; a released run ends as a cancelled one does.
        window->SetRunSleep([entered = inSleep, release = release](int) {
            *entered = true;
            while (!*release)
                boost::this_thread::sleep_for(boost::chrono::milliseconds(2));
            *entered = false;
            throw boost::thread_interrupted();
        });
    }
    ~CalibrationRunWindowTest() override { delete window.data(); }

    QString FileText(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString("-");
    }
    void Start(ModalScript& script)
    {
        script.Run([&] { window->findChild<QPushButton*>("calibrateButton")->click(); });
    }
    QPushButton* Button(const char* name) { return window->findChild<QPushButton*>(name); }

    QTemporaryDir logDir;
    QPointer<CalibrationWidget> window;
    std::shared_ptr<std::atomic<bool>> inSleep = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> release = std::make_shared<std::atomic<bool>>(false);
};

TEST_F(CalibrationRunWindowTest, SerialNumberPromptAndLogFileRules)
{
    // Serial 77 is set on the Output Card: its log is 00077.txt, the directories made.
    ModalScript quiet;
    ASSERT_TRUE(quiet.Run([&] { return window->PrepareLogFile(); }));
    const QString base = logDir.filePath("logs/sub/00077");
    EXPECT_EQ(QString::fromStdString(window->LogBasePath()), base);

    // Lines go to the file without their time, and to the pane with it.
    window->AddLogLine("first line");
    window->AddLogLine(QString::fromUtf8("Ω second"));
    EXPECT_EQ(FileText(base + ".txt"), QString::fromUtf8("first line\nΩ second\n"));
    EXPECT_TRUE(LogText(window).contains(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d: first line$",
                                                            QRegularExpression::MultilineOption)));

    // The same card again: refused without overwriting, else the old log is removed.
    window->findChild<QCheckBox*>("overwriteLogsCheckbox")->setChecked(false);
    QString text;
    ModalScript exists;
    exists.Then(Press(QMessageBox::Ok, &text));
    EXPECT_FALSE(exists.Run([&] { return window->PrepareLogFile(); }));
    EXPECT_EQ(text, "Log file already exists. Remove or rename.");
    EXPECT_EQ(FileText(base + ".txt"), QString::fromUtf8("first line\nΩ second\n"));
    window->findChild<QCheckBox*>("overwriteLogsCheckbox")->setChecked(true);
    ASSERT_TRUE(quiet.Run([&] { return window->PrepareLogFile(); }));
    EXPECT_FALSE(QFile::exists(base + ".txt"));

    // A card without a serial number: No keeps 00000; Yes asks for one, offering the last + 1.
    outputCard.card.reset(new FullCardSimulator(CardModel::Make(CardModel::outputCard, 10, 1, 0)));
    outputCard.datalink.reset(new ModbusMasterDatalink(outputCard.card.get()));
    ModalScript no;
    no.Then(Press(QMessageBox::No, &text));
    ASSERT_TRUE(no.Run([&] { return window->PrepareLogFile(); }));
    EXPECT_EQ(text, "Serial Number in card is not set. Set now?");
    EXPECT_EQ(QString::fromStdString(window->LogBasePath()), logDir.filePath("logs/sub/00000"));

    QString offered;
    ModalScript tooBig;
    tooBig.Then(Press(QMessageBox::Yes))
        .Then(Enter("65536", &offered))
        .Then(Press(QMessageBox::Ok, &text));
    EXPECT_FALSE(tooBig.Run([&] { return window->PrepareLogFile(); }));
    EXPECT_EQ(offered, "78");
    EXPECT_EQ(text, "Serial number must be <= 65535.");
    ModalScript cancelled;
    cancelled.Then(Press(QMessageBox::Yes)).Then(Cancel());
    EXPECT_FALSE(cancelled.Run([&] { return window->PrepareLogFile(); }));

    ModalScript yes;
    yes.Then(Press(QMessageBox::Yes)).Then(Enter("42"));
    ASSERT_TRUE(yes.Run([&] { return window->PrepareLogFile(); }));
    EXPECT_EQ(QString::fromStdString(window->LogBasePath()), logDir.filePath("logs/sub/00042"));
    ModbusMaster master(*outputCard.datalink);
    auto serial = master.ReadInputRegister(900);
    ASSERT_TRUE(FutureWait::Ready(serial));
    EXPECT_EQ(serial.get(), 42);
}

// A full disk: the log file keeps its whole lines and is left alone after the first failure
// (no hole in it), which the pane says once.
TEST_F(CalibrationRunWindowTest, AFullLogFileIsSaidOnceInThePane)
{
    ModalScript quiet;
    ASSERT_TRUE(quiet.Run([&] { return window->PrepareLogFile(); }));
    const QString file = QString::fromStdString(window->LogBasePath()) + ".txt";
    {
        FileSizeLimit full(20);
        window->AddLogLine("a line that fits");
        window->AddLogLine("a line cut by the full disk");
        window->AddLogLine("ok"); // would fit again
    }
    EXPECT_EQ(FileText(file), "a line that fits\n");
    EXPECT_EQ(LogText(window).count("Cannot write to file: " + file), 1);
    EXPECT_TRUE(LogText(window).contains(": ok"));
}

TEST_F(CalibrationRunWindowTest, StartCancelAndFinish)
{
    QString text;
    // Parameters that do not parse stop the start.
    Field(window, "paramVoltsB")->setText("x");
    ModalScript invalid;
    invalid.Then(Press(QMessageBox::Ok, &text));
    Start(invalid);
    EXPECT_EQ(text, "One or more paramaters have an invalid value");
    EXPECT_FALSE(window->IsRunning());
    Field(window, "paramVoltsB")->setText("9");

    ModalScript quiet;
    window->HandleNewCalibVal(0, 1, 0, 0.0, 3.0);
    Start(quiet);
    ASSERT_TRUE(window->IsRunning());
    EXPECT_FALSE(Button("calibrateButton")->isEnabled());
    EXPECT_FALSE(Button("cancelCalibrateButton")->isHidden());
    EXPECT_TRUE(window->DiscrepancySlider(0, 1, 0)->isHidden()); // reset for the run
    ASSERT_TRUE(WaitUntil([&] { return inSleep->load(); }));

    // Cancelled while it sleeps: idle at once, the log kept.
    const std::string base = window->LogBasePath();
    Button("cancelCalibrateButton")->click();
    EXPECT_FALSE(window->IsRunning());
    EXPECT_TRUE(LogText(window).contains("Calibration process cancelled"));
    EXPECT_TRUE(Button("calibrateButton")->isEnabled());
    EXPECT_TRUE(Button("cancelCalibrateButton")->isHidden());
    EXPECT_EQ(window->LogBasePath(), base);
    EXPECT_TRUE(FileText(QString::fromStdString(base) + ".txt")
                    .endsWith("Calibration process cancelled\n"));

    // Success: logged, the file kept, no log active any more.
    *inSleep = false;
    Start(quiet);
    ASSERT_TRUE(WaitUntil([&] { return inSleep->load(); }));
    window->CalibrationFinishedWithSuccess();
    EXPECT_FALSE(window->IsRunning());
    EXPECT_TRUE(window->LogBasePath().empty());
    EXPECT_TRUE(FileText(QString::fromStdString(base) + ".txt").endsWith("Calibration SUCCESS\n"));

    // A run whose thread has not ended blocks the next start.
    ModalScript stillRunning;
    stillRunning.Then(Press(QMessageBox::Ok, &text));
    Start(stillRunning);
    EXPECT_EQ(text, "Previous calib thread still running (unexpectedly).");
    EXPECT_FALSE(window->IsRunning());
    *release = true;
    ASSERT_TRUE(WaitUntil([&] { return !inSleep->load(); }));
    *release = false;

    // Error: shown, the file deleted.
    Start(quiet);
    ASSERT_TRUE(WaitUntil([&] { return inSleep->load(); }));
    ModalScript error;
    error.Then(Press(QMessageBox::Ok, &text));
    error.Run([&] { window->CalibrationFinishedWithError("error while initialising: boom"); });
    EXPECT_EQ(text, "Error occurred during calibration: error while initialising: boom");
    EXPECT_FALSE(window->IsRunning());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(base) + ".txt"));
    EXPECT_TRUE(quiet.Unexpected().isEmpty());

    // A late report of a run that is no longer running changes nothing.
    window->CalibrationFinishedWithError("late");
    EXPECT_FALSE(LogText(window).contains("late"));
}

TEST_F(CalibrationRunWindowTest, PromptsAnswerTheRunThread)
{
    QString text;
    bool answers[2] = {false, true};
    boost::thread asking([&] {
        QMetaObject::invokeMethod(window, "AwaitJumpersForCurrent", Qt::BlockingQueuedConnection,
                                  Q_RETURN_ARG(bool, answers[0]));
        QMetaObject::invokeMethod(window, "OutputCurrentCalibFailed", Qt::BlockingQueuedConnection,
                                  Q_RETURN_ARG(bool, answers[1]), Q_ARG(QString, "drift"));
    });
    ModalScript script;
    script.Then(Press(QMessageBox::Ok, &text)).Then(Press(QMessageBox::Cancel, &text));
    script.Run([&] {
        return RunUntil([&] { return asking.try_join_for(boost::chrono::milliseconds(1)); });
    });
    EXPECT_TRUE(answers[0]);
    EXPECT_FALSE(answers[1]);
    EXPECT_EQ(text,
              "Current calibration failed: drift\n\nRetry? (possibly after fixing the jumpers)");
}

TEST_F(CalibrationRunWindowTest, ClosingEndsARunBlockedInAPrompt)
{
    // The run asks for the jumpers in its sleep and is blocked there when the window closes:
    // the close answers the prompt itself (no box) and joins the run.
    std::shared_ptr<std::atomic<int>> answer = std::make_shared<std::atomic<int>>(-1);
    CalibrationWidget* raw = window.data();
    window->SetRunSleep([raw, answer, entered = inSleep](int) {
        bool ok = true;
        *entered = true;
        QMetaObject::invokeMethod(raw, "AwaitJumpersForCurrent", Qt::BlockingQueuedConnection,
                                  Q_RETURN_ARG(bool, ok));
        *answer = ok;
        boost::this_thread::sleep_for(boost::chrono::hours(1));
    });
    ModalScript quiet;
    Start(quiet);
    ASSERT_TRUE(WaitUntil([&] { return inSleep->load(); }));
    const auto started = std::chrono::steady_clock::now();
    quiet.Run([&] { window->close(); });
    EXPECT_LT(std::chrono::steady_clock::now() - started,
              std::chrono::milliseconds(CalibrationWidget::CloseWaitMs));
    EXPECT_TRUE(quiet.Unexpected().isEmpty());
    EXPECT_EQ(answer->load(), 0);
    EXPECT_TRUE(RunUntil([&] { return window.isNull(); }));
}

} // namespace
