#include "calibration/CalibMaths.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <boost/chrono/system_clocks.hpp>
#include <boost/thread/thread.hpp>
#include <boost/throw_exception.hpp>

#include "calibration/CalibSettings.h"
#include "comms/ExceptionWithString.h"
#include "protocol/TolvarenCommsCommon.h"

namespace CalibMaths {

namespace {

const double nearVertical = 1e-6;
// (313657 + 820) / 313657: the open-circuit reading sits across the 820 ohm pull-up and the
// input resistance, so the mean voltage is scaled up to the rail.
const double railCorrection = 1.0026143207388962;

[[noreturn]] void Fail(const std::string& message)
{
    boost::throw_exception(ExceptionWithString(message));
}

struct FitLimits
{
    double minGradient, maxGradient, minIntercept, maxIntercept;
    const char* pointWord;
};
const FitLimits inputLimits{0.005, 0.03, -40.0, 40.0, "input"};
const FitLimits outputLimits{0.001, 0.008, -200.0, 200.0, "output"};

// Limits are inclusive: a value exactly on a limit passes.
void CheckAndStore(CalibResults& results, int path, unsigned index, const StraightLine& line,
                   const FitLimits& limits)
{
    const std::string point = std::string(limits.pointWord) + " " + std::to_string(index + 1);
    if (line.gradient < limits.minGradient || line.gradient > limits.maxGradient) {
        Fail("the gradient of the fitted straight line is too far off for " + point + ": " +
             ExactNumberText(line.gradient));
    }
    if (line.intercept < limits.minIntercept || line.intercept > limits.maxIntercept) {
        Fail("the intercept of the fitted straight line is too far off for " + point + ": " +
             ExactNumberText(line.intercept));
    }
    results.SetLine(path, index, static_cast<float>(line.intercept),
                    static_cast<float>(line.gradient));
}

// Volts on input index through the voltage line of the same run.
double VoltsOf(const CalibResults::PointValues& intercepts,
               const CalibResults::PointValues& gradients, unsigned index, double raw)
{
    if (gradients[index] == 0.0f)
        Fail("no voltage cal data so can't do resistance cal");
    return double(intercepts[index]) + double(gradients[index]) * raw;
}

} // namespace

double ReadRawAveraged(TolvarenCommsCommon& card, unsigned index, unsigned allowedJitter)
{
    const CalibSettings& settings = CalibSettings::Instance();
    typedef boost::chrono::steady_clock Clock;
    const Clock::time_point deadline =
        Clock::now() + boost::chrono::milliseconds(settings.sampleDurationMs);
    const std::uint16_t address =
        static_cast<std::uint16_t>(TolvarenCommsCommon::baseRawValue + index);

    std::uint16_t value = card.ReadSingleRegister(false, address).get();
    // 64 bits: a fast link can take more than 65536 samples of up to 65535 in one call.
    std::uint64_t sum = value;
    std::uint16_t minimum = value, maximum = value;
    long n = 1;
    while (n < settings.minSamples || Clock::now() < deadline) {
        value = card.ReadSingleRegister(false, address).get();
        sum += value;
        minimum = std::min(minimum, value);
        maximum = std::max(maximum, value);
        ++n;
    }
    const unsigned spread = unsigned(maximum - minimum);
    if (settings.rawScale * spread > double(allowedJitter)) {
        Fail("too much jitter (" + std::to_string(spread) +
             " counts) in reading raw val of IO point number " + std::to_string(index + 1));
    }
    return settings.rawScale * (double(sum) / double(n));
}

void CheckSecondReading(VerifiedCard card, unsigned index, double first, double second,
                        unsigned allowedJitter)
{
    if (std::fabs(first - second) <= double(allowedJitter))
        return;
    std::ostringstream text; // default stream formatting: 6 significant digits
    text << (card == VerifiedCard::Input ? "too much jitter2 (" : "too much jitter(3) (")
         << (first - second) << " counts) in reading raw val of IO point number " << (index + 1);
    Fail(text.str());
}

void VerifyRawReading(VerifiedCard kind, TolvarenCommsCommon& card, unsigned index, double first,
                      unsigned allowedJitter)
{
    const double second = ReadRawAveraged(card, index, allowedJitter);
    CheckSecondReading(kind, index, first, second, allowedJitter);
}

double TheoreticalRawForInput(int path, double x)
{
    const CalibSettings& settings = CalibSettings::Instance();
    switch (path) {
    case VoltagePath:
        return x * double(settings.countsPerVolt);
    case CurrentPath:
        return x * double(settings.countsPerMilliAmp);
    case LowResistancePath:
        return 1000.0 * x / (x + 820.0);
    case HighResistancePath:
        return 1000.0 * x / (x + 10000.0);
    default:
        Fail("Invalid path value");
    }
}

double TheoreticalCodeForOutput(int path, double x)
{
    switch (path) {
    case VoltagePath:
        return x * 400.0;
    case CurrentPath:
        return x * 200.0;
    default:
        Fail("Invalid path value");
    }
}

std::uint16_t OutputCodeToWrite(double theoreticalCode)
{
    // Out-of-range doubles have no defined conversion to an integer: such codes are refused.
    const double truncated = std::trunc(theoreticalCode);
    if (!(std::fabs(truncated) < 9.2e18))
        Fail("output code out of range: " + ExactNumberText(theoreticalCode));
    return static_cast<std::uint16_t>(static_cast<std::int64_t>(truncated) & 0xFFFF);
}

StraightLine CalcStraightLineParams(double xA, double yA, double xB, double yB)
{
    const double d = xB - xA;
    if (std::fabs(d) < nearVertical)
        Fail("CalcStraightLineParams: gradient is too near vertical");
    StraightLine line;
    line.gradient = (yB - yA) / d;
    line.intercept = (yA * xB - yB * xA) / d;
    return line;
}

std::string ExactNumberText(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", 17, value);
    return text;
}

void FitInputPath(CalibResults& results, int path, const RawValues& rawA, const RawValues& rawB,
                  double realA, double realB)
{
    for (unsigned i = 0; i < CalibResults::numPoints; ++i) {
        CheckAndStore(results, path, i, CalcStraightLineParams(rawA[i], realA, rawB[i], realB),
                      inputLimits);
    }
}

void FitOutputPath(CalibResults& results, int path, unsigned first, double theoA, double theoB,
                   const RawValues& measuredA, const RawValues& measuredB)
{
    for (unsigned i = first; i < CalibResults::numPoints; ++i) {
        CheckAndStore(results, path, i,
                      CalcStraightLineParams(theoA, measuredA[i], theoB, measuredB[i]),
                      outputLimits);
    }
}

double EffectiveReferenceOhms(double r)
{
    return r * inputResistanceOhms / (r + inputResistanceOhms);
}

float RailVoltage(const CalibResults& voltageCal, const RawValues& openCircuitRaw)
{
    const auto intercepts = voltageCal.Intercepts(VoltagePath);
    const auto gradients = voltageCal.Gradients(VoltagePath);
    double sum = 0.0;
    for (unsigned i = 0; i < CalibResults::numPoints; ++i)
        sum += VoltsOf(intercepts, gradients, i, openCircuitRaw[i]);
    return static_cast<float>(sum * railCorrection * 0.0625);
}

PullUpEstimate EstimatePullUps(CalibResults& results, int path, float railVoltage,
                               const RawValues& rawA, const RawValues& rawB, double effectiveOhmsA,
                               double effectiveOhmsB)
{
    const auto intercepts = results.Intercepts(VoltagePath);
    const auto gradients = results.Gradients(VoltagePath);
    PullUpEstimate estimate;
    for (unsigned i = 0; i < CalibResults::numPoints; ++i) {
        const double vA = VoltsOf(intercepts, gradients, i, rawA[i]);
        const double vB = VoltsOf(intercepts, gradients, i, rawB[i]);
        // A path that reads no voltage (broken, or not routed) would store an infinite or
        // negative resistance into the card.
        if (!(vA > 0.0) || !(vB > 0.0)) {
            Fail("the pull-up resistance cannot be computed for input " + std::to_string(i + 1) +
                 ": its measured voltage is not above 0 V");
        }
        estimate.ohmsA[i] = (double(railVoltage) - vA) * effectiveOhmsA / vA;
        estimate.ohmsB[i] = (double(railVoltage) - vB) * effectiveOhmsB / vB;
        const double mean = (estimate.ohmsA[i] + estimate.ohmsB[i]) * 0.5;
        results.SetPullUpOhms(path, i, static_cast<float>(mean));
    }
    return estimate;
}

ByteVec CalibrationBlockBytes(const float* values, std::size_t count)
{
    ByteVec bytes;
    bytes.reserve(4 * count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &values[i], sizeof bits);
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<unsigned char>(bits >> shift));
    }
    return bytes;
}

} // namespace CalibMaths
