#include <chrono>
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "comms/SerialCommsThread.h"
#include "modbus/ModbusCrc.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "tests/serialpeer/Framed.h"
#include "tests/serialpeer/LibmodbusPeer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeSysfs.h"

namespace {

using std::chrono::milliseconds;

const char portLine[] = "TOLVAREN_EXTRA_SERIAL_PORTS=";

// tolvaren-sim started as a user starts it; Path() is the port it serves.
class ServedCard
{
public:
    explicit ServedCard(const std::vector<std::string>& options = {})
        : m_process(TOLVAREN_SIM_PROGRAM, options)
    {
        const auto line = m_process.LineStartingWith(portLine);
        if (line)
            m_path = line->substr(sizeof portLine - 1);
    }
    const std::string& Path() const { return m_path; }
    ChildProcess& Process() { return m_process; }

private:
    ChildProcess m_process;
    std::string m_path;
};

// The served port, opened raw as a master would.
class RawPort
{
public:
    explicit RawPort(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        termios tio;
        if (m_fd >= 0 && ::tcgetattr(m_fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~RawPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }
    void Write(const ByteVec& bytes)
    {
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), long(bytes.size()));
    }
    // Reads count bytes; the times (since start) at which the first and the last arrived.
    ByteVec Read(std::size_t count, std::chrono::steady_clock::time_point start,
                 milliseconds& first, milliseconds& last)
    {
        ByteVec bytes;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p = {m_fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            unsigned char buffer[512];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            const auto at =
                std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
            if (bytes.empty())
                first = at;
            last = at;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

private:
    int m_fd;
};

TEST(TolvarenSimTest, TheToolGathersTheServedCardWhichStopsOnSigterm)
{
    FakeSysfs sysfs; // no real port of this machine takes part
    ServedCard served;
    ASSERT_FALSE(served.Path().empty()) << served.Process().Output();
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", served.Path().c_str(), 1);
    {
        SerialPortSettings settings;
        settings.port = 300;
        SerialCommsThread port(settings, nullptr);
        ModbusMasterDatalink datalink(&port);
        TolvarenSnapshotGatherer gatherer(datalink);
        gatherer.RefreshSnapshot().get();
        gatherer.RefreshSnapshot().get();
        const TolvarenSnapshot& s = gatherer.Snapshot();
        EXPECT_EQ(s.registerVersion, 10);
        EXPECT_EQ(s.numInputs, 24u);
        EXPECT_EQ(s.outputLabels[23], "Output 24");
        EXPECT_EQ(s.profiledSafeValues.size(), 24u);
        EXPECT_EQ(s.inputRawValues.size(), 24u);
        datalink.SetCommsInterface(nullptr);
    }
    ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
    served.Process().Signal(SIGTERM);
    EXPECT_EQ(served.Process().WaitForExit(), 0);
    EXPECT_NE(served.Process().Output().find("Stopped"), std::string::npos);
}

TEST(TolvarenSimTest, LibmodbusMasterTalksToTheServedCardThroughItsLink)
{
    QTemporaryDir dir;
    const std::string link = dir.path().toStdString() + "/card";
    ServedCard served({"--link", link});
    ASSERT_EQ(served.Path(), link) << served.Process().Output();

    modbus_t* ctx = modbus_new_rtu(link.c_str(), 115200, 'N', 8, 1);
    ASSERT_TRUE(ctx);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 5, 0);
    ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
    uint16_t version = 0, label[20] = {0}, limit = 0;
    EXPECT_EQ(modbus_read_input_registers(ctx, 65433, 1, &version), 1) << modbus_strerror(errno);
    EXPECT_EQ(version, 10);
    EXPECT_EQ(modbus_read_registers(ctx, 9200, 20, label), 20) << modbus_strerror(errno);
    EXPECT_EQ(label[0], ('I' << 8) | 'n');
    EXPECT_EQ(modbus_write_register(ctx, 600, 0xFFF6), 1) << modbus_strerror(errno);
    EXPECT_EQ(modbus_read_registers(ctx, 600, 1, &limit), 1) << modbus_strerror(errno);
    EXPECT_EQ(limit, 0xFFF6);
    uint8_t healthy = 0;
    EXPECT_EQ(modbus_read_input_bits(ctx, 908, 1, &healthy), 1) << modbus_strerror(errno);
    EXPECT_EQ(healthy, 1);
    modbus_close(ctx);
    modbus_free(ctx);

    served.Process().Signal(SIGINT);
    EXPECT_EQ(served.Process().WaitForExit(), 0);
    EXPECT_NE(::access(link.c_str(), F_OK), 0) << "the link outlived the program";
}

// A vendor request whose length byte promises more than it carries ends with the line's
// silence, and is answered as the card answers it.
TEST(TolvarenSimTest, PymodbusMasterGetsExceptionThreeForAVendorRequestCutShort)
{
    ServedCard served;
    ASSERT_FALSE(served.Path().empty()) << served.Process().Output();
    ChildProcess peer(TOLVAREN_SYSTEM_PYTHON, {TOLVAREN_PYMODBUS_PEER, served.Path()});
    EXPECT_EQ(peer.WaitForExit(std::chrono::seconds(60)), 0) << peer.Output();
    served.Process().Signal(SIGTERM);
    EXPECT_EQ(served.Process().WaitForExit(), 0);
}

TEST(TolvarenSimTest, RepliesArriveAtTheLinesPace)
{
    // All 24 input values: 8 bytes asked, 101 answered. A slow line (4.17 ms a byte) keeps the
    // wire time far above what a busy machine adds.
    const ByteVec request = Framed({0x01, 0x04, 0x23, 0x28, 0x00, 0x30});
    const double byteMs = 10 * 1000.0 / 2400;
    const double wireMs = (8 + 101) * byteMs;
    struct Case
    {
        std::vector<std::string> options;
        double atLeastMs; // for the whole reply
        double atMostMs;
        double firstByteMs; // the reply's first byte no earlier
    };
    const Case cases[] = {
        {{"--baud", "2400"}, wireMs, wireMs + 200, 9 * byteMs},
        {{"--baud", "2400", "--reply-delay", "40"}, wireMs + 40, wireMs + 240, 9 * byteMs + 40},
        {{"--baud", "2400", "--no-pacing"}, 0, wireMs / 2, 0},
    };
    for (const Case& c : cases) {
        const std::string what = c.options.back();
        ServedCard served(c.options);
        ASSERT_FALSE(served.Path().empty()) << served.Process().Output();
        RawPort port(served.Path());
        ASSERT_TRUE(port.IsOpen());
        milliseconds first{0}, last{0};
        const auto start = std::chrono::steady_clock::now();
        port.Write(request);
        const ByteVec reply = port.Read(101, start, first, last);
        ASSERT_EQ(reply.size(), 101u) << what;
        EXPECT_EQ(reply[2], 96) << what;
        EXPECT_GE(last.count() + 1, c.atLeastMs) << what; // whole milliseconds measured
        EXPECT_LE(last.count(), c.atMostMs) << what;
        EXPECT_GE(first.count() + 1, c.firstByteMs) << what;
        served.Process().Signal(SIGTERM);
        EXPECT_EQ(served.Process().WaitForExit(), 0) << what;
    }
}

TEST(TolvarenSimTest, InputRigServesTheCardAndTheCalibrationBoard)
{
    ServedCard served({"--rig", "input", "--card-version", "7"});
    const std::string& paths = served.Path();
    const auto colon = paths.find(':');
    ASSERT_NE(colon, std::string::npos) << served.Process().Output();
    RawPort card(paths.substr(0, colon)), board(paths.substr(colon + 1));
    ASSERT_TRUE(card.IsOpen() && board.IsOpen());
    milliseconds first{0}, last{0};
    const auto start = std::chrono::steady_clock::now();
    card.Write(Framed({0x01, 0x04, 0xFF, 0x99, 0x00, 0x01})); // register-map version
    const ByteVec version = card.Read(7, start, first, last);
    ASSERT_EQ(version.size(), 7u);
    EXPECT_EQ(version[4], 7);
    board.Write({0x01, 0x00, 0x00}); // ping
    EXPECT_EQ(board.Read(4, start, first, last), (ByteVec{0x02, 0x00, 0x00, 0x00}));
    served.Process().Signal(SIGTERM);
    EXPECT_EQ(served.Process().WaitForExit(), 0);
}

TEST(TolvarenSimTest, OptionsAreCheckedBeforeAnythingIsServed)
{
    struct Case
    {
        std::vector<std::string> options;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: tolvaren-sim"},
        {{"--baud", "fast"}, 2, "bad value for --baud: fast"},
        {{"--baud", "0"}, 2, "bad value for --baud: 0"},
        {{"--reply-delay"}, 2, "--reply-delay needs a value"},
        {{"--reply-delay", "-1"}, 2, "bad value for --reply-delay: -1"},
        {{"--link"}, 2, "--link needs a path"},
        {{"--frobnicate"}, 2, "unknown option --frobnicate"},
        {{"--fault", "flood"}, 2, "--fault: unknown fault flood"},
        {{"--fault"}, 2, "--fault needs a fault"},
        {{"--rig", "input", "--fault", "no-reply"}, 2, "--fault serves the single card only"},
        {{"--control", "/"}, 1, "/ exists and is not a named pipe"},
        {{"--rig", "both"}, 2, "--rig needs input or output"},
        {{"--link", "/"}, 1, "/ exists and is not a symbolic link"},
    };
    for (const Case& c : cases) {
        ChildProcess process(TOLVAREN_SIM_PROGRAM, c.options);
        EXPECT_EQ(process.WaitForExit(), c.exitCode) << c.options[0];
        EXPECT_NE(process.Output().find(c.says), std::string::npos) << process.Output();
    }
}

} // namespace
