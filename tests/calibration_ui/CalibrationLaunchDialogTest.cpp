#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "calibration/ui/CalibrationLaunchDialog.h"
#include "tests/calibration_ui/CalibUiRig.h"

using namespace CalibUiSteps;

namespace {

class CalibrationLaunchDialogTest : public CalibUiTest
{
protected:
    std::unique_ptr<CalibrationLaunchDialog> Open()
    {
        return std::make_unique<CalibrationLaunchDialog>(inputCard, [this] {
            ++outputWindowsMade;
            return &outputCard;
        });
    }
    static QLineEdit* Port(QWidget* dialog)
    {
        return dialog->findChild<QLineEdit*>("calibBoardPortNum");
    }
    static void Press(QWidget* dialog, const char* button)
    {
        dialog->findChild<QPushButton*>(button)->click();
    }

    int outputWindowsMade = 0;
};

TEST_F(CalibrationLaunchDialogTest, TestsTheBoardLink)
{
    auto dialog = Open();
    EXPECT_EQ(Port(dialog.get())->text(), "0");
    Port(dialog.get())->setText("300");
    QString text;
    ModalScript working;
    working.Then(CalibUiSteps::Press(QMessageBox::Ok, &text));
    working.Run([&] { Press(dialog.get(), "testCalibCommsButton"); });
    EXPECT_EQ(text, "Comms with calibration card working");

    // A port nothing answers on: the link's own error, no success.
    Port(dialog.get())->setText("399");
    ModalScript failing;
    failing.Then(CalibUiSteps::Press(QMessageBox::Ok, &text));
    failing.Run([&] { Press(dialog.get(), "testCalibCommsButton"); });
    EXPECT_FALSE(text.isEmpty());
    EXPECT_NE(text, "Comms with calibration card working");
}

TEST_F(CalibrationLaunchDialogTest, NextOpensTheWindowForTheChosenCard)
{
    auto dialog = Open();
    Port(dialog.get())->setText("abc");
    QString text;
    ModalScript invalid;
    invalid.Then(CalibUiSteps::Press(QMessageBox::Ok, &text));
    invalid.Run([&] { Press(dialog.get(), "nextButton"); });
    EXPECT_EQ(text, "Invalid port number");
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(dialog->OpenedWindow(), nullptr);

    Port(dialog.get())->setText("300");
    ModalScript quiet;
    quiet.Run([&] { Press(dialog.get(), "nextButton"); });
    EXPECT_TRUE(quiet.Unexpected().isEmpty());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    auto* window = qobject_cast<CalibrationWidget*>(dialog->OpenedWindow());
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->IsOutputCardMode());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(LogText(window).contains("Calib params NOT PRESENT inside PIC EEPROM."));
    EXPECT_EQ(outputWindowsMade, 0);
    EXPECT_EQ(QSettings().value("Calib.CalibBoardPortNum").toUInt(), 300u);

    // The Output Card: a second window is made, and the choice is remembered.
    dialog = Open();
    EXPECT_EQ(Port(dialog.get())->text(), "300");
    EXPECT_TRUE(dialog->findChild<QRadioButton*>("calibInputCardRadio")->isChecked());
    dialog->findChild<QRadioButton*>("calibOutputCardRadio")->setChecked(true);
    EXPECT_FALSE(Port(dialog.get())->isEnabled());
    EXPECT_TRUE(dialog->findChild<QWidget*>("outputCardInfoLabel")->isEnabled());
    Port(dialog.get())->setText("abc"); // not looked at for an Output Card
    quiet.Run([&] { Press(dialog.get(), "nextButton"); });
    EXPECT_EQ(outputWindowsMade, 1);
    window = qobject_cast<CalibrationWidget*>(dialog->OpenedWindow());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->IsOutputCardMode());
    EXPECT_TRUE(outputCard.widget->isVisible());

    dialog = Open();
    EXPECT_TRUE(dialog->findChild<QRadioButton*>("calibOutputCardRadio")->isChecked());
    EXPECT_FALSE(dialog->findChild<QWidget*>("testCalibCommsButton")->isEnabled());
}

} // namespace
