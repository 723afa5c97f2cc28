// The checks of a configuration restore: the image bytes are the input, restored into the fake
// card, whose first write is refused (exception 4) so the run stops there. An image that fails
// its checks must not reach the card at all: nothing may be written before the first write of
// the configuration data, and that write only for an image that passed every check.
//
// Input: card type (1 byte), register-map version (1 byte), flags (1 byte: bit 0 the card keeps
// parameters, bit 1 it keeps notes), then the image.

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "fuzz/FakeCardDriver.h"
#include "fuzz/FuzzInput.h"
#include "modbus/ModbusErrors.h"
#include "protocol/TolvarenCommsCommon.h"

namespace {

using C = TolvarenCommsCommon;
const int refused = 4;

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "config restore: %s\n", what);
    std::abort();
}

bool IsWrite(const FakeCardRequest& request)
{
    switch (request.functionCode) {
    case 5: case 6: case 15: case 16: return true;
    case 100: break;
    default: return false;
    }
    switch (request.address) {
    case C::QEL_WRITE_CONFIG_START: case C::QEL_WRITE_CONFIG_NEXT: case C::QEL_CALIBRATION_STORE:
    case C::QEL_WRITE_CALIBRATION: case C::QEL_WRITE_NOTE_START: case C::QEL_WRITE_NOTE_NEXT:
    case C::QEL_CLEAR_NOTES: case C::QEL_CLEAR_HISTORICAL_DATA: case C::QEL_WRITE_NAMED_VAR:
    case C::QEL_EE_WRITE: case C::QEL_RESTART:
        return true;
    default: return false;
    }
}

std::atomic<bool> g_params{false};
std::atomic<bool> g_notes{false};

FakeCardDriver& Driver()
{
    static FakeCardDriver& driver = []() -> FakeCardDriver& {
        FakeCardDriver& d = FakeCardDriver::Instance();
        d.card.SetVendorHandler(C::QEL_GET_PARAMETER_DEFN, [](const ByteVec&, ByteVec& payload) {
            // One plain parameter, or none.
            if (g_params)
                payload = {1, 'P', 0, 0x12, 0x34, 0, 0};
            return 0;
        });
        d.card.SetVendorHandler(C::QEL_READ_NOTE_START,
                                [](const ByteVec&, ByteVec&) { return g_notes ? 0 : 1; });
        d.card.FailVendorCommand(C::QEL_WRITE_CONFIG_START, refused);
        return d;
    }();
    return driver;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeCardDriver& driver = Driver();
    FuzzInput input(data, size);
    driver.card.SetCardType(1 + input.Byte() % 5);
    driver.card.SetRegisterVersion(static_cast<std::uint16_t>(5 + input.Byte() % 6));
    const std::uint8_t flags = input.Byte();
    g_params = flags & 1;
    g_notes = flags & 2;
    const ByteVec image = input.Rest();
    driver.card.ClearRequests();

    bool refusedByCard = false;
    {
        TolvarenCommsCommon comms(driver.link);
        try {
            comms.SetCardConfig(image).get();
            Broken("restore went on past a refused write");
        } catch (const Modbus::Error& error) {
            refusedByCard = error.IsExceptionReply(refused);
        } catch (const std::exception&) {
        }
    }

    const std::vector<FakeCardRequest> requests = driver.card.Requests();
    std::size_t writes = 0;
    for (const FakeCardRequest& request : requests) {
        if (!IsWrite(request))
            continue;
        ++writes;
        if (request.address != C::QEL_WRITE_CONFIG_START || request.functionCode != 100)
            Broken("a write other than the first configuration write reached the card");
    }
    if (writes > 1)
        Broken("the refused write was repeated");
    if (writes == 1 && !refusedByCard)
        Broken("the card's refusal was not what ended the restore");
    if (writes == 0 && refusedByCard)
        Broken("refusal reported without a write");
    return 0;
}
