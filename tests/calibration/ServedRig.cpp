#include "tests/calibration/ServedRig.h"

#include <cstdlib>
#include <stdexcept>

#include "modbus/ModbusMaster.h"

namespace {

SerialPortSettings Port(int number)
{
    SerialPortSettings settings;
    settings.port = number;
    settings.baudRate = 115200;
    return settings;
}

} // namespace

ServedRig::ServedRig(CalibrationRig::Kind kind, const CalibrationRig::Setup& setup)
{
    const std::string ports = m_cardCable.PathA() + ":" + m_secondCable.PathA() + ":" +
                              m_cardCable.PathB() + ":" + m_secondCable.PathB();
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", ports.c_str(), 1);
    m_served.reset(new RigSerialBridges(kind, setup, 302, 303, 115200));
    if (kind == CalibrationRig::Kind::OutputCard)
        m_outputLink = LinkTo(secondPort, m_outputComms);
    m_inputLink = LinkTo(cardPort, m_inputComms);
}

ServedRig::~ServedRig()
{
    m_inputLink.reset();
    m_outputLink.reset();
    m_inputComms.reset();
    m_outputComms.reset();
    m_served.reset();
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
