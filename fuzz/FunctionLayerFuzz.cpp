// The function layer's reply parsers: one typed operation, chosen by the input, is answered
// with a reply frame whose function code and data come from the input (the CRC is made right,
// so every parser sees the data). The operation must end in its value or a Modbus error.
//
// Input: operation (1 byte), its parameters (as each reads them), reply function (1 byte: 0 the
// request's, 1 its exception form, else the byte itself), split point (1 byte), reply data.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/DatalinkDriver.h"
#include "comms/ExceptionWithString.h"
#include "fuzz/FuzzInput.h"
#include "modbus/ModbusCrc.h"
#include "modbus/ModbusErrors.h"
#include "modbus/ModbusMaster.h"

namespace {

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "function layer: %s\n", what);
    std::abort();
}

// Answers the request just transmitted, in two pieces, and fails the wait if that did not end
// it. Returns false when nothing was transmitted (the operation refused its arguments).
bool Answer(DatalinkDriver& driver, FuzzInput& input)
{
    if (driver.comms.Transmitted().empty())
        return false;
    const ByteVec& request = driver.comms.Transmitted().back();
    const unsigned char mode = input.Byte();
    unsigned char function = mode;
    if (mode == 0)
        function = request[1];
    else if (mode == 1)
        function = static_cast<unsigned char>(request[1] | 0x80);
    const std::size_t split = input.Byte();
    ByteVec reply{request[0], function};
    const ByteVec data = input.Take(252);
    reply.insert(reply.end(), data.begin(), data.end());
    AppendModbusCrc(reply);
    const std::size_t first = std::min(split, reply.size());
    driver.comms.Deliver(ByteVec(reply.begin(), reply.begin() + long(first)));
    driver.comms.Deliver(ByteVec(reply.begin() + long(first), reply.end()));
    return true;
}

template <typename T, typename Check>
void Finish(DatalinkDriver& driver, FuzzInput& input, boost::future<T> result, Check check)
{
    Answer(driver, input);
    if (!result.is_ready())
        ModbusMasterDatalinkTestPeer::FailCurrentWait(driver.link);
    if (!result.is_ready())
        Broken("operation still pending after its wait failed");
    try {
        check(result);
    } catch (const Modbus::Error&) {
    } catch (const ExceptionWithString&) {
        // Arguments refused before sending.
    }
}

const auto anyValue = [](auto& result) { result.get(); };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    DatalinkDriver& driver = DatalinkDriver::Instance();
    driver.comms.Clear();
    FuzzInput input(data, size);
    ModbusMaster master(driver.link);
    const unsigned op = input.Byte() % 16;
    const ModbusMaster::RegisterKind kind = input.Byte() & 1;
    const unsigned short address = input.U16();
    // Counts stay small enough for one frame; the layer refuses larger ones itself.
    const unsigned short n = input.Byte();

    try {
        switch (op) {
        case 0: Finish(driver, input, master.ReadRegister(kind, address), anyValue); break;
        case 1:
            Finish(driver, input, master.ReadRegistersUInt16(kind, address, n), anyValue);
            break;
        case 2:
            Finish(driver, input, master.ReadRegistersInt16(kind, address, n), anyValue);
            break;
        case 3:
            Finish(driver, input, master.ReadRegistersFloat(kind, address, n), anyValue);
            break;
        case 4:
            Finish(driver, input, master.ReadRegistersUInt32(kind, address, n), anyValue);
            break;
        case 5: Finish(driver, input, master.ReadFloat(kind, address), anyValue); break;
        case 6:
            Finish(driver, input, master.ReadRegistersAsData(kind, address, n), anyValue);
            break;
        case 7:
            Finish(driver, input, master.ReadRegistersAsString(kind, address, n), anyValue);
            break;
        case 8: {
            const unsigned short bits = static_cast<unsigned short>(n * 9);
            Finish(driver, input, master.ReadBits(kind == 1, address, bits),
                   [bits](boost::future<std::vector<bool>>& result) {
                       if (result.get().size() != bits)
                           Broken("bit read returned another number of bits");
                   });
            break;
        }
        case 9: Finish(driver, input, master.ReadBit(kind == 1, address), anyValue); break;
        case 10:
            Finish(driver, input, master.WriteRegisterUInt16(address, n), anyValue);
            break;
        case 11: Finish(driver, input, master.WriteCoil(address, n & 1), anyValue); break;
        case 12:
            Finish(driver, input, master.WriteRegistersAsData(address, input.Take(n)), anyValue);
            break;
        case 13: Finish(driver, input, master.WriteFloat(address, float(n) / 3), anyValue); break;
        case 14: {
            const ByteVec text = input.Take(n);
            Finish(driver, input,
                   master.WriteRegistersString(address, std::string(text.begin(), text.end()),
                                               input.Byte()),
                   anyValue);
            break;
        }
        default:
            Finish(driver, input, master.SendQelCommand(address, input.Take(n)), anyValue);
            break;
        }
    } catch (const Modbus::Error&) {
        // Refused before anything was sent.
    } catch (const ExceptionWithString&) {
    }
    driver.comms.Clear();
    return 0;
}
