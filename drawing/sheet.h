#pragma once
// A drawing sheet as plain geometry in millimetres: what the writers put on paper, on
// screen or into a CAD file. The origin is the sheet's lower left corner, y points up.
#include <array>
#include <string>
#include <vector>

namespace krepiks::drawing {

struct Point {
    double x = 0, y = 0;
};

// The line types a part drawing uses: the main (visible) line, the thin solid line of
// dimensions and extension lines, and the thin dash-dot line of axes and centre lines.
enum class Pen { Thick, Thin, Axis };

struct Path {
    Pen pen = Pen::Thick;
    std::vector<Point> points;
    bool closed = false;
};

// A circle or an arc, counter-clockwise from startDeg through sweepDeg.
struct Arc {
    Pen pen = Pen::Thick;
    Point centre;
    double radius = 0;
    double startDeg = 0, sweepDeg = 360;
};

// A dimension arrow: a filled thin triangle.
struct Arrow {
    std::array<Point, 3> corners;
};

enum class Anchor { Left, Centre, Right };

// One line of lettering; at is the baseline point its anchor names. height is the height of
// the capitals; widthFactor below 1 narrows a text that must fit a cell.
struct Text {
    std::string text; // UTF-8
    Point at;
    double height = 3.5;
    double angleDeg = 0;
    Anchor anchor = Anchor::Left;
    double widthFactor = 1;
};

struct Sheet {
    std::string format; // "A4", "A3"
    double width = 0, height = 0;
    std::vector<Path> paths;
    std::vector<Arc> arcs;
    std::vector<Arrow> arrows;
    std::vector<Text> texts;

    void line(Pen pen, Point a, Point b) { paths.push_back({pen, {a, b}, false}); }
    void rectangle(Pen pen, double x, double y, double w, double h) {
        paths.push_back({pen, {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}}, true});
    }
};

} // namespace krepiks::drawing
