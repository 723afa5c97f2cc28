#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "comms/ByteVec.h"

// The live data of the simulated card's points (vendor sub-command 16): a sample every 50 ms
// tick of the card's clock. Each request gets the samples due since the point's last request;
// more than 32 due (or a first request) gives the gap marker (a NaN) and the latest 31, and
// none due gives an empty list rather than samples already delivered.
//
// Threads: used by the card under its state lock; not thread-safe by itself.
class LiveDataFeed
{
public:
    static const std::int64_t tickMs = 50;

    // The value of a point at the given time of the card's clock.
    typedef std::function<float(bool isInput, unsigned index, std::int64_t ms)> SampleSource;

    LiveDataFeed(unsigned numInputs, unsigned numOutputs, SampleSource source);

    // [1 input / 0 output, index] -> count byte and that many floats.
    int Handle(const ByteVec& arguments, ByteVec& payload, std::int64_t nowMs);

private:
    unsigned m_numInputs;
    unsigned m_numOutputs;
    SampleSource m_source;
    // (isInput, index) -> last tick delivered.
    std::map<std::pair<bool, unsigned>, std::int64_t> m_lastTick;
};
