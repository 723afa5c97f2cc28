#pragma once

#include <string>

#include "protocol/TolvarenTypes.h"

// One line of a points import file: the fields to write into one I/O point of the card.
struct PointImportRecord
{
    Tolvaren::IoDirection direction = Tolvaren::Input;
    int number = 0; // 1-based point number within the direction
    std::string label;
    std::string partNumber;
    std::string notes;
};
