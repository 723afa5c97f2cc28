#include "mainwindow/TolvarenDiagnostics.h"

#include <atomic>
#include <memory>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <boost/make_shared.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <gtest/gtest.h>

#include "app/EventLoopTrackingApp.h"
#include "calibration/ui/CalibrationWidget.h"
#include "comms/AutoReconnectSerialComms.h"
#include "mainwindow/ServiceKeyRing.h"
#include "simulator/FullCardSimulator.h"
#include "simulator/VendorCommandFrame.h"
#include "tests/cardui/CardUiDialogSteps.h"
#include "tests/mainwindow/WindowWaits.h"
#include "tests/support/FakeCard.h"
#include "tests/support/FakeCardProtocol.h"
#include "tests/support/FakeSysfs.h"
#include "tests/widgets/ModalScript.h"
#include "widgets/ProgressDialog.h"

using namespace CardUiDialogSteps;

namespace {

// The full simulated card, recording the addresses of its EE writes and its restarts.
class EeRecordingCard : public FullCardSimulator
{
public:
    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override
    {
        std::uint16_t subCommand = 0;
        ByteVec args;
        if (functionCode == VendorCommandFrame::functionCode &&
            VendorCommandFrame::ParseRequest(requestData, subCommand, args)) {
            boost::lock_guard<boost::mutex> guard(m_mutex);
            if (subCommand == 24 && args.size() >= 4)
                m_eeWrites.push_back(std::uint32_t(args[0]) << 24 | std::uint32_t(args[1]) << 16 |
                                     std::uint32_t(args[2]) << 8 | args[3]);
            m_restarts += subCommand == 25 ? 1 : 0;
        }
        return FullCardSimulator::HandleRequest(functionCode, requestData, replyData);
    }

    std::vector<std::uint32_t> EeWrites() const
    {
        boost::lock_guard<boost::mutex> guard(m_mutex);
        return m_eeWrites;
    }
    int Restarts() const
    {
        boost::lock_guard<boost::mutex> guard(m_mutex);
        return m_restarts;
    }

private:
    mutable boost::mutex m_mutex;
    std::vector<std::uint32_t> m_eeWrites;
    int m_restarts = 0;
};

// The wipe's progress dialog closes by itself when the wipe ends, and the closing message
// follows. On a quick wipe the progress may be gone before its step's turn: the first step
// then answers the message and the second is left over.
void AnswerWipe(ModalScript& script, QString* ending)
{
    script.Then([ending](QWidget* modal) {
        if (qobject_cast<ProgressDialog*>(modal))
            ASSERT_TRUE(RunUntil([modal] { return !modal->isVisible(); }, 60000));
        else
            Press(QMessageBox::Ok, ending)(modal);
    });
    script.Then(Press(QMessageBox::Ok, ending));
}

class TolvarenDiagnosticsServiceTest : public ::testing::Test
{
protected:
    void TearDown() override { m_window.reset(); }

    // A window showing the face of this card.
    TolvarenDiagnostics* Open(boost::shared_ptr<ICommsInterface> card)
    {
        m_window.reset(new TolvarenDiagnostics(QStringLiteral("MainWindow")));
        m_window->show();
        SignalCounter created(m_window.get(), &TolvarenDiagnostics::CardFaceCreated);
        m_window->Comms()->UseCommsInterface(card);
        EXPECT_TRUE(created.Wait());
        return m_window.get();
    }

    // Types a service code (or any keys) into the window, answering the dialogs by script.
    void Type(ModalScript& script, const ServiceKeyRing::Code& keys,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        script.Run([&] {
            for (int key : keys)
                QTest::keyClick(m_window.get(), Qt::Key(key), modifiers);
            return 0;
        });
    }

    static const ServiceKeyRing::Code& Code(ServiceKeyRing::Service service)
    {
        return ServiceKeyRing::Codes()[std::size_t(service)];
    }

