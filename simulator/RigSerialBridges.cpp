#include "simulator/RigSerialBridges.h"

#include <boost/shared_ptr.hpp>

#include "simulator/CalibBoardSerialBridge.h"
#include "simulator/SimulatedCalibBoard.h"
#include "simulator/SimulatorSerialBridge.h"

namespace {

const int boardBaud = 9600;

// The rig owns its cards; a bridge only borrows one.
boost::shared_ptr<ModbusSimulator> Borrowed(FullCardSimulator& card)
{
    return boost::shared_ptr<ModbusSimulator>(&card, [](ModbusSimulator*) {});
}

SerialPortSettings Port(int number, int baud)
{
    SerialPortSettings settings;
    settings.port = number;
    settings.baudRate = baud;
    return settings;
}

} // namespace

RigSerialBridges::RigSerialBridges(CalibrationRig::Kind kind, const CalibrationRig::Setup& setup,
                                   int cardPort, int secondPort, int cardBaud)
    : m_board(std::make_shared<SimulatedCalibBoard>())
{
    SimulatedCalibBoard* board = m_board.get();
    m_rig.reset(new CalibrationRig(kind, setup, [board](unsigned i) { return board->RouteOf(i); }));
    m_inputBridge.reset(
        new SimulatorSerialBridge(Borrowed(m_rig->InputCard()), Port(cardPort, cardBaud)));
    if (kind == CalibrationRig::Kind::OutputCard) {
        m_outputBridge.reset(new SimulatorSerialBridge(Borrowed(*m_rig->OutputCard()),
                                                       Port(secondPort, cardBaud)));
    } else {
        m_boardBridge.reset(new CalibBoardSerialBridge(m_board, Port(secondPort, boardBaud)));
    }
}

RigSerialBridges::~RigSerialBridges()
{
    m_boardBridge.reset();
    m_outputBridge.reset();
    m_inputBridge.reset();
}
