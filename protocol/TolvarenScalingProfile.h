#pragma once

#include <map>
#include <string>

#include "protocol/TolvarenTypes.h"

// One entry of a card's scaling profile catalogue: the name shown to the user (up to 32 bytes on
// the card) and the short code text the master controller refers to it by (up to 8 bytes).
// Profile ids 0..119 are catalogue entries; 0xFFFF means digital.
struct TolvarenScalingProfile
{
    std::string name;
    std::string code;

    TolvarenScalingProfile() = default;
    TolvarenScalingProfile(std::string n, std::string c) : name(std::move(n)), code(std::move(c)) {}
};

typedef std::map<int, TolvarenScalingProfile> TolvarenScalingProfileMap;

namespace TolvarenScaling {
const unsigned digitalProfileId = 0xFFFF;
const unsigned numProfileIds = 120;
} // namespace TolvarenScaling

// The unit shown next to values of a point with this profile: "%", "V", "mA", "Ohms", degrees
// Celsius, or empty. Widgets and graphs ask for the degree sign ("°C", UTF-8); the CSV files
// for "degrees C".
std::string UnitFromProfileName(const std::string& name, bool useDegreeSign);

// Whether the profile of this name may be chosen for the point (every point accepts digital).
bool IsScalingProfileAllowed(int cardType, Tolvaren::IoDirection dir, unsigned index,
                             const std::string& name);
