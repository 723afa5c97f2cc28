#include "calibration/CalibBoardCommands.h"

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"

namespace CalibBoardCommands {

unsigned char PathCode(int pathIndex)
{
    // Voltage, current, low-range resistance, high-range resistance.
    static const unsigned char codes[PathCount] = {1, 0x12, 4, 8};
    if (pathIndex < 0 || pathIndex >= PathCount)
        boost::throw_exception(ExceptionWithString("Invalid calibrated-path value"));
    return codes[pathIndex];
}

} // namespace CalibBoardCommands
