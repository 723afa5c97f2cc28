#pragma once

#include <memory>

#include <boost/function.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/mutex.hpp>
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
// ready and until the next RefreshSnapshot(). The gathering-occurring and progress callbacks
// run on the worker thread. The worker is started by the first RefreshSnapshot() and waits between
// gatherings (starting a thread per gathering costs more than a short gathering on a busy
// machine); the destructor lets a gathering in progress finish and joins the worker.
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
    // Called during a full gathering after each point and each scaling profile read, with how
    // much of the reading is done of how much in all (counted in card requests, roughly; done
    // reaches expected when the rest takes a few requests more). Runs on the worker thread.
    void SetProgressCallback(boost::function<void(unsigned done, unsigned expected)> callback);

    // Starts a gathering. Throws ExceptionWithString "RefreshSnapshot() already occurring" when
    // the previous one is still running 100 ms later. The future holds the error that ended the
    // gathering, with its type (Tolvaren::FirmwareTooOldError, Modbus::TimeoutError, ...).
    boost::future<void> RefreshSnapshot();

    const TolvarenSnapshot& Snapshot() const { return m_snapshot; }

private:
    void WorkerLoop();
    void Gather(boost::promise<void>& promise);
    void GatherFull(TolvarenCommsCommon& comms);
    void GatherIncremental(TolvarenCommsCommon& comms);

    TolvarenSnapshot m_snapshot;
    ModbusMasterDatalink& m_datalink;
    boost::function<void()> m_gatheringOccurringCallback;
    boost::function<void(unsigned, unsigned)> m_progressCallback;
    boost::thread m_worker;

    // Hand-over between RefreshSnapshot and the worker, guarded by m_jobMutex.
    boost::mutex m_jobMutex;
    boost::condition_variable m_jobChanged;
    std::shared_ptr<boost::promise<void>> m_job; // queued, not yet taken by the worker
    bool m_busy = false;         // a gathering is queued or running
    bool m_workerRunning = false;
    bool m_stopping = false;
};
