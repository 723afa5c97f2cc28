// The traffic-log stream as the card hands it out in pieces: records are cut from the stream
// across piece boundaries and every record, however malformed its frame, is described.
//
// Input: pieces, each a length byte and its bytes; the first byte of each piece's length also
// moves the wall clock used to anchor the card's time.

#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzInput.h"
#include "widgets/TrafficLogDecoder.h"

namespace {

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "traffic log: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    TrafficLogDecoder decoder;
    std::size_t streamed = 0;
    std::size_t taken = 0;
    std::int64_t nowMs = 0;
    while (!input.Empty()) {
        const ByteVec piece = input.Piece();
        streamed += piece.size();
        std::vector<TrafficRecord> records;
        decoder.ParseTrafficRecords(piece.data(), piece.size(), records);
        if (decoder.TailSize() >= TrafficLogDecoder::headerSize + 256)
            Broken("tail holds more than one unfinished record");
        for (const TrafficRecord& record : records) {
            taken += TrafficLogDecoder::headerSize + record.frame.size();
            if (record.microseconds >= 1000000)
                Broken("microseconds past a whole second");
            TrafficLogDecoder::Row row;
            nowMs += 86399999;
            decoder.DescribeTrafficRecord(record, nowMs, row);
            if (row.cells[TrafficLogDecoder::FrameColumn].size() != int(3 * record.frame.size()))
                Broken("frame column does not show every byte");
        }
        if (taken + decoder.TailSize() != streamed)
            Broken("bytes lost or duplicated between records and tail");
    }
    return 0;
}
