#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "comms/ByteVec.h"

// Byte layouts of the simulated card's registers and vendor payloads: numbers most significant
// byte first, texts zero-padded to their field.
namespace CardBytes {

inline void AppendU16(ByteVec& out, std::uint16_t value)
{
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

inline void AppendU32(ByteVec& out, std::uint32_t value)
{
    AppendU16(out, static_cast<std::uint16_t>(value >> 16));
    AppendU16(out, static_cast<std::uint16_t>(value));
}

inline void AppendFloat(ByteVec& out, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    AppendU32(out, bits);
}

inline ByteVec U16(std::uint16_t value)
{
    ByteVec out;
    AppendU16(out, value);
    return out;
}

inline ByteVec U32(std::uint32_t value)
{
    ByteVec out;
    AppendU32(out, value);
    return out;
}

inline ByteVec Float(float value)
{
    ByteVec out;
    AppendFloat(out, value);
    return out;
}

// Callers check the length first.
inline std::uint16_t ReadU16(const ByteVec& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

inline std::uint32_t ReadU32(const ByteVec& bytes, std::size_t at)
{
    return (std::uint32_t(ReadU16(bytes, at)) << 16) | ReadU16(bytes, at + 2);
}

inline float ReadFloat(const ByteVec& bytes, std::size_t at)
{
    const std::uint32_t bits = ReadU32(bytes, at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The first size bytes of text, zero-padded.
inline ByteVec Text(const std::string& text, std::size_t size)
{
    ByteVec bytes(text.begin(), text.begin() + long(std::min(text.size(), size)));
    bytes.resize(size, 0);
    return bytes;
}

} // namespace CardBytes
