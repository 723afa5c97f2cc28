#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "comms/ByteVec.h"

// The simulated card's traffic log (vendor sub-command 21): the frames the card received and
// sent, as records of type (2 received, 3 sent), time in 16 us units of the card's clock (40
// bits, low 32 little-endian, then bits 32..39), frame length and frame bytes. The log holds
// about `capacity` bytes; when older records have to make room, a "frames have been missed"
// record (type 1, no frame) takes their place. A record that a read has begun is never dropped,
// so the reader's stream stays whole.
//
// Frames that read the log itself are not recorded: their replies carry the log, so recording
// them would feed it faster than it can be read.
//
// Threads: used by the card under its state lock; not thread-safe by itself.
class CardTrafficLog
{
public:
    static constexpr std::size_t capacity = 8192;
    // A reply payload: the frame's 252 data bytes less the length byte and the echoed
    // sub-command.
    static constexpr std::size_t maxChunk = 249;
    static constexpr std::uint16_t subCommand = 21;

    enum Direction { Received = 2, Sent = 3 };

    // A frame as seen on the bus (address, function code, data, CRC).
    void Record(Direction direction, const ByteVec& frame, std::int64_t nowMs);
    // Whether frame is a request to read this log (vendor function, sub-command 21).
    static bool IsLogRead(const ByteVec& frame);

    // Sub-command 21: [0] starts a new series (the log restarts empty, the payload is empty);
    // [1] takes the next up to maxChunk bytes, which may end inside a record.
    int HandleRead(const ByteVec& arguments, ByteVec& payload);

    // Bytes not read yet.
    std::size_t Size() const { return m_size - m_readOfFirst; }

private:
    // Drops the oldest record that no read has begun, or turns it into a missed-frames mark.
    bool DropOldest();

    // Whole records, oldest first; the first may have been partly read (m_readOfFirst bytes).
    std::deque<ByteVec> m_records;
    std::size_t m_size = 0;
    std::size_t m_readOfFirst = 0;
};
