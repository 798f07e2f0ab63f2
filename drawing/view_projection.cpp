#include "drawing/view_projection.h"

#include <BRepAdaptor_Curve.hxx>
#include <GCPnts_TangentialDeflection.hxx>
#include <HLRAlgo_Projector.hxx>
#include <HLRBRep_Algo.hxx>
#include <HLRBRep_HLRToShape.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <algorithm>
#include <cmath>
#include <gp_Ax2.hxx>
#include <gp_Circ.hxx>
#include <limits>
#include <numbers>

namespace krepiks::drawing {

namespace {

constexpr double Degrees = 180 / std::numbers::pi;

void addEdges(const TopoDS_Shape& compound, ViewLines& lines) {
    if (compound.IsNull())
        return;
    for (TopExp_Explorer it(compound, TopAbs_EDGE); it.More(); it.Next()) {
        const BRepAdaptor_Curve curve(TopoDS::Edge(it.Current()));
        const double first = curve.FirstParameter(), last = curve.LastParameter();
        if (curve.GetType() == GeomAbs_Line) {
            const gp_Pnt a = curve.Value(first), b = curve.Value(last);
            lines.polylines.push_back({{a.X(), a.Y()}, {b.X(), b.Y()}});
            continue;
        }
        if (curve.GetType() == GeomAbs_Circle) {
            const gp_Circ circle = curve.Circle();
            const gp_Pnt centre = circle.Location();
            const gp_Pnt start = curve.Value(first), end = curve.Value(last);
            const bool counterClockwise = circle.Axis().Direction().Z() > 0;
            const gp_Pnt from = counterClockwise ? start : end;
            Arc arc;
            arc.centre = {centre.X(), centre.Y()};
            arc.radius = circle.Radius();
            arc.startDeg = std::atan2(from.Y() - centre.Y(), from.X() - centre.X()) * Degrees;
            arc.sweepDeg = (last - first) * Degrees;
            lines.arcs.push_back(arc);
            continue;
        }
        GCPnts_TangentialDeflection points(curve, 0.05, 0.002);
        std::vector<Point> polyline;
        for (int i = 1; i <= points.NbPoints(); ++i) {
            const gp_Pnt p = points.Value(i);
            polyline.push_back({p.X(), p.Y()});
        }
        if (polyline.size() >= 2)
            lines.polylines.push_back(std::move(polyline));
    }
}

void takeBounds(ViewLines& lines) {
    double minX = std::numeric_limits<double>::max(), minY = minX;
    double maxX = -minX, maxY = -minX;
    const auto take = [&](double x, double y) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    };
    for (const auto& polyline : lines.polylines)
        for (const Point& p : polyline)
            take(p.x, p.y);
    for (const Arc& arc : lines.arcs) {
        // The arc's ends and whichever quadrant points it passes.
        const double start = arc.startDeg, end = arc.startDeg + arc.sweepDeg;
        for (double a : {start, end})
            take(arc.centre.x + arc.radius * std::cos(a / Degrees),
                 arc.centre.y + arc.radius * std::sin(a / Degrees));
        for (int quadrant = -8; quadrant <= 8; ++quadrant) {
            const double a = quadrant * 90.0;
            if (a >= start && a <= end)
                take(arc.centre.x + arc.radius * std::cos(a / Degrees),
                     arc.centre.y + arc.radius * std::sin(a / Degrees));
        }
    }
    if (minX > maxX)
        return;
    lines.minX = minX;
    lines.maxX = maxX;
    lines.minY = minY;
    lines.maxY = maxY;
}

} // namespace

ViewLines ProjectVisibleEdges(const TopoDS_Shape& solid, ViewDirection direction) {
    // The projector's main direction points at the viewer; its x is the view's right.
    const gp_Ax2 frame = direction == ViewDirection::Front
                             ? gp_Ax2(gp::Origin(), gp_Dir(0, 0, 1), gp_Dir(1, 0, 0))
                             : gp_Ax2(gp::Origin(), gp_Dir(-1, 0, 0), gp_Dir(0, 0, 1));
    Handle(HLRBRep_Algo) algo = new HLRBRep_Algo();
    algo->Add(solid);
    algo->Projector(HLRAlgo_Projector(frame));
    algo->Update();
    algo->Hide();
    HLRBRep_HLRToShape shapes(algo);
    ViewLines lines;
    addEdges(shapes.VCompound(), lines);
    addEdges(shapes.Rg1LineVCompound(), lines);
    addEdges(shapes.OutLineVCompound(), lines);
    takeBounds(lines);
    return lines;
}

} // namespace krepiks::drawing
