#include "drawing/dimension_marks.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace krepiks::drawing {

namespace {

constexpr double Radians = std::numbers::pi / 180;

Point at(Point centre, double radius, double deg) {
    return {centre.x + radius * std::cos(deg * Radians),
            centre.y + radius * std::sin(deg * Radians)};
}

} // namespace

Box DimensionMarks::textBox(const Text& text) const {
    // The font's whole line (its ascent and descent), and a little air around it.
    constexpr double Air = 0.4;
    const double w = measure_(text.text, text.height) * text.widthFactor;
    const double h = text.height;
    const double start = text.anchor == Anchor::Left     ? 0
                         : text.anchor == Anchor::Centre ? -w / 2
                                                         : -w;
    if (std::abs(text.angleDeg - 90) < 1e-9)
        return {text.at.x - 1.25 * h - Air, text.at.y + start - Air, text.at.x + 0.4 * h + Air,
                text.at.y + start + w + Air};
    return {text.at.x + start - Air, text.at.y - 0.4 * h - Air, text.at.x + start + w + Air,
            text.at.y + 1.25 * h + Air};
}

namespace {

// Small boxes along a line, a millimetre apart.
std::vector<Box> alongLine(Point a, Point b) {
    constexpr double Half = 0.3;
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    const int steps = std::max(1, static_cast<int>(std::ceil(length)));
    std::vector<Box> boxes;
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const Point p{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
        boxes.push_back({p.x - Half, p.y - Half, p.x + Half, p.y + Half});
    }
    return boxes;
}

} // namespace

void DimensionMarks::occupyLine(Point a, Point b) {
    for (const Box& box : alongLine(a, b))
        occupy(box);
}

bool DimensionMarks::lineIsFree(Point a, Point b) const {
    for (const Box& box : alongLine(a, b))
        if (!isFree(box))
            return false;
    return true;
}

bool DimensionMarks::isFree(const Box& box) const {
    for (const Box& taken : taken_)
        if (box.overlaps(taken))
            return false;
    return true;
}

void DimensionMarks::arrow(Point tip, Point from) {
    const double dx = tip.x - from.x, dy = tip.y - from.y;
    const double length = std::hypot(dx, dy);
    if (length == 0)
        return;
    const double ux = dx / length, uy = dy / length;
    const double halfWidth = ArrowLength / 6;
    const Point base{tip.x - ux * ArrowLength, tip.y - uy * ArrowLength};
    sheet_.arrows.push_back({{tip,
                              {base.x - uy * halfWidth, base.y + ux * halfWidth},
                              {base.x + uy * halfWidth, base.y - ux * halfWidth}}});
}

void DimensionMarks::text(const std::string& text, Point at, double angleDeg, Anchor anchor) {
    Text t{text, at, NumberHeight, angleDeg, anchor, 1};
    occupy(textBox(t));
    sheet_.texts.push_back(std::move(t));
}

void DimensionMarks::horizontal(double xa, double xb, double y, double fromA, double fromB,
                                const std::string& number, bool outsideRight) {
    const double below = y < fromA ? -ExtensionOvershoot : ExtensionOvershoot;
    sheet_.line(Pen::Thin, {xa, fromA}, {xa, y + below});
    sheet_.line(Pen::Thin, {xb, fromB}, {xb, y + below});
    const double width = measure_(number, NumberHeight);
    if (xb - xa >= width + 2 * ArrowLength + 2) {
        sheet_.line(Pen::Thin, {xa, y}, {xb, y});
        occupyLine({xa, y}, {xb, y});
        arrow({xa, y}, {xb, y});
        arrow({xb, y}, {xa, y});
        text(number, {(xa + xb) / 2, y + TextGap}, 0, Anchor::Centre);
        return;
    }
    // Too short: arrows from outside, the number beyond one end on the line carried on.
    const double reach = ArrowLength + 2;
    arrow({xa, y}, {xa - reach, y});
    arrow({xb, y}, {xb + reach, y});
    if (outsideRight) {
        sheet_.line(Pen::Thin, {xa - reach, y}, {xb + reach + width + 1, y});
        text(number, {xb + reach + 0.5, y + TextGap}, 0, Anchor::Left);
    } else {
        sheet_.line(Pen::Thin, {xa - reach - width - 1, y}, {xb + reach, y});
        text(number, {xa - reach - 0.5, y + TextGap}, 0, Anchor::Right);
    }
}

