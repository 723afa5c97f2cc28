#include "protocol/TolvarenCommsCommon.h"

#include <cstring>

#include <boost/throw_exception.hpp>

#include "modbus/ModbusErrors.h"
#include "protocol/ProtocolBytes.h"
#include "protocol/TolvarenScalingProfile.h"

using namespace Tolvaren;
using ProtocolBytes::Ready;

unsigned TolvarenNumInputs(int cardType)
{
    switch (cardType) {
    case 1:
        return 16;
    case 2:
        return 0;
    case 3:
        return 6;
    case 4:
        return 24;
    default:
        boost::throw_exception(ExceptionWithString("Invalid card type"));
    }
}

const char* TolvarenCardName(int cardType)
{
    switch (cardType) {
    case 1:
        return "Tolvaren Input Card";
    case 2:
        return "Tolvaren Output Card";
    case 3:
        return "KTV-ROLM 915";
    case 4:
        return "KTV-ROLM-73C6E";
    default:
        boost::throw_exception(ExceptionWithString("invalid card type"));
    }
}

unsigned TolvarenNumOutputs(int cardType)
{
    switch (cardType) {
    case 1:
        return 0;
    case 2:
        return 16;
    case 3:
        return 9;
    case 4:
        return 24;
    default:
        boost::throw_exception(ExceptionWithString("Invalid card type"));
    }
}

TolvarenCommsCommon::TolvarenCommsCommon(ModbusMasterDatalink& datalink) : master(datalink) {}

// Members go in reverse order: the workers and continuations are joined first (the master still
// exists, so they complete normally), then the master cancels what nobody waited for.
TolvarenCommsCommon::~TolvarenCommsCommon() = default;

boost::unique_lock<boost::mutex> TolvarenCommsCommon::LockMaster() const
{
    return boost::unique_lock<boost::mutex>(m_masterMutex);
}

// ---- Identity and version gating ---------------------------------------------------------

std::uint16_t TolvarenCommsCommon::RegisterVersionNow()
{
    std::uint16_t cached = m_cachedRegisterVersion;
    if (cached != 0) {
        return cached;
    }
    boost::future<unsigned short> read;
    {
        auto lock = LockMaster();
        read = master.ReadInputRegister(regRegisterVersion);
    }
    const std::uint16_t version = read.get();
    m_cachedRegisterVersion = version;
    return version;
}

boost::future<std::uint16_t> TolvarenCommsCommon::GetRegisterVersion()
{
    const std::uint16_t cached = m_cachedRegisterVersion;
    if (cached != 0) {
        return Ready<std::uint16_t>(cached);
    }
    // One request; the answer is cached as it arrives, without a thread of its own.
    boost::future<unsigned short> read;
    {
        auto lock = LockMaster();
        read = master.ReadInputRegister(regRegisterVersion);
    }
    return m_then.ThenInline<std::uint16_t, unsigned short>(
        std::move(read), [this](boost::future<unsigned short>& f) -> std::uint16_t {
            const std::uint16_t version = f.get();
            m_cachedRegisterVersion = version;
            return version;
        });
}

int TolvarenCommsCommon::AcceptCardType(unsigned short value)
{
    if (value >= 1 && value <= 5) {
        m_cachedCardType = value;
        return value;
    }
    m_cachedCardType = 0;
    boost::throw_exception(Modbus::Error("Invalid card type returned"));
}

int TolvarenCommsCommon::CardTypeNow(bool useCached)
{
    const int cached = m_cachedCardType;
    if (useCached && cached != 0) {
        return cached;
    }
    return AcceptCardType(ReadSingleRegister(false, regCardType).get());
}

boost::future<int> TolvarenCommsCommon::GetCardType(bool useCached)
{
    const int cached = m_cachedCardType;
    if (useCached && cached != 0) {
        return Ready<int>(cached);
    }
    return m_then.ThenInline<int, unsigned short>(
        ReadSingleRegister(false, regCardType),
        [this](boost::future<unsigned short>& f) { return AcceptCardType(f.get()); });
}

