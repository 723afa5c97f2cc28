#include "protocol/TolvarenScalingProfile.h"

#include <cctype>

namespace {

enum Category {
    Voltage = 1,
    Current = 2,
    Resistance = 4,
    DigitalOnly = 8,
};

std::string Lower(const std::string& text)
{
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool Contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

// The categories a point accepts, by card type.
int AllowedCategories(int cardType, Tolvaren::IoDirection dir, unsigned index)
{
    switch (cardType) {
    case 1:
        return Voltage | Current | Resistance;
    case 2:
        return index < 12 ? Voltage : (Voltage | Current);
    case 3:
        if (dir == Tolvaren::Input) {
            return Voltage | Current | Resistance;
        }
        return index < 3 ? Voltage : DigitalOnly;
    case 4:
        return dir == Tolvaren::Input ? (Voltage | Current | Resistance) : Voltage;
    default:
        return 0;
    }
}

} // namespace

std::string UnitFromProfileName(const std::string& name, bool useDegreeSign)
{
    const std::string lower = Lower(name);
    const char* degrees = useDegreeSign ? "\xC2\xB0"
                                          "C"
                                        : "degrees C";
    if (Contains(lower, "%")) {
        return "%";
    }
    if (Contains(lower, "volts")) {
        return "V";
    }
    if (Contains(lower, "milliamps")) {
        return "mA";
    }
    if (Contains(lower, "ohms")) {
        return "Ohms";
    }
    if (Contains(lower, "potentiometer")) {
        return "%";
    }
    if (Contains(lower, "thermistor") || Contains(lower, "pt100") || Contains(lower, "ptc ")) {
        return degrees;
    }
    return std::string();
}

bool IsScalingProfileAllowed(int cardType, Tolvaren::IoDirection dir, unsigned index,
                             const std::string& name)
{
    const std::string lower = Lower(name);
    int categories = 0;
    if (Contains(lower, "volt")) {
        categories |= Voltage;
    }
    if (Contains(lower, "current")) {
        categories |= Current;
    }
    if (Contains(lower, "digital")) {
        categories |= Voltage | Current | Resistance | DigitalOnly;
    }
    if (dir == Tolvaren::Input) {
        if (Contains(lower, "resistance") || Contains(lower, "potentiometer") ||
            Contains(lower, "thermistor")) {
            categories |= Resistance;
        }
        if (categories == 0) {
            categories = Voltage;
        }
    }
    return (categories & AllowedCategories(cardType, dir, index)) != 0;
}
