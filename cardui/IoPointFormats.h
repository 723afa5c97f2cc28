#pragma once

#include <cstdint>
#include <map>

#include <QString>

#include "protocol/TolvarenScalingProfile.h"
#include "protocol/TolvarenTypes.h"

// How the point rows of the card face write their numbers and references. Pure functions.
namespace IoPointFormats {

// Present and override values: "0 (low)" and "1 (high)" for a digital point at exactly 0 or 1,
// otherwise the value with two decimals, a blank and the unit (the blank stays when the unit
// is empty). Magnitudes of 1e9 and more are written with six significant digits and an
// exponent (1e+30), so an absurd number stays short.
QString Value(float value, unsigned profileId, const QString& unit);

// Offsets and safe values: always the number (written as Value writes it), a blank and the unit.
QString PlainValue(float value, const QString& unit);

// Seconds as "hh : mm : ss", each part at least two digits; hours may have more.
QString Duration(std::uint32_t seconds);

// The master controller's reference to the point's value; empty when the profile is neither
// digital nor one of the point's allowed profiles.
QString ValueReference(unsigned nodeAddress, Tolvaren::IoDirection dir, unsigned index,
                       unsigned profileId,
                       const std::map<int, TolvarenScalingProfile>& allowedProfiles);

// The master controller's references to the point's lower and upper limit registers.
QString LowerLimitReference(unsigned nodeAddress, int cardType, Tolvaren::IoDirection dir,
                            unsigned index);
QString UpperLimitReference(unsigned nodeAddress, int cardType, Tolvaren::IoDirection dir,
                            unsigned index);

} // namespace IoPointFormats
