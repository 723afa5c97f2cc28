#pragma once

#include <cstddef>
#include <cstdint>

#include "comms/ByteVec.h"

// The Modbus RTU CRC-16: initial value 0xFFFF, reflected polynomial 0xA001. On the wire the low
// byte goes first.
std::uint16_t ModbusCrc(const unsigned char* data, std::size_t length);

// The CRC after one more byte, from the CRC of the bytes before it (0xFFFF for none): for a
// scan that tries every length of a frame without starting over for each.
std::uint16_t ModbusCrcUpdate(std::uint16_t crc, unsigned char byte);

inline std::uint16_t ModbusCrc(const ByteVec& bytes)
{
    return ModbusCrc(bytes.data(), bytes.size());
}

// Appends the CRC of everything in frame, low byte first.
void AppendModbusCrc(ByteVec& frame);

// True when frame holds at least 4 bytes and its last two are the CRC of the rest.
bool HasValidModbusCrc(const unsigned char* frame, std::size_t length);
