// simulator/CalibBoardRoute.h
#pragma once
#include <cstdint>
// What the calibration board connects to one input of the card under test: a path code
// (1 voltage, 0x12 current, 4 low-range resistance, 8 high-range resistance) and its selection;
// path code 0 means nothing connected ("no jumpers").
struct CalibBoardRoute
{
    std::uint8_t pathCode = 0;
    std::uint8_t selection = 0;
};
