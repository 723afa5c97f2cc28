// Reply reassembly of the datalink: arbitrary bytes, in chunks whose sizes the input chooses,
// arrive for one pending request. The request must end in a reply that passes every check or in
// a clean Modbus error; nothing may crash or stay pending.
//
// Input: parser's minimum data length (1 byte), request function code (1 byte), then chunks,
// each a size byte and that many bytes.

#include <algorithm>
#include <cstdlib>
#include <cstdio>

#include <boost/throw_exception.hpp>

#include "fuzz/DatalinkDriver.h"
#include "fuzz/FuzzInput.h"
#include "modbus/ModbusCrc.h"
#include "modbus/ModbusErrors.h"

namespace {

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "datalink: %s\n", what);
    std::abort();
}

bool Contains(const ByteVec& stream, const ByteVec& frame)
{
    return std::search(stream.begin(), stream.end(), frame.begin(), frame.end()) != stream.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    DatalinkDriver& driver = DatalinkDriver::Instance();
    FuzzInput input(data, size);
    const std::size_t minimum = input.Byte();
    const unsigned char function = input.Byte();

    // Like the function layer's parsers: too few bytes means "wait for more".
    boost::function<ByteVec(const ByteVec&)> parse = [minimum](const ByteVec& reply) {
        if (reply.size() < minimum)
            boost::throw_exception(Modbus::ReplyTooShortError("reply too short"));
        return reply;
    };
    ModbusMasterDatalink::RequestHandle handle;
    boost::future<ByteVec> result =
        driver.link.SendRequest<ByteVec>(function, ByteVec{0x00, 0x10, 0x00, 0x02}, parse, &handle);

    ByteVec stream;
    while (!input.Empty()) {
        const ByteVec chunk = input.Piece();
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        driver.comms.Deliver(chunk);
    }
    if (!result.is_ready())
        ModbusMasterDatalinkTestPeer::FailCurrentWait(driver.link);
    if (!result.is_ready())
        Broken("request still pending after its wait failed");

    try {
        const ByteVec reply = result.get();
        if (reply.size() < minimum)
            Broken("reply shorter than its parser accepts");
        ByteVec frame{driver.link.GetNodeAddress(), function};
        frame.insert(frame.end(), reply.begin(), reply.end());
        AppendModbusCrc(frame);
        if (!Contains(stream, frame))
            Broken("reply taken that was never received whole with a valid CRC");
    } catch (const Modbus::Error& error) {
        if (error.Kind() == Modbus::ExceptionReply) {
            const ByteVec& frame = error.Reply();
            if (frame.size() < 5 || !HasValidModbusCrc(frame.data(), frame.size()) ||
                frame[0] != driver.link.GetNodeAddress() || !(frame[1] & 0x80) ||
                frame[2] != error.ExceptionCode() || !Contains(stream, frame))
                Broken("exception reply that fails its checks");
        }
    }
    driver.comms.Clear();
    return 0;
}
