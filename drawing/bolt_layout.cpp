#include "drawing/bolt_layout.h"

#include "drawing/drafting_numbers.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

namespace krepiks::drawing {

namespace {

constexpr double Degrees = 180 / std::numbers::pi;
// The first dimension line 10 from the contour, the next ones 8 further (GOST 2.307).
constexpr double FirstLine = 10, NextLine = 8;
// Axes and centre lines reach this far past the contour.
constexpr double AxisOvershoot = 3;
constexpr double ViewGap = 28;

// Where the vertical line at x meets the view's edges: the lowest such point.
std::optional<double> lowestAt(const ViewLines& lines, double x) {
    std::optional<double> lowest;
    const auto take = [&](double y) {
        if (!lowest || y < *lowest)
            lowest = y;
    };
    for (const auto& polyline : lines.polylines)
        for (std::size_t i = 1; i < polyline.size(); ++i) {
            const Point a = polyline[i - 1], b = polyline[i];
            if ((a.x - x) * (b.x - x) > 0 || a.x == b.x)
                continue;
            take(a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x));
        }
    return lowest;
}

// Where the horizontal line at y first meets the view's edges from the left.
std::optional<double> leftmostAt(const ViewLines& lines, double y) {
    std::optional<double> leftmost;
    for (const auto& polyline : lines.polylines)
        for (std::size_t i = 1; i < polyline.size(); ++i) {
            const Point a = polyline[i - 1], b = polyline[i];
            if ((a.y - y) * (b.y - y) > 0 || a.y == b.y)
                continue;
            const double x = a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y);
            if (!leftmost || x < *leftmost)
                leftmost = x;
        }
    return leftmost;
}

// The view's outline as one-millimetre slabs of the sheet, each as high as the view there.
std::vector<Box> slabsOf(const ViewLines& lines, double scale) {
    constexpr double Width = 1;
    std::vector<Box> slabs;
    for (double x0 = lines.minX * scale; x0 < lines.maxX * scale; x0 += Width) {
        const double x1 = std::min(x0 + Width, lines.maxX * scale);
        double low = 0, high = 0;
        for (const auto& polyline : lines.polylines)
            for (std::size_t i = 1; i < polyline.size(); ++i) {
                Point a{polyline[i - 1].x * scale, polyline[i - 1].y * scale};
                Point b{polyline[i].x * scale, polyline[i].y * scale};
                if (a.x > b.x)
                    std::swap(a, b);
                if (b.x < x0 || a.x > x1)
                    continue;
                if (b.x == a.x) {
                    high = std::max({high, a.y, b.y});
                    low = std::min({low, a.y, b.y});
                    continue;
                }
                for (double x : {std::max(a.x, x0), std::min(b.x, x1)}) {
                    const double y = a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x);
                    high = std::max(high, y);
                    low = std::min(low, y);
                }
            }
        slabs.push_back({x0, low, x1, high});
    }
    return slabs;
}

void placeView(Sheet& sheet, const ViewLines& lines, double scale, double dx) {
    for (const auto& polyline : lines.polylines) {
        Path path{Pen::Thick, {}, false};
        for (const Point& p : polyline)
            path.points.push_back({dx + p.x * scale, p.y * scale});
        sheet.paths.push_back(std::move(path));
    }
    for (Arc arc : lines.arcs) {
        arc.centre = {dx + arc.centre.x * scale, arc.centre.y * scale};
        arc.radius *= scale;
        sheet.arcs.push_back(arc);
    }
}

Box extentOf(const Sheet& sheet, const DimensionMarks& marks) {
    Box box{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
            -std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
    const auto take = [&](Point p) {
        box.x0 = std::min(box.x0, p.x);
        box.y0 = std::min(box.y0, p.y);
        box.x1 = std::max(box.x1, p.x);
        box.y1 = std::max(box.y1, p.y);
    };
    for (const Path& path : sheet.paths)
        for (const Point& p : path.points)
            take(p);
    for (const Arc& arc : sheet.arcs) {
        take({arc.centre.x - arc.radius, arc.centre.y - arc.radius});
        take({arc.centre.x + arc.radius, arc.centre.y + arc.radius});
    }
    for (const Text& text : sheet.texts) {
        const Box b = marks.textBox(text);
        take({b.x0, b.y0});
        take({b.x1, b.y1});
    }
    return box;
}

} // namespace

