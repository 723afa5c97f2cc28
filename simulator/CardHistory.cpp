#include "simulator/CardHistory.h"

#include <algorithm>
#include <limits>

#include "simulator/CardBytes.h"
#include "simulator/ModbusSlaveConstants.h"
#include "simulator/SimulatedPlant.h"

namespace {

// Where in every 768 stores the power was off.
const std::int64_t powerGapPhase = 500;

} // namespace

CardHistory::CardHistory(unsigned numInputs, unsigned numOutputs, SampleSource source)
    : m_numInputs(numInputs), m_numOutputs(numOutputs), m_source(std::move(source))
{
}

std::int64_t CardHistory::LastStore(std::int64_t nowMs)
{
    return SimulatedPlant::FloorDiv(nowMs, intervalMs);
}

std::int64_t CardHistory::MsSinceLastStore(std::int64_t nowMs)
{
    return SimulatedPlant::FloorMod(nowMs, intervalMs);
}

bool CardHistory::IsPowerGap(std::int64_t store)
{
    return SimulatedPlant::FloorMod(store, capacity) == powerGapPhase;
}

bool CardHistory::Exists(bool isInput, unsigned index) const
{
    return index < (isInput ? m_numInputs : m_numOutputs);
}

unsigned CardHistory::Count(bool isInput, unsigned index, std::int64_t nowMs) const
{
    const auto cleared = m_clearedAt.find(std::make_pair(isInput, index));
    if (cleared == m_clearedAt.end())
        return capacity; // the card has been recording for longer than 8 days
    const std::int64_t since = LastStore(nowMs) - cleared->second;
    return static_cast<unsigned>(
        std::min<std::int64_t>(std::max<std::int64_t>(since, 0), capacity));
}

std::vector<float> CardHistory::Samples(bool isInput, unsigned index, unsigned first, unsigned max,
                                        std::int64_t nowMs) const
{
    std::vector<float> samples;
    const unsigned count = Count(isInput, index, nowMs);
    if (first >= count)
        return samples;
    const std::int64_t oldestStore = LastStore(nowMs) - count + 1;
    const unsigned n = std::min(max, count - first);
    samples.reserve(n);
    for (unsigned k = first; k < first + n; ++k) {
        const std::int64_t store = oldestStore + k;
        samples.push_back(IsPowerGap(store) ? std::numeric_limits<float>::quiet_NaN()
                                            : m_source(isInput, index, store * intervalMs));
    }
    return samples;
}

void CardHistory::Clear(bool isInput, unsigned index, std::int64_t nowMs)
{
    m_clearedAt[std::make_pair(isInput, index)] = LastStore(nowMs);
}

int CardHistory::HandleRead(const ByteVec& arguments, ByteVec& payload, std::int64_t nowMs) const
{
    if (arguments.size() != 4)
        return illegalDataValue;
    const bool isInput = arguments[0] != 0; // 1 = input here, unlike sub-command 18
    const unsigned index = arguments[1];
    if (!Exists(isInput, index))
        return illegalDataAddress;
    const unsigned first = CardBytes::ReadU16(arguments, 2);
    const std::vector<float> samples = Samples(isInput, index, first, samplesPerPiece, nowMs);
    payload.push_back(static_cast<unsigned char>(samples.size()));
    for (float sample : samples)
        CardBytes::AppendFloat(payload, sample);
    return 0;
}

int CardHistory::HandleClear(const ByteVec& arguments, std::int64_t nowMs)
{
    if (arguments.size() != 2)
        return illegalDataValue;
    const bool isInput = arguments[0] == 0; // 0 = input here
    const unsigned index = arguments[1];
    if (!Exists(isInput, index))
        return illegalDataAddress;
    Clear(isInput, index, nowMs);
    return 0;
}
