#include "tests/support/FakeCard.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/lock_types.hpp>

#include "simulator/ModbusSlaveConstants.h"
#include "simulator/VendorCommandFrame.h"

namespace {

const int deviceFailure = 4;

} // namespace

ByteVec FakeCardRequest::VendorArguments() const
{
    if (!IsVendor() || data.size() < 3)
        return ByteVec();
    return ByteVec(data.begin() + 3, data.end());
}

FakeCard::FakeCard() : FakeCard(Identity()) {}

FakeCard::FakeCard(const Identity& identity)
{
    SetIdentity(identity);
}

FakeCard::FakeCard(int cardType, std::uint16_t registerVersion)
{
    Identity identity;
    identity.cardType = cardType;
    identity.registerVersion = registerVersion;
    SetIdentity(identity);
}

void FakeCard::SetIdentity(const Identity& identity)
{
    SetInputRegisterUInt16(900, identity.serialNumber);
    SetInputRegisterUInt16(901, identity.firmwareMajor);
    SetInputRegisterUInt16(902, identity.firmwareMinor);
    SetInputRegisterUInt16(903, identity.hardwareRevision);
    SetInputRegisterUInt16(904, identity.boardMillivolts);
    SetInputRegisterUInt16(909, identity.controllerAddress);
    SetInputRegisterUInt16(910, static_cast<std::uint16_t>(identity.cardType));
    SetInputRegisterUInt16(911, identity.calibrated ? 1 : 0);
    SetInputRegisterUInt16(65433, identity.registerVersion);
    SetDiscreteInput(908, identity.healthy);
    SetCoil(912, identity.resetOccurred);
}

void FakeCard::SetCardType(int cardType)
{
    SetInputRegisterUInt16(910, static_cast<std::uint16_t>(cardType));
}

void FakeCard::SetRegisterVersion(std::uint16_t version)
{
    SetInputRegisterUInt16(65433, version);
}

void FakeCard::SetVendorHandler(std::uint16_t subCommand, VendorHandler handler)
{
    auto lock = LockState();
    m_vendorHandlers[subCommand] = std::move(handler);
}

void FakeCard::RemoveVendorHandler(std::uint16_t subCommand)
{
    auto lock = LockState();
    m_vendorHandlers.erase(subCommand);
}

void FakeCard::FailFunction(unsigned char functionCode, int exceptionCode)
{
    auto lock = LockState();
    m_functionFailures[functionCode] = exceptionCode;
}

void FakeCard::FailAddress(unsigned char functionCode, std::uint16_t address, int exceptionCode)
{
    auto lock = LockState();
    m_addressFailures[std::make_pair(functionCode, static_cast<unsigned>(address))] =
        exceptionCode;
}

void FakeCard::FailVendorCommand(std::uint16_t subCommand, int exceptionCode)
{
    auto lock = LockState();
    m_vendorFailures[subCommand] = exceptionCode;
}

void FakeCard::DropReplies(unsigned count)
{
    auto lock = LockState();
    m_repliesToDrop = count;
}

void FakeCard::SetDropAllReplies(bool drop)
{
    auto lock = LockState();
    m_dropAll = drop;
}

void FakeCard::ClearFailures()
{
    auto lock = LockState();
    m_functionFailures.clear();
    m_addressFailures.clear();
    m_vendorFailures.clear();
    m_repliesToDrop = 0;
    m_dropAll = false;
}

std::vector<FakeCardRequest> FakeCard::Requests() const
{
    boost::lock_guard<boost::mutex> lock(m_logMutex);
    return m_requests;
}

std::size_t FakeCard::RequestCount() const
{
    boost::lock_guard<boost::mutex> lock(m_logMutex);
    return m_requests.size();
}

void FakeCard::ClearRequests()
{
    boost::lock_guard<boost::mutex> lock(m_logMutex);
    m_requests.clear();
}

bool FakeCard::WaitForRequests(std::size_t count, boost::chrono::milliseconds timeout) const
{
    boost::unique_lock<boost::mutex> lock(m_logMutex);
    return m_logChanged.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

void FakeCard::Record(unsigned char functionCode, unsigned address, const ByteVec& requestData)
{
    FakeCardRequest request;
    request.functionCode = functionCode;
    request.address = address;
    request.data = requestData;
    {
        boost::lock_guard<boost::mutex> lock(m_logMutex);
        m_requests.push_back(std::move(request));
    }
    m_logChanged.notify_all();
}

int FakeCard::ScriptedFailure(unsigned char functionCode, unsigned address) const
{
    if (functionCode == VendorCommandFrame::functionCode) {
        auto vendor = m_vendorFailures.find(static_cast<std::uint16_t>(address));
        if (vendor != m_vendorFailures.end())
            return vendor->second;
    }
    auto at = m_addressFailures.find(std::make_pair(functionCode, address));
    if (at != m_addressFailures.end())
        return at->second;
    auto function = m_functionFailures.find(functionCode);
    if (function != m_functionFailures.end())
        return function->second;
    return 0;
}

int FakeCard::HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                            ByteVec& replyData)
{
    const bool isVendor = functionCode == VendorCommandFrame::functionCode;
    unsigned address = 0;
    if (isVendor && requestData.size() >= 3)
        address = (static_cast<unsigned>(requestData[1]) << 8) | requestData[2];
    else if (!isVendor && requestData.size() >= 2)
        address = (static_cast<unsigned>(requestData[0]) << 8) | requestData[1];
    Record(functionCode, address, requestData);

    const int failure = ScriptedFailure(functionCode, address);
    if (failure != 0)
        return failure;

    int result;
    if (isVendor) {
        std::uint16_t subCommand;
        ByteVec arguments, payload;
        if (!VendorCommandFrame::ParseRequest(requestData, subCommand, arguments)) {
            result = illegalDataValue;
        } else {
            result = HandleVendorCommand(subCommand, arguments, payload);
            if (result == 0 && !VendorCommandFrame::BuildReply(subCommand, payload, replyData))
                result = deviceFailure;
        }
    } else {
        result = HandleStandardRequest(functionCode, requestData, replyData);
    }

    if (m_dropAll)
        return NoReply;
    if (m_repliesToDrop > 0) {
        --m_repliesToDrop;
        return NoReply;
    }
    return result;
}

int FakeCard::HandleVendorCommand(std::uint16_t subCommand, const ByteVec& arguments,
                                  ByteVec& payload)
{
    auto it = m_vendorHandlers.find(subCommand);
    if (it == m_vendorHandlers.end() || !it->second)
        return illegalFunction;
    return it->second(arguments, payload);
}

int FakeCard::HandleStandardRequest(unsigned char functionCode, const ByteVec& requestData,
                                    ByteVec& replyData)
{
    return RememberingSimulator::HandleRequest(functionCode, requestData, replyData);
}
