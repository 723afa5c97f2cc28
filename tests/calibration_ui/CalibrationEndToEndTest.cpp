#include <chrono>
#include <vector>

#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>

#include <boost/chrono.hpp>
#include <boost/thread/thread.hpp>

#include "protocol/TolvarenCommsCommon.h"
#include "tests/calibration/ServedRig.h"
#include "tests/calibration_ui/CalibUiRig.h"
#include "tests/calibration_ui/RigCardWindow.h"

using namespace CalibUiSteps;

namespace {

using Kind = CalibrationRig::Kind;

// Whole calibrations as a technician runs them from the calibration window, against a rig
// served on pseudo-terminals: the board on COM301 (Input Card) or the Output Card there.
class CalibrationEndToEndTest : public ::testing::Test
{
protected:
    CalibrationEndToEndTest()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("QEL"));
        QCoreApplication::setApplicationName(QStringLiteral("TolvarenDiagnostics"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        QSettings().clear();
    }
    ~CalibrationEndToEndTest() override { delete window.data(); }

    void Serve(Kind kind, std::uint16_t inputSerial, std::uint16_t outputSerial)
    {
        CalibrationRig::Setup setup;
        setup.inputCardSerial = inputSerial;
        setup.outputCardSerial = outputSerial;
        setup.seed = 5;
        served.reset(new ServedRig(kind, setup));
        served->Rig().SetNoise(0.4);
        inputWindow.reset(new RigCardWindow(served->InputLink()));
        if (served->OutputLink())
            outputWindow.reset(new RigCardWindow(*served->OutputLink()));
    }

    // What every run shares: the log folder, the jitter a technician allows for this rig's
    // noise, and settle times cut to a fiftieth (the rig settles at once).
    void PrepareWindow()
    {
        Field(window, "logDirectoryEdit")->setText(logDir.path());
        Field(window, "allowJitterVREdit")->setText("2");
        Field(window, "allowJitterIEdit")->setText("2");
        window->SetRunSleep([](int ms) {
            boost::this_thread::sleep_for(boost::chrono::milliseconds(ms / 50));
        });
    }

    // Presses "&Calibrate now" and runs the event loop until the run reports its end; script
    // answers the boxes meanwhile. True on "Calibration SUCCESS".
    bool CalibrateNow(ModalScript& script)
    {
        return script.Run([&] {
            window->findChild<QPushButton*>("calibrateButton")->click();
            return WaitUntil(
                       [&] {
                           QCoreApplication::processEvents();
                           return !window->IsRunning();
                       },
                       std::chrono::minutes(3)) &&
                   LogText(window).contains("Calibration SUCCESS");
        });
    }

    // The pane's lines without their "hh:mm:ss: " time stamps.
    QString PaneWithoutTimes() const
    {
        QString text;
        for (const QString& line : LogText(window).split('\n')) {
            const QRegularExpressionMatch stamp =
                QRegularExpression("^\\d\\d:\\d\\d:\\d\\d: ").match(line);
            EXPECT_TRUE(stamp.hasMatch()) << line.toStdString();
            text += line.mid(stamp.capturedLength()) + '\n';
        }
        return text;
    }

    static QByteArray FileBytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    static QByteArray Bytes(const ByteVec& bytes)
    {
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    }

    // The slider of every point the run measured is shown with its reading.
    void ExpectSlidersShown(int path, unsigned first)
    {
        for (unsigned i = first; i < 16; ++i) {
            for (int ref : {0, 1}) {
                QSlider* slider = window->DiscrepancySlider(path, int(i), ref);
                ASSERT_NE(slider, nullptr);
                EXPECT_FALSE(slider->isHidden()) << path << " " << i << " " << ref;
                EXPECT_TRUE(slider->toolTip().startsWith("Raw ADC val read: "))
                    << slider->toolTip().toStdString();
            }
        }
    }

    static QLineEdit* Field(QWidget* w, const char* name)
    {
        return w->findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    static QString LogText(QWidget* w)
    {
        return w->findChild<QPlainTextEdit*>(QStringLiteral("logWidget"))->toPlainText();
    }

    QTemporaryDir settingsDir;
    QTemporaryDir logDir;
    std::unique_ptr<ServedRig> served;
    std::unique_ptr<RigCardWindow> inputWindow;
    std::unique_ptr<RigCardWindow> outputWindow;
    QPointer<CalibrationWidget> window;
};

TEST_F(CalibrationEndToEndTest, InputCardCalibratedFromTheWindowStoresTheRigsTruth)
{
    Serve(Kind::InputCard, 0, 0);
    // A new board holds no parameters: the technician sets the defaults and stores them.
    ModalScript opening;
    opening.Then(Press(QMessageBox::Yes)).Then(Press(QMessageBox::Ok));
    window = opening.Run([&] {
        auto* w = new CalibrationWidget(*inputWindow, nullptr, ServedRig::secondPort);
        w->findChild<QPushButton*>("paramsToDefaultsButton")->click();
        w->findChild<QPushButton*>("storeParamsButton")->click();
        return w;
    });
    EXPECT_TRUE(opening.Unexpected().isEmpty()) << opening.Unexpected().join(',').toStdString();
    EXPECT_EQ(opening.StepsLeft(), 0);
    EXPECT_TRUE(LogText(window).contains("Calib params NOT PRESENT inside PIC EEPROM."));
    ASSERT_TRUE(window->ConfirmedParams().SameBytesAs(CalibParams::Defaults()));
    PrepareWindow();

    // The card has no serial number yet: set it to 42 when asked.
    QString question;
    ModalScript run;
    run.Then(Press(QMessageBox::Yes, &question)).Then(Enter("42"));
    ASSERT_TRUE(CalibrateNow(run)) << LogText(window).toStdString();
    EXPECT_EQ(question, "Serial Number in card is not set. Set now?");
    EXPECT_TRUE(run.Unexpected().isEmpty()) << run.Unexpected().join(',').toStdString();
    EXPECT_TRUE(window->findChild<QPushButton*>("calibrateButton")->isEnabled());
    for (int path = 0; path < 4; ++path)
        ExpectSlidersShown(path, 0);

    // The stored lines give the true reading at both references of each path, within a count.
    ExpectStoredInputCalibrationMatchesRig(served->InputLink(), served->Rig(),
                                           CalibParams::Defaults());
    TolvarenCommsCommon card(served->InputLink());
    EXPECT_EQ(card.ReadSingleRegister(false, 900).get(), 42u);

    // The log file holds what the pane shows, without the times; the backup is the card's image.
    const QString base = logDir.filePath("00042");
    EXPECT_EQ(QString::fromUtf8(FileBytes(base + ".txt")), PaneWithoutTimes());
    EXPECT_TRUE(FileBytes(base + ".txt").endsWith("Storing calibration data to card...\n"
                                                  "Creating backup of card's configuration...\n"
                                                  "Calibration SUCCESS\n"));
    EXPECT_EQ(FileBytes(base + ".dat"), Bytes(card.GetCardConfig().get()));
    EXPECT_TRUE(window->LogBasePath().empty());
}

TEST_F(CalibrationEndToEndTest, OutputCardCalibratedFromTheWindowWithTheJumpers)
{
    Serve(Kind::OutputCard, 1207, 77);
    served->Rig().CalibrateInputCardExactly();
    TolvarenCommsCommon card(*served->OutputLink());
    card.WriteSingleRegister(TolvarenCommsCommon::regCommsDogBusOffDelay, 30).get();

    ModalScript none;
    window = none.Run([&] { return new CalibrationWidget(*inputWindow, outputWindow.get(), 0); });
    const char* references[][2] = {{"paramVoltsA", "2.5"},
                                   {"paramVoltsB", "9"},
                                   {"paramMilliAmpsA", "4.0037"},
                                   {"paramMilliAmpsB", "9"}};
    for (const auto& field : references)
        Field(window, field[0])->setText(field[1]);
    PrepareWindow();

    // The box asks for the jumpers once the voltages are done: fit them, then Ok.
    QString prompt;
    bool voltageDoneFirst = false;
    ModalScript run;
    run.Then([&](QWidget* box) {
        voltageDoneFirst = LogText(window).contains("Fitted gradients:");
        served->Rig().SetJumpersForCurrent(true);
        Press(QMessageBox::Ok, &prompt)(box);
    });
    ASSERT_TRUE(CalibrateNow(run)) << LogText(window).toStdString();
    EXPECT_EQ(prompt, "Attach jumpers on both cards for current generation / measurement. Press "
                      "Ok when this has been done.");
    EXPECT_TRUE(voltageDoneFirst);
    EXPECT_TRUE(run.Unexpected().isEmpty()) << run.Unexpected().join(',').toStdString();
    ExpectSlidersShown(0, 0);
    ExpectSlidersShown(1, 12);
    for (unsigned i = 0; i < 12; ++i)
        EXPECT_TRUE(window->DiscrepancySlider(1, int(i), 0)->isHidden()) << i;

    // Blocks 0-3: each output's true line at both codes; no current line for outputs 1-12.
    const double codes[2][2] = {{1000, 3600}, {800, 1800}};
    for (int path : {0, 1}) {
        const auto intercepts = card.ReadCalibrationBlock(std::uint8_t(2 * path)).get();
        const auto gradients = card.ReadCalibrationBlock(std::uint8_t(2 * path + 1)).get();
        ASSERT_EQ(gradients.size(), 16u);
        for (unsigned i = 0; i < 16; ++i) {
            if (path == 1 && i < 12) {
                EXPECT_EQ(intercepts[i], 0.0f) << i;
                EXPECT_EQ(gradients[i], 0.0f) << i;
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
    EXPECT_EQ(card.ReadSingleRegister(true, TolvarenCommsCommon::regCommsDogBusOffDelay).get(),
              30u);

    const QString base = logDir.filePath("00077");
    EXPECT_EQ(QString::fromUtf8(FileBytes(base + ".txt")), PaneWithoutTimes());
    EXPECT_EQ(FileBytes(base + ".dat"), Bytes(card.GetCardConfig().get()));
}

} // namespace