boost::future<unsigned> TolvarenCommsCommon::GetNumInputs()
{
    return m_then.ThenInline<unsigned, int>(
        GetCardType(true), [](boost::future<int>& f) { return TolvarenNumInputs(f.get()); });
}

boost::future<unsigned> TolvarenCommsCommon::GetNumOutputs()
{
    return m_then.ThenInline<unsigned, int>(
        GetCardType(true), [](boost::future<int>& f) { return TolvarenNumOutputs(f.get()); });
}

unsigned TolvarenCommsCommon::NumPointsNow(IoDirection dir)
{
    const int type = CardTypeNow(true);
    return dir == Output ? TolvarenNumOutputs(type) : TolvarenNumInputs(type);
}

unsigned TolvarenCommsCommon::GetNumPoints(IoDirection dir)
{
    return NumPointsNow(dir);
}

std::uint16_t TolvarenCommsCommon::Address(std::uint16_t base, IoDirection dir, unsigned index)
{
    unsigned address = base + index;
    if (dir == Output && RegisterVersionNow() > 3) {
        address += outputRuleShift;
    }
    return static_cast<std::uint16_t>(address);
}

boost::future<std::string> TolvarenCommsCommon::GetFirmwareVersionString()
{
    auto minor = ReadSingleRegister(false, regFirmwareMinor);
    auto major =
        std::make_shared<boost::future<std::uint16_t>>(ReadSingleRegister(false, regFirmwareMajor));
    return m_then.Then<std::string, unsigned short>(
        std::move(minor), [major](boost::future<unsigned short>& minorPart) {
            const unsigned short minorValue = minorPart.get();
            const unsigned short majorValue = major->get();
            std::string text = std::to_string(majorValue) + ".";
            if (minorValue < 10) {
                text += "0";
            }
            return text + std::to_string(minorValue);
        });
}

boost::future<float> TolvarenCommsCommon::GetBoardVoltage()
{
    return m_then.ThenInline<float, unsigned short>(
        ReadSingleRegister(false, regBoardMillivolts),
        [](boost::future<unsigned short>& f) { return f.get() / 1000.0f; });
}

boost::future<std::string> TolvarenCommsCommon::GetSoftwareBuildDate()
{
    return m_then.ThenInline<std::string, ByteVec>(Qel(QEL_GET_BUILD_DATE),
                                             [](boost::future<ByteVec>& f) {
                                                 const ByteVec bytes = f.get();
                                                 return std::string(bytes.begin(), bytes.end());
                                             });
}

boost::future<std::string> TolvarenCommsCommon::GetConfigText()
{
    return m_then.ThenInline<std::string, ByteVec>(Qel(QEL_GET_CONFIG_TEXT),
                                             [](boost::future<ByteVec>& f) {
                                                 const ByteVec bytes = f.get();
                                                 return std::string(bytes.begin(), bytes.end());
                                             });
}

boost::future<ByteVec> TolvarenCommsCommon::GetTrafficLogChunk(bool continuation)
{
    return Qel(QEL_GET_TRAFFIC_LOG, ByteVec{static_cast<unsigned char>(continuation ? 1 : 0)});
}

boost::future<std::uint16_t> TolvarenCommsCommon::ReadSingleRegister(bool holding,
                                                                     std::uint16_t address)
{
    auto lock = LockMaster();
    return master.ReadRegister(
        holding ? ModbusMaster::HoldingRegisters : ModbusMaster::InputRegisters, address);
}

boost::future<bool> TolvarenCommsCommon::ReadSingleBit(bool isCoil, std::uint16_t address)
{
    auto lock = LockMaster();
    return master.ReadBit(isCoil, address);
}

boost::future<void> TolvarenCommsCommon::WriteSingleRegister(std::uint16_t address,
                                                             std::uint16_t value)
{
    auto lock = LockMaster();
    return master.WriteRegisterUInt16(address, value);
}

