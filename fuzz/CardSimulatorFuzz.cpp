// The simulated card's request handling: a fresh card, on a fixed clock, is sent the requests
// the input holds, one after another (so writes, notes and configuration steps meet later
// reads). Every reply must be a frame a master can take: our address, the request's function
// code or its exception form, at most 256 bytes, a valid CRC.
//
// Input: requests, each a length byte and that many bytes (function code and data); the
// address and CRC are added.

#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzInput.h"
#include "modbus/ModbusCrc.h"
#include "simulator/FullCardSimulator.h"

namespace {

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "simulated card: %s\n", what);
    std::abort();
}

// Checks each reply where the card makes it; replies are held, so nothing is emitted.
class CheckedCard : public FullCardSimulator
{
public:
    explicit CheckedCard(const Clock& clock) : FullCardSimulator(clock) { HoldReplies(); }

protected:
    void FrameHandled(const ByteVec& request, const ByteVec* reply) override
    {
        if (reply) {
            if (reply->size() < 4 || reply->size() > 256)
                Broken("reply of impossible size");
            if (!HasValidModbusCrc(reply->data(), reply->size()))
                Broken("reply with a wrong CRC");
            if ((*reply)[0] != request[0] || ((*reply)[1] & 0x7F) != (request[1] & 0x7F))
                Broken("reply for another node or function");
        }
        FullCardSimulator::FrameHandled(request, reply);
    }
};

std::uint64_t g_nowMs = 0;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    g_nowMs = 1000;
    CheckedCard card([] { return g_nowMs; });
    while (!input.Empty()) {
        ByteVec frame{card.NodeAddress()};
        const ByteVec body = input.Piece();
        frame.insert(frame.end(), body.begin(), body.end());
        AppendModbusCrc(frame);
        card.Transmit(frame);
        g_nowMs += 250;
    }
    return 0;
}
