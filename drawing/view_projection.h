#pragma once
// The visible edges of a solid seen along one of the drawing's directions, by OpenCASCADE's
// exact hidden-line removal: sharp edges, smooth edges and the outlines of curved faces.
#include "drawing/sheet.h"

#include <TopoDS_Shape.hxx>
#include <vector>

namespace krepiks::drawing {

// Front: the main view, the bolt's axis (x) to the right and y up. FromHead: the view from
// the head's end, y up and z to the right, as it stands beside the main view.
enum class ViewDirection { Front, FromHead };

// In the part's millimetres on the view's plane.
struct ViewLines {
    std::vector<std::vector<Point>> polylines;
    std::vector<Arc> arcs;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
};

ViewLines ProjectVisibleEdges(const TopoDS_Shape& solid, ViewDirection direction);

} // namespace krepiks::drawing
