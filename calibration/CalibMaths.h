#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "calibration/CalibResults.h"
#include "comms/ByteVec.h"

class TolvarenCommsCommon;

// The arithmetic of calibration: averaged raw readings and their jitter checks, the values the
// references should give in theory, the two-point line fit with its plausibility limits and the
// resistance-input model. Failures throw ExceptionWithString with the texts the run reports.
//
// Threads: called by the thread of a calibration run. The card reads wait on boost futures, so
// every wait for a card reply is a thread-interruption point: a run cancelled with
// boost::thread::interrupt stops there with boost::thread_interrupted.
namespace CalibMaths {

enum Path { VoltagePath = 0, CurrentPath = 1, LowResistancePath = 2, HighResistancePath = 3 };

typedef std::array<double, CalibResults::numPoints> RawValues;

// Input register 65400 + index read repeatedly (at least CalibSettings::minSamples times and
// for at least sampleDurationMs), scaled by rawScale. A spread whose scaled value exceeds
// allowedJitter fails; the message shows the spread in the card's own (unscaled) counts.
double ReadRawAveraged(TolvarenCommsCommon& card, unsigned index, unsigned allowedJitter);

// Which card a second reading verifies; each has its own message.
enum class VerifiedCard { Input, Output };
// Fails when the second reading of a point differs from the first by more than allowedJitter.
void CheckSecondReading(VerifiedCard card, unsigned index, double first, double second,
                        unsigned allowedJitter);
// Reads the point once more with ReadRawAveraged and checks it against first.
void VerifyRawReading(VerifiedCard kind, TolvarenCommsCommon& card, unsigned index, double first,
                      unsigned allowedJitter);

// Raw value an Input Card should read for a reference (volts, mA or ohms by path).
double TheoreticalRawForInput(int path, double realValue);
// Output code that should make an Output Card produce realValue (volts or mA by path).
double TheoreticalCodeForOutput(int path, double realValue);
// The code written to the card: truncated toward zero, then its low 16 bits.
std::uint16_t OutputCodeToWrite(double theoreticalCode);

struct StraightLine
{
    double gradient = 0.0;
    double intercept = 0.0;
};
StraightLine CalcStraightLineParams(double xA, double yA, double xB, double yB);

// A number in a fit message: "%.*g" with 17 digits, so the value is shown exactly.
std::string ExactNumberText(double value);

// Input Card voltage or current path: for each input in turn, the line through (rawA, realA)
// and (rawB, realB), checked against the Input Card's limits; the first input outside them
// fails the whole fit. Stores every line into results.
void FitInputPath(CalibResults& results, int path, const RawValues& rawA, const RawValues& rawB,
                  double realA, double realB);
// Output Card voltage or current path, outputs first to 15: the line through (theoA,
// measuredA) and (theoB, measuredB) in real units measured by the calibrated Input Card, checked
// against the Output Card's limits.
void FitOutputPath(CalibResults& results, int path, unsigned first, double theoA, double theoB,
                   const RawValues& measuredA, const RawValues& measuredB);

// Resistance inputs.
// The 313657 ohm input resistance that sits in parallel with every reference resistor.
constexpr double inputResistanceOhms = 313657.0;
double EffectiveReferenceOhms(double nominalOhms);
// The rail from one open-circuit raw reading per input, through the voltage line of the same
// run (path 0 of voltageCal).
float RailVoltage(const CalibResults& voltageCal, const RawValues& openCircuitRaw);
struct PullUpEstimate
{
    RawValues ohmsA{};
    RawValues ohmsB{};
};
// Each input's pull-up from its readings of the two effective references; stores the mean of
// both into results for the path and returns the two estimates (for the log).
PullUpEstimate EstimatePullUps(CalibResults& results, int path, float railVoltage,
                               const RawValues& rawA, const RawValues& rawB, double effectiveOhmsA,
                               double effectiveOhmsB);

// A calibration block as the card stores it: binary32, least significant byte first.
ByteVec CalibrationBlockBytes(const float* values, std::size_t count);

} // namespace CalibMaths
