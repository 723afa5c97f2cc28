#include "modbus/ModbusMaster.h"

#include <algorithm>
#include <cstring>

#include <boost/bind/bind.hpp>
#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "modbus/ModbusErrors.h"

namespace {

const unsigned char readCoils = 1;
const unsigned char readDiscreteInputs = 2;
const unsigned char readHoldingRegisters = 3;
const unsigned char readInputRegisters = 4;
const unsigned char writeSingleCoil = 5;
const unsigned char writeSingleRegister = 6;
const unsigned char writeMultipleRegisters = 16;
const unsigned char qelCommand = 100;

const unsigned maxBitsPerRead = 2000;
const std::size_t maxWriteBytes = 246; // 123 registers

void AppendUInt16(ByteVec& bytes, unsigned value)
{
    bytes.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
    bytes.push_back(static_cast<unsigned char>(value & 0xFF));
}

void AppendUInt32(ByteVec& bytes, std::uint32_t value)
{
    AppendUInt16(bytes, value >> 16);
    AppendUInt16(bytes, value & 0xFFFF);
}

std::uint32_t BigEndian32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8)
           | std::uint32_t(p[3]);
}

ByteVec AddressAndCount(unsigned short address, unsigned count)
{
    ByteVec data;
    data.reserve(4);
    AppendUInt16(data, address);
    AppendUInt16(data, count);
    return data;
}

unsigned char RegisterFunction(ModbusMaster::RegisterKind kind)
{
    return kind == ModbusMaster::HoldingRegisters ? readHoldingRegisters : readInputRegisters;
}

template <typename E>
[[noreturn]] void Fail(const char* message)
{
    boost::throw_exception(E(message));
}

// Reply parsers: each is given the reply data, the bytes between function code and CRC.
// ReplyTooShortError makes the datalink wait for more bytes.

unsigned short ParseReadRegister(const ByteVec& data)
{
    if (data.size() < 3)
        Fail<Modbus::ReplyTooShortError>("ReadRegister: reply data length incorrect");
    if (data[0] != 2)
        Fail<Modbus::Error>("ReadRegister: reply contents invalid");
    return static_cast<unsigned short>((data[1] << 8) | data[2]);
}

ByteVec ParseRawRegisters(const ByteVec& data)
{
    if (data.size() < 3)
        Fail<Modbus::ReplyTooShortError>("read-registers reply data length too short");
    const std::size_t count = data[0];
    const std::size_t got = data.size() - 1;
    if (got < count)
        Fail<Modbus::ReplyTooShortError>("read-registers reply data length inconsistent");
    if (got > count)
        Fail<Modbus::Error>("read-registers reply data length inconsistent");
    return ByteVec(data.begin() + 1, data.end());
}

std::vector<unsigned short> ParseUInt16s(const ByteVec& data)
{
    const ByteVec raw = ParseRawRegisters(data);
    if (raw.size() % 2 != 0)
        Fail<Modbus::Error>("read-registers reply data length for UINT16s not multiple of 2");
    if (raw.empty())
        Fail<Modbus::Error>("no register values returned");
    std::vector<unsigned short> values;
    values.reserve(raw.size() / 2);
    for (std::size_t i = 0; i < raw.size(); i += 2)
        values.push_back(static_cast<unsigned short>((raw[i] << 8) | raw[i + 1]));
    return values;
}

std::vector<short> ParseInt16s(const ByteVec& data)
{
    const std::vector<unsigned short> words = ParseUInt16s(data);
    std::vector<short> values;
    values.reserve(words.size());
    for (unsigned short word : words)
        values.push_back(static_cast<short>(word));
    return values;
}

std::vector<unsigned int> ParseUInt32s(const ByteVec& data)
{
    const ByteVec raw = ParseRawRegisters(data);
    if (raw.size() % 4 != 0)
        Fail<Modbus::Error>("read-registers reply data length for UINT32s not multiple of 4");
    if (raw.size() < 4)
        Fail<Modbus::Error>("no UINT32s returned");
    std::vector<unsigned int> values;
    values.reserve(raw.size() / 4);
    for (std::size_t i = 0; i < raw.size(); i += 4)
        values.push_back(BigEndian32(&raw[i]));
    return values;
}