void DimensionMarks::vertical(double ya, double yb, double x, double fromA, double fromB,
                              const std::string& number) {
    const double beyond = x < fromA ? -ExtensionOvershoot : ExtensionOvershoot;
    sheet_.line(Pen::Thin, {fromA, ya}, {x + beyond, ya});
    sheet_.line(Pen::Thin, {fromB, yb}, {x + beyond, yb});
    sheet_.line(Pen::Thin, {x, ya}, {x, yb});
    arrow({x, ya}, {x, yb});
    arrow({x, yb}, {x, ya});
    text(number, {x - TextGap, (ya + yb) / 2}, 90, Anchor::Centre);
}

void DimensionMarks::diameterAcross(double x, double half, double textBottom,
                                    const std::string& number) {
    const double width = measure_(number, NumberHeight);
    sheet_.line(Pen::Thin, {x, -half}, {x, textBottom + width + 1});
    occupyLine({x, half}, {x, textBottom + width + 1});
    arrow({x, half}, {x, -half});
    arrow({x, -half}, {x, half});
    text(number, {x - TextGap, textBottom}, 90, Anchor::Left);
}

bool DimensionMarks::angle(Point vertex, double fromDeg, double toDeg, double radius,
                           const std::string& number) {
    const double middle = (fromDeg + toDeg) / 2;
    const Point mid = at(vertex, radius + TextGap + 0.5, middle);
    const double sinMid = std::sin(middle * Radians);
    // The arc and the outer part of its sides must cross nothing placed before.
    for (double deg = fromDeg; deg < toDeg; deg += 5)
        if (!lineIsFree(at(vertex, radius, deg), at(vertex, radius, std::min(deg + 5, toDeg))))
            return false;
    // Each side, once it has left the outline it runs along, crosses nothing either.
    for (double side : {fromDeg, toDeg}) {
        bool left = false;
        for (double d = 0; d <= radius + ExtensionOvershoot; d += 0.5) {
            const Point p = at(vertex, d, side);
            const bool free = isFree({p.x - 0.3, p.y - 0.3, p.x + 0.3, p.y + 0.3});
            if (left && !free)
                return false;
            left = left || free;
        }
    }
    // The number stands upright beside the arc's middle, on the side the arc bulges to.
    for (Anchor anchor : {Anchor::Right, Anchor::Centre, Anchor::Left}) {
        Text t{number, mid, NumberHeight, 0, anchor, 1};
        if (sinMid < 0)
            t.at.y -= NumberHeight * 1.2;
        const Box box = textBox(t);
        bool crossed = !isFree(box);
        // Nor may the angle's own sides cross its number.
        for (double side : {fromDeg, toDeg})
            for (double d = 0; d <= radius + ExtensionOvershoot && !crossed; d += 0.5) {
                const Point p = at(vertex, d, side);
                crossed = p.x > box.x0 && p.x < box.x1 && p.y > box.y0 && p.y < box.y1;
            }
        if (crossed)
            continue;
        occupy(box);
        sheet_.texts.push_back(std::move(t));
        sheet_.arcs.push_back({Pen::Thin, vertex, radius, fromDeg, toDeg - fromDeg});
        for (double side : {fromDeg, toDeg}) {
            sheet_.line(Pen::Thin, vertex, at(vertex, radius + ExtensionOvershoot, side));
            occupyLine(at(vertex, radius / 2, side), at(vertex, radius + ExtensionOvershoot, side));
        }
        for (double deg = fromDeg; deg < toDeg; deg += 5)
            occupyLine(at(vertex, radius, deg), at(vertex, radius, std::min(deg + 5, toDeg)));
        // Arrows along the arc's tangent at each end.
        const double step = ArrowLength / radius / Radians;
        arrow(at(vertex, radius, fromDeg), at(vertex, radius, fromDeg + step));
        arrow(at(vertex, radius, toDeg), at(vertex, radius, toDeg - step));
        return true;
    }
    return false;
}

void DimensionMarks::leader(Point point, Point bend, const std::string& number) {
    const double width = measure_(number, NumberHeight);
    sheet_.line(Pen::Thin, point, bend);
    sheet_.line(Pen::Thin, bend, {bend.x + width + 1, bend.y});
    occupyLine(point, bend);
    occupyLine(bend, {bend.x + width + 1, bend.y});
    arrow(point, bend);
    text(number, {bend.x + 0.5, bend.y + TextGap}, 0, Anchor::Left);
}

} // namespace krepiks::drawing
