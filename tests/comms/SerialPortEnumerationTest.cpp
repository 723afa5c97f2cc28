#include <cstdlib>

#include <QSettings>

#include <gtest/gtest.h>

#include "comms/AutoReconnectSerialComms.h"
#include "comms/SerialPlatform.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/PtyPair.h"

namespace {

std::vector<SerialPortInfo> Enumerate(bool onlyAvailable = false)
{
    std::vector<SerialPortInfo> ports;
    const int count = AutoReconnectSerialComms::EnumerateSerialPorts(ports, onlyAvailable);
    EXPECT_EQ(count, int(ports.size()));
    return ports;
}

std::vector<int> Numbers(const std::vector<SerialPortInfo>& ports)
{
    std::vector<int> numbers;
    for (const SerialPortInfo& p : ports)
        numbers.push_back(p.portNumber);
    return numbers;
}

class SerialPortEnumerationTest : public ::testing::Test
{
protected:
    PtyPair a, b, c;
    FakeSysfs sysfs;
};

TEST_F(SerialPortEnumerationTest, NumbersNamesAndKindsFollowTheDevice)
{
    sysfs.AddUart(0, a.SlavePath());
    sysfs.AddUart(1, b.SlavePath(), false); // no UART behind it
    sysfs.AddUsbAdapter("ttyUSB3", c.SlavePath(), "FT232R USB UART");
    sysfs.AddUsbAdapter("ttyACM1", b.SlavePath(), "");

    const std::vector<SerialPortInfo> ports = Enumerate();
    ASSERT_EQ(Numbers(ports), (std::vector<int>{1, 203, 251}));
    EXPECT_EQ(ports[0].friendlyName,
              "COM1 - serial8250 (" + sysfs.DevDir() + "/ttyS0)");
    EXPECT_FALSE(ports[0].isUsb);
    EXPECT_EQ(ports[0].devicePath, sysfs.DevDir() + "/ttyS0");
    EXPECT_EQ(ports[1].friendlyName, "COM203 - FT232R USB UART (" + sysfs.DevDir() + "/ttyUSB3)");
    EXPECT_EQ(ports[1].description, "FT232R USB UART");
    EXPECT_TRUE(ports[1].isUsb);
    // No product string: the driver names it.
    EXPECT_EQ(ports[2].description, "ftdi_sio");
    EXPECT_TRUE(ports[2].isUsb);
    EXPECT_EQ(SerialPlatform::DevicePathOfPort(203), sysfs.DevDir() + "/ttyUSB3");
    EXPECT_EQ(SerialPlatform::DevicePathOfPort(251), sysfs.DevDir() + "/ttyACM1");
}

TEST_F(SerialPortEnumerationTest, AdaptersKeepTheirNumbersWhenReplugged)
{
    sysfs.AddUsbAdapter("ttyUSB0", a.SlavePath(), "FT232R USB UART", "usb-FTDI_FT232R_A1-if00-port0");
    sysfs.AddUsbAdapter("ttyUSB1", b.SlavePath(), "CP2102", "usb-Silicon_Labs_CP2102_B2-if00-port0");
    EXPECT_EQ(Numbers(Enumerate()), (std::vector<int>{100, 101}));

    // Re-plugged the other way round: ttyUSB0 is now the CP2102.
    sysfs.Remove("ttyUSB0");
    sysfs.Remove("ttyUSB1");
    sysfs.AddUsbAdapter("ttyUSB0", b.SlavePath(), "CP2102", "usb-Silicon_Labs_CP2102_B2-if00-port0");
    sysfs.AddUsbAdapter("ttyUSB1", a.SlavePath(), "FT232R USB UART", "usb-FTDI_FT232R_A1-if00-port0");
    const std::vector<SerialPortInfo> ports = Enumerate();
    ASSERT_EQ(Numbers(ports), (std::vector<int>{100, 101}));
    EXPECT_EQ(ports[0].description, "FT232R USB UART");
    EXPECT_EQ(ports[0].devicePath, sysfs.DevDir() + "/ttyUSB1");
    // Opening by number follows the adapter, not the tty name.
    EXPECT_EQ(SerialPlatform::DevicePathOfPort(100),
              sysfs.DevDir() + "/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");

    // A third adapter gets the lowest free number; the numbers live in the settings store.
    sysfs.Remove("ttyUSB0");
    sysfs.AddUsbAdapter("ttyACM0", c.SlavePath(), "Pico", "usb-Raspberry_Pi_Pico_C3-if00");
    EXPECT_EQ(Numbers(Enumerate()), (std::vector<int>{100, 102}));
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, "QEL", "TolvarenDiagnostics");
    EXPECT_EQ(store.value("SerialPortNumbers/usb-Raspberry_Pi_Pico_C3-if00").toInt(), 102);
}

TEST_F(SerialPortEnumerationTest, ExtraPortsAndAvailability)
{
    sysfs.AddUart(0, a.SlavePath());
    setenv("TOLVAREN_EXTRA_SERIAL_PORTS", (b.SlavePath() + ":/nonexistent/x:" + c.SlavePath()).c_str(), 1);
    std::vector<SerialPortInfo> ports = Enumerate();
    ASSERT_EQ(Numbers(ports), (std::vector<int>{1, 300, 302}));
    EXPECT_EQ(ports[1].friendlyName, "COM300 - Extra serial port (" + b.SlavePath() + ")");
    EXPECT_EQ(SerialPlatform::DevicePathOfPort(302), c.SlavePath());

    {
        auto held = SerialPlatform::Port::OpenExclusive(b.SlavePath());
        EXPECT_EQ(Numbers(Enumerate(true)), (std::vector<int>{1, 302}));
        // The chooser lists busy ports too.
        EXPECT_EQ(Enumerate(false).size(), 3u);
    }
    EXPECT_EQ(Numbers(Enumerate(true)), (std::vector<int>{1, 300, 302}));
    unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
}

TEST_F(SerialPortEnumerationTest, MissingDeviceListIsAnEnumerationError)
{
    setenv("TOLVAREN_SYSFS_TTY", "/nonexistent/tty", 1);
    std::vector<SerialPortInfo> ports;
    try {
        AutoReconnectSerialComms::EnumerateSerialPorts(ports, false);
        ADD_FAILURE() << "no error";
    } catch (const ExceptionWithString& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Failed to enumerate available serial ports: ", 0),
                  0u);
    }
}

} // namespace