std::vector<float> ParseFloats(const ByteVec& data)
{
    const ByteVec raw = ParseRawRegisters(data);
    if (raw.size() % 4 != 0)
        Fail<Modbus::Error>("reply data length for floats not multiple of 4");
    if (raw.empty())
        Fail<Modbus::Error>("no floats returned");
    std::vector<float> values;
    values.reserve(raw.size() / 4);
    for (std::size_t i = 0; i < raw.size(); i += 4) {
        const std::uint32_t bits = BigEndian32(&raw[i]);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(value);
    }
    return values;
}

float ParseFirstFloat(const ByteVec& data)
{
    return ParseFloats(data).front();
}

std::string ParseString(const ByteVec& data)
{
    const ByteVec raw = ParseRawRegisters(data);
    auto end = raw.begin();
    while (end != raw.end() && *end != 0)
        ++end;
    return std::string(raw.begin(), end);
}

std::vector<bool> ParseBits(unsigned n, const ByteVec& data)
{
    if (data.size() < 2)
        Fail<Modbus::ReplyTooShortError>("too few bytes returned for bools request");
    const std::size_t needed = (n + 7) / 8;
    const std::size_t got = data.size() - 1; // the byte-count byte is not trusted
    if (got < needed)
        Fail<Modbus::ReplyTooShortError>("incorrect number of bytes returned for bools request");
    if (got > needed)
        Fail<Modbus::Error>("incorrect number of bytes returned for bools request");
    std::vector<bool> bits(n);
    for (unsigned i = 0; i < n; ++i)
        bits[i] = (data[1 + i / 8] >> (i % 8)) & 1;
    return bits;
}

bool ParseFirstBit(const ByteVec& data)
{
    return ParseBits(1, data).front();
}

void ParseWriteReply(const ByteVec& data)
{
    if (data.size() < 4)
        Fail<Modbus::ReplyTooShortError>("Invalid response recieved from Write Registers request");
    if (data.size() > 4)
        Fail<Modbus::Error>("Invalid response recieved from Write Registers request");
}

void ParseCoilWriteReply(const ByteVec& data)
{
    if (data.size() < 4)
        Fail<Modbus::ReplyTooShortError>("Invalid response recieved from Write Bool request");
    if (data.size() > 4)
        Fail<Modbus::Error>("Invalid response recieved from Write Bool request");
    const unsigned value = (data[2] << 8) | data[3];
    if (value != 0xFF00 && value != 0x0000)
        Fail<Modbus::Error>("Non-bool response recieved from Write Bool request");
}

ByteVec ParseQelReply(const ByteVec& data)
{
    if (data.size() < 3 || data[0] > data.size() - 1)
        Fail<Modbus::ReplyTooShortError>("qel-command reply size mismatch");
    if (data[0] < data.size() - 1)
        Fail<Modbus::Error>("qel-command reply size mismatch");
    return ByteVec(data.begin() + 3, data.end());
}

template <typename T>
boost::future<T> ReadyError(const char* message)
{
    boost::promise<T> promise;
    try {
        boost::throw_exception(Modbus::Error(message));
    } catch (...) {
        promise.set_exception(boost::current_exception());
    }
    return promise.get_future();
}

template <typename T>
boost::future<T> ReadyValue(T value)
{
    boost::promise<T> promise;
    promise.set_value(std::move(value));
    return promise.get_future();
}

} // namespace

const ModbusMaster::RegisterKind ModbusMaster::HoldingRegisters;
const ModbusMaster::RegisterKind ModbusMaster::InputRegisters;

ModbusMaster::ModbusMaster(ModbusMasterDatalink& datalink) : m_datalink(&datalink) {}

ModbusMaster::ModbusMaster(ModbusMasterDatalink* datalink) : m_datalink(datalink) {}

