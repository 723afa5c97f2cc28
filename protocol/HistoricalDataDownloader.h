#pragma once

#include <atomic>
#include <string>

#include <QDateTime>

#include <boost/function.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/thread.hpp>

#include "protocol/TolvarenCommsCommon.h"

class ModbusMasterDatalink;

// Reads the 8-day data of every point of the card and writes them into one CSV file (Latin-1,
// CR LF): an optional warning line, an optional power-failure line, a header with each point's
// label and unit, then one row per sample position, oldest first, each column ending with its
// point's newest sample in the last row.
//
// Threads: construct, Start, InterruptAndJoin and destroy from one thread (the user-interface
// thread). The download runs on a worker thread of its own, which waits for every card reply in
// turn; the progress callback runs on that worker and must marshal to the user interface itself.
// InterruptAndJoin stops the worker at its next wait for the card (or at the next line of the
// file): it ends without satisfying its promise, so Start's future reports a broken promise and
// nothing is reported. The file keeps whole lines only. The destructor waits for the worker
// (without interrupting it), then for the card's answer to a request still outstanding.
class HistoricalDataDownloader
{
public:
    // fileName: UTF-8. progress: 0..100, called from the worker; may be empty. The datalink is
    // not owned and must outlive this object.
    HistoricalDataDownloader(ModbusMasterDatalink& datalink, const std::string& fileName,
                             boost::function<void(float percent)> progress);
    ~HistoricalDataDownloader();
    HistoricalDataDownloader(const HistoricalDataDownloader&) = delete;
    HistoricalDataDownloader& operator=(const HistoricalDataDownloader&) = delete;

    // The local time the samples' age is counted back from; the current time by default.
    // Call before Start.
    void SetClock(boost::function<QDateTime()> now);

    // Starts the worker. The future is ready when the file is complete, or holds the error that
    // ended the download: FileWriteError "Cannot open file: " / "Cannot write to file: " + the
    // file name (a full disk keeps the whole lines written before it), or the card's error with
    // its own type. Throws ExceptionWithString when called a second time.
    boost::future<void> Start();

    // Asks the worker to stop and waits until it has ended; returns at once when it has ended
    // already or never started.
    void InterruptAndJoin();

    // A read whose reply is lost (a time-out) is sent again up to this many times before the
    // download fails; a faulty line loses one reply now and then.
    static const unsigned maxRetries = 3;
    // Reads sent again so far; any thread (the progress callback may show it).
    unsigned Retries() const { return m_retries; }

private:
    struct Point;

    void Run(boost::promise<void>& promise);
    void Download();
    void ReadSamples(Point& point, unsigned position, unsigned total);
    void Report(float percent);

    TolvarenCommsCommon m_comms;
    const std::string m_fileName;
    const boost::function<void(float)> m_progress;
    boost::function<QDateTime()> m_now;
    std::atomic<unsigned> m_retries{0};
    bool m_started = false;
    boost::thread m_worker;
};
