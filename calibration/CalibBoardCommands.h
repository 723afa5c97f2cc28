#pragma once

#include <cstddef>

// The calibration board's command codes, the path codes of SetConfig and the sizes the tool
// relies on. The board's firmware is the authority for these values.
namespace CalibBoardCommands {

// Command codes: byte 0 of a request's data block, echoed in byte 0 of the reply.
constexpr unsigned char Ping = 0;
constexpr unsigned char GetVersion = 1;
constexpr unsigned char ReadEeprom = 2;  // payload: start offset
constexpr unsigned char WriteEeprom = 3; // payload: start offset, then the bytes to write
constexpr unsigned char SetConfig = 100; // payload: input index, path code, selection

constexpr unsigned char Ack = 0; // reply status; anything else is not acknowledged

// The board software version this program was written against.
constexpr unsigned char ExpectedVersion = 1;

// The board's EEPROM; the tool erases all of it and keeps its parameters at offset 0.
constexpr std::size_t EepromSize = 128;

// Path indices of the calibration (voltage, current, low and high resistance range).
constexpr int PathCount = 4;

// The path byte of SetConfig for a path index; throws ExceptionWithString "Invalid
// calibrated-path value" for any index outside 0..3.
unsigned char PathCode(int pathIndex);

// Selections of the voltage and current paths; the resistance paths take a mask of these bits.
constexpr unsigned SelectNone = 0;
constexpr unsigned SelectReferenceA = 1;
constexpr unsigned SelectReferenceB = 2;
constexpr unsigned LowerOhmsA = 1u << 0;
constexpr unsigned LowerOhmsB = 1u << 1;
constexpr unsigned UpperOhmsA = 1u << 2;
constexpr unsigned UpperOhmsB = 1u << 3;

} // namespace CalibBoardCommands
