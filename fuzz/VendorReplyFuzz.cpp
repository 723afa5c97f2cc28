// Replies to the vendor function as the card layer reads them: parameter definitions with their
// enumerations, live and 8-day sample pieces, notes, named variables (packed values or the old
// float list) and the texts. The payloads come from the input, answered by the fake card; every
// operation must end with its value or an error, and a packed value's conversions must refuse
// what they cannot read.
//
// Input: operation (1 byte), register-map version (1 byte), card mode (1 byte: 0xE5 a card that
// repeats its pieces for ever, anything else one that answers empty once they run out), then
// payload pieces, each a length byte and its bytes. The endless card is one exact value, not a
// bit: each of its inputs costs a thousand exchanges, and mutations would otherwise favour it.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FakeCardDriver.h"
#include "fuzz/FuzzInput.h"
#include "modbus/ModbusErrors.h"
#include "protocol/TolvarenCommsCommon.h"

namespace {

const std::uint8_t endlessCard = 0xE5;

void Conversions(const CPackedVal& value)
{
    const auto attempt = [](auto convert) {
        try {
            convert();
        } catch (const ExceptionWithString&) {
        }
    };
    attempt([&] { value.AsFloat(); });
    attempt([&] { value.AsUInt32(); });
    attempt([&] { value.AsFloatArray(); });
    attempt([&] { value.DisplayText(); });
    value.AsString();
}

FakeCardDriver& Driver()
{
    static FakeCardDriver& driver = [] () -> FakeCardDriver& {
        FakeCardDriver& d = FakeCardDriver::Instance();
        using C = TolvarenCommsCommon;
        for (std::uint16_t sub :
             {C::QEL_GET_BUILD_DATE, C::QEL_GET_PARAMETER_DEFN, C::QEL_GET_PARAMETER_ENUM_DEFN,
              C::QEL_READ_NOTE_NEXT, C::QEL_GET_LIVE_DATA, C::QEL_GET_HISTORICAL_DATA,
              C::QEL_READ_NAMED_VAR, C::QEL_GET_CONFIG_TEXT})
            d.Serve(sub);
        d.card.SetVendorHandler(C::QEL_READ_NOTE_START, [](const ByteVec&, ByteVec&) { return 0; });
        return d;
    }();
    return driver;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeCardDriver& driver = Driver();
    FuzzInput input(data, size);
    const unsigned op = input.Byte() % 7;
    driver.card.SetRegisterVersion(static_cast<std::uint16_t>(1 + input.Byte() % 12));
    const bool endless = input.Byte() == endlessCard;
    std::deque<ByteVec> pieces;
    if (op == 6) {
        // Straight to the decoders, without a card.
        const ByteVec bytes = input.Rest();
        Conversions(CPackedVal(bytes));
        try {
            TolvarenCommsCommon::ParseSamples(bytes);
        } catch (const Modbus::Error&) {
        }
        return 0;
    }
    while (!input.Empty())
        pieces.push_back(input.Piece());
    // Parameter definitions are bounded by count, not by the card's goodwill: a card repeating
    // them would only be slow.
    driver.SetPayloads(pieces, endless && op != 0);

    TolvarenCommsCommon comms(driver.link);
    try {
        switch (op) {
        case 0: comms.GetParameterDefinitions().get(); break;
        case 1: comms.GetLiveData(Tolvaren::Input, 3).get(); break;
        case 2: comms.GetHistoricalData(Tolvaren::Output, 1, 500).get(); break;
        case 3: comms.GetIoNote(Tolvaren::Output, 2).get(); break;
        case 4: Conversions(comms.ReadNamedVariable("SoftDogMinutes").get()); break;
        default:
            comms.GetConfigText().get();
            comms.GetSoftwareBuildDate().get();
            break;
        }
    } catch (const std::exception&) {
        // Every failure a card can cause arrives as an exception in the future.
    }
    return 0;
}
