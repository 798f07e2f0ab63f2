#pragma once
// The dimension reader checked against an independent statement of the shape it accepts.
// Input: the first byte picks the decimal separator (even: point, odd: comma), the rest is
// the box's text in UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

namespace krepiks::fuzz {

// Empty when ParseDimension agrees with the oracle on the input, else what went wrong.
// Reads through the default locale's separator as well as an explicit one.
std::string CheckDimensionInput(const uint8_t* data, std::size_t size);

} // namespace krepiks::fuzz
