#include "simulator/CardConfiguration.h"

#include <algorithm>
#include <string>
#include <utility>

#include "modbus/ModbusCrc.h"
#include "simulator/CardBytes.h"
#include "simulator/ModbusSlaveConstants.h"

namespace {

const std::size_t readPiece = 128;
const std::size_t maxWritePiece = 249;
const std::size_t configStart = 4;

// Length and CRC (little-endian) ahead of a content naming two control modules.
ByteVec InitialControlModuleBlock()
{
    ByteVec content;
    for (const char* text : {"CM1 Boiler house;setpoint=65.0;", "CM2 Chiller;setpoint=7.5;"})
        content.insert(content.end(), text, text + std::char_traits<char>::length(text));
    for (unsigned i = 0; i < 170; ++i)
        content.push_back(static_cast<unsigned char>(i));
    const std::size_t length = 4 + content.size();
    const std::uint16_t crc = ModbusCrc(content);
    ByteVec block;
    block.reserve(length);
    for (unsigned field : {unsigned(length), unsigned(crc)}) {
        block.push_back(static_cast<unsigned char>(field));
        block.push_back(static_cast<unsigned char>(field >> 8));
    }
    block.insert(block.end(), content.begin(), content.end());
    return block;
}

} // namespace

CardConfiguration::CardConfiguration(Data data) : m_data(std::move(data)), m_ee(eeSize, 0xFF)
{
    SetEe(controlModuleAddress, InitialControlModuleBlock());
}

ByteVec CardConfiguration::Ee(std::uint32_t address, std::size_t length) const
{
    return ByteVec(m_ee.begin() + long(address), m_ee.begin() + long(address + length));
}

void CardConfiguration::SetEe(std::uint32_t address, const ByteVec& bytes)
{
    std::copy(bytes.begin(), bytes.end(), m_ee.begin() + long(address));
}

int CardConfiguration::HandleReadStart(const ByteVec& arguments, ByteVec& payload)
{
    if (!arguments.empty())
        return illegalDataValue;
    // One read sees the data of one moment, however the card changes meanwhile.
    m_readData = m_data.read();
    payload.assign(m_readData.begin(), m_readData.begin() + configStart);
    m_readPosition = configStart;
    return 0;
}

int CardConfiguration::HandleReadNext(const ByteVec& arguments, ByteVec& payload)
{
    if (!arguments.empty())
        return illegalDataValue;
    if (m_readPosition < 0)
        return 0;
    const std::size_t at = std::size_t(m_readPosition);
    const std::size_t length = std::min(readPiece, m_readData.size() - at);
    payload.assign(m_readData.begin() + long(at), m_readData.begin() + long(at + length));
    m_readPosition = length == 0 ? -1 : long(at + length);
    return 0;
}

int CardConfiguration::HandleWriteStart(const ByteVec& arguments)
{
    // Data of a layout the card does not know are refused before anything is taken.
    if (arguments.size() != configStart || !m_data.knowsStart(arguments))
        return illegalDataValue;
    m_pendingWrite = arguments;
    m_writeOpen = true;
    m_readPosition = -1;
    return 0;
}

// The card takes the new data only when the write is finished, and only whole: an unfinished
// write, or data the card cannot take, leave the configuration it had.
int CardConfiguration::HandleWriteNext(const ByteVec& arguments)
{
    if (!m_writeOpen || arguments.size() > maxWritePiece)
        return illegalDataValue;
    if (arguments.empty()) {
        const bool taken = m_data.write(m_pendingWrite);
        m_pendingWrite.clear();
        m_writeOpen = false;
        return taken ? 0 : illegalDataValue;
    }
    if (m_pendingWrite.size() + arguments.size() > maxConfigData) {
        m_pendingWrite.clear();
        m_writeOpen = false;
        return illegalDataValue;
    }
    m_pendingWrite.insert(m_pendingWrite.end(), arguments.begin(), arguments.end());
    return 0;
}

int CardConfiguration::HandleEeRead(const ByteVec& arguments, ByteVec& payload) const
{
    if (arguments.size() != 5)
        return illegalDataValue;
    const std::uint32_t address = CardBytes::ReadU32(arguments, 0);
    const std::size_t length = arguments[4];
    if (address > eeSize || length > eeSize - address)
        return illegalDataAddress;
    payload = Ee(address, length);
    return 0;
}

int CardConfiguration::HandleEeWrite(const ByteVec& arguments)
{
    if (arguments.size() < 4)
        return illegalDataValue;
    const std::uint32_t address = CardBytes::ReadU32(arguments, 0);
    const std::size_t length = arguments.size() - 4;
    if (address > eeSize || length > eeSize - address)
        return illegalDataAddress;
    SetEe(address, ByteVec(arguments.begin() + 4, arguments.end()));
    return 0;
}

void CardConfiguration::Restart()
{
    m_pendingWrite.clear();
    m_writeOpen = false;
    m_readPosition = -1;
}
