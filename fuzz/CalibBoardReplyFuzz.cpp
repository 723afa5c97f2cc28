// The calibration board link's reply checks. The board is played on the far end of one
// pseudo-terminal pair for the whole process: each input's reply is written before the request
// goes out (bytes waiting on the port are read as the reply), always whole, so the link never
// waits for a byte that is not coming and nothing is left over for the next input.
//
// Input: operation (1 byte: command and what is asked), payload length (1 byte), payload,
// reply length byte, that many reply bytes (zeros once the input ends), checksum byte.

#include <cstdio>
#include <cstdlib>

#include "calibration/CalibBoard.h"
#include "fuzz/FuzzInput.h"
#include "tests/support/PtyPair.h"

namespace {

const int extraPortNumber = 300; // the first path of TOLVAREN_EXTRA_SERIAL_PORTS

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "calibration board: %s\n", what);
    std::abort();
}

struct Bench
{
    PtyPair pty;
    CalibBoard* board;

    Bench()
    {
        ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", pty.SlavePath().c_str(), 1);
        board = new CalibBoard(extraPortNumber);
        // Every reply byte is already on its way: a long wait only guards against a stall.
        board->Link().Comms().defaultTimeoutMs = 10000;
    }

    // Never destroyed: the port's thread must not be joined while exit handlers run.
    static Bench& Instance()
    {
        static Bench* bench = new Bench;
        return *bench;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bench& bench = Bench::Instance();
    CalibBoardLink& link = bench.board->Link();
    FuzzInput input(data, size);
    const std::uint8_t op = input.Byte();
    const ByteVec payload = input.Take(input.Byte() % 64);

    ByteVec reply{input.Byte()};
    const ByteVec body = input.Take(reply[0]);
    reply.insert(reply.end(), body.begin(), body.end());
    reply.resize(1 + std::size_t(reply[0]), 0);
    reply.push_back(input.Byte());
    bench.pty.Write(reply);

    unsigned char sum = 0;
    for (std::size_t i = 1; i < reply.size(); ++i)
        sum = static_cast<unsigned char>(sum + reply[i]);

    const unsigned char command = op & 0x3F;
    std::size_t requestSize = 3 + payload.size();
    try {
        switch (op >> 6) {
        case 0:
        case 1: {
            link.RequireAck = (op >> 6) == 0;
            ByteVec replyPayload;
            const unsigned char status = link.Transact(command, payload, &replyPayload);
            if (sum != 0 || reply[0] < 2 || reply[1] != command ||
                (link.RequireAck && status != 0) || replyPayload.size() != reply[0] - 2u)
                Broken("reply accepted that fails its checks");
            break;
        }
        case 2: {
            ByteVec block{command};
            block.insert(block.end(), payload.begin(), payload.end());
            const ByteVec raw = link.RawTransact(block);
            if (sum != 0 || raw.size() != reply[0])
                Broken("raw reply accepted that fails its checks");
            break;
        }
        default:
            link.RequireAck = true;
            requestSize = 3;
            bench.board->GetVersion();
            if (sum != 0 || reply[0] != 3)
                Broken("version accepted from a wrong reply");
            break;
        }
    } catch (const CalibBoardLink::Error&) {
    }
    if (bench.pty.Read(requestSize).size() != requestSize)
        Broken("request not sent whole");
    return 0;
}
