// The serial bridge's request assembly: bytes arrive in chunks whose sizes the input chooses.
// Every frame taken must be whole (a valid CRC, 4 to 256 bytes, found in the stream as it
// came), and the bytes kept for later never grow past one frame's worth.
//
// Input: chunks, each a length byte and that many bytes.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzInput.h"
#include "modbus/ModbusCrc.h"
#include "simulator/SimulatorSerialBridge.h"

namespace {

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "bridge framing: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    ByteVec pending;
    ByteVec stream;
    while (!input.Empty()) {
        const ByteVec chunk = input.Piece();
        pending.insert(pending.end(), chunk.begin(), chunk.end());
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        for (const ByteVec& frame : SimulatorSerialBridge::TakeRequestFrames(pending)) {
            if (frame.size() < 4 || frame.size() > 256)
                Broken("frame of impossible size");
            if (!HasValidModbusCrc(frame.data(), frame.size()))
                Broken("frame with a wrong CRC");
            if (std::search(stream.begin(), stream.end(), frame.begin(), frame.end()) ==
                stream.end())
                Broken("frame that never came");
        }
        if (pending.size() > 256)
            Broken("more than a frame's worth of bytes kept");
    }
    return 0;
}
