#include "modbus/ModbusCrc.h"

#include <array>

namespace {

// Table-driven form of the bitwise algorithm: one entry per value of the low byte.
std::array<std::uint16_t, 256> MakeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

const std::array<std::uint16_t, 256> crcTable = MakeCrcTable();

} // namespace

std::uint16_t ModbusCrcUpdate(std::uint16_t crc, unsigned char byte)
{
    return static_cast<std::uint16_t>((crc >> 8) ^ crcTable[(crc ^ byte) & 0xFF]);
}

std::uint16_t ModbusCrc(const unsigned char* data, std::size_t length)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i)
        crc = ModbusCrcUpdate(crc, data[i]);
    return crc;
}

void AppendModbusCrc(ByteVec& frame)
{
    const std::uint16_t crc = ModbusCrc(frame);
    frame.push_back(static_cast<unsigned char>(crc & 0xFF));
    frame.push_back(static_cast<unsigned char>(crc >> 8));
}

bool HasValidModbusCrc(const unsigned char* frame, std::size_t length)
{
    if (length < 4)
        return false;
    const std::uint16_t crc = ModbusCrc(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}
