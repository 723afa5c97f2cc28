#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "calibration/CalibBoardLink.h"
#include "simulator/CalibBoardSerialBridge.h"
#include "simulator/SimulatedCalibBoard.h"
#include "tests/calibration/PtyJoin.h"

// The simulated calibration board served on the far end of a pty cable: the tool opens the
// near end as COM300, the board answers on COM301 at the board's baud rate.
struct ServedBoard
{
    ServedBoard()
    {
        const std::string ports = cable.PathA() + ":" + cable.PathB();
        ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", ports.c_str(), 1);
        SerialPortSettings settings;
        settings.port = 301;
        settings.baudRate = CalibBoardLink::BaudRate;
        bridge = std::make_unique<CalibBoardSerialBridge>(board, settings);
    }
    ~ServedBoard()
    {
        bridge.reset();
        ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
    }

    PtyJoin cable;
    std::shared_ptr<SimulatedCalibBoard> board = std::make_shared<SimulatedCalibBoard>();
    std::unique_ptr<CalibBoardSerialBridge> bridge;
};
