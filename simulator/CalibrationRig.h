#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "simulator/CalibBoardRoute.h"
#include "simulator/FullCardSimulator.h"

// The cards of a calibration bench and the physics between them.
//
// Input-Card rig: a Tolvaren Input Card whose input i reads what the calibration board routes
// to it (the route function): a reference voltage or current, or a reference resistor (the
// selection's resistors in parallel, always with the card's 313657 ohm input resistance) against
// the input's own pull-up to the card's rail, read on the voltage scale; nothing routed reads
// about 0. Output-Card rig: a Tolvaren Output Card whose output i is wired to input i of an
// Input Card; the input reads the output's voltage, or, for outputs 13-16 once the jumpers for
// current are fitted, its current.
//
// Every input has its own true gain and offset (for voltage and for current), pull-ups and the
// card one rail; every output its own true voltage and current line. They are drawn from the
// seed and may be replaced; tests read them to judge a calibration. Noise (ADC counts, uniform)
// is drawn from the same seeded generator. The raw register holds ADC counts, 64 per count
// from register-map version 8 on; 100 counts/V and 50 counts/mA nominal, 85.25 and 49.2125
// from hardware revision 3 on.
//
// Threads: every member may be called from any thread. The inputs are computed under the Input
// Card's state lock, with the rig's own lock, and then take the Output Card's lock; the route
// function runs there too and must not call back into the rig or the cards.
class CalibrationRig
{
public:
    typedef std::function<CalibBoardRoute(unsigned input)> RouteFunction;

    enum class Kind { InputCard, OutputCard };

    struct Setup
    {
        std::uint16_t registerMapVersion = 10;
        std::uint16_t hardwareRevision = 3;
        std::uint16_t inputCardSerial = 0; // 0: not set
        std::uint16_t outputCardSerial = 0;
        std::uint32_t seed = 1;
    };

    // What the board really produces: the calibration parameters' defaults.
    struct References
    {
        double voltsA = 3.0, voltsB = 9.0;
        double milliAmpsA = 1.0, milliAmpsB = 9.0;
        double lowerOhmsA = 100.0, lowerOhmsB = 1000.0;
        double upperOhmsA = 3000.0, upperOhmsB = 30000.0;
    };

    // An input reads gain x nominal counts per unit x value + offset (ADC counts).
    struct InputErrors
    {
        double voltageGain = 1.0, voltageOffset = 0.0;
        double currentGain = 1.0, currentOffset = 0.0;
        double pullUpLowOhms = 820.0, pullUpHighOhms = 10000.0;
    };
    // An output drives gain x code / 400 + offset volts, or gain x code / 200 + offset mA.
    struct OutputErrors
    {
        double voltageGain = 1.0, voltageOffset = 0.0;
        double currentGain = 1.0, currentOffset = 0.0;
    };
    // real = intercept + gradient x raw, raw in ADC counts (inputs) or the output code.
    struct Line
    {
        double intercept = 0.0;
        double gradient = 0.0;
    };

    static constexpr unsigned numPoints = 16;
    static constexpr double inputResistanceOhms = 313657.0;
    // Board path codes.
    static constexpr std::uint8_t voltagePath = 1, currentPath = 0x12, lowOhmsPath = 4,
                                  highOhmsPath = 8;

    CalibrationRig(Kind kind, const Setup& setup, RouteFunction route = RouteFunction());
    ~CalibrationRig();
    CalibrationRig(const CalibrationRig&) = delete;
    CalibrationRig& operator=(const CalibrationRig&) = delete;

    FullCardSimulator& InputCard() { return *m_inputCard; }
    // nullptr on an Input-Card rig.
    FullCardSimulator* OutputCard() { return m_outputCard.get(); }

    // The board's routing (an Input-Card rig); empty routes nothing.
    void SetRoute(RouteFunction route);
    void SetJumpersForCurrent(bool fitted);
    bool JumpersForCurrent() const;
    // Peak noise in ADC counts on every reading; 0 (the default) for none.
    void SetNoise(double peakCounts);

    References BoardReferences() const { return m_references; }
    InputErrors TrueInputErrors(unsigned input) const;
    void SetInputErrors(unsigned input, const InputErrors& errors);
    OutputErrors TrueOutputErrors(unsigned output) const;
    void SetOutputErrors(unsigned output, const OutputErrors& errors);
    double TrueRailVolts() const;
    void SetRailVolts(double volts);
    // The line a perfect calibration finds: path 0 voltage, 1 current.
    Line TrueInputLine(int path, unsigned input) const;
    Line TrueOutputLine(int path, unsigned output) const;
    double CountsPerVolt() const;
    double CountsPerMilliAmp() const;

    // Stores the Input Card's true voltage and current lines into it, as a finished
    // calibration would (the measuring card of an Output-Card rig).
    void CalibrateInputCardExactly();

private:
    FullCardSimulator::AnalogReading ReadInput(unsigned input);
    double ReferenceOhms(const CalibBoardRoute& route) const;

    const Setup m_setup;
    const References m_references;
    mutable boost::mutex m_mutex; // guards everything below
    RouteFunction m_route;
    bool m_jumpers = false;
    double m_noise = 0.0;
    double m_railVolts = 9.9;
    std::vector<InputErrors> m_inputErrors;
    std::vector<OutputErrors> m_outputErrors;
    std::mt19937 m_random;

    // Last: the cards go first, so no reading runs into a rig being destroyed.
    std::unique_ptr<FullCardSimulator> m_outputCard;
    std::unique_ptr<FullCardSimulator> m_inputCard;
};
