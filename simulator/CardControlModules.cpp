#include "simulator/CardControlModules.h"

#include <algorithm>
#include <cmath>

#include "simulator/CardBytes.h"
#include "simulator/ModbusSlaveConstants.h"

namespace {

// The type tag of a text parameter value.
const unsigned char parameterTextTag = 2;
const std::size_t maxTextLength = 40;
const std::size_t enumEntriesPerReply = 2;
const std::int64_t wavePeriodMs = 20000;
const double waveAmplitude = 12.0; // raw steps

// Flag bits of a definition.
const std::uint16_t divide = 0x0100;
const std::uint16_t unsignedRaw = 0x0200;
const std::uint16_t enumerated = 0x0400;
const std::uint16_t writable = 0x0800;
const std::uint16_t namedVariable = 0x0000;
const std::uint16_t coil = 0x1000;
const std::uint16_t discreteInput = 0x2000;
const std::uint16_t holdingRegister = 0x3000;
const std::uint16_t inputRegister = 0x4000;
const std::uint16_t storageMask = 0x7000;

typedef std::vector<std::pair<std::string, std::uint16_t>> Labels;
const Labels offOn = {{"Off", 0}, {"On", 1}};

CardControlModules::Parameter Make(std::string name, std::string units, std::uint16_t address,
                                   std::uint16_t flags, double value, Labels labels = Labels())
{
    CardControlModules::Parameter p;
    p.name = std::move(name);
    p.units = std::move(units);
    p.address = address;
    p.flags = flags;
    p.value = value;
    p.enumValues = std::move(labels);
    return p;
}

CardControlModules::Parameter MakeText(std::string name, std::uint16_t flags, std::string text)
{
    CardControlModules::Parameter p = Make(std::move(name), "", 0, flags, 0.0);
    p.text = std::move(text);
    return p;
}

// A boiler house: one parameter of each storage kind and scaling, named by its second one.
void AddModuleA(std::vector<CardControlModules::Parameter>& p)
{
    p.push_back(Make("A_Setpoint", "\xC2\xB0" "C", 3000,
                     holdingRegister | writable | unsignedRaw | divide | 1, 655));
    p.push_back(MakeText("A_ModuleName", namedVariable | writable, "Boiler house"));
    p.push_back(Make("A_Mode", "", 3001, holdingRegister | writable | unsignedRaw | enumerated, 1,
                     {{"Off", 0}, {"Auto", 1}, {"Manual", 2}}));
    p.push_back(Make("A_PumpEnable", "", 3000, coil | writable | enumerated, 1, offOn));
    p.push_back(Make("A_PumpRunning", "", 3000, discreteInput | enumerated, 1,
                     {{"No", 0}, {"Yes", 1}}));
    p.push_back(Make("A_FlowTemp", "\xC2\xB0" "C", 3000, inputRegister | divide | 1, 612));
    p.push_back(Make("A_ReturnTemp", "\xC2\xB0" "C", 3001, inputRegister | divide | 1, -35));
    p.push_back(Make("A_Gain", "%", 0, namedVariable | writable, 12.5));
    p.push_back(Make("A_PumpPNumber", "", 0, namedVariable, 42));
    p.push_back(Make("A_Strategy", "", 0, namedVariable | writable | enumerated, 1,
                     {{"Eco", 0}, {"Comfort", 1}, {"Boost", 2}}));
    p.push_back(Make("A_MaxPower", "W", 3002, holdingRegister | unsignedRaw | 2, 45));
    p.push_back(Make("A_Hysteresis", "K", 3003, holdingRegister | writable | divide | 2, 150));
    p.push_back(Make("A_FlameOn", "", 3001, coil, 0));
}

// Chiller zones: forty parameters, enough to fill a screen.
void AddModuleB(std::vector<CardControlModules::Parameter>& p)
{
    for (unsigned i = 0; i < 16; ++i) {
        const std::string zone = "B_Zone" + std::to_string(i + 1);
        p.push_back(Make(zone + "Setpoint", "\xC2\xB0" "C", std::uint16_t(3100 + i),
                         holdingRegister | writable | divide | 1, 70 + 5 * i));
        p.push_back(Make(zone + "Valve", "%", std::uint16_t(3100 + i),
                         inputRegister | unsignedRaw, (i * 17) % 101));
    }
    for (unsigned i = 0; i < 4; ++i)
        p.push_back(Make("B_Zone" + std::to_string(i + 1) + "Override", "",
                         std::uint16_t(3100 + i), coil | writable | enumerated, i % 2, offOn));
    p.push_back(Make("B_SupplyTemp", "\xC2\xB0" "C", 0, namedVariable, 6.5));
    p.push_back(Make("B_CompressorPNumber", "", 0, namedVariable, 3));
    p.push_back(Make("B_Season", "", 0, namedVariable | writable | enumerated, 1,
                     {{"Winter", 0}, {"Summer", 1}}));
    p.push_back(MakeText("B_Notes", namedVariable | writable, "Chiller plant"));
}

// A fan: the single parameter of module C.
void AddModuleC(std::vector<CardControlModules::Parameter>& p)
{
    p.push_back(Make("C_FanSpeed", "rpm", 3200, holdingRegister | writable | unsignedRaw | 1, 120));
}

ByteVec PackedText(const std::string& text)
{
    ByteVec packed(1 + text.size());
    packed[0] = parameterTextTag;
    std::copy(text.begin(), text.end(), packed.begin() + 1);
    return packed;
}

} // namespace

