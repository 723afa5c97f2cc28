#include "protocol/CPackedVal.h"

#include <cstdio>
#include <cstring>
#include <locale>
#include <sstream>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"

namespace {

// Strings longer than this are not taken as numbers.
const std::size_t maxNumericTextLength = 30;

std::uint32_t BigEndian32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

void AppendBigEndian32(ByteVec& bytes, std::uint32_t value)
{
    bytes.push_back(static_cast<unsigned char>(value >> 24));
    bytes.push_back(static_cast<unsigned char>(value >> 16));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
    bytes.push_back(static_cast<unsigned char>(value));
}

float FloatFromBits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint32_t BitsFromFloat(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

} // namespace

CPackedVal CPackedVal::FromFloat(float value)
{
    ByteVec bytes{FloatTag};
    AppendBigEndian32(bytes, BitsFromFloat(value));
    return CPackedVal(bytes);
}

CPackedVal CPackedVal::FromString(const std::string& text)
{
    ByteVec bytes{StringTag};
    bytes.insert(bytes.end(), text.begin(), text.end());
    return CPackedVal(bytes);
}

CPackedVal CPackedVal::FromUInt32(unsigned value)
{
    ByteVec bytes{UInt32Tag};
    AppendBigEndian32(bytes, value);
    return CPackedVal(bytes);
}

CPackedVal CPackedVal::FromFloatArray(const std::vector<float>& values)
{
    ByteVec bytes{FloatArrayTag};
    for (float v : values) {
        AppendBigEndian32(bytes, BitsFromFloat(v));
    }
    return CPackedVal(bytes);
}

std::string CPackedVal::AsString() const
{
    if (!IsString()) {
        return std::string();
    }
    return std::string(m_bytes.begin() + 1, m_bytes.end());
}

float CPackedVal::AsFloat() const
{
    if (GetTag() == FloatTag && m_bytes.size() == 5) {
        return FloatFromBits(BigEndian32(&m_bytes[1]));
    }
    if (GetTag() == StringTag && m_bytes.size() <= maxNumericTextLength) {
        float value = 0;
        if (std::sscanf(AsString().c_str(), "%f", &value) == 1) {
            return value;
        }
    }
    boost::throw_exception(ExceptionWithString("PackedVal is not a float"));
}

unsigned CPackedVal::AsUInt32() const
{
    if (GetTag() == UInt32Tag && m_bytes.size() == 5) {
        return BigEndian32(&m_bytes[1]);
    }
    if (GetTag() == StringTag && m_bytes.size() <= maxNumericTextLength) {
        unsigned value = 0;
        if (std::sscanf(AsString().c_str(), "%u", &value) == 1) {
            return value;
        }
    }
    boost::throw_exception(ExceptionWithString("PackedVal is not a UInt32"));
}

std::vector<float> CPackedVal::AsFloatArray() const
{
    if (GetTag() != FloatArrayTag) {
        boost::throw_exception(ExceptionWithString("PackedVal is not a float array"));
    }
    if ((m_bytes.size() - 1) % 4 != 0) {
        boost::throw_exception(ExceptionWithString("PackedVal is not a valid float array"));
    }
    std::vector<float> values;
    for (std::size_t i = 1; i + 4 <= m_bytes.size(); i += 4) {
        values.push_back(FloatFromBits(BigEndian32(&m_bytes[i])));
    }
    return values;
}

namespace {

// Fixed with four decimals, always with a point whatever the user's locale.
std::string FixedFour(float value)
{
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.setf(std::ios::fixed);
    text.precision(4);
    text << double(value);
    return text.str();
}

} // namespace

std::string CPackedVal::DisplayText() const
{
    switch (GetTag()) {
    case FloatTag:
        if (m_bytes.size() != 5)
            boost::throw_exception(ExceptionWithString("PackedVal is not a float"));
        return FixedFour(AsFloat());
    case StringTag:
        return AsString();
    case UInt32Tag:
        if (m_bytes.size() != 5)
            boost::throw_exception(ExceptionWithString("PackedVal is not a UInt32"));
        return std::to_string(AsUInt32());
    case FloatArrayTag: {
        std::string text;
        for (float v : AsFloatArray())
            text += FixedFour(v) + ", ";
        return text;
    }
    default:
        boost::throw_exception(ExceptionWithString("PackedVal is not a string"));
    }
}
