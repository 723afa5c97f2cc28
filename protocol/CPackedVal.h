#pragma once

#include <string>
#include <vector>

#include "comms/ByteVec.h"

// A tagged value as named variables carry it, held as its wire bytes. Byte 0 is the tag:
//   1 float (4 bytes, most significant first), 2 string (the characters, no terminator),
//   3 UInt32 (4 bytes, most significant first), 4 float array (n x 4 bytes).
class CPackedVal
{
public:
    enum Tag {
        FloatTag = 1,
        StringTag = 2,
        UInt32Tag = 3,
        FloatArrayTag = 4,
    };

    CPackedVal() = default;
    explicit CPackedVal(const ByteVec& bytes) : m_bytes(bytes) {}
    static CPackedVal FromFloat(float value);
    static CPackedVal FromString(const std::string& text);
    static CPackedVal FromUInt32(unsigned value);
    static CPackedVal FromFloatArray(const std::vector<float>& values);

    const ByteVec& Bytes() const { return m_bytes; }
    bool IsEmpty() const { return m_bytes.empty(); }
    // 0 for an empty value.
    int GetTag() const { return m_bytes.empty() ? 0 : m_bytes[0]; }
    bool IsString() const { return GetTag() == StringTag; }
    // The characters of a string value (tag 2); empty for anything else.
    std::string AsString() const;

    // Each throws ExceptionWithString with the conversion's own message:
    // "PackedVal is not a float", "PackedVal is not a UInt32", "PackedVal is not a float array",
    // "PackedVal is not a valid float array".
    float AsFloat() const;
    unsigned AsUInt32() const;
    std::vector<float> AsFloatArray() const;

    // The value as a person reads it: floats with 4 decimals (an array's each followed by ", "),
    // a UInt32 in decimal, a string as it stands. Throws the conversions' messages for a value
    // of the wrong length, and "PackedVal is not a string" for an unknown tag.
    std::string DisplayText() const;

    bool operator==(const CPackedVal& other) const { return m_bytes == other.m_bytes; }

private:
    ByteVec m_bytes;
};