void Shift(Sheet& sheet, double dx, double dy) {
    const auto move = [&](Point& p) {
        p.x += dx;
        p.y += dy;
    };
    for (Path& path : sheet.paths)
        for (Point& p : path.points)
            move(p);
    for (Arc& arc : sheet.arcs)
        move(arc.centre);
    for (Arrow& arrow : sheet.arrows)
        for (Point& p : arrow.corners)
            move(p);
    for (Text& text : sheet.texts)
        move(text.at);
}

void Append(Sheet& sheet, const Sheet& other) {
    sheet.paths.insert(sheet.paths.end(), other.paths.begin(), other.paths.end());
    sheet.arcs.insert(sheet.arcs.end(), other.arcs.begin(), other.arcs.end());
    sheet.arrows.insert(sheet.arrows.end(), other.arrows.begin(), other.arrows.end());
    sheet.texts.insert(sheet.texts.end(), other.texts.begin(), other.texts.end());
}

ViewsLayout LayOutViews(const TBolt& bolt, const ViewLines& front, const ViewLines& end,
                        double scale, const TextMeasure& measure) {
    const double s = scale;
    ViewsLayout layout;
    Sheet& sheet = layout.content;
    DimensionMarks marks(sheet, measure);

    // The views, the main view's axis and the end view's centre lines.
    placeView(sheet, front, s, 0);
    const double ex = front.maxX * s + ViewGap - end.minX * s;
    placeView(sheet, end, s, ex);
    sheet.line(Pen::Axis, {front.minX * s - AxisOvershoot, 0}, {front.maxX * s + AxisOvershoot, 0});
    // The centre lines from the centre outwards, so that they cross on their dashes.
    sheet.line(Pen::Axis, {ex, 0}, {ex + end.minX * s - AxisOvershoot, 0});
    sheet.line(Pen::Axis, {ex, 0}, {ex + end.maxX * s + AxisOvershoot, 0});
    sheet.line(Pen::Axis, {ex, 0}, {ex, end.minY * s - AxisOvershoot});
    sheet.line(Pen::Axis, {ex, 0}, {ex, end.maxY * s + AxisOvershoot});
    // The main view's room slab by slab, so that numbers may stand close over the shank.
    for (const Box& slab : slabsOf(front, s))
        marks.occupy(slab);
    marks.occupy({ex + end.minX * s, end.minY * s, ex + end.maxX * s, end.maxY * s});

    TBolt derived = bolt;
    DeriveProfile(derived);
    const auto P = [&](int i) {
        return Point{derived.Points[i].x * 1000, derived.Points[i].y * 1000};
    };
    const double top = front.maxY * s, bottom = front.minY * s;
    constexpr double nudge = 1e-6;
    const auto low = [&](double x) { return lowestAt(front, x).value_or(0) * s; };

    // Lengths under the main view: the head, the first step and the tip on the first line,
    // the whole shank on the next.
    const double y1 = bottom - FirstLine, y2 = y1 - NextLine;
    const double face = low(-nudge);
    marks.horizontal(-bolt.K * s, 0, y1, low(-bolt.K + nudge), face, DraftNumber(bolt.K), false);
    marks.horizontal(0, bolt.L2 * s, y1, face, low(bolt.L2), DraftNumber(bolt.L2), false);
    marks.horizontal((bolt.L - bolt.L3) * s, bolt.L * s, y1, low(bolt.L - bolt.L3 + nudge),
                     low(bolt.L - nudge), DraftNumber(bolt.L3), true);
    marks.horizontal(0, bolt.L * s, y2, face, low(bolt.L - nudge), DraftNumber(bolt.L), true);

    // Diameters across their sections, the numbers above the view.
    const std::string diameter = "⌀";
    const double textBottom = top + 3;
    marks.diameterAcross(P(2).x * 0.6 * s, bolt.d1 / 2 * s, textBottom,
                         diameter + DraftNumber(bolt.d1));
    marks.diameterAcross((P(3).x + P(4).x) / 2 * s, bolt.d0 / 2 * s, textBottom,
                         diameter + DraftNumber(bolt.d0));
    marks.diameterAcross((P(5).x + P(6).x) / 2 * s, bolt.d2 / 2 * s, textBottom,
                         diameter + DraftNumber(bolt.d2));
    // The head's D left of the view.
    const double left = front.minX * s - FirstLine;
    const auto leftmost = [&](double y) { return leftmostAt(front, y).value_or(front.minX) * s; };
    marks.vertical(-bolt.D / 2 * s, bolt.D / 2 * s, left, leftmost(-bolt.D / 2),
                   leftmost(bolt.D / 2), diameter + DraftNumber(bolt.D));

    // The radius under the head, on a shelf above everything near it.
    const Point corner{0, bolt.d1 / 2 * s};
    const std::string radius = "R" + DraftNumber(bolt.R);
    const double slope = std::tan(75 / Degrees);
    // Clear of the outline once it has left the corner.
    const Point leaving{corner.x + 6 * std::cos(75 / Degrees),
                        corner.y + 6 * std::sin(75 / Degrees)};
    for (double shelf = corner.y + 8; shelf < textBottom + 80; shelf += 2) {
        const Point bend{corner.x + (shelf - corner.y) / slope, shelf};
        const Text probe{radius, {bend.x + 0.5, bend.y + TextGap}, NumberHeight, 0, Anchor::Left,
                         1};
        if (marks.isFree(marks.textBox(probe)) && marks.lineIsFree(leaving, bend) &&
            marks.lineIsFree(bend, {bend.x + 1 + measure(radius, NumberHeight), bend.y})) {
            marks.leader(corner, bend, radius);
            break;
        }
    }

    // The angles: the head's chamfer from its end face, the steps from the faces across the
    // axis. Each on the smallest arc whose number stands clear.
    const auto angle = [&](Point vertex, double fromDeg, double toDeg, double value) {
        if (!(toDeg - fromDeg > 0.5))
            return;
        for (double radius = 6; radius <= 24; radius += 3)
            if (marks.angle({vertex.x * s, vertex.y * s}, fromDeg, toDeg, radius,
                            DraftNumber(value) + "°"))
                return;
        // Crowded above: the same angle on the other side of the axis.
        for (double radius = 6; radius <= 24; radius += 3)
            if (marks.angle({vertex.x * s, -vertex.y * s}, -toDeg, -fromDeg, radius,
                            DraftNumber(value) + "°"))
                return;
    };
    const ChamferTriangle chamfer = DeriveChamfer(bolt);
    const Point t1{chamfer.T1.x * 1000, chamfer.T1.y * 1000};
    const Point t2{chamfer.T2.x * 1000, chamfer.T2.y * 1000};
    angle(t2, std::atan2(t1.y - t2.y, t1.x - t2.x) * Degrees, 90, bolt.a);
    angle(P(3), 90, std::atan2(P(2).y - P(3).y, P(2).x - P(3).x) * Degrees, bolt.b);
    angle(P(5), 90, std::atan2(P(4).y - P(5).y, P(4).x - P(5).x) * Degrees, bolt.c);

    // Across the flats under the end view, across the corners (for reference) beside it.
    const auto endLow = [&](double u) { return lowestAt(end, u).value_or(0) * s; };
    marks.horizontal(ex - bolt.S / 2 * s, ex + bolt.S / 2 * s, end.minY * s - FirstLine,
                     endLow(-bolt.S / 2 + nudge), endLow(bolt.S / 2 - nudge), DraftNumber(bolt.S),
                     true);
    marks.vertical(-bolt.e / 2 * s, bolt.e / 2 * s, ex + end.maxX * s + FirstLine, ex, ex,
                   DraftNumber(bolt.e) + "*");

    layout.extent = extentOf(sheet, marks);
    return layout;
}

} // namespace krepiks::drawing
