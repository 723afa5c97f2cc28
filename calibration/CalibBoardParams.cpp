#include "calibration/CalibBoardParams.h"

#include <algorithm>

#include <boost/throw_exception.hpp>

#include "calibration/CalibBoardCommands.h"
#include "calibration/CalibBoardLink.h"

namespace CalibBoardParams {

std::optional<CalibParams> LoadParamsFromBoard(int port)
{
    ByteVec eeprom;
    {
        CalibBoardLink link(port);
        link.Transact(CalibBoardCommands::ReadEeprom, ByteVec{0}, &eeprom);
    }
    // Checked before the version byte: a board that sends less cannot hold a whole image.
    if (eeprom.size() < CalibParams::ImageSize)
        boost::throw_exception(CalibBoardLink::Error(
            "reply from read-EEPROM command is shorter than the calibration params image"));
    return CalibParams::FromImage(eeprom);
}

CalibParams StoreParamsToBoard(int port, const CalibParams& params)
{
    // Start offset 0, then the image. Sized up front: growing a one-byte vector trips a false
    // -Warray-bounds.
    const ByteVec image = params.ToImage();
    ByteVec payload(1 + image.size());
    std::copy(image.begin(), image.end(), payload.begin() + 1);
    {
        CalibBoardLink link(port);
        link.Transact(CalibBoardCommands::WriteEeprom, payload);
    }
    const std::optional<CalibParams> readBack = LoadParamsFromBoard(port);
    if (!readBack || !readBack->SameBytesAs(params))
        boost::throw_exception(CalibBoardLink::Error(
            "data read back from PIC does not match what was requested to be written"));
    return *readBack;
}

void ResetBoardEeprom(int port)
{
    ByteVec payload(1 + CalibBoardCommands::EepromSize, 0xFF);
    payload[0] = 0; // start offset
    CalibBoardLink link(port);
    link.Transact(CalibBoardCommands::WriteEeprom, payload);
}

} // namespace CalibBoardParams