ModbusMaster::~ModbusMaster()
{
    m_outstanding.remove_if([](const ModbusMasterDatalink::RequestHandle& handle) {
        return handle.expired();
    });
    for (const ModbusMasterDatalink::RequestHandle& handle : m_outstanding)
        m_datalink->CancelRequest(handle);
}

ModbusMasterDatalink::RequestHandle* ModbusMaster::NewHandle()
{
    m_outstanding.remove_if([](const ModbusMasterDatalink::RequestHandle& handle) {
        return handle.expired();
    });
    m_outstanding.emplace_back();
    return &m_outstanding.back();
}

template <typename T>
boost::future<T> ModbusMaster::Send(unsigned char functionCode, const ByteVec& data,
                                    const boost::function<T(const ByteVec&)>& parseReply)
{
    return m_datalink->SendRequest<T>(functionCode, data, parseReply, NewHandle());
}

boost::future<unsigned short> ModbusMaster::ReadRegister(RegisterKind kind,
                                                         unsigned short address)
{
    return Send<unsigned short>(RegisterFunction(kind), AddressAndCount(address, 1),
                                &ParseReadRegister);
}

boost::future<unsigned short> ModbusMaster::ReadInputRegister(unsigned short address)
{
    return ReadRegister(InputRegisters, address);
}

boost::future<unsigned short> ModbusMaster::ReadHoldingRegister(unsigned short address)
{
    return ReadRegister(HoldingRegisters, address);
}

boost::future<std::vector<unsigned short>>
ModbusMaster::ReadRegistersUInt16(RegisterKind kind, unsigned short start, unsigned short n)
{
    if (n == 0)
        return ReadyValue(std::vector<unsigned short>());
    return Send<std::vector<unsigned short>>(RegisterFunction(kind), AddressAndCount(start, n),
                                             &ParseUInt16s);
}

boost::future<std::vector<short>>
ModbusMaster::ReadRegistersInt16(RegisterKind kind, unsigned short start, unsigned short n)
{
    if (n == 0)
        return ReadyValue(std::vector<short>());
    return Send<std::vector<short>>(RegisterFunction(kind), AddressAndCount(start, n),
                                    &ParseInt16s);
}

boost::future<std::vector<float>>
ModbusMaster::ReadRegistersFloat(RegisterKind kind, unsigned short start, unsigned short n)
{
    if (n == 0)
        return ReadyValue(std::vector<float>());
    return Send<std::vector<float>>(RegisterFunction(kind), AddressAndCount(start, 2u * n),
                                    &ParseFloats);
}

boost::future<std::vector<unsigned int>>
ModbusMaster::ReadRegistersUInt32(RegisterKind kind, unsigned short start, unsigned short n)
{
    if (n == 0)
        return ReadyValue(std::vector<unsigned int>());
    return Send<std::vector<unsigned int>>(RegisterFunction(kind),
                                           AddressAndCount(start, 2u * n), &ParseUInt32s);
}

boost::future<float> ModbusMaster::ReadFloat(RegisterKind kind, unsigned short address)
{
    return Send<float>(RegisterFunction(kind), AddressAndCount(address, 2), &ParseFirstFloat);
}

boost::future<ByteVec> ModbusMaster::ReadRegistersAsData(RegisterKind kind, unsigned short start,
                                                         unsigned short nBytes)
{
    return Send<ByteVec>(RegisterFunction(kind), AddressAndCount(start, (nBytes + 1u) / 2),
                         &ParseRawRegisters);
}

boost::future<std::string> ModbusMaster::ReadRegistersAsString(RegisterKind kind,
                                                               unsigned short start,
                                                               unsigned short nBytes)
{
    return Send<std::string>(RegisterFunction(kind), AddressAndCount(start, (nBytes + 1u) / 2),
                             &ParseString);
}

boost::future<std::vector<bool>> ModbusMaster::ReadBits(bool isCoil, unsigned short start,
                                                        unsigned short n)
{
    if (n == 0 || n > maxBitsPerRead)
        return ReadyError<std::vector<bool>>("too few/many discrete vals in one go");
    return Send<std::vector<bool>>(isCoil ? readCoils : readDiscreteInputs,
                                   AddressAndCount(start, n),
                                   boost::bind(&ParseBits, unsigned(n), boost::placeholders::_1));
}

