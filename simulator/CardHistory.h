#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "comms/ByteVec.h"

// The 8-day data of the simulated card's points (vendor sub-commands 17 and 18): a sample
// every 15 minutes of the card's clock, the newest 768 kept, with one power gap (a NaN sample,
// at the same store for every point). The data move on as the clock runs, so a point's samples
// shift by one at every store, also while they are being read, as on a card.
//
// Threads: used by the card under its state lock; not thread-safe by itself.
class CardHistory
{
public:
    static constexpr unsigned capacity = 768;
    static constexpr std::int64_t intervalMs = 900000;
    // The samples a reply frame carries: a count byte and as many floats as fit.
    static constexpr unsigned samplesPerPiece = 62;

    // The value of a point's sample stored at the given time of the card's clock.
    typedef std::function<float(bool isInput, unsigned index, std::int64_t ms)> SampleSource;

    CardHistory(unsigned numInputs, unsigned numOutputs, SampleSource source);

    // Number of the newest store at the given time (store n is made at n x 15 minutes), and
    // the time since it was made.
    static std::int64_t LastStore(std::int64_t nowMs);
    static std::int64_t MsSinceLastStore(std::int64_t nowMs);
    // Whether the card was without power at this store (its sample is NaN).
    static bool IsPowerGap(std::int64_t store);

    unsigned Count(bool isInput, unsigned index, std::int64_t nowMs) const;
    // Up to max samples of a point from index first (0 = oldest) on.
    std::vector<float> Samples(bool isInput, unsigned index, unsigned first, unsigned max,
                               std::int64_t nowMs) const;
    // Forgets the point's samples; new ones come with the next stores.
    void Clear(bool isInput, unsigned index, std::int64_t nowMs);

    // Sub-command 17: [1 input / 0 output, index, first sample (2 bytes)] -> count byte and
    // that many floats, a count of 0 past the last sample.
    int HandleRead(const ByteVec& arguments, ByteVec& payload, std::int64_t nowMs) const;
    // Sub-command 18: [0 input / 1 output, index] -> empty payload.
    int HandleClear(const ByteVec& arguments, std::int64_t nowMs);

private:
    bool Exists(bool isInput, unsigned index) const;

    unsigned m_numInputs;
    unsigned m_numOutputs;
    SampleSource m_source;
    // Store number after which each cleared point's samples begin.
    std::map<std::pair<bool, unsigned>, std::int64_t> m_clearedAt;
};
