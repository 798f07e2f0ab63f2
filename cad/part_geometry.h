#pragma once
// Plane and solid geometry shared by the part document's sketches, features and selection:
// contour tests, frames, boolean operations and volume checks over OpenCASCADE. Internal to
// the CAD document; its users are part_*.cpp.
#include "cad/part_document.h"

#include <Standard_Failure.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Ax1.hxx>
#include <gp_Ax3.hxx>
#include <gp_Pln.hxx>
#include <gp_Pnt.hxx>
#include <gp_XY.hxx>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <vector>

namespace krepiks::cad {

inline constexpr double TwoPi = 2.0 * std::numbers::pi;
// The script's 6.28318530718 is 2π rounded; anything this close is a full turn.
inline constexpr double FullTurnSlack = 1e-9;
// Beyond this a coordinate is noise, not a part: ten kilometres.
inline constexpr double MaxMetres = 1e4;
inline constexpr int MaxPolygonSides = 40;
inline constexpr char OutOfRange[] = "координаты дальше 10 км от начала";

// A coordinate a part can have: finite and within MaxMetres.
bool Sane(double metres);

// Contours in a sketch plane.
double Cross(const gp_XY& a, const gp_XY& b);
double LoopArea(const std::vector<gp_XY>& loop); // positive when anticlockwise
bool InsideLoop(const gp_XY& p, const std::vector<gp_XY>& loop);
// Closed segments ab and cd meet (touching counts).
bool SegmentsMeet(const gp_XY& a, const gp_XY& b, const gp_XY& c, const gp_XY& d, double tol);
gp_Pnt ToModel(const gp_Ax3& frame, const gp_XY& p);

// Solids. The boolean operations give nothing when OpenCASCADE fails or leaves no solid.
// A solid body of one piece comes back as that solid rather than a compound around it.
TopoDS_Shape Simplified(const TopoDS_Shape& shape);
bool HasSolid(const TopoDS_Shape& shape);
double VolumeOf(const TopoDS_Shape& shape);
// Gauss integration without refinement: on the planes, cylinders and cones that straight
// sketch lines make it agrees with VolumeOf to about 1e-12, far inside what a cut's check
// asks, at a tenth of the cost.
double QuickVolumeOf(const TopoDS_Shape& shape);
std::optional<TopoDS_Shape> Unified(const TopoDS_Shape& shape);
std::optional<TopoDS_Shape> Fused(const TopoDS_Shape& a, const TopoDS_Shape& b);
std::optional<TopoDS_Shape> Cut(const TopoDS_Shape& a, const TopoDS_Shape& b);

// Faces picked for an axis or a sketch.
std::optional<gp_Ax1> AxisOfFace(const TopoDS_Face& face);
std::optional<gp_Pln> PlaneOfFace(const TopoDS_Face& face);
// A sketch frame on a planar face: origin below the model origin, outward normal, x axis
// from the model axis that lies flattest in the face.
gp_Ax3 FaceFrame(const gp_Pln& plane);

// Runs body, taking any OpenCASCADE failure or exception for a refusal.
template <class F> bool Guarded(F&& body) {
    try {
        return body();
    } catch (const Standard_Failure&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

struct PartDocument::Profile {
    gp_Ax3 frame;
    std::vector<std::vector<gp_XY>> loops; // outer loops anticlockwise, holes clockwise
    TopoDS_Shape faces;
};

} // namespace krepiks::cad
