#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

#include "comms/ByteVec.h"

// One direction of a serial line: when each byte put on it has finished arriving at the far
// end. A byte takes the line's byte time (10 bits at 8N1) and the line carries one byte at a
// time, so bytes put on it together arrive one byte time apart, and nothing arrives before the
// last byte ahead of it. A latency (a USB adapter holding what it received) delays the first
// byte put on an idle line.
//
// Threads: one thread at a time.
class LineSchedule
{
public:
    typedef std::chrono::steady_clock::time_point TimePoint;
    typedef std::chrono::nanoseconds Duration;

    // A byte time of zero delivers bytes as soon as they are put on the line (after the
    // latency).
    LineSchedule(Duration byteTime, Duration latency);

    // Time of one byte of 8 data bits with a start and a stop bit.
    static Duration ByteTime(unsigned baudRate);

    // The sender put these bytes on the line at this time.
    void Add(TimePoint at, const unsigned char* bytes, std::size_t count);

    bool IsEmpty() const { return m_bursts.empty(); }
    // When the first byte still on the line arrives. Only when not empty.
    TimePoint NextDue() const;
    // When the receiver should next take bytes: when the last byte on the line arrives, but no
    // later than hold after the first, so that long frames arrive in pieces as on a wire. Only
    // when not empty.
    TimePoint WakeAt(Duration hold) const;
    // Removes and returns, in order, the bytes that have arrived by now.
    ByteVec TakeDue(TimePoint now);

private:
    struct Burst
    {
        TimePoint firstDue; // the first byte's arrival; each further one a byte time later
        ByteVec bytes;
        std::size_t taken = 0;
    };
    TimePoint DueOf(const Burst& burst, std::size_t index) const;

    Duration m_byteTime;
    Duration m_latency;
    TimePoint m_lineFreeAt; // the last byte on the line has arrived by then
    std::deque<Burst> m_bursts;
};
