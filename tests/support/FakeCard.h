#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include <boost/chrono/duration.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "simulator/RememberingSimulator.h"

// One request as the fake card received it.
struct FakeCardRequest
{
    unsigned char functionCode = 0;
    // Start address of a register or bit access; for the vendor function, the sub-command.
    unsigned address = 0;
    // The request data as received, between the function code and the CRC.
    ByteVec data;

    bool IsVendor() const { return functionCode == 100; }
    // The vendor sub-command's arguments (empty for other functions).
    ByteVec VendorArguments() const;
};

// A configurable card stand-in for tests: any card type and register-map version in the
// identity registers, the Modbus tables of RememberingSimulator, vendor sub-commands answered by
// registered handlers, scripted failures, and a record of every request received.
//
// Threads: every member may be called from any thread. Requests are handled on the thread that
// transmits them (under the simulator's state lock); handlers registered here run there too and
// must not call back into the card's setters. Replies come out on the simulator's timer thread.
class FakeCard : public RememberingSimulator
{
public:
    // The identity registers, with the simulated card's values as defaults.
    struct Identity
    {
        int cardType = 4;                    // input register 910
        std::uint16_t registerVersion = 9;   // input register 65433
        std::uint16_t serialNumber = 0;      // input register 900
        std::uint16_t firmwareMajor = 1;     // input register 901
        std::uint16_t firmwareMinor = 234;   // input register 902
        std::uint16_t hardwareRevision = 1;  // input register 903
        std::uint16_t boardMillivolts = 24000; // input register 904
        std::uint16_t controllerAddress = 1; // input register 909
        bool calibrated = true;              // input register 911
        bool healthy = true;                 // discrete input 908
        bool resetOccurred = true;           // coil 912
    };

    // Answers one vendor sub-command: 0 with the payload filled, or a Modbus exception code.
    typedef std::function<int(const ByteVec& arguments, ByteVec& payload)> VendorHandler;

    FakeCard();
    explicit FakeCard(const Identity& identity);
    FakeCard(int cardType, std::uint16_t registerVersion);

    void SetIdentity(const Identity& identity);
    void SetCardType(int cardType);
    void SetRegisterVersion(std::uint16_t version);

    // Vendor sub-commands without a handler are answered with exception 1.
    void SetVendorHandler(std::uint16_t subCommand, VendorHandler handler);
    void RemoveVendorHandler(std::uint16_t subCommand);

    // Scripted failures, until ClearFailures. A failing request is logged but not carried out.
    // The most specific rule wins: vendor sub-command, then function and address, then function.
    void FailFunction(unsigned char functionCode, int exceptionCode);
    void FailAddress(unsigned char functionCode, std::uint16_t address, int exceptionCode);
    void FailVendorCommand(std::uint16_t subCommand, int exceptionCode);
    // The next count requests are carried out but not answered (the master times out).
    void DropReplies(unsigned count);
    // Every request is carried out and none is answered while set.
    void SetDropAllReplies(bool drop);
    void ClearFailures();

    std::vector<FakeCardRequest> Requests() const;
    std::size_t RequestCount() const;
    void ClearRequests();
    // Waits until at least count requests have been received since the last ClearRequests;
    // false when the time ran out first.
    bool WaitForRequests(std::size_t count,
                         boost::chrono::milliseconds timeout = boost::chrono::seconds(10)) const;

    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override;

protected:
    // Hooks for richer fakes; both run with the state lock held.
    virtual int HandleVendorCommand(std::uint16_t subCommand, const ByteVec& arguments,
                                    ByteVec& payload);
    virtual int HandleStandardRequest(unsigned char functionCode, const ByteVec& requestData,
                                      ByteVec& replyData);

private:
    void Record(unsigned char functionCode, unsigned address, const ByteVec& requestData);
    // With the state lock held: the scripted exception code for this request, or 0.
    int ScriptedFailure(unsigned char functionCode, unsigned address) const;

    std::map<std::uint16_t, VendorHandler> m_vendorHandlers;
    std::map<unsigned char, int> m_functionFailures;
    std::map<std::pair<unsigned char, unsigned>, int> m_addressFailures;
    std::map<std::uint16_t, int> m_vendorFailures;
    unsigned m_repliesToDrop = 0;
    bool m_dropAll = false;

    mutable boost::mutex m_logMutex;
    mutable boost::condition_variable m_logChanged;
    std::vector<FakeCardRequest> m_requests;
};
