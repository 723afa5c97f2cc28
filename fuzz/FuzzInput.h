#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "comms/ByteVec.h"

// Reads a fuzz input front to back. Past the end every read yields zeros or nothing, so a
// target never has to check the length itself.
class FuzzInput
{
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_at >= m_size; }
    std::size_t Remaining() const { return m_size - m_at; }

    std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint16_t U16()
    {
        const unsigned high = Byte();
        return static_cast<std::uint16_t>((high << 8) | Byte());
    }
    ByteVec Take(std::size_t count)
    {
        count = std::min(count, Remaining());
        ByteVec bytes(m_data + m_at, m_data + m_at + count);
        m_at += count;
        return bytes;
    }
    // A piece whose length is the next byte.
    ByteVec Piece() { return Take(Byte()); }
    ByteVec Rest() { return Take(Remaining()); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};
