#pragma once

#include <string>

// The cells of the calibration log's tables. A row is a label cell followed by one cell per
// point, concatenated; the tabs keep the columns aligned in the window's log and in the file.
namespace CalibLogTable {

// "%-20s\t": the label left-aligned in 20 characters.
std::string LabelCell(const std::string& label);
// A space, the number centred in 8 characters padded with '_' (the odd padding character goes
// before the number: ____1___), a tab.
std::string NumberCell(int number);
// " %8.<decimals>f\t".
std::string ValueCell(double value, int decimals = 1);
// "%.3f" after text, as the reference lines have it ("Ref A real world val: \t%.3f").
std::string LineWithValue(const std::string& text, double value);

} // namespace CalibLogTable
