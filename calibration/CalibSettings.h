#pragma once

#include <cstdint>

// The process-wide scales and timings of raw readings during a calibration run.
//
// Threads: written only by the thread of a running calibration (at its start and between its
// phases); the steps of that run read them on the same thread. Nothing else writes them while a
// run is going, so the fields are plain. Tests set them on their own thread before reading.
struct CalibSettings
{
    static constexpr float defaultCountsPerMilliAmp = 50.0f;
    static constexpr float defaultCountsPerVolt = 100.0f;
    // From hardware revision 3 on.
    static constexpr float revisedCountsPerMilliAmp = 49.2125f;
    static constexpr float revisedCountsPerVolt = 85.25f;
    static constexpr std::uint16_t firstRevisedHardware = 3;
    // From register-map version 8 on the raw register holds 64 counts per ADC count.
    static constexpr std::uint16_t firstVersionWithFineRaw = 8;

    float countsPerMilliAmp = defaultCountsPerMilliAmp;
    float countsPerVolt = defaultCountsPerVolt;
    double rawScale = 1.0;
    int minSamples = 10;
    int sampleDurationMs = 50;
    int perPointSettleMs = 10;
    int initialSettleMs = 50;

    // The one instance of the process.
    static CalibSettings& Instance();

    // All three scale fields from the reference Input Card, both ways: a card that does not
    // meet a condition gets the default back, so an older card calibrated after a newer one is
    // never read with the newer card's scales.
    void SetScalesFromCard(std::uint16_t registerMapVersion, std::uint16_t hardwareRevision);
    // The timing fields a run starts with: 10 samples, 50 ms, 10 ms, 50 ms.
    void ResetTiming();
    void SetTiming(int initialSettle, int perPointSettle, int sampleDuration, int samples);
};
