#pragma once
// Dimension marks drawn onto a sheet as thin lines, arrows and 3.5 mm numbers (GOST 2.307),
// with the room each takes noted so that later marks can keep clear of it.
#include "drawing/sheet.h"
#include "drawing/title_block.h"

#include <string>
#include <vector>

namespace krepiks::drawing {

struct Box {
    double x0, y0, x1, y1;
    bool overlaps(const Box& other) const {
        return x0 < other.x1 && other.x0 < x1 && y0 < other.y1 && other.y0 < y1;
    }
};

inline constexpr double ArrowLength = 2.5;
inline constexpr double NumberHeight = 3.5;
inline constexpr double ExtensionOvershoot = 2;
inline constexpr double TextGap = 1;

class DimensionMarks {
public:
    DimensionMarks(Sheet& sheet, TextMeasure measure) : sheet_(sheet), measure_(measure) {}

    // The room a text takes, upright or turned a quarter to the left.
    Box textBox(const Text& text) const;
    bool isFree(const Box& box) const;
    void occupy(const Box& box) { taken_.push_back(box); }
    // The room along a line, so that numbers keep clear of it.
    void occupyLine(Point a, Point b);
    bool lineIsFree(Point a, Point b) const;

    void arrow(Point tip, Point from);
    void text(const std::string& text, Point at, double angleDeg, Anchor anchor);

    // A horizontal dimension between xa and xb on the line at y, its extension lines coming
    // from (xa, fromA) and (xb, fromB). The number stands above the line's middle; where it
    // and the arrows do not fit between the lines, the arrows come from outside and the
    // number stands beyond the end named by outsideRight.
    void horizontal(double xa, double xb, double y, double fromA, double fromB,
                    const std::string& number, bool outsideRight);
    // A vertical dimension between ya and yb on the line at x, extension lines from
    // (fromA, ya) and (fromB, yb); the number turned, left of the line, at its middle.
    void vertical(double ya, double yb, double x, double fromA, double fromB,
                  const std::string& number);
    // A diameter measured across a section at x: the line between the outline's points
    // (x, ±half) carried on up to the number, which stands turned left of it from textBottom.
    void diameterAcross(double x, double half, double textBottom, const std::string& number);
    // The angle at vertex from the direction at degrees from to the one at to (counter-
    // clockwise), on an arc of radius; extension lines along both sides where the contour
    // ends before the arc. Returns false, drawing nothing, where the number would not be free.
    bool angle(Point vertex, double fromDeg, double toDeg, double radius,
               const std::string& number);
    // A leader from a point of the outline up to a shelf carrying the number.
    void leader(Point at, Point bend, const std::string& number);

private:
    Sheet& sheet_;
    TextMeasure measure_;
    std::vector<Box> taken_;
};

} // namespace krepiks::drawing
