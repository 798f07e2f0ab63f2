#include "cad/part_geometry.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <ShapeUpgrade_UnifySameDomain.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <algorithm>
#include <cmath>
#include <optional>

namespace krepiks::cad {

bool Sane(double metres) {
    return std::isfinite(metres) && std::abs(metres) <= MaxMetres;
}

double Cross(const gp_XY& a, const gp_XY& b) {
    return a.X() * b.Y() - a.Y() * b.X();
}

double LoopArea(const std::vector<gp_XY>& loop) {
    double twice = 0;
    for (std::size_t i = 0; i < loop.size(); ++i)
        twice += Cross(loop[i], loop[(i + 1) % loop.size()]);
    return twice / 2;
}

bool InsideLoop(const gp_XY& p, const std::vector<gp_XY>& loop) {
    bool inside = false;
    for (std::size_t i = 0, j = loop.size() - 1; i < loop.size(); j = i++) {
        const gp_XY& a = loop[i];
        const gp_XY& b = loop[j];
        if ((a.Y() > p.Y()) != (b.Y() > p.Y()) &&
            p.X() < (b.X() - a.X()) * (p.Y() - a.Y()) / (b.Y() - a.Y()) + a.X())
            inside = !inside;
    }
    return inside;
}

// Closed segments ab and cd meet (touching counts).
bool SegmentsMeet(const gp_XY& a, const gp_XY& b, const gp_XY& c, const gp_XY& d, double tol) {
    auto side = [tol](const gp_XY& p, const gp_XY& q, const gp_XY& r) {
        const gp_XY u = q - p;
        const double len = u.Modulus();
        const double s = Cross(u, r - p) / (len > 0 ? len : 1);
        return std::abs(s) <= tol ? 0 : (s > 0 ? 1 : -1);
    };
    auto within = [tol](const gp_XY& p, const gp_XY& q, const gp_XY& r) {
        return std::min(p.X(), q.X()) - tol <= r.X() && r.X() <= std::max(p.X(), q.X()) + tol &&
               std::min(p.Y(), q.Y()) - tol <= r.Y() && r.Y() <= std::max(p.Y(), q.Y()) + tol;
    };
    const int s1 = side(a, b, c), s2 = side(a, b, d), s3 = side(c, d, a), s4 = side(c, d, b);
    if (s1 * s2 < 0 && s3 * s4 < 0)
        return true;
    return (s1 == 0 && within(a, b, c)) || (s2 == 0 && within(a, b, d)) ||
           (s3 == 0 && within(c, d, a)) || (s4 == 0 && within(c, d, b));
}

gp_Pnt ToModel(const gp_Ax3& frame, const gp_XY& p) {
    return frame.Location().Translated(gp_Vec(frame.XDirection()) * p.X() +
                                       gp_Vec(frame.YDirection()) * p.Y());
}

// A solid body of one piece comes back as that solid rather than a compound around it.
TopoDS_Shape Simplified(const TopoDS_Shape& shape) {
    if (shape.IsNull() || shape.ShapeType() != TopAbs_COMPOUND)
        return shape;
    TopTools_IndexedMapOfShape solids;
    TopExp::MapShapes(shape, TopAbs_SOLID, solids);
    return solids.Extent() == 1 ? solids(1) : shape;
}

bool HasSolid(const TopoDS_Shape& shape) {
    return !shape.IsNull() && TopExp_Explorer(shape, TopAbs_SOLID).More();
}

double VolumeOf(const TopoDS_Shape& shape) {
    if (shape.IsNull())
        return 0;
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, 1e-12, Standard_True);
    return props.Mass();
}

// Gauss integration without refinement: on the planes, cylinders and cones that straight
// sketch lines make it agrees with VolumeOf to about 1e-12, far inside what a cut's check
// asks, at a tenth of the cost.
double QuickVolumeOf(const TopoDS_Shape& shape) {
    if (shape.IsNull())
        return 0;
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, Standard_True);
    return props.Mass();
}

std::optional<TopoDS_Shape> Unified(const TopoDS_Shape& shape) {
    ShapeUpgrade_UnifySameDomain unify(shape, Standard_True, Standard_True, Standard_False);
    unify.Build();
    TopoDS_Shape result = Simplified(unify.Shape());
    if (!HasSolid(result) || !BRepCheck_Analyzer(result).IsValid())
        return std::nullopt;
    return result;
}

std::optional<TopoDS_Shape> Fused(const TopoDS_Shape& a, const TopoDS_Shape& b) {
    BRepAlgoAPI_Fuse fuse(a, b);
    if (!fuse.IsDone() || fuse.HasErrors())
        return std::nullopt;
    return Unified(fuse.Shape());
}

std::optional<TopoDS_Shape> Cut(const TopoDS_Shape& a, const TopoDS_Shape& b) {
    BRepAlgoAPI_Cut cut(a, b);
    if (!cut.IsDone() || cut.HasErrors())
        return std::nullopt;
    return Unified(cut.Shape());
}

std::optional<gp_Ax1> AxisOfFace(const TopoDS_Face& face) {
    BRepAdaptor_Surface surface(face);
    switch (surface.GetType()) {
    case GeomAbs_Cylinder:
        return surface.Cylinder().Axis();
    case GeomAbs_Cone:
        return surface.Cone().Axis();
    case GeomAbs_SurfaceOfRevolution:
        return surface.AxeOfRevolution();
    default:
        return std::nullopt;
    }
}

std::optional<gp_Pln> PlaneOfFace(const TopoDS_Face& face) {
    BRepAdaptor_Surface surface(face);
    if (surface.GetType() != GeomAbs_Plane)
        return std::nullopt;
    gp_Pln plane = surface.Plane();
    if (face.Orientation() == TopAbs_REVERSED)
        plane.SetAxis(plane.Axis().Reversed());
    return plane;
}

// A sketch frame on a planar face: origin below the model origin, outward normal, x axis
// from the model axis that lies flattest in the face.
gp_Ax3 FaceFrame(const gp_Pln& plane) {
    const gp_Dir n = plane.Axis().Direction();
    const double height = gp_Vec(plane.Location().XYZ()).Dot(gp_Vec(n));
    const gp_Pnt origin(gp_Vec(n).XYZ() * height);
    const gp_Dir candidates[3] = {gp::DX(), gp::DY(), gp::DZ()};
    int best = 0;
    for (int i = 1; i < 3; ++i)
        if (std::abs(candidates[i].Dot(n)) < std::abs(candidates[best].Dot(n)) - 1e-12)
            best = i;
    gp_Vec x(candidates[best]);
    x -= gp_Vec(n) * x.Dot(gp_Vec(n));
    return gp_Ax3(origin, n, gp_Dir(x));
}

} // namespace krepiks::cad
