#pragma once

#include <boost/function.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/thread.hpp>

#include "protocol/TolvarenSnapshot.h"

class ModbusMasterDatalink;
class TolvarenCommsCommon;

// Reads a card into a TolvarenSnapshot on a worker thread. The first gathering of a gatherer
// reads everything; every later one only what changes while the card runs. To read everything
// again, make a new gatherer.
//
// Threads: RefreshSnapshot, Snapshot and the destructor are called from one thread (the
// user-interface thread). The gathering runs on the gatherer's worker thread, which writes the
// snapshot without a lock: read Snapshot() only once the future of the last RefreshSnapshot() is
// ready and until the next RefreshSnapshot(). The gathering-occurring callback runs on the
// worker thread. The destructor joins the worker.
class TolvarenSnapshotGatherer
{
public:
    explicit TolvarenSnapshotGatherer(ModbusMasterDatalink& datalink);
    ~TolvarenSnapshotGatherer();
    TolvarenSnapshotGatherer(const TolvarenSnapshotGatherer&) = delete;
    TolvarenSnapshotGatherer& operator=(const TolvarenSnapshotGatherer&) = delete;

    // Called once per full gathering, after the card has been identified and accepted and
    // before its points are read.
    void SetGatheringOccurringCallback(boost::function<void()> callback);

    // Starts a gathering. Throws ExceptionWithString "RefreshSnapshot() already occurring" when
    // the previous one is still running 100 ms later. The future holds the error that ended the
    // gathering, with its type (Tolvaren::FirmwareTooOldError, Modbus::TimeoutError, ...).
    boost::future<void> RefreshSnapshot();

    const TolvarenSnapshot& Snapshot() const { return m_snapshot; }

private:
    void Gather(boost::promise<void>& promise);
    void GatherFull(TolvarenCommsCommon& comms);
    void GatherIncremental(TolvarenCommsCommon& comms);

    TolvarenSnapshot m_snapshot;
    ModbusMasterDatalink& m_datalink;
    boost::function<void()> m_gatheringOccurringCallback;
    boost::thread m_worker;
};
