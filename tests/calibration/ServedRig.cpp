#include "tests/calibration/ServedRig.h"

#include <cstdlib>
#include <stdexcept>

#include <gtest/gtest.h>

#include "modbus/ModbusMaster.h"
#include "protocol/TolvarenCommsCommon.h"

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

void ExpectStoredInputCalibrationMatchesRig(ModbusMasterDatalink& link, CalibrationRig& rig,
                                            const CalibParams& p)
{
    TolvarenCommsCommon card(link);
    const std::vector<double> references[2] = {{p.voltsA, p.voltsB}, {p.milliAmpsA, p.milliAmpsB}};
    for (int path : {0, 1}) {
        const auto intercepts = card.ReadCalibrationBlock(std::uint8_t(2 * path)).get();
        const auto gradients = card.ReadCalibrationBlock(std::uint8_t(2 * path + 1)).get();
        ASSERT_EQ(intercepts.size(), 16u);
        ASSERT_EQ(gradients.size(), 16u);
        const double perUnit = path == 0 ? rig.CountsPerVolt() : rig.CountsPerMilliAmp();
        for (unsigned i = 0; i < 16; ++i) {
            const CalibrationRig::Line truth = rig.TrueInputLine(path, i);
            for (double real : references[path]) {
                const double raw = real * perUnit;
                EXPECT_NEAR(intercepts[i] + gradients[i] * raw,
                            truth.intercept + truth.gradient * raw, truth.gradient)
                    << "path " << path << " input " << i + 1;
            }
        }
    }
    const auto rail = card.ReadCalibrationBlock(4).get();
    ASSERT_EQ(rail.size(), 1u);
    EXPECT_NEAR(rail[0], rig.TrueRailVolts(), 0.002 * rig.TrueRailVolts());
    for (int block : {5, 6}) {
        const auto pullUps = card.ReadCalibrationBlock(std::uint8_t(block)).get();
        ASSERT_EQ(pullUps.size(), 16u);
        for (unsigned i = 0; i < 16; ++i) {
            const auto e = rig.TrueInputErrors(i);
            const double truth = block == 5 ? e.pullUpLowOhms : e.pullUpHighOhms;
            EXPECT_NEAR(pullUps[i], truth, 0.015 * truth) << "block " << block << " " << i;
        }
    }
    EXPECT_EQ(card.ReadCalibrationBlock(7).get(), std::vector<float>{float(p.inductorResistance)});
}
