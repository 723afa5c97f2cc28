#pragma once

#include <boost/asio/error.hpp>

#include "fuzz/FuzzComms.h"
#include "modbus/ModbusMasterDatalink.h"

// Ends the exchange on the wire as a failed wait does (the error reaches the head's future), so
// that an input whose bytes never complete a reply ends at once instead of after the reply
// time-out. Uses the datalink's peer access, as its own tests do.
class ModbusMasterDatalinkTestPeer
{
public:
    static void FailCurrentWait(ModbusMasterDatalink& link)
    {
        link.OnReplyTimer(boost::asio::error::timed_out, link.CurrentWaitId());
    }
};

// One datalink on one FuzzComms for the whole process. The time-out is far beyond any run, so
// the timer thread never fails an exchange in the middle of an input.
struct DatalinkDriver
{
    FuzzComms comms;
    ModbusMasterDatalink link{&comms};

    DatalinkDriver() { link.SetReplyTimeoutMs(3600 * 1000); }

    // Never destroyed: the timer thread must not be joined while exit handlers run.
    static DatalinkDriver& Instance()
    {
        static DatalinkDriver* driver = new DatalinkDriver;
        return *driver;
    }
};
