#include "calibration/CalibSettings.h"

CalibSettings& CalibSettings::Instance()
{
    static CalibSettings settings;
    return settings;
}

void CalibSettings::SetScalesFromCard(std::uint16_t registerMapVersion,
                                      std::uint16_t hardwareRevision)
{
    rawScale = registerMapVersion >= firstVersionWithFineRaw ? 1.0 / 64.0 : 1.0;
    const bool revised = hardwareRevision >= firstRevisedHardware;
    countsPerVolt = revised ? revisedCountsPerVolt : defaultCountsPerVolt;
    countsPerMilliAmp = revised ? revisedCountsPerMilliAmp : defaultCountsPerMilliAmp;
}

void CalibSettings::ResetTiming()
{
    SetTiming(50, 10, 50, 10);
}

void CalibSettings::SetTiming(int initialSettle, int perPointSettle, int sampleDuration,
                              int samples)
{
    initialSettleMs = initialSettle;
    perPointSettleMs = perPointSettle;
    sampleDurationMs = sampleDuration;
    minSamples = samples;
}
