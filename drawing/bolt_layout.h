#pragma once
// The bolt's two views and their fourteen dimensions at one scale: the main view with the
// axis horizontal and the head on the left, the view from the head beside it on the right.
#include "drawing/dimension_marks.h"
#include "drawing/view_projection.h"
#include "model/bolt.h"

namespace krepiks::drawing {

// The views and dimensions at scale, in millimetres of the sheet around the main view's
// origin (the head's bearing face on the axis), and the room they take.
struct ViewsLayout {
    Sheet content;
    Box extent;
};

ViewsLayout LayOutViews(const TBolt& bolt, const ViewLines& front, const ViewLines& end,
                        double scale, const TextMeasure& measure);

// Moves everything on the sheet by (dx, dy).
void Shift(Sheet& sheet, double dx, double dy);
// Adds the other sheet's marks.
void Append(Sheet& sheet, const Sheet& other);

} // namespace krepiks::drawing
