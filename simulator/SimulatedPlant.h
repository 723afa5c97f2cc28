#pragma once

#include <cstdint>

// What the points of the simulated card see and drive. Every input carries a slow wave with a
// ripple (10 s and 250 ms, the shape of the card's live data), each input a little later in the
// wave than the one before; its digital reading is high while the slow wave is in its upper
// half. The 8-day data follow a daily cycle. The card turns signals (0-10 V, raw 0-65535) into
// point values by the point's scaling profile, limits and offset, and back for outputs.
//
// Times are milliseconds of the card's clock (since it started; negative times lie before).
// Stateless: any thread.
class SimulatedPlant
{
public:
    // How one point converts, as its registers say.
    struct PointSetup
    {
        std::uint16_t profileId = 0;
        std::int16_t lowerLimit = 0;
        std::int16_t upperLimit = 100;
        float offset = 0.0f; // added to input values
    };

    static const std::uint16_t digitalProfile = 0xFFFF;
    static const std::int64_t wavePeriodMs = 10000;
    static const std::int64_t dayMs = 86400000;

    // The electrical signal of an input, in volts (0 to 10).
    static double InputVolts(unsigned index, std::int64_t ms);
    // Its digital reading.
    static bool InputHigh(unsigned index, std::int64_t ms);
    // The value an input reports.
    static float InputValue(unsigned index, const PointSetup& setup, std::int64_t ms);
    // The value a point recorded in its 8-day data.
    static float HistoryValue(bool isInput, unsigned index, const PointSetup& setup,
                              std::int64_t ms);

    // Signal to value under a profile (offset not added) and, for outputs, back.
    static float ValueFromVolts(const PointSetup& setup, double volts);
    static double VoltsFromValue(const PointSetup& setup, float value);
    // Full scale is 10 V; volts outside 0-10 V are clipped.
    static std::uint16_t RawFromVolts(double volts);
    static double VoltsFromRaw(std::uint16_t raw);

    // Long-term statistics of an input's digital reading, counted from time 0 (negative before
    // it): milliseconds spent high, and rising edges.
    static std::int64_t HighMsUntil(unsigned index, std::int64_t ms);
    static std::int64_t RisingEdgesUntil(unsigned index, std::int64_t ms);

    // Floor division and its remainder, for times before 0 too.
    static std::int64_t FloorDiv(std::int64_t a, std::int64_t b);
    static std::int64_t FloorMod(std::int64_t a, std::int64_t b);
};