CardControlModules::CardControlModules()
{
    AddModuleA(m_parameters);
    AddModuleB(m_parameters);
    AddModuleC(m_parameters);
}

void CardControlModules::Install(CardControlModules::RegisterMap& holding,
                                 RegisterMap& input,
                                 BitMap& coils,
                                 BitMap& discreteInputs,
                                 CardNamedVariables& variables)
{
    variables.Add("~NumControlModules",
                  [] { return CardNamedVariables::PackedFloat(float(numModules)); });
    for (const Parameter& p : m_parameters) {
        const auto raw = static_cast<std::uint16_t>(static_cast<int>(p.value));
        switch (p.flags & storageMask) {
        case holdingRegister:
            holding[p.address] = CardBytes::U16(raw);
            break;
        case inputRegister:
            input[p.address] = CardBytes::U16(raw);
            break;
        case coil:
            coils[p.address] = raw != 0;
            break;
        case discreteInput:
            discreteInputs[p.address] = raw != 0;
            break;
        default:
            AddNamedVariable(p, variables);
            break;
        }
    }
}

// Texts are kept as texts; numbers as packed floats, written as a float or (when not enumerated)
// as the text of a number; enumerated ones take only their labels' numbers.
void CardControlModules::AddNamedVariable(const Parameter& p, CardNamedVariables& variables)
{
    const std::string name = "~" + p.name;
    const bool isText = !p.text.empty();
    m_values[name] = isText ? PackedText(p.text) : CardNamedVariables::PackedFloat(float(p.value));
    CardNamedVariables::Writer writer;
    if (p.flags & writable) {
        const Parameter parameter = p;
        writer = [this, name, isText, parameter](const ByteVec& packed) {
            if (isText) {
                if (packed.empty() || packed[0] != parameterTextTag || packed.size() - 1 > maxTextLength)
                    return false;
                m_values[name] = packed;
                return true;
            }
            float value = 0.0f;
            const bool isNumber = (parameter.flags & enumerated)
                                      ? CardNamedVariables::UnpackFloat(packed, value)
                                      : CardNamedVariables::UnpackNumber(packed, value);
            if (!isNumber)
                return false;
            if (parameter.flags & enumerated) {
                bool known = false;
                for (const auto& label : parameter.enumValues)
                    known = known || float(label.second) == value;
                if (!known)
                    return false;
            }
            m_values[name] = CardNamedVariables::PackedFloat(value);
            return true;
        };
    }
    variables.Add(
        name, [this, name] { return m_values[name]; }, writer);
}

void CardControlModules::Refresh(RegisterMap& input, std::int64_t nowMs) const
{
    const double pi = 3.14159265358979323846;
    const double cycles = double(nowMs % wavePeriodMs) / double(wavePeriodMs);
    for (std::size_t i = 0; i < m_parameters.size(); ++i) {
        const Parameter& p = m_parameters[i];
        if ((p.flags & storageMask) != inputRegister)
            continue;
        // Each its own phase, so that they do not all move together.
        const double wave = std::sin(2.0 * pi * cycles + double(i)) - std::sin(double(i));
        double raw = std::round(p.value + waveAmplitude * wave);
        if (p.flags & unsignedRaw)
            raw = std::min(100.0, std::max(0.0, raw));
        input[p.address] = CardBytes::U16(static_cast<std::uint16_t>(static_cast<int>(raw)));
    }
}

int CardControlModules::HandleDefinition(const ByteVec& arguments, ByteVec& payload) const
{
    if (arguments.size() != 2)
        return illegalDataValue;
    const std::size_t index = CardBytes::ReadU16(arguments, 0);
    if (index >= m_parameters.size())
        return 0;
    const Parameter& p = m_parameters[index];
    payload.push_back(static_cast<unsigned char>(p.name.size()));
    payload.insert(payload.end(), p.name.begin(), p.name.end());
    payload.push_back(static_cast<unsigned char>(p.units.size()));
    payload.insert(payload.end(), p.units.begin(), p.units.end());
    CardBytes::AppendU16(payload, p.address);
    CardBytes::AppendU16(payload, p.flags);
    return 0;
}

int CardControlModules::HandleEnumDefinition(const ByteVec& arguments, ByteVec& payload) const
{
    if (arguments.size() != 4)
        return illegalDataValue;
    const std::size_t index = CardBytes::ReadU16(arguments, 0);
    const std::size_t first = CardBytes::ReadU16(arguments, 2);
    if (index >= m_parameters.size() || m_parameters[index].enumValues.empty())
        return illegalDataAddress;
    const auto& values = m_parameters[index].enumValues;
    for (std::size_t i = first; i < values.size() && i < first + enumEntriesPerReply; ++i) {
        payload.push_back(static_cast<unsigned char>(values[i].first.size()));
        payload.insert(payload.end(), values[i].first.begin(), values[i].first.end());
        CardBytes::AppendU16(payload, values[i].second);
    }
    return 0;
}