boost::future<bool> ModbusMaster::ReadBit(bool isCoil, unsigned short address)
{
    return Send<bool>(isCoil ? readCoils : readDiscreteInputs, AddressAndCount(address, 1),
                      &ParseFirstBit);
}

boost::future<void> ModbusMaster::WriteRegisterInt16(unsigned short address, short value)
{
    return WriteRegisterUInt16(address, static_cast<unsigned short>(value));
}

boost::future<void> ModbusMaster::WriteRegisterUInt16(unsigned short address,
                                                      unsigned short value)
{
    return Send<void>(writeSingleRegister, AddressAndCount(address, value), &ParseWriteReply);
}

boost::future<void> ModbusMaster::WriteCoil(unsigned short address, bool value)
{
    return Send<void>(writeSingleCoil, AddressAndCount(address, value ? 0xFF00 : 0x0000),
                      &ParseCoilWriteReply);
}

ByteVec ModbusMaster::WriteRegistersData(unsigned short start, const ByteVec& bytes)
{
    if (bytes.size() % 2 != 0)
        boost::throw_exception(
            ExceptionWithString("WriteRegistersData: num bytes must be multiple of 2"));
    if (bytes.size() > maxWriteBytes)
        boost::throw_exception(ExceptionWithString(
            "WriteRegistersData: too many bytes for one write (at most 246)"));
    ByteVec data;
    data.reserve(5 + bytes.size());
    AppendUInt16(data, start);
    AppendUInt16(data, static_cast<unsigned>(bytes.size() / 2));
    data.push_back(static_cast<unsigned char>(bytes.size()));
    data.insert(data.end(), bytes.begin(), bytes.end());
    return data;
}

boost::future<void> ModbusMaster::WriteRegistersAsData(unsigned short start, const ByteVec& bytes)
{
    if (bytes.size() % 2 != 0)
        boost::throw_exception(
            Modbus::Error("WriteRegistersAsData: data length is not a multiple of 2"));
    return Send<void>(writeMultipleRegisters, WriteRegistersData(start, bytes), &ParseWriteReply);
}

boost::future<void> ModbusMaster::WriteFloat(unsigned short address, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return WriteUInt32(address, bits);
}

boost::future<void> ModbusMaster::WriteUInt32(unsigned short address, unsigned int value)
{
    ByteVec bytes;
    AppendUInt32(bytes, value);
    return Send<void>(writeMultipleRegisters, WriteRegistersData(address, bytes),
                      &ParseWriteReply);
}

boost::future<void> ModbusMaster::WriteRegistersString(unsigned short start,
                                                       const std::string& text, unsigned maxLen)
{
    if (maxLen == 0)
        maxLen = static_cast<unsigned>(text.size());
    // Checked before building the padded copy so that a huge maxLen costs nothing.
    const std::size_t byteCount = (std::size_t(maxLen) + 1) / 2 * 2;
    if (byteCount > maxWriteBytes)
        boost::throw_exception(ExceptionWithString(
            "WriteRegistersData: too many bytes for one write (at most 246)"));
    ByteVec bytes(byteCount, 0);
    // Not memcpy: an empty text leaves bytes without storage, and a null destination is
    // undefined even for a copy of nothing.
    std::copy_n(text.begin(), std::min<std::size_t>(text.size(), maxLen), bytes.begin());
    return Send<void>(writeMultipleRegisters, WriteRegistersData(start, bytes), &ParseWriteReply);
}

boost::future<ByteVec> ModbusMaster::SendQelCommand(unsigned short subCommand,
                                                    const ByteVec& args)
{
    ByteVec data;
    data.reserve(3 + args.size());
    // A length above 255 cannot be framed; the datalink refuses such data as too long anyway.
    data.push_back(static_cast<unsigned char>(2 + args.size()));
    AppendUInt16(data, subCommand);
    data.insert(data.end(), args.begin(), args.end());
    return Send<ByteVec>(qelCommand, data, &ParseQelReply);
}
