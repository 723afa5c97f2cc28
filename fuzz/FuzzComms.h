#pragma once

#include <vector>

#include "comms/ICommsInterface.h"

// A byte pipe that answers nothing by itself: frames given to Transmit are kept, and Deliver
// hands bytes to the datalink on the caller's thread, so one fuzz input runs start to end on
// one thread without waiting for anything.
//
// Threads: one thread (the fuzz driver). Transmit is called by the datalink under its own lock.
class FuzzComms : public ICommsInterface
{
public:
    void Transmit(const ByteVec& bytes) override { m_transmitted.push_back(bytes); }
    boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) override
    {
        return m_signal.connect(slot);
    }

    void Deliver(const ByteVec& bytes)
    {
        ByteVec chunk = bytes;
        m_signal(chunk);
    }
    const std::vector<ByteVec>& Transmitted() const { return m_transmitted; }
    void Clear() { m_transmitted.clear(); }

private:
    DataReceivedSignal m_signal;
    std::vector<ByteVec> m_transmitted;
};
