#include <cstring>
#include <string>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "comms/AutoReconnectSerialComms.h"
#include "comms/SerialPlatform.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/PtyPair.h"

namespace {

const std::string slowWarning = " - USB latency timer 16 ms: replies are delayed, see README";

termios AttributesOf(const std::string& path)
{
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    return tio;
}

// Pseudo-terminals refuse the low-latency request; opening must neither fail nor change the line.
TEST(UsbLowLatencyTest, ARefusedRequestLeavesThePortAsItWasAndWorking)
{
    PtyPair pty;
    const termios before = AttributesOf(pty.SlavePath());
    auto port = SerialPlatform::Port::OpenExclusive(pty.SlavePath());
    const termios after = AttributesOf(pty.SlavePath());
    EXPECT_EQ(before.c_iflag, after.c_iflag);
    EXPECT_EQ(before.c_oflag, after.c_oflag);
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(std::memcmp(before.c_cc, after.c_cc, sizeof before.c_cc), 0);

    port->Configure(115200, 0, 1);
    const unsigned char request[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0a};
    ASSERT_EQ(port->WriteSome(request, sizeof request), sizeof request);
    EXPECT_EQ(pty.Read(sizeof request), ByteVec(request, request + sizeof request));

    const ByteVec reply{1, 3, 2, 0, 42, 0x38, 0x5b};
    pty.Write(reply);
    ByteVec received;
    while (received.size() < reply.size()) {
        ASSERT_FALSE(SerialPlatform::WaitForAny({port->Readable()}, 10000).empty());
        unsigned char buffer[64];
        const std::size_t n = port->ReadSome(buffer, sizeof buffer);
        received.insert(received.end(), buffer, buffer + n);
    }
    EXPECT_EQ(received, reply);
}

struct LatencyCase
{
    int timerMs;            // -1: the driver shows no latency_timer
    std::string suffix;     // what the friendly name ends with after the path
};

TEST(UsbLowLatencyTest, ASlowAdapterIsNamedAsSuchWhereverItsPathLeads)
{
    const LatencyCase cases[] = {
        {16, slowWarning},
        {2, " - USB latency timer 2 ms: replies are delayed, see README"},
        {1, ""},
        {-1, ""},
    };
    for (const LatencyCase& c : cases) {
        SCOPED_TRACE(c.timerMs);
        PtyPair pty;
        FakeSysfs sysfs;
        sysfs.AddUsbAdapter("ttyUSB0", pty.SlavePath(), "FT232R USB UART",
                            "usb-FTDI_FT232R_A1-if00-port0");
        if (c.timerMs >= 0)
            sysfs.SetLatencyTimer("ttyUSB0", c.timerMs);

        std::vector<SerialPortInfo> ports;
        AutoReconnectSerialComms::EnumerateSerialPorts(ports, false);
        ASSERT_EQ(ports.size(), 1u);
        EXPECT_EQ(ports[0].friendlyName,
                  "COM100 - FT232R USB UART (" + sysfs.DevDir() + "/ttyUSB0)" + c.suffix);
        EXPECT_EQ(ports[0].description, "FT232R USB UART");

        // The port is opened through its by-id link; the kernel name is found behind it.
        const int expected = c.timerMs < 0 ? 0 : c.timerMs;
        EXPECT_EQ(SerialPlatform::UsbLatencyTimerMs(SerialPlatform::DevicePathOfPort(100)),
                  expected);
        EXPECT_EQ(SerialPlatform::UsbLatencyTimerMs(sysfs.DevDir() + "/ttyUSB0"), expected);
        // A path that is no adapter has no timer.
        EXPECT_EQ(SerialPlatform::UsbLatencyTimerMs(pty.SlavePath()), 0);
    }
}

} // namespace
