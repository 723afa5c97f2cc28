#include "simulator/SimulatedPlant.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <string>

#include "simulator/DEDOCardSimulator.h"

namespace {

const double pi = 3.14159265358979323846;
const double fullScaleVolts = 10.0;
const std::int64_t ripplePeriodMs = 250;
const unsigned pointsPerWave = 24; // inputs spread over one slow wave

// How a profile reads its signal: value = a + b * volts, or the digital reading.
struct Conversion
{
    bool digital = false;
    double a = 0.0;
    double b = 1.0;
};

bool Contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

// What a profile's name says about its reading, as a user reads it: "Voltage 2-10V <-> 0-100%"
// spans 2 to 10 V, "lower-upper" profiles span the point's limits, thermistors read degrees.
struct ProfileReading
{
    enum Kind { Plain, Limits, Percent, Ohms, Degrees, MilliAmps } kind = Plain;
    double low = 0.0;
    double high = fullScaleVolts;
};

ProfileReading ReadingOfName(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    ProfileReading r;
    if (Contains(name, "2-10v"))
        r.low = 2.0;
    else if (Contains(name, "0-5v"))
        r.high = 5.0;
    if (Contains(name, "lower-upper"))
        r.kind = ProfileReading::Limits;
    else if (Contains(name, "%") || Contains(name, "potentiometer"))
        r.kind = ProfileReading::Percent;
    else if (Contains(name, "ohms"))
        r.kind = ProfileReading::Ohms;
    else if (Contains(name, "thermistor") || Contains(name, "pt100") || Contains(name, "ptc "))
        r.kind = ProfileReading::Degrees;
    else if (Contains(name, "current") || Contains(name, "milliamps"))
        r.kind = ProfileReading::MilliAmps;
    return r;
}

// Unknown profiles read the signal as it is.
ProfileReading ReadingOf(std::uint16_t profileId)
{
    static const std::map<unsigned, ProfileReading> readings = [] {
        std::map<unsigned, ProfileReading> byId;
        for (const auto& profile : DEDOCardSimulator::ScalingProfileCatalogue())
            byId[profile.id] = ReadingOfName(profile.name);
        return byId;
    }();
    const auto it = readings.find(profileId);
    return it == readings.end() ? ProfileReading() : it->second;
}

Conversion ConversionOf(const SimulatedPlant::PointSetup& setup)
{
    Conversion c;
    if (setup.profileId == SimulatedPlant::digitalProfile) {
        c.digital = true;
        return c;
    }
    const ProfileReading r = ReadingOf(setup.profileId);
    switch (r.kind) {
    case ProfileReading::Limits:
        c.b = (setup.upperLimit - setup.lowerLimit) / (r.high - r.low);
        c.a = setup.lowerLimit - c.b * r.low;
        break;
    case ProfileReading::Percent:
        c.b = 100.0 / (r.high - r.low);
        c.a = -c.b * r.low;
        break;
    case ProfileReading::Ohms:
        c.b = 1000.0;
        break;
    case ProfileReading::Degrees:
        c.a = 10.0; // 10 to 40 degrees
        c.b = 3.0;
        break;
    case ProfileReading::MilliAmps:
        c.a = 4.0; // 4 to 20 mA
        c.b = 1.6;
        break;
    case ProfileReading::Plain:
        break;
    }
    return c;
}

std::int64_t PhaseMs(unsigned index)
{
    return static_cast<std::int64_t>(index % pointsPerWave) * SimulatedPlant::wavePeriodMs /
           pointsPerWave;
}

double Sine(std::int64_t ms, std::int64_t periodMs)
{
    return std::sin(2 * pi * static_cast<double>(SimulatedPlant::FloorMod(ms, periodMs)) /
                    static_cast<double>(periodMs));
}

} // namespace

std::int64_t SimulatedPlant::FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t SimulatedPlant::FloorMod(std::int64_t a, std::int64_t b)
{
    return a - FloorDiv(a, b) * b;
}

double SimulatedPlant::InputVolts(unsigned index, std::int64_t ms)
{
    return 5.0 + 4.5 * Sine(ms + PhaseMs(index), wavePeriodMs) + 0.5 * Sine(ms, ripplePeriodMs);
}

bool SimulatedPlant::InputHigh(unsigned index, std::int64_t ms)
{
    return FloorMod(ms + PhaseMs(index), wavePeriodMs) < wavePeriodMs / 2;
}

float SimulatedPlant::InputValue(unsigned index, const PointSetup& setup, std::int64_t ms)
{
    if (setup.profileId == digitalProfile)
        return InputHigh(index, ms) ? 1.0f : 0.0f;
    return ValueFromVolts(setup, InputVolts(index, ms)) + setup.offset;
}

float SimulatedPlant::HistoryValue(bool isInput, unsigned index, const PointSetup& setup,
                                   std::int64_t ms)
{
    // A day's cycle, each point at its own hour, with a slower drift on top.
    const std::int64_t shift = (isInput ? 0 : dayMs / 2) + dayMs * (index % 24) / 24;
    const double volts =
        5.0 + 4.0 * Sine(ms + shift, dayMs) + 0.8 * Sine(ms + shift / 3, 19 * 3600 * 1000LL);
    const float value = ValueFromVolts(setup, volts);
    return isInput && setup.profileId != digitalProfile ? value + setup.offset : value;
}

float SimulatedPlant::ValueFromVolts(const PointSetup& setup, double volts)
{
    const Conversion c = ConversionOf(setup);
    if (c.digital)
        return volts >= fullScaleVolts / 2 ? 1.0f : 0.0f;
    return static_cast<float>(c.a + c.b * volts);
}

double SimulatedPlant::VoltsFromValue(const PointSetup& setup, float value)
{
    const Conversion c = ConversionOf(setup);
    if (c.digital)
        return value >= 0.5f ? fullScaleVolts : 0.0;
    if (c.b == 0.0) // lower-upper with equal limits
        return 0.0;
    return (value - c.a) / c.b;
}

std::uint16_t SimulatedPlant::RawFromVolts(double volts)
{
    const double clipped = std::min(std::max(volts, 0.0), fullScaleVolts);
    return static_cast<std::uint16_t>(std::lround(clipped / fullScaleVolts * 65535.0));
}

double SimulatedPlant::VoltsFromRaw(std::uint16_t raw)
{
    return raw / 65535.0 * fullScaleVolts;
}

std::int64_t SimulatedPlant::HighMsUntil(unsigned index, std::int64_t ms)
{
    const std::int64_t u = ms + PhaseMs(index);
    const std::int64_t half = wavePeriodMs / 2;
    return FloorDiv(u, wavePeriodMs) * half + std::min(FloorMod(u, wavePeriodMs), half);
}

std::int64_t SimulatedPlant::RisingEdgesUntil(unsigned index, std::int64_t ms)
{
    // The reading goes high where the slow wave starts a period.
    return FloorDiv(ms + PhaseMs(index), wavePeriodMs);
}
