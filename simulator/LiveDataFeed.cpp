#include "simulator/LiveDataFeed.h"

#include "simulator/CardBytes.h"
#include "simulator/ModbusSlaveConstants.h"
#include "simulator/SimulatedPlant.h"

namespace {

// A reply after a gap: the count says 32, the marker and the latest 31 samples.
const std::int64_t samplesAfterGap = 31;
const std::int64_t mostSamplesDue = 32;

} // namespace

LiveDataFeed::LiveDataFeed(unsigned numInputs, unsigned numOutputs, SampleSource source)
    : m_numInputs(numInputs), m_numOutputs(numOutputs), m_source(std::move(source))
{
}

int LiveDataFeed::Handle(const ByteVec& arguments, ByteVec& payload, std::int64_t nowMs)
{
    if (arguments.size() != 2)
        return illegalDataValue;
    const bool isInput = arguments[0] != 0;
    const unsigned index = arguments[1];
    if (index >= (isInput ? m_numInputs : m_numOutputs))
        return illegalDataAddress;

    const std::int64_t now = SimulatedPlant::FloorDiv(nowMs, tickMs);
    const auto key = std::make_pair(isInput, index);
    const auto last = m_lastTick.find(key);
    std::int64_t first;
    if (last != m_lastTick.end() && now == last->second) {
        payload.push_back(0);
        return 0;
    }
    // A clock that went back counts as a gap too.
    if (last == m_lastTick.end() || now < last->second || now - last->second > mostSamplesDue) {
        payload.push_back(static_cast<unsigned char>(samplesAfterGap + 1));
        CardBytes::AppendU32(payload, 0xFFFFFFFFu);
        first = now - samplesAfterGap + 1;
    } else {
        payload.push_back(static_cast<unsigned char>(now - last->second));
        first = last->second + 1;
    }
    for (std::int64_t tick = first; tick <= now; ++tick)
        CardBytes::AppendFloat(payload, m_source(isInput, index, tick * tickMs));
    m_lastTick[key] = now;
    return 0;
}
