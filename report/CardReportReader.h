#pragma once

#include <atomic>

#include <boost/function.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/thread.hpp>

#include "report/CardReading.h"

class ModbusMasterDatalink;

// Reads what a card report needs, on a worker thread of its own: a full gathering, the values of
// every control module's parameters and, with withEightDay, the 8-day data of every point (the
// long part: several hundred requests).
//
// Threads: construct, Start, InterruptAndJoin and destroy from one thread. The progress callback
// (0..100) runs on the worker. InterruptAndJoin stops the worker at its next wait for the card;
// it then ends without satisfying its promise (Start's future reports a broken promise). The
// destructor interrupts and joins the worker. The datalink must outlive this object.
class CardReportReader
{
public:
    CardReportReader(ModbusMasterDatalink& datalink, bool withEightDay,
                     boost::function<void(float percent)> progress);
    ~CardReportReader();
    CardReportReader(const CardReportReader&) = delete;
    CardReportReader& operator=(const CardReportReader&) = delete;

    // The card's errors arrive in the future with their own types.
    boost::future<CardReading> Start();
    void InterruptAndJoin();

    // A lost reply (a time-out) of an 8-day read is asked for again up to this many times.
    static const unsigned maxRetries = 3;

private:
    void Read(CardReading& reading);
    void ReadModules(CardReading& reading);
    void ReadEightDay(CardReading& reading);
    void Report(float percent);

    ModbusMasterDatalink& m_datalink;
    const bool m_withEightDay;
    const boost::function<void(float)> m_progress;
    bool m_started = false;
    boost::thread m_worker;
};
