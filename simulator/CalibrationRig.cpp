#include "simulator/CalibrationRig.h"

#include <algorithm>
#include <cmath>

#include <boost/thread/lock_guard.hpp>

namespace {

// Current outputs and the inputs they are wired to: 13 to 16.
const unsigned firstCurrentOutput = 12;

double Uniform(std::mt19937& random, double from, double to)
{
    return std::uniform_real_distribution<double>(from, to)(random);
}

double Parallel(double a, double b)
{
    return a * b / (a + b);
}

} // namespace

CalibrationRig::CalibrationRig(Kind kind, const Setup& setup, RouteFunction route)
    : m_setup(setup), m_route(std::move(route)), m_inputErrors(numPoints),
      m_outputErrors(numPoints), m_random(setup.seed)
{
    // Errors a real bench shows: gains within 2 %, offsets of a few counts, pull-ups within
    // 2 % of their nominal value, a rail that reads a little under 1000 counts (so a raw reading
    // of it fits the register even with a gain above 1): about 10 V, or 12 V on the boards of
    // hardware revision 3 on, whose inputs count 85.25 per volt.
    m_railVolts = Uniform(m_random, 9.85, 9.95);
    if (setup.hardwareRevision >= 3)
        m_railVolts *= 100.0 / 85.25;
    for (InputErrors& e : m_inputErrors) {
        e.voltageGain = Uniform(m_random, 0.98, 1.02);
        e.voltageOffset = Uniform(m_random, -3.0, 3.0);
        e.currentGain = Uniform(m_random, 0.98, 1.02);
        e.currentOffset = Uniform(m_random, -3.0, 3.0);
        e.pullUpLowOhms = 820.0 * Uniform(m_random, 0.98, 1.02);
        e.pullUpHighOhms = 10000.0 * Uniform(m_random, 0.98, 1.02);
    }
    for (OutputErrors& e : m_outputErrors) {
        e.voltageGain = Uniform(m_random, 0.97, 1.03);
        e.voltageOffset = Uniform(m_random, -0.05, 0.05);
        e.currentGain = Uniform(m_random, 0.97, 1.03);
        e.currentOffset = Uniform(m_random, -0.05, 0.05);
    }

    if (kind == Kind::OutputCard) {
        m_outputCard.reset(
            new FullCardSimulator(CardModel::Make(CardModel::outputCard, setup.registerMapVersion,
                                                  setup.hardwareRevision, setup.outputCardSerial)));
    }
    m_inputCard.reset(
        new FullCardSimulator(CardModel::Make(CardModel::inputCard, setup.registerMapVersion,
                                              setup.hardwareRevision, setup.inputCardSerial)));
    m_inputCard->SetAnalogInputs([this](unsigned input) { return ReadInput(input); });
}

CalibrationRig::~CalibrationRig() = default;

void CalibrationRig::SetRoute(RouteFunction route)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_route = std::move(route);
}

void CalibrationRig::SetJumpersForCurrent(bool fitted)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_jumpers = fitted;
}

bool CalibrationRig::JumpersForCurrent() const
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    return m_jumpers;
}

void CalibrationRig::SetNoise(double peakCounts)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_noise = std::fabs(peakCounts);
}

CalibrationRig::InputErrors CalibrationRig::TrueInputErrors(unsigned input) const
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    return m_inputErrors.at(input);
}

void CalibrationRig::SetInputErrors(unsigned input, const InputErrors& errors)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_inputErrors.at(input) = errors;
}

CalibrationRig::OutputErrors CalibrationRig::TrueOutputErrors(unsigned output) const
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    return m_outputErrors.at(output);
}

void CalibrationRig::SetOutputErrors(unsigned output, const OutputErrors& errors)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_outputErrors.at(output) = errors;
}

double CalibrationRig::TrueRailVolts() const
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    return m_railVolts;
}

void CalibrationRig::SetRailVolts(double volts)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_railVolts = volts;
}

double CalibrationRig::CountsPerVolt() const
{
    return m_setup.hardwareRevision >= 3 ? 85.25 : 100.0;
}

double CalibrationRig::CountsPerMilliAmp() const
{
    return m_setup.hardwareRevision >= 3 ? 49.2125 : 50.0;
}

