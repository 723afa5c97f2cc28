#pragma once

#include <boost/signals2/signal.hpp>

#include "comms/ByteVec.h"

// Emitted on the implementation's own worker thread with the bytes that arrived since the last
// emission. Slots may modify the vector; the emitter discards it afterwards.
typedef boost::signals2::signal<void(ByteVec&)> DataReceivedSignal;

// A byte pipe to a card: a non-blocking send and a data-received signal.
// Threads: Transmit and ConnectDataReceived may be called from any thread, including from inside
// a slot of the same object's DataReceivedSignal.
class ICommsInterface
{
public:
    // Queues the bytes for sending after anything queued before and returns at once.
    virtual void Transmit(const ByteVec& bytes) = 0;
    // Connects the slot at the back of the implementation's DataReceivedSignal.
    virtual boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) = 0;
    virtual ~ICommsInterface() = default;
};