boost::future<void> TolvarenCommsCommon::WriteSingleCoil(std::uint16_t address, bool value)
{
    auto lock = LockMaster();
    return master.WriteCoil(address, value);
}

ByteVec TolvarenCommsCommon::ReadEe(std::uint32_t address, std::uint8_t length)
{
    ByteVec args;
    ProtocolBytes::AppendU32(args, address);
    args.push_back(length);
    ByteVec reply = Qel(QEL_EE_READ, args).get();
    if (reply.size() != length) {
        boost::throw_exception(Modbus::Error("Incorrect number of bytes returned in EE read"));
    }
    return reply;
}

// ---- Calibration storage -----------------------------------------------------------------

boost::future<std::vector<float>> TolvarenCommsCommon::ReadCalibrationBlock(std::uint8_t block)
{
    return m_then.ThenInline<std::vector<float>, ByteVec>(
        Qel(QEL_READ_CALIBRATION, ByteVec{block}), [](boost::future<ByteVec>& f) {
            const ByteVec bytes = f.get();
            if (bytes.size() % 4 != 0) {
                boost::throw_exception(Modbus::Error(
                    "Number of bytes not multiple of 4 so can't interpret as floats"));
            }
            std::vector<float> values;
            for (std::size_t i = 0; i < bytes.size(); i += 4) {
                // Calibration blocks are little-endian.
                const std::uint32_t bits =
                    std::uint32_t(bytes[i]) | (std::uint32_t(bytes[i + 1]) << 8) |
                    (std::uint32_t(bytes[i + 2]) << 16) | (std::uint32_t(bytes[i + 3]) << 24);
                float value;
                std::memcpy(&value, &bits, sizeof value);
                values.push_back(value);
            }
            return values;
        });
}

boost::future<void> TolvarenCommsCommon::BeginCalibrationWrite()
{
    return QelIgnoringReply(QEL_CALIBRATION_STORE, ByteVec{0});
}

boost::future<void> TolvarenCommsCommon::WriteCalibrationBlock(std::uint8_t block, const void* data,
                                                               std::size_t length)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    ByteVec args(1 + length);
    args[0] = block;
    for (std::size_t i = 0; i < length; ++i) {
        args[1 + i] = bytes[i];
    }
    return QelIgnoringReply(QEL_WRITE_CALIBRATION, args);
}

boost::future<void> TolvarenCommsCommon::EndCalibrationWrite()
{
    return QelIgnoringReply(QEL_CALIBRATION_STORE, ByteVec{1});
}

// ---- Scaling profile catalogue -------------------------------------------------------------

boost::future<std::string> TolvarenCommsCommon::GetScalingProfileName(unsigned profileId)
{
    if (profileId == TolvarenScaling::digitalProfileId) {
        return Ready<std::string>("Digital");
    }
    auto lock = LockMaster();
    return master.ReadRegistersAsString(ModbusMaster::InputRegisters,
                                        static_cast<unsigned short>(baseProfileName + profileId),
                                        profileNameLength);
}

boost::future<std::string> TolvarenCommsCommon::GetScalingProfileCode(unsigned profileId)
{
    auto lock = LockMaster();
    return master.ReadRegistersAsString(ModbusMaster::InputRegisters,
                                        static_cast<unsigned short>(baseProfileCode + profileId),
                                        profileCodeLength);
}

// ---- Vendor commands -----------------------------------------------------------------------

boost::future<ByteVec> TolvarenCommsCommon::Qel(std::uint16_t subCommand, const ByteVec& args)
{
    auto lock = LockMaster();
    return master.SendQelCommand(subCommand, args);
}

ByteVec TolvarenCommsCommon::SendQelCommandAndWait(std::uint16_t subCommand, const ByteVec& args)
{
    return Qel(subCommand, args).get();
}

boost::future<void> TolvarenCommsCommon::QelIgnoringReply(std::uint16_t subCommand,
                                                          const ByteVec& args)
{
    return m_then.ThenInline<void, ByteVec>(Qel(subCommand, args),
                                      [](boost::future<ByteVec>& f) { f.get(); });
}
