#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "protocol/TolvarenScalingProfile.h"
#include "protocol/TolvarenTypes.h"

// Everything the card face shows, as one plain record. Per-input vectors have one element per
// input point, per-output vectors one per output point. Static fields are filled by a full
// gathering only, dynamic fields by every gathering.
struct TolvarenSnapshot
{
    // ---- Static ----
    int cardType = 0; // 0 until the first full gathering has finished
    std::string firmwareVersion;
    std::uint16_t registerVersion = 0;
    std::uint16_t hardwareRevision = 0;
    std::uint16_t serialNumber = 0;
    std::uint16_t nodeAddress = 0;
    unsigned numInputs = 0;
    unsigned numOutputs = 0;
    boost::shared_ptr<std::map<int, TolvarenScalingProfile>> scalingProfiles;
    std::vector<std::string> inputLabels, outputLabels;
    std::vector<float> inputOffsets, outputOffsets;
    std::vector<std::uint16_t> inputProfileIds, outputProfileIds;
    std::vector<std::int16_t> inputLowerLimits, outputLowerLimits;
    std::vector<std::int16_t> inputUpperLimits, outputUpperLimits;
    std::vector<std::string> inputPartNumbers, outputPartNumbers;
    std::vector<Tolvaren::Date> inputDates, outputDates;
    std::vector<std::string> inputNotes, outputNotes;
    bool notesSupported = false;
    int numControlModules = 0;
    bool trafficLogSupported = false;
    std::string configText;
    bool fullGathering = false;

    // ---- Dynamic ----
    float boardVoltage = 0;
    std::vector<float> inputValues, outputValues;
    std::vector<float> overrideValues;
    std::vector<bool> overrideActive;
    std::uint16_t commsDogBusOffDelay = 0;
    std::uint16_t commsDogOutputsOffDelay = 0;
    bool commsDogTriggered = false;
    bool healthy = false;
    bool calibrated = false;
    bool resetOccurred = false;
    std::vector<std::uint16_t> inputRawValues, outputRawValues;
    std::vector<std::uint32_t> longTermLowTime, longTermHighTime, longTermPulseCount;
    std::vector<float> profiledSafeValues;
    int softDogMinutes = 0;
};
