#pragma once

#include <optional>

#include "calibration/CalibParams.h"

// The calibration parameters kept in the calibration board's EEPROM: load, store with
// read-back, erase. Each operation opens its own link on COM<port> and closes it before it
// returns; errors are thrown (ExceptionWithString or derived) for the caller to show.
//
// Threads: whichever thread drives the board at the time (one at a time per port).
namespace CalibBoardParams {

// The parameters stored on the board, empty when its EEPROM holds none. Throws when the reply
// is shorter than the image or the image has an unknown version.
std::optional<CalibParams> LoadParamsFromBoard(int port);

// Writes the image of params, reads it back and returns the copy read back; throws "data read
// back from PIC does not match what was requested to be written" when its value bytes differ.
CalibParams StoreParamsToBoard(int port, const CalibParams& params);

// Erases the whole EEPROM (0xFF everywhere), so that no parameters are stored.
void ResetBoardEeprom(int port);

} // namespace CalibBoardParams
