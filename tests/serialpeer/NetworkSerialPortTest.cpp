// The tool's serial stack on a network serial port, against real serial device servers on
// 127.0.0.1 (ser2net raw and RFC 2217, pyserial's RFC 2217 port manager) in front of
// tolvaren-sim's pseudo-terminals.

#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "calibration/CalibBoard.h"
#include "comms/SerialCommsThread.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "report/SnapshotJson.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/NetworkSerialServer.h"

namespace {

const char extraPortsLine[] = "TOLVAREN_EXTRA_SERIAL_PORTS=";

// tolvaren-sim serving one port (or a rig's two); Path(i) is the i-th port it serves.
class Served
{
public:
    explicit Served(const std::vector<std::string>& options)
        : m_process(TOLVAREN_SIM_PROGRAM, options)
    {
        const auto line = m_process.LineStartingWith(extraPortsLine);
        if (!line)
            throw std::runtime_error("tolvaren-sim served no port");
        std::string list = line->substr(sizeof extraPortsLine - 1);
        for (std::size_t colon; (colon = list.find(':')) != std::string::npos;) {
            m_paths.push_back(list.substr(0, colon));
            list.erase(0, colon + 1);
        }
        m_paths.push_back(list);
    }
    const std::string& Path(std::size_t i = 0) const { return m_paths.at(i); }

private:
    ChildProcess m_process;
    std::vector<std::string> m_paths;
};

// The port the tool knows as COM300: a device path or a network port URL.
void UseAsCom300(const std::string& port)
{
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", port.c_str(), 1);
}

// The card gathered in full, as JSON without the live readings that move between gatherings.
QJsonObject GatherStatic(const std::string& port, TolvarenSnapshot* snapshot = nullptr)
{
    UseAsCom300(port);
    SerialPortSettings settings;
    settings.port = 300;
    SerialCommsThread comms(settings, nullptr);
    ModbusMasterDatalink datalink(&comms);
    QJsonObject json;
    {
        TolvarenSnapshotGatherer gatherer(datalink);
        gatherer.RefreshSnapshot().get();
        json = SnapshotToJson(gatherer.Snapshot());
        if (snapshot)
            *snapshot = gatherer.Snapshot();
    }
    datalink.SetCommsInterface(nullptr);
    QJsonObject card = json["card"].toObject();
    card.remove("boardVoltage");
    json["card"] = card;
    for (const char* points : {"inputs", "outputs"}) {
        QJsonArray stripped;
        for (const QJsonValue& p : json[points].toArray()) {
            QJsonObject point = p.toObject();
            for (const char* live : {"value", "raw", "longTerm"})
                point.remove(live);
            stripped.append(point);
        }
        json[points] = stripped;
    }
    return json;
}

class NetworkSerialPortTest : public ::testing::TestWithParam<NetworkSerialServer::Kind>
{
protected:
    FakeSysfs m_sysfs; // no real port of this machine takes part
    QTemporaryDir m_dir;
};

// Everything a full gathering reads arrives through the server as it does on the pseudo-terminal
// itself; bytes 0xFF (the Telnet escape) in register values and a label, and Telnet's command
// bytes in a note, cross both ways intact, as the card itself, read directly afterwards, shows.
TEST_P(NetworkSerialPortTest, GatheringAndBytes0xFFPassAsOnThePseudoTerminal)
{
    ASSERT_TRUE(m_dir.isValid());
    Served served({"--no-pacing"});
    const QJsonObject direct = GatherStatic(served.Path());

    // A label may hold any byte but 0; the card ends a note at 0xFF (erased memory), so the
    // note (a vendor payload) carries the other bytes Telnet treats specially.
    const std::string label("\xff\xff label \xff\r\n\x01\xfe\xff");
    const std::string note("IAC \xfe\xfd\xfb\xfa\xf0 CR\r\n");
    {
        NetworkSerialServer server(GetParam(), served.Path(), m_dir.path().toStdString());
        EXPECT_EQ(GatherStatic(server.Url()), direct);

        UseAsCom300(server.Url());
        SerialPortSettings settings;
        settings.port = 300;
        SerialCommsThread comms(settings, nullptr);
        ModbusMasterDatalink datalink(&comms);
        {
            TolvarenCommsCommon card(datalink);
            card.SetCommsDogBusOffDelay(0xFFFF).get();
            card.SetLabel(Tolvaren::Input, 2, label).get();
            card.SetIoNote(Tolvaren::Input, 2, note).get();
            EXPECT_EQ(card.GetLabel(Tolvaren::Input, 2).get(), label);
            EXPECT_EQ(card.GetIoNote(Tolvaren::Input, 2).get(), note);
            ModbusMaster master(datalink);
            EXPECT_EQ(master.ReadHoldingRegister(TolvarenCommsCommon::regCommsDogBusOffDelay).get(),
                      0xFFFF);
        }
        datalink.SetCommsInterface(nullptr);
    }
    TolvarenSnapshot card;
    GatherStatic(served.Path(), &card);
    EXPECT_EQ(card.commsDogBusOffDelay, 0xFFFF);
    EXPECT_EQ(card.inputLabels.at(2), label);
    EXPECT_EQ(card.inputNotes.at(2), note);
}

std::string ServerName(const ::testing::TestParamInfo<NetworkSerialServer::Kind>& info)
{
    static const char* const names[] = {"Ser2netRaw", "Ser2netRfc2217", "PyserialRfc2217"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Servers, NetworkSerialPortTest,
                         ::testing::Values(NetworkSerialServer::Ser2netRaw,
                                           NetworkSerialServer::Ser2netRfc2217,
                                           NetworkSerialServer::PyserialRfc2217),
                         ServerName);

// The calibration board's 9600 baud, asked for over RFC 2217, is what the device behind each
// server is set to; the board answers through it.
TEST(NetworkSerialPortBaudTest, TheBoardsBaudRateReachesTheDeviceBehindTheServer)
{
    FakeSysfs sysfs;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Served rig({"--rig", "input"});
    const std::string boardPath = rig.Path(1);
    for (auto kind : {NetworkSerialServer::Ser2netRfc2217, NetworkSerialServer::PyserialRfc2217}) {
        SCOPED_TRACE(NetworkSerialServer::Name(kind));
        NetworkSerialServer server(kind, boardPath, dir.path().toStdString());
        UseAsCom300(server.Url());
        {
            CalibBoard board(300);
            EXPECT_EQ(board.GetVersion(), 1);
            // The pseudo-terminal keeps the speed its last user set: the server's.
            const int fd = ::open(boardPath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            termios tio;
            ASSERT_EQ(::tcgetattr(fd, &tio), 0);
            ::close(fd);
            EXPECT_EQ(::cfgetospeed(&tio), speed_t(B9600));
        }
    }
}

} // namespace
