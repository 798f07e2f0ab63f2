#include "drawing/drafting_numbers.h"

#include <cmath>
#include <cstdio>

namespace krepiks::drawing {

namespace {

std::string withComma(std::string text) {
    for (char& c : text)
        if (c == '.')
            c = ',';
    return text;
}

} // namespace

std::string DraftNumber(double value) {
    if (value == 0)
        return "0";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return withComma(buffer);
}

std::string MassNumber(double kilograms) {
    if (!(kilograms > 0))
        return "0";
    const int decimals = std::max(0, 2 - static_cast<int>(std::floor(std::log10(kilograms))));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, kilograms);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    return withComma(text);
}

const std::vector<Scale>& StandardScales() {
    static const std::vector<Scale> scales = {
        {10, "10:1"}, {5, "5:1"},     {4, "4:1"},    {2.5, "2,5:1"}, {2, "2:1"},    {1, "1:1"},
        {0.5, "1:2"}, {0.4, "1:2,5"}, {0.25, "1:4"}, {0.2, "1:5"},   {0.1, "1:10"},
    };
    return scales;
}

} // namespace krepiks::drawing
