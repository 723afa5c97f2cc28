#pragma once

#include <string>
#include <vector>

#include <QDateTime>

#include "protocol/TolvarenSnapshot.h"

// What a card report is made from: one full reading of the card, its control modules' parameters
// and, when asked for, the 8-day data of every point. Plain values; no threads.
struct ReportModule
{
    struct Parameter
    {
        std::string name; // without the module's "A_" prefix
        std::string value;
        std::string unit;
        bool writable = false;
    };
    std::string name;
    std::vector<Parameter> parameters;
};

struct EightDayData
{
    bool present = false;
    double secondsPerSample = 900.0;
    QDateTime newest; // local time of every point's last sample
    // One series per point, inputs first, then outputs; NaN marks a gap.
    std::vector<std::vector<float>> series;
};

struct CardReading
{
    TolvarenSnapshot snapshot;
    std::vector<ReportModule> modules;
    EightDayData eightDay;
};
