#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include "tests/support/FakeSysfs.h"
#include "tests/support/PtyPair.h"
#include "widgets/SerialPortChooserDialog.h"
#include "widgets/SerialPortOptionsWidget.h"

namespace {

const int generousMs = 10000;

int SelectedPort(QListWidget* list)
{
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.size() == 1 ? items.front()->data(Qt::UserRole).toInt() : -1;
}

// Answers the next modal chooser dialog once it is up.
void WhenChooserOpens(const std::function<void(SerialPortChooserDialog*)>& answer)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto* dialog = qobject_cast<SerialPortChooserDialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        }
    });
    poll->start(0);
}

SerialPortSettings Com(int port)
{
    SerialPortSettings s;
    s.port = port;
    return s;
}

class SerialPortSelectionTest : public ::testing::Test
{
protected:
    PtyPair a, b;
    FakeSysfs sysfs;
};

TEST_F(SerialPortSelectionTest, ChooserWithoutPortsCannotBeConfirmed)
{
    SerialPortChooserDialog dialog(0);
    auto* list = dialog.findChild<QListWidget*>("portsListWidget");
    auto* ok = dialog.findChild<QPushButton*>("okButton");
    ASSERT_TRUE(list && ok);
    EXPECT_EQ(dialog.windowTitle(), "Serial Ports");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "No ports found");
    EXPECT_FALSE(list->isEnabled());
    EXPECT_FALSE(ok->isEnabled());
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(dialog.GetChosenPort(), 0);
}

TEST_F(SerialPortSelectionTest, ChooserListsNewPortsAndKeepsTheSelection)
{
    sysfs.AddUart(0, a.SlavePath());
    sysfs.AddUart(2, b.SlavePath());
    SerialPortChooserDialog dialog(3);
    dialog.show();
    auto* list = dialog.findChild<QListWidget*>("portsListWidget");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(SelectedPort(list), 3);

    sysfs.AddUsbAdapter("ttyUSB0", a.SlavePath(), "FT232R USB UART");
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->count() == 3; }, generousMs));
    EXPECT_EQ(SelectedPort(list), 3);
    EXPECT_EQ(list->item(2)->text().toStdString(),
              "COM200 - FT232R USB UART (" + sysfs.DevDir() + "/ttyUSB0)");

    list->item(2)->setSelected(true);
    QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_EQ(dialog.GetChosenPort(), 200);
}

TEST_F(SerialPortSelectionTest, ChooserWarnsOfASlowUsbAdapterUntilItsTimerIsLowered)
{
    sysfs.AddUsbAdapter("ttyUSB0", a.SlavePath(), "FT232R USB UART");
    sysfs.AddUsbAdapter("ttyUSB1", b.SlavePath(), "FT231X USB UART");
    sysfs.SetLatencyTimer("ttyUSB0", 16);
    sysfs.SetLatencyTimer("ttyUSB1", 1);
    SerialPortChooserDialog dialog(0);
    dialog.show();
    auto* list = dialog.findChild<QListWidget*>("portsListWidget");
    ASSERT_EQ(list->count(), 2);
    const std::string first = "COM200 - FT232R USB UART (" + sysfs.DevDir() + "/ttyUSB0)";
    EXPECT_EQ(list->item(0)->text().toStdString(),
              first + " - USB latency timer 16 ms: replies are delayed, see README");
    EXPECT_EQ(list->item(1)->text().toStdString(),
              "COM201 - FT231X USB UART (" + sysfs.DevDir() + "/ttyUSB1)");

    // A udev rule (or another program's open) lowers the timer: the next refresh says so.
    sysfs.SetLatencyTimer("ttyUSB0", 1);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return list->item(0) && list->item(0)->text().toStdString() == first; }, generousMs));
}

TEST_F(SerialPortSelectionTest, ChooserPreselectsTheFirstPortForAutomatic)
{
    sysfs.AddUart(4, a.SlavePath());
    sysfs.AddUart(1, b.SlavePath());
    SerialPortChooserDialog dialog(-1);
    EXPECT_EQ(SelectedPort(dialog.findChild<QListWidget*>("portsListWidget")), 2);
}

TEST_F(SerialPortSelectionTest, CancellingManualChoiceKeepsAutomatic)
{
    auto comms = boost::make_shared<AutoReconnectSerialComms>(nullptr, Com(0));
    SerialPortOptionsWidget widget(comms);
    auto* automatic = widget.findChild<QRadioButton*>("autoSelectRadio");
    auto* manual = widget.findChild<QRadioButton*>("manualSelectRadio");
    auto* change = widget.findChild<QPushButton*>("choosePortButton");
    EXPECT_TRUE(automatic->isChecked());
    EXPECT_FALSE(change->isEnabled());

    bool asked = false;
    WhenChooserOpens([&](SerialPortChooserDialog* dialog) {
        asked = true;
        dialog->reject();
    });
    manual->click(); // runs the chooser modally
    EXPECT_TRUE(asked);
    EXPECT_TRUE(automatic->isChecked());
    EXPECT_FALSE(change->isEnabled());
    EXPECT_EQ(comms->GetConfiguredCommPort(), 0);
}

TEST_F(SerialPortSelectionTest, ManualChoiceSetsThePortAndAutomaticReturnsToZero)
{
    sysfs.AddUart(0, a.SlavePath());
    sysfs.AddUart(1, b.SlavePath());
    SerialPortOptionsWidget widget(nullptr, 0);
    auto comms = widget.GetComms();
    ASSERT_TRUE(comms);
    WhenChooserOpens([](SerialPortChooserDialog* dialog) {
        auto* list = dialog->findChild<QListWidget*>("portsListWidget");
        list->item(1)->setSelected(true);
        QTest::mouseClick(dialog->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    widget.findChild<QRadioButton*>("manualSelectRadio")->click();
    EXPECT_EQ(comms->GetConfiguredCommPort(), 2);
    EXPECT_TRUE(widget.findChild<QPushButton*>("choosePortButton")->isEnabled());

    widget.findChild<QRadioButton*>("autoSelectRadio")->click();
    EXPECT_EQ(comms->GetConfiguredCommPort(), 0);
    EXPECT_FALSE(widget.findChild<QPushButton*>("choosePortButton")->isEnabled());
}

TEST_F(SerialPortSelectionTest, ConfiguredPortShowsManualAndNullCommsIsRefused)
{
    SerialPortOptionsWidget widget(boost::make_shared<AutoReconnectSerialComms>(nullptr, Com(9)));
    EXPECT_TRUE(widget.findChild<QRadioButton*>("manualSelectRadio")->isChecked());
    EXPECT_TRUE(widget.findChild<QPushButton*>("choosePortButton")->isEnabled());
    try {
        SerialPortOptionsWidget refused{boost::shared_ptr<AutoReconnectSerialComms>()};
        ADD_FAILURE() << "accepted no comms";
    } catch (const ExceptionWithString& e) {
        EXPECT_STREQ(e.what(), "comms == NULL");
    }
}

} // namespace
