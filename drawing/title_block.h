#pragma once
// The sheet's frame and its main title block (form 1), 185 × 55 in the lower right corner.
#include "drawing/sheet.h"

#include <functional>
#include <string>

namespace krepiks::drawing {

// The width in millimetres of a text in the drafting font at the height of its capitals.
using TextMeasure = std::function<double(const std::string& text, double height)>;

// What the title block says; an empty field stays an empty cell.
struct TitleFields {
    std::string name;        // graph 1
    std::string designation; // graph 2
    std::string material;    // graph 3
    std::string mass;        // kilograms, as written
    std::string scale;       // "2:1"
    std::string author;      // «Разраб.»
    std::string date;        // "09.12.26"
};

// A4 portrait or A3 landscape, by format.
Sheet BlankSheet(const std::string& format);

// The frame, 20 from the left edge and 5 from the others.
struct FrameBox {
    double left, bottom, right, top;
};
FrameBox FrameOf(const Sheet& sheet);

void DrawFrameAndTitleBlock(Sheet& sheet, const TitleFields& fields, const TextMeasure& measure);

// A text fitted into a cell of width, narrowed when it is wider.
Text FittedText(const std::string& text, Point at, double height, Anchor anchor, double width,
                const TextMeasure& measure);

} // namespace krepiks::drawing
