#include "simulator/RememberingSimulator.h"

#include "simulator/ModbusSlaveConstants.h"

namespace {

unsigned Word(const ByteVec& data, std::size_t offset)
{
    return (static_cast<unsigned>(data[offset]) << 8) | data[offset + 1];
}

ByteVec UInt16Bytes(std::uint16_t value)
{
    return ByteVec{static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

} // namespace

RememberingSimulator::RememberingSimulator() = default;

int RememberingSimulator::HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                                        ByteVec& replyData)
{
    if (requestData.size() <= 3)
        return illegalDataValue;
    switch (functionCode) {
    case 1:
        return ReadBits(m_coils, requestData, replyData);
    case 2:
        return ReadBits(m_discreteInputs, requestData, replyData);
    case 3:
        return ReadHoldingRegisters(requestData, replyData);
    case 4:
        return ReadInputRegisters(requestData, replyData);
    case 5:
        return WriteSingleCoil(requestData, replyData);
    case 6:
        return WriteSingleRegister(requestData, replyData);
    case 15:
        return WriteMultipleCoils(requestData, replyData);
    case 16:
        return WriteMultipleRegisters(requestData, replyData);
    default:
        return illegalFunction;
    }
}

int RememberingSimulator::ReadBits(BitMap& bits, const ByteVec& request, ByteVec& reply)
{
    const unsigned start = Word(request, 0);
    const unsigned quantity = Word(request, 2);
    if (quantity < 1 || quantity > 2000 || start + quantity > 65536)
        return illegalDataValue;
    const unsigned byteCount = (quantity + 7) / 8;
    reply.assign(1 + byteCount, 0);
    reply[0] = static_cast<unsigned char>(byteCount);
    for (unsigned i = 0; i < quantity; ++i) {
        // operator[] inserts a missing bit as false, as a read of an unknown bit remembers it.
        if (bits[static_cast<std::uint16_t>(start + i)])
            reply[1 + i / 8] |= static_cast<unsigned char>(1u << (i % 8));
    }
    return 0;
}

int RememberingSimulator::ReadHoldingRegisters(const ByteVec& request, ByteVec& reply)
{
    const unsigned start = Word(request, 0);
    const unsigned quantity = Word(request, 2);
    if (quantity > maxRegisterReadQuantity)
        return illegalDataValue;
    const std::size_t size = quantity * 2u;
    reply.reserve(1 + size);
    reply.push_back(static_cast<unsigned char>(size));
    unsigned address = start;
    while (reply.size() - 1 < size) {
        const std::size_t wanted = size - (reply.size() - 1);
        auto it = address <= 0xFFFF ? m_holdingRegisters.find(static_cast<std::uint16_t>(address))
                                    : m_holdingRegisters.end();
        if (it == m_holdingRegisters.end()) {
            reply.resize(1 + size, 0);
            break;
        }
        // An entry is never split: a read that would end inside it is refused.
        if (it->second.size() > wanted)
            return illegalDataValue;
        reply.insert(reply.end(), it->second.begin(), it->second.end());
        ++address;
    }
    return 0;
}

int RememberingSimulator::ReadInputRegisters(const ByteVec& request, ByteVec& reply)
{
    const unsigned start = Word(request, 0);
    const unsigned quantity = Word(request, 2);
    if (quantity > maxRegisterReadQuantity)
        return illegalDataValue;
    const std::size_t size = quantity * 2u;
    reply.reserve(1 + size);
    reply.push_back(static_cast<unsigned char>(size));
    auto it = m_inputRegisters.find(static_cast<std::uint16_t>(start));
    if (it != m_inputRegisters.end() && it->second.size() == size)
        reply.insert(reply.end(), it->second.begin(), it->second.end());
    else
        reply.resize(1 + size, 0);
    return 0;
}

int RememberingSimulator::WriteSingleCoil(const ByteVec& request, ByteVec& reply)
{
    if (request.size() != 4)
        return illegalDataValue;
    const unsigned value = Word(request, 2);
    if (value != 0xFF00 && value != 0x0000)
        return illegalDataValue;
    m_coils[static_cast<std::uint16_t>(Word(request, 0))] = value != 0;
    reply = request;
    return 0;
}

int RememberingSimulator::WriteSingleRegister(const ByteVec& request, ByteVec& reply)
{
    m_holdingRegisters[static_cast<std::uint16_t>(Word(request, 0))] =
        ByteVec(request.begin() + 2, request.end());
    reply = request;
    return 0;
}

int RememberingSimulator::WriteMultipleCoils(const ByteVec& request, ByteVec& reply)
{
    const unsigned start = Word(request, 0);
    const unsigned quantity = Word(request, 2);
    if (request.size() == 4)
        return illegalDataValue;
    const unsigned byteCount = request[4];
    if (byteCount != (quantity + 7) / 8 || request.size() != byteCount + 5u)
        return illegalDataValue;
    if (quantity < 1 || quantity > 1968 || start + quantity > 65536)
        return illegalDataValue;
    for (unsigned i = 0; i < quantity; ++i)
        m_coils[static_cast<std::uint16_t>(start + i)] = (request[5 + i / 8] >> (i % 8)) & 1;
    reply.assign(request.begin(), request.begin() + 4);
    return 0;
}

int RememberingSimulator::WriteMultipleRegisters(const ByteVec& request, ByteVec& reply)
{
    // The whole written block becomes one entry; quantity and byte count are not checked.
    ByteVec value;
    if (request.size() > 5)
        value.assign(request.begin() + 5, request.end());
    m_holdingRegisters[static_cast<std::uint16_t>(Word(request, 0))] = std::move(value);
    reply.assign(request.begin(), request.begin() + 4);
    return 0;
}

void RememberingSimulator::SetInputRegister(std::uint16_t address, const ByteVec& value)
{
    auto lock = LockState();
    m_inputRegisters[address] = value;
}

void RememberingSimulator::SetHoldingRegister(std::uint16_t address, const ByteVec& value)
{
    auto lock = LockState();
    m_holdingRegisters[address] = value;
}

void RememberingSimulator::SetDiscreteInput(std::uint16_t address, bool value)
{
    auto lock = LockState();
    m_discreteInputs[address] = value;
}

void RememberingSimulator::SetCoil(std::uint16_t address, bool value)
{
    auto lock = LockState();
    m_coils[address] = value;
}

void RememberingSimulator::SetInputRegisterUInt16(std::uint16_t address, std::uint16_t value)
{
    SetInputRegister(address, UInt16Bytes(value));
}

void RememberingSimulator::SetHoldingRegisterUInt16(std::uint16_t address, std::uint16_t value)
{
    SetHoldingRegister(address, UInt16Bytes(value));
}

namespace {

template <typename Map>
boost::optional<typename Map::mapped_type> Find(const Map& map, std::uint16_t address)
{
    auto it = map.find(address);
    if (it == map.end())
        return boost::none;
    return it->second;
}

} // namespace

boost::optional<ByteVec> RememberingSimulator::InputRegister(std::uint16_t address) const
{
    auto lock = LockState();
    return Find(m_inputRegisters, address);
}

boost::optional<ByteVec> RememberingSimulator::HoldingRegister(std::uint16_t address) const
{
    auto lock = LockState();
    return Find(m_holdingRegisters, address);
}

boost::optional<bool> RememberingSimulator::DiscreteInput(std::uint16_t address) const
{
    auto lock = LockState();
    return Find(m_discreteInputs, address);
}

boost::optional<bool> RememberingSimulator::Coil(std::uint16_t address) const
{
    auto lock = LockState();
    return Find(m_coils, address);
}
