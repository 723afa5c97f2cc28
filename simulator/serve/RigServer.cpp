#include "simulator/serve/RigServer.h"

#include <cstdio>
#include <cstdlib>

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

SerialPortSettings Port(int number, unsigned baud)
{
    SerialPortSettings settings;
    settings.port = number;
    settings.baudRate = int(baud);
    return settings;
}

} // namespace

RigServer::RigServer(CalibrationRig::Kind kind, const CalibrationRig::Setup& setup, double noise,
                     const PacedNullModem::Settings& cardLine)
    : m_kind(kind), m_board(std::make_shared<SimulatedCalibBoard>())
{
    SimulatedCalibBoard* board = m_board.get();
    m_rig.reset(new CalibrationRig(kind, setup, [board](unsigned i) { return board->RouteOf(i); }));
    m_rig->SetNoise(noise);
    PacedNullModem::Settings secondLine = cardLine;
    if (kind == CalibrationRig::Kind::InputCard)
        secondLine.baudRate = boardBaud;
    m_cardLine.reset(new PacedNullModem(cardLine));
    m_secondLine.reset(new PacedNullModem(secondLine));
    // The cards' ends are opened as serial ports of this process: COM300 and COM301.
    const std::string ports = m_cardLine->CardPath() + ":" + m_secondLine->CardPath();
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", ports.c_str(), 1);
    m_inputBridge.reset(
        new SimulatorSerialBridge(Borrowed(m_rig->InputCard()), Port(300, cardLine.baudRate)));
    if (kind == CalibrationRig::Kind::OutputCard) {
        m_rig->CalibrateInputCardExactly();
        m_outputBridge.reset(new SimulatorSerialBridge(Borrowed(*m_rig->OutputCard()),
                                                       Port(301, cardLine.baudRate)));
    } else {
        m_boardBridge.reset(new CalibBoardSerialBridge(m_board, Port(301, boardBaud)));
    }
}

RigServer::~RigServer()
{
    // Stop talking before the lines go, and the lines before the rig.
    m_boardBridge.reset();
    m_outputBridge.reset();
    m_inputBridge.reset();
    m_secondLine.reset();
    m_cardLine.reset();
}

const std::string& RigServer::ToolPath(int line) const
{
    return line == 0 ? m_cardLine->ToolPath() : m_secondLine->ToolPath();
}

bool RigServer::ToggleJumpers()
{
    const bool fitted = !m_rig->JumpersForCurrent();
    m_rig->SetJumpersForCurrent(fitted);
    return fitted;
}

std::string RigServer::ErrorsText() const
{
    std::string text;
    char line[256];
    std::snprintf(line, sizeof line, "Rail %.4f V\n", m_rig->TrueRailVolts());
    text += line;
    for (unsigned i = 0; i < CalibrationRig::numPoints; ++i) {
        const auto in = m_rig->TrueInputErrors(i);
        std::snprintf(line, sizeof line,
                      "Input %2u: voltage gain %.5f offset %+.3f counts, current gain %.5f "
                      "offset %+.3f counts, pull-ups %.2f / %.2f ohms\n",
                      i + 1, in.voltageGain, in.voltageOffset, in.currentGain, in.currentOffset,
                      in.pullUpLowOhms, in.pullUpHighOhms);
        text += line;
    }
    if (m_kind == CalibrationRig::Kind::OutputCard) {
        for (unsigned i = 0; i < CalibrationRig::numPoints; ++i) {
            const auto out = m_rig->TrueOutputErrors(i);
            std::snprintf(line, sizeof line,
                          "Output %2u: voltage gain %.5f offset %+.4f V, current gain %.5f "
                          "offset %+.4f mA\n",
                          i + 1, out.voltageGain, out.voltageOffset, out.currentGain,
                          out.currentOffset);
            text += line;
        }
    }
    return text;
}
