#include "calibration/CalibLogTable.h"

#include <cstdio>

namespace CalibLogTable {

std::string LabelCell(const std::string& label)
{
    std::string cell = label;
    if (cell.size() < 20)
        cell.append(20 - cell.size(), ' ');
    return cell + "\t";
}

std::string NumberCell(int number)
{
    const std::string digits = std::to_string(number);
    const std::size_t padding = digits.size() < 8 ? 8 - digits.size() : 0;
    const std::size_t before = (padding + 1) / 2;
    return " " + std::string(before, '_') + digits + std::string(padding - before, '_') + "\t";
}

std::string ValueCell(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, " %8.*f\t", decimals, value);
    return text;
}

std::string LineWithValue(const std::string& text, double value)
{
    char number[64];
    std::snprintf(number, sizeof number, "%.3f", value);
    return text + number;
}

} // namespace CalibLogTable