CalibrationRig::Line CalibrationRig::TrueInputLine(int path, unsigned input) const
{
    const InputErrors e = TrueInputErrors(input);
    const double countsPerUnit =
        path == 1 ? CountsPerMilliAmp() * e.currentGain : CountsPerVolt() * e.voltageGain;
    const double offset = path == 1 ? e.currentOffset : e.voltageOffset;
    // counts = countsPerUnit x real + offset, solved for real.
    return Line{-offset / countsPerUnit, 1.0 / countsPerUnit};
}

CalibrationRig::Line CalibrationRig::TrueOutputLine(int path, unsigned output) const
{
    const OutputErrors e = TrueOutputErrors(output);
    return path == 1 ? Line{e.currentOffset, e.currentGain / 200.0}
                     : Line{e.voltageOffset, e.voltageGain / 400.0};
}

void CalibrationRig::CalibrateInputCardExactly()
{
    for (int path = 0; path < 2; ++path) {
        std::vector<float> intercepts, gradients;
        for (unsigned i = 0; i < numPoints; ++i) {
            const Line line = TrueInputLine(path, i);
            intercepts.push_back(static_cast<float>(line.intercept));
            gradients.push_back(static_cast<float>(line.gradient));
        }
        m_inputCard->StoreCalibrationValues(unsigned(2 * path), intercepts);
        m_inputCard->StoreCalibrationValues(unsigned(2 * path + 1), gradients);
    }
}

double CalibrationRig::ReferenceOhms(const CalibBoardRoute& route) const
{
    const double resistors[4] = {m_references.lowerOhmsA, m_references.lowerOhmsB,
                                 m_references.upperOhmsA, m_references.upperOhmsB};
    double ohms = inputResistanceOhms;
    for (unsigned bit = 0; bit < 4; ++bit) {
        if (route.selection & (1u << bit))
            ohms = Parallel(ohms, resistors[bit]);
    }
    return ohms;
}

FullCardSimulator::AnalogReading CalibrationRig::ReadInput(unsigned input)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    const InputErrors& e = m_inputErrors.at(input);
    auto voltageCounts = [&](double volts) {
        return CountsPerVolt() * e.voltageGain * volts + e.voltageOffset;
    };
    auto currentCounts = [&](double milliAmps) {
        return CountsPerMilliAmp() * e.currentGain * milliAmps + e.currentOffset;
    };
    FullCardSimulator::AnalogReading reading;
    double counts = voltageCounts(0.0);
    if (m_outputCard) {
        const OutputErrors& o = m_outputErrors.at(input);
        const double code = m_outputCard->OutputCode(input);
        if (m_jumpers && input >= firstCurrentOutput) {
            counts = currentCounts(o.currentGain * code / 200.0 + o.currentOffset);
            reading.path = 1;
        } else {
            counts = voltageCounts(o.voltageGain * code / 400.0 + o.voltageOffset);
        }
    } else {
        const CalibBoardRoute route = m_route ? m_route(input) : CalibBoardRoute();
        const auto pick = [&route](double a, double b) {
            return route.selection == 1 ? a : route.selection == 2 ? b : 0.0;
        };
        switch (route.pathCode) {
        case voltagePath:
            counts = voltageCounts(pick(m_references.voltsA, m_references.voltsB));
            break;
        case currentPath:
            counts = currentCounts(pick(m_references.milliAmpsA, m_references.milliAmpsB));
            reading.path = 1;
            break;
        case lowOhmsPath:
        case highOhmsPath: {
            const double pullUp =
                route.pathCode == lowOhmsPath ? e.pullUpLowOhms : e.pullUpHighOhms;
            const double ohms = ReferenceOhms(route);
            counts = voltageCounts(m_railVolts * ohms / (ohms + pullUp));
            break;
        }
        default:
            break;
        }
    }
    if (m_noise > 0.0)
        counts += Uniform(m_random, -m_noise, m_noise);
    const double perCount = m_setup.registerMapVersion >= 8 ? 64.0 : 1.0;
    reading.raw =
        static_cast<std::uint16_t>(std::lround(std::clamp(counts * perCount, 0.0, 65535.0)));
    return reading;
}