    FakeSysfs m_sysfs;
    std::unique_ptr<TolvarenDiagnostics> m_window;
};

TEST(ServiceKeyRingTest, CodesAreDistinctLettersWithoutRAndMatchOnlyTheLastThreeKeys)
{
    const auto& codes = ServiceKeyRing::Codes();
    for (std::size_t i = 0; i < codes.size(); ++i) {
        for (int key : codes[i]) {
            EXPECT_TRUE(key >= Qt::Key_A && key <= Qt::Key_Z);
            EXPECT_NE(key, Qt::Key_R);
        }
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(codes[i], codes[j]);
    }
    ServiceKeyRing ring;
    const ServiceKeyRing::Code& wipe = codes[ServiceKeyRing::EepromWipe];
    EXPECT_EQ(ring.Add(wipe[0]), ServiceKeyRing::NoService);
    EXPECT_EQ(ring.Add(wipe[1]), ServiceKeyRing::NoService);
    EXPECT_EQ(ring.Add(wipe[2]), ServiceKeyRing::EepromWipe);
    // Kept after a match: one more key is compared with the two before it.
    EXPECT_EQ(ring.Add(Qt::Key_A), ServiceKeyRing::NoService);
    ServiceKeyRing interrupted;
    for (int key : {wipe[0], int(Qt::Key_Space), wipe[1], wipe[2]})
        EXPECT_EQ(interrupted.Add(key), ServiceKeyRing::NoService);
}

TEST_F(TolvarenDiagnosticsServiceTest, ACodeTypedWithShiftDoesNotCountAndTypedPlainShowsTheDate)
{
    auto card = boost::make_shared<FakeCard>(4, 9);
    FakeCardProtocol content(*card, 4, 9);
    Open(card);

    ModalScript shifted;
    Type(shifted, Code(ServiceKeyRing::BuildDate), Qt::ShiftModifier);
    EXPECT_TRUE(shifted.Unexpected().isEmpty()) << shifted.Unexpected().join(",").toStdString();

    QString text;
    ModalScript plain;
    plain.Then(Press(QMessageBox::Ok, &text));
    Type(plain, Code(ServiceKeyRing::BuildDate));
    EXPECT_EQ(text, QStringLiteral("Card software build date: ") + FakeCardProtocol::BuildDate());

    // A card that refuses is reported, and the program goes on.
    card->FailVendorCommand(8, 4);
    ModalScript refused;
    refused.Then(Press(QMessageBox::Ok, &text));
    Type(refused, Code(ServiceKeyRing::BuildDate));
    EXPECT_TRUE(text.startsWith("Failed to read card software build date: ")) << text.toStdString();
    auto* app = qobject_cast<EventLoopTrackingApp*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->CriticalBox(), nullptr);
    EXPECT_TRUE(m_window->isVisible());

    // The named variables dialog.
    QString opened;
    ModalScript named;
    named.Then([&](QWidget* modal) {
        opened = modal->metaObject()->className();
        static_cast<QDialog*>(modal)->reject();
    });
    Type(named, Code(ServiceKeyRing::NamedVariables));
    EXPECT_EQ(opened, "NamedVarDialog");
}

TEST_F(TolvarenDiagnosticsServiceTest, CalibrationEntryNeedsAManualPortAndRaisesAnOpenWindow)
{
    m_window.reset(new TolvarenDiagnostics(QStringLiteral("MainWindow")));
    m_window->show();
    QString text;
    ModalScript automatic;
    automatic.Then(Press(QMessageBox::Ok, &text));
    Type(automatic, Code(ServiceKeyRing::CalibrationEntry));
    EXPECT_EQ(text, "The main COM port must be manually set to the specific port where the Input "
                    "Card will be attached.");

    // With the port set, the launch dialog; cancelling it leaves the main window as it was.
    m_window->Comms()->SetCommPort(7);
    QString launched;
    ModalScript launch;
    launch.Then([&](QWidget* modal) {
        launched = modal->metaObject()->className();
        static_cast<QDialog*>(modal)->reject();
    });
    Type(launch, Code(ServiceKeyRing::CalibrationEntry));
    EXPECT_EQ(launched, "CalibrationLaunchDialog");
    EXPECT_TRUE(m_window->isVisible());

    // An open calibration window (an Output Card one: it needs no board) is brought back.
    auto* calibration = new CalibrationWidget(*m_window, m_window.get(), 0);
    calibration->showMinimized();
    ModalScript manual;
    Type(manual, Code(ServiceKeyRing::CalibrationEntry));
    EXPECT_TRUE(manual.Unexpected().isEmpty());
    EXPECT_TRUE(calibration->isVisible());
    EXPECT_FALSE(calibration->isMinimized());
    delete calibration;
}

