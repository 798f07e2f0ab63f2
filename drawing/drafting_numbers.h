#pragma once
// Numbers as a Russian drawing writes them: a decimal comma, no trailing zeros.
#include <string>
#include <vector>

namespace krepiks::drawing {

// "5,2", "0,25", "40".
std::string DraftNumber(double value);

// A mass in kilograms to three significant figures: "0,0123", "1,05".
std::string MassNumber(double kilograms);

// A scale of the standard series: the sheet's size of one millimetre of the part.
struct Scale {
    double factor = 1;
    std::string text; // "2:1", "1:2,5"
};

// The standard scales, largest first.
const std::vector<Scale>& StandardScales();

} // namespace krepiks::drawing
