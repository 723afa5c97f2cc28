#pragma once

#include <cstdint>

#include "comms/ByteVec.h"
#include "comms/ExceptionWithString.h"

// Value and error types shared by everything that talks to a Tolvaren card.
namespace Tolvaren {

// Per-point operations take a direction and a zero-based index within it. The values double as
// the register kind of the Modbus layer: outputs live in the writable tables.
enum IoDirection {
    Input = 0,
    Output = 1,
};

// A calendar date as the card stores it. On the wire: day, month, year low byte, year high byte
// (two holding registers). The card may hold values that are no valid date (an erased store);
// judging them is the display's business.
struct Date
{
    std::uint8_t day = 0;
    std::uint8_t month = 0;
    std::uint16_t year = 0;

    Date() = default;
    Date(std::uint8_t d, std::uint8_t m, std::uint16_t y) : day(d), month(m), year(y) {}

    // Throws ExceptionWithString "Date::FromByteVec(): data length is not 4" for any other size.
    static Date FromByteVec(const ByteVec& bytes);
    ByteVec ToByteVec() const;

    bool operator==(const Date& other) const
    {
        return day == other.day && month == other.month && year == other.year;
    }
    bool operator!=(const Date& other) const { return !(*this == other); }
};

class FirmwareTooOldError : public ExceptionWithString
{
public:
    FirmwareTooOldError() : ExceptionWithString("firmware too old") {}
};

class FirmwareTooNewError : public ExceptionWithString
{
public:
    FirmwareTooNewError() : ExceptionWithString("firmware too new") {}
};

} // namespace Tolvaren
