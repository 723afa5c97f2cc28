#include "simulator/CardNamedVariables.h"

#include <cmath>
#include <locale>
#include <sstream>

#include "simulator/CardBytes.h"
#include "simulator/ModbusSlaveConstants.h"

namespace {

const unsigned char floatTag = 1;
const unsigned char stringTag = 2;
const std::size_t maxNumberText = 40;
const unsigned char uint32Tag = 3;
const unsigned char floatArrayTag = 4;

} // namespace

void CardNamedVariables::Add(const std::string& name, Reader reader, Writer writer)
{
    m_variables[name] = Variable{std::move(reader), std::move(writer)};
}

void CardNamedVariables::AddFloat(const std::string& name, float& value)
{
    Add(
        name, [&value] { return PackedFloat(value); },
        [&value](const ByteVec& packed) { return UnpackNumber(packed, value); });
}

bool CardNamedVariables::Has(const std::string& name) const
{
    return m_variables.count(name) != 0;
}

const CardNamedVariables::Variable* CardNamedVariables::Find(const ByteVec& name) const
{
    std::string text(name.begin(), name.end());
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    const auto it = m_variables.find(text);
    return it == m_variables.end() ? nullptr : &it->second;
}

int CardNamedVariables::HandleRead(const ByteVec& arguments, ByteVec& payload) const
{
    const Variable* variable = Find(arguments);
    if (!variable)
        return illegalDataAddress;
    payload = variable->reader();
    return 0;
}

int CardNamedVariables::HandleWrite(const ByteVec& arguments)
{
    if (arguments.empty() || arguments[0] + 1u > arguments.size())
        return illegalDataValue;
    const std::size_t nameLength = arguments[0];
    const Variable* variable =
        Find(ByteVec(arguments.begin() + 1, arguments.begin() + 1 + long(nameLength)));
    if (!variable)
        return illegalDataAddress;
    const ByteVec packed(arguments.begin() + 1 + long(nameLength), arguments.end());
    if (!variable->writer || !variable->writer(packed))
        return illegalDataValue;
    return 0;
}

ByteVec CardNamedVariables::PackedFloat(float value)
{
    ByteVec packed{floatTag};
    CardBytes::AppendFloat(packed, value);
    return packed;
}

ByteVec CardNamedVariables::PackedUInt32(std::uint32_t value)
{
    ByteVec packed{uint32Tag};
    CardBytes::AppendU32(packed, value);
    return packed;
}

ByteVec CardNamedVariables::PackedFloatArray(const std::vector<float>& values)
{
    ByteVec packed{floatArrayTag};
    for (float value : values)
        CardBytes::AppendFloat(packed, value);
    return packed;
}

bool CardNamedVariables::UnpackFloat(const ByteVec& packed, float& value)
{
    if (packed.size() != 5 || packed[0] != floatTag)
        return false;
    value = CardBytes::ReadFloat(packed, 1);
    return true;
}

bool CardNamedVariables::UnpackNumber(const ByteVec& packed, float& value)
{
    if (UnpackFloat(packed, value))
        return true;
    if (packed.size() < 2 || packed.size() - 1 > maxNumberText || packed[0] != stringTag)
        return false;
    // The card reads numbers the same way whatever the locale of the process it runs in.
    std::istringstream text(std::string(packed.begin() + 1, packed.end()));
    text.imbue(std::locale::classic());
    float parsed = 0.0f;
    text >> parsed;
    if (text.fail() || !text.eof() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}
