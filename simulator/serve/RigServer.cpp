#include "simulator/serve/RigServer.h"

#include <cstdio>
#include <cstdlib>

#include "simulator/RigSerialBridges.h"

namespace {

const unsigned boardBaud = 9600;

} // namespace

RigServer::RigServer(CalibrationRig::Kind kind, const CalibrationRig::Setup& setup, double noise,
                     const PacedNullModem::Settings& cardLine)
    : m_kind(kind)
{
    PacedNullModem::Settings secondLine = cardLine;
    if (kind == CalibrationRig::Kind::InputCard)
        secondLine.baudRate = boardBaud;
    m_cardLine.reset(new PacedNullModem(cardLine));
    m_secondLine.reset(new PacedNullModem(secondLine));
    // The cards' ends are opened as serial ports of this process: COM300 and COM301.
    const std::string ports = m_cardLine->CardPath() + ":" + m_secondLine->CardPath();
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", ports.c_str(), 1);
    m_served.reset(new RigSerialBridges(kind, setup, 300, 301, int(cardLine.baudRate)));
    m_served->Rig().SetNoise(noise);
    if (kind == CalibrationRig::Kind::OutputCard)
        m_served->Rig().CalibrateInputCardExactly();
}

RigServer::~RigServer()
{
    // Stop talking before the lines go.
    m_served.reset();
    m_secondLine.reset();
    m_cardLine.reset();
}

const std::string& RigServer::ToolPath(int line) const
{
    return line == 0 ? m_cardLine->ToolPath() : m_secondLine->ToolPath();
}

bool RigServer::ToggleJumpers()
{
    const bool fitted = !m_served->Rig().JumpersForCurrent();
    m_served->Rig().SetJumpersForCurrent(fitted);
    return fitted;
}

std::string RigServer::ErrorsText() const
{
    std::string text;
    char line[256];
    std::snprintf(line, sizeof line, "Rail %.4f V\n", m_served->Rig().TrueRailVolts());
    text += line;
    for (unsigned i = 0; i < CalibrationRig::numPoints; ++i) {
        const auto in = m_served->Rig().TrueInputErrors(i);
        std::snprintf(line, sizeof line,
                      "Input %2u: voltage gain %.5f offset %+.3f counts, current gain %.5f "
                      "offset %+.3f counts, pull-ups %.2f / %.2f ohms\n",
                      i + 1, in.voltageGain, in.voltageOffset, in.currentGain, in.currentOffset,
                      in.pullUpLowOhms, in.pullUpHighOhms);
        text += line;
    }
    if (m_kind == CalibrationRig::Kind::OutputCard) {
        for (unsigned i = 0; i < CalibrationRig::numPoints; ++i) {
            const auto out = m_served->Rig().TrueOutputErrors(i);
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