TEST_F(TolvarenDiagnosticsServiceTest, EeWipeWritesUntilTheFullCardRefusesThenRestartsIt)
{
    auto card = boost::make_shared<EeRecordingCard>();
    Open(card);

    // Enter alone answers No.
    ModalScript declined;
    declined.Then(PressEnter());
    Type(declined, Code(ServiceKeyRing::EepromWipe));
    EXPECT_EQ(declined.StepsLeft(), 0);
    EXPECT_TRUE(card->EeWrites().empty());

    SignalCounter created(m_window.get(), &TolvarenDiagnostics::CardFaceCreated);
    QString question, ending;
    ModalScript wipe;
    wipe.Then(Press(QMessageBox::Yes, &question));
    AnswerWipe(wipe, &ending);
    Type(wipe, Code(ServiceKeyRing::EepromWipe));
    EXPECT_EQ(question, "Wipe entire EE now, including calibration data?");
    EXPECT_EQ(ending.toStdString(),
              "Cleared EE from address 0 up to (but not including) address 262144. Ended with "
              "error: node returned an error: illegal data address");

    const std::vector<std::uint32_t> writes = card->EeWrites();
    ASSERT_EQ(writes.size(), 2048u + 1u); // the last one refused
    EXPECT_EQ(writes[0], 2u);
    for (std::size_t i = 1; i < writes.size(); ++i)
        ASSERT_EQ(writes[i], 128u * i) << i;
    EXPECT_EQ(writes.back(), std::uint32_t(CardConfiguration::eeSize));
    EXPECT_EQ(card->Restarts(), 1);
    // Then the restarted card is read again.
    ASSERT_TRUE(created.Wait());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(TolvarenDiagnosticsServiceTest, EeWipeOnACardThatNeverRefusesStopsAtTheBound)
{
    auto card = boost::make_shared<FakeCard>(4, 9);
    FakeCardProtocol content(*card, 4, 9);
    std::uint32_t highest = 0;
    card->SetVendorHandler(24, [&highest](const ByteVec& args, ByteVec&) {
        highest = std::uint32_t(args[0]) << 24 | std::uint32_t(args[1]) << 16 |
                  std::uint32_t(args[2]) << 8 | args[3];
        return 0;
    });
    Open(card);

    QString ending;
    ModalScript wipe;
    wipe.Then(Press(QMessageBox::Yes));
    AnswerWipe(wipe, &ending);
    Type(wipe, Code(ServiceKeyRing::EepromWipe));
    EXPECT_EQ(ending.toStdString(),
              "Cleared EE from address 0 up to (but not including) address 1048576. Ended with "
              "error: the card accepted every write below address 1048576");
    EXPECT_EQ(highest, TolvarenDiagnostics::eeWipeAddressBound - 128);
}

TEST_F(TolvarenDiagnosticsServiceTest, EeWipeCancelStopsAfterTheWriteInFlight)
{
    auto card = boost::make_shared<FakeCard>(4, 9);
    FakeCardProtocol content(*card, 4, 9);
    std::atomic<unsigned> writes(0);
    card->SetVendorHandler(24, [&writes](const ByteVec&, ByteVec&) {
        ++writes;
        return 0;
    });
    Open(card);

    unsigned writesWhenEnded = 0;
    QString ending;
    ModalScript wipe;
    wipe.Then(Press(QMessageBox::Yes)).Then([&](QWidget* modal) {
        ASSERT_NE(qobject_cast<ProgressDialog*>(modal), nullptr);
        // The window answers while the card is written.
        ASSERT_TRUE(RunUntil([&] { return writes >= 3; }));
        modal->findChild<QPushButton*>("cancelButton")->click();
        ASSERT_TRUE(RunUntil([&] { return !modal->isVisible(); }));
    });
    wipe.Then([&](QWidget* modal) {
        writesWhenEnded = writes;
        Press(QMessageBox::Ok, &ending)(modal);
    });
    Type(wipe, Code(ServiceKeyRing::EepromWipe));

    // Writes went to 2, 128, 256, ...: the next one would have gone to 128 x writes.
    EXPECT_EQ(ending, QStringLiteral("Cleared EE from address 0 up to (but not including) "
                                     "address %1. Ended with error: Cancelled")
                          .arg(128 * writesWhenEnded));
    EXPECT_EQ(writes, writesWhenEnded) << "written after the end";
}

} // namespace

