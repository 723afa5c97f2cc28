#pragma once

#include <cstdint>
#include <vector>

#include "comms/ByteVec.h"

// The calibration storage of a simulated card (vendor sub-commands 5, 6 and 7): eight blocks
// of binary32 values, least significant byte first, as a card keeps them: blocks 0-3 the
// voltage and current lines (16 intercepts or gradients each), 4 the rail voltage, 5 and 6 the
// low- and high-range pull-ups (16 each), 7 the inductor resistance. A card starts with every
// value 0 (not calibrated). Blocks are written between a begin (6 with [0]) and an end (6 with
// [1]); each write takes effect at once, so a store broken off leaves part of the new blocks.
//
// Threads: used by the card under its state lock; not thread-safe by itself.
class CardCalibrationStore
{
public:
    static constexpr unsigned numBlocks = 8;
    static constexpr int illegalDataValue = 3;
    // A block written outside begin/end: the card cannot store it now.
    static constexpr int deviceFailure = 4;

    CardCalibrationStore();

    // Sub-command 5: [block] -> the block's bytes.
    int HandleRead(const ByteVec& arguments, ByteVec& payload) const;
    // Sub-command 6: [0] begins, [1] ends a store.
    int HandleStore(const ByteVec& arguments);
    // Sub-command 7: [block, bytes...], the bytes exactly the block's size.
    int HandleWrite(const ByteVec& arguments);

    static std::size_t BlockSize(unsigned block);
    std::vector<float> Values(unsigned block) const;
    // Value index of block, 0 when the block is shorter.
    float Value(unsigned block, unsigned index) const;
    // Sets a block directly (a card calibrated before it came to the rig); values beyond the
    // block's size are dropped, missing ones are 0.
    void SetValues(unsigned block, const std::vector<float>& values);
    // True once a store has ended.
    bool Stored() const { return m_stored; }

private:
    std::vector<ByteVec> m_blocks;
    bool m_writing = false;
    bool m_stored = false;
};
