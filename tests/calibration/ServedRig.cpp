#include "tests/calibration/ServedRig.h"

#include <cstdlib>
#include <stdexcept>

#include <boost/shared_ptr.hpp>

#include "calibration/CalibBoardLink.h"
#include "modbus/ModbusMaster.h"
#include "simulator/CalibBoardSerialBridge.h"
#include "simulator/SimulatedCalibBoard.h"
#include "simulator/SimulatorSerialBridge.h"

namespace {

// The rig owns its cards; the bridge only borrows one.
boost::shared_ptr<ModbusSimulator> Borrowed(FullCardSimulator& card)
{
    return boost::shared_ptr<ModbusSimulator>(&card, [](ModbusSimulator*) {});
}

SerialPortSettings Port(int number, int baud = 115200)
{
    SerialPortSettings settings;
    settings.port = number;
    settings.baudRate = baud;
    return settings;
}

} // namespace

ServedRig::ServedRig(CalibrationRig::Kind kind, const CalibrationRig::Setup& setup)
    : m_board(std::make_shared<SimulatedCalibBoard>())
{
    const std::string ports = m_cardCable.PathA() + ":" + m_secondCable.PathA() + ":" +
                              m_cardCable.PathB() + ":" + m_secondCable.PathB();
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", ports.c_str(), 1);
    SimulatedCalibBoard* board = m_board.get();
    m_rig.reset(new CalibrationRig(kind, setup, [board](unsigned i) { return board->RouteOf(i); }));
    m_inputBridge.reset(new SimulatorSerialBridge(Borrowed(m_rig->InputCard()), Port(302)));
    if (kind == CalibrationRig::Kind::OutputCard) {
        m_outputBridge.reset(new SimulatorSerialBridge(Borrowed(*m_rig->OutputCard()), Port(303)));
        m_outputLink = LinkTo(secondPort, m_outputComms);
    } else {
        m_boardBridge.reset(
            new CalibBoardSerialBridge(m_board, Port(303, CalibBoardLink::BaudRate)));
    }
    m_inputLink = LinkTo(cardPort, m_inputComms);
}

ServedRig::~ServedRig()
{
    m_inputLink.reset();
    m_outputLink.reset();
    m_inputComms.reset();
    m_outputComms.reset();
    m_boardBridge.reset();
    m_outputBridge.reset();
    m_inputBridge.reset();
    ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
}

std::unique_ptr<ModbusMasterDatalink>
ServedRig::LinkTo(int port, std::unique_ptr<AutoReconnectSerialComms>& comms)
{
    comms.reset(new AutoReconnectSerialComms(this, Port(port)));
    std::unique_ptr<ModbusMasterDatalink> link(new ModbusMasterDatalink(comms.get()));
    // The port opens on the comms' own thread: ask until the card answers.
    ModbusMaster master(*link);
    for (int attempt = 0;; ++attempt) {
        try {
            master.ReadInputRegister(65433).get();
            return link;
        } catch (const std::exception&) {
            if (attempt > 20)
                throw std::runtime_error("the served card does not answer");
        }
    }
}
