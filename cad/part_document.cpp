#include "cad/part_document.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRepGProp.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GCPnts_TangentialDeflection.hxx>
#include <GProp_GProps.hxx>
#include <GeomAPI_ProjectPointOnSurf.hxx>
#include <IFSelect_ReturnStatus.hxx>
#include <Interface_Static.hxx>
#include <Poly_Triangulation.hxx>
#include <STEPControl_Controller.hxx>
#include <STEPControl_Writer.hxx>
#include <ShapeUpgrade_UnifySameDomain.hxx>
#include <Standard_Failure.hxx>
#include <StlAPI_Writer.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Solid.hxx>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace krepiks::cad {
namespace {

constexpr double TwoPi = 2.0 * std::numbers::pi;
// The script's 6.28318530718 is 2π rounded; anything this close is a full turn.
constexpr double FullTurnSlack = 1e-9;
// Beyond this a coordinate is noise, not a part: ten kilometres.
constexpr double MaxMetres = 1e4;
constexpr int MaxPolygonSides = 40;
const char OutOfRange[] = "координаты дальше 10 км от начала";

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

template <class F> bool Guarded(F&& body) {
    try {
        return body();
    } catch (const Standard_Failure&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

struct PartDocument::Profile {
    gp_Ax3 frame;
    std::vector<std::vector<gp_XY>> loops; // outer loops anticlockwise, holes clockwise
    TopoDS_Shape faces;
};

PartDocument::PartDocument(PartTemplate partTemplate, std::string title)
    : template_(std::move(partTemplate)), title_(std::move(title)) {
    for (const TemplatePlane& p : template_.planes)
        planeFrames_.emplace_back(gp_Pnt(p.origin.x, p.origin.y, p.origin.z),
                                  gp_Dir(p.normal.x, p.normal.y, p.normal.z),
                                  gp_Dir(p.xDir.x, p.xDir.y, p.xDir.z));
    // A new part opens in an isometric view.
    const double a = std::atan(1 / std::sqrt(2.0));
    const double b = -std::numbers::pi / 4;
    view_.rotation = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    rotateAboutCenter(a, b);
    view_.rotations = 0;
}

PartDocument::~PartDocument() = default;

gp_Ax3 PartDocument::planeFrame(int index) const {
    return planeFrames_.at(index);
}

void PartDocument::changed() {
    if (observer_)
        observer_();
}

// ---- selection

bool PartDocument::selectById(const std::string& name, const std::string& type, double x, double y,
                              double z, bool append, int mark) {
    SelectedEntity entity;
    entity.mark = mark;
    bool found = false;
    if (type == "PLANE") {
        for (std::size_t i = 0; i < template_.planes.size() && !found; ++i)
            if (template_.planes[i].name == name) {
                entity.kind = EntityKind::Plane;
                entity.index = static_cast<int>(i);
                found = true;
            }
    } else if (type == "SKETCH") {
        for (std::size_t i = 0; i < sketches_.size() && !found; ++i)
            if (sketches_[i].name == name) {
                entity.kind = EntityKind::Sketch;
                entity.index = static_cast<int>(i);
                found = true;
            }
    } else if (type == "EXTSKETCHSEGMENT" || type == "SKETCHSEGMENT") {
        const std::size_t at = name.find('@');
        if (at != std::string::npos) {
            const std::string line = name.substr(0, at);
            const std::string sketch = name.substr(at + 1);
            for (std::size_t i = 0; i < sketches_.size() && !found; ++i) {
                if (sketches_[i].name != sketch)
                    continue;
                const auto& lines = sketches_[i].lines;
                for (std::size_t j = 0; j < lines.size() && !found; ++j)
                    if (lines[j].name == line) {
                        entity.kind = EntityKind::SketchSegment;
                        entity.index = static_cast<int>(i);
                        entity.segment = static_cast<int>(j);
                        found = true;
                    }
            }
        }
    } else if (type == "AXIS") {
        for (std::size_t i = 0; i < axes_.size() && !found; ++i)
            if (axes_[i].name == name) {
                entity.kind = EntityKind::Axis;
                entity.index = static_cast<int>(i);
                found = true;
            }
    } else if (type == "FACE" && name.empty()) {
        if (Sane(x) && Sane(y) && Sane(z)) {
            entity.kind = EntityKind::Face;
            found = pickFace(gp_Pnt(toModel(x), toModel(y), toModel(z)), entity.face);
        }
    }
    if (!found)
        return false;
    if (!append)
        selection_.clear();
    auto same = [&](const SelectedEntity& s) {
        return s.kind == entity.kind && s.index == entity.index && s.segment == entity.segment &&
               s.face.IsSame(entity.face);
    };
    auto it = std::find_if(selection_.begin(), selection_.end(), same);
    if (it != selection_.end())
        it->mark = mark;
    else
        selection_.push_back(entity);
    changed();
    return true;
}

void PartDocument::clearSelection() {
    selection_.clear();
    changed();
}

// A point on no face picks the face nearest to it; of faces equally near, one whose
// surface passes through the point wins (a point in the plane of an end face, beyond its
// rim, picks that end face rather than the cylinder that shares the rim).
bool PartDocument::pickFace(const gp_Pnt& point, TopoDS_Face& picked) const {
    if (body_.IsNull())
        return false;
    return Guarded([&] {
        const double tol = 1e-6 * template_.unitsPerMetre;
        TopTools_IndexedMapOfShape faces;
        TopExp::MapShapes(body_, TopAbs_FACE, faces);
        const TopoDS_Shape vertex = BRepBuilderAPI_MakeVertex(point).Shape();
        struct Candidate {
            TopoDS_Face face;
            double distance;
        };
        std::vector<Candidate> candidates;
        double nearest = std::numeric_limits<double>::max();
        for (int i = 1; i <= faces.Extent(); ++i) {
            BRepExtrema_DistShapeShape distance(vertex, faces(i));
            if (!distance.IsDone())
                continue;
            candidates.push_back({TopoDS::Face(faces(i)), distance.Value()});
            nearest = std::min(nearest, distance.Value());
        }
        const Candidate* chosen = nullptr;
        for (const Candidate& c : candidates) {
            if (c.distance > nearest + tol)
                continue;
            if (!chosen)
                chosen = &c;
            GeomAPI_ProjectPointOnSurf onSurface(point, BRep_Tool::Surface(c.face));
            if (onSurface.NbPoints() > 0 && onSurface.LowerDistance() <= tol) {
                chosen = &c;
                break;
            }
        }
        if (!chosen)
            return false;
        picked = chosen->face;
        return true;
    });
}

// ---- sketches

void PartDocument::insertSketch() {
    if (active_ >= 0) {
        active_ = -1;
        changed();
        return;
    }
    Sketch sketch;
    sketch.frame = planeFrames_.front();
    for (const SelectedEntity& s : selection_) {
        if (s.kind == EntityKind::Plane) {
            sketch.frame = planeFrames_[s.index];
            break;
        }
        if (s.kind == EntityKind::Face) {
            if (const auto plane = PlaneOfFace(s.face)) {
                sketch.frame = FaceFrame(*plane);
                sketch.onFace = true;
                break;
            }
        }
    }
    sketch.name = "Эскиз" + std::to_string(sketches_.size() + 1);
    features_.push_back({sketch.name, FeatureKind::Sketch});
    sketches_.push_back(std::move(sketch));
    active_ = static_cast<int>(sketches_.size()) - 1;
    changed();
}

bool PartDocument::refuseEntity(const char* why) {
    if (active_ >= 0) {
        ++sketches_[active_].refused;
        sketches_[active_].refusal = why;
    }
    return false;
}

bool PartDocument::createLine(double x1, double y1, double z1, double x2, double y2, double z2) {
    if (active_ < 0)
        return false;
    if (!Sane(x1) || !Sane(y1) || !Sane(z1) || !Sane(x2) || !Sane(y2) || !Sane(z2))
        return refuseEntity(OutOfRange);
    Sketch& sketch = sketches_[active_];
    // A zero-length line still takes its number, so later names stay where clients expect.
    sketch.lines.push_back({"Line" + std::to_string(++sketch.lineCounter),
                            gp_Pnt2d(toModel(x1), toModel(y1)),
                            gp_Pnt2d(toModel(x2), toModel(y2))});
    changed();
    return true;
}

bool PartDocument::createPolygon(double xc, double yc, double zc, double xp, double yp, double zp,
                                 int sides, bool inscribed) {
    if (active_ < 0)
        return false;
    if (sides < 3 || sides > MaxPolygonSides)
        return refuseEntity("у многоугольника может быть от 3 до 40 сторон");
    if (!Sane(xc) || !Sane(yc) || !Sane(zc) || !Sane(xp) || !Sane(yp) || !Sane(zp))
        return refuseEntity(OutOfRange);
    const gp_XY centre(toModel(xc), toModel(yc));
    const gp_XY toPoint = gp_XY(toModel(xp), toModel(yp)) - centre;
    const double distance = toPoint.Modulus();
    if (distance <= 1e-9 * template_.unitsPerMetre)
        return refuseEntity("многоугольник нулевого размера");
    // Inscribed: the point is a corner. Circumscribed: the point is the middle of a side.
    const double step = TwoPi / sides;
    const double radius = inscribed ? distance : distance / std::cos(step / 2);
    const double start = std::atan2(toPoint.Y(), toPoint.X()) - (inscribed ? 0 : step / 2);
    std::vector<gp_XY> corners;
    for (int k = 0; k < sides; ++k) {
        const double angle = start + step * k;
        corners.push_back(k == 0 && inscribed
                              ? centre + toPoint
                              : centre + gp_XY(radius * std::cos(angle), radius * std::sin(angle)));
    }
    Sketch& sketch = sketches_[active_];
    for (int k = 0; k < sides; ++k)
        sketch.lines.push_back({"Line" + std::to_string(++sketch.lineCounter), gp_Pnt2d(corners[k]),
                                gp_Pnt2d(corners[(k + 1) % sides])});
    changed();
    return true;
}

// The sketch's lines must form simple closed loops that neither cross nor touch.
bool PartDocument::buildProfile(int index, Profile& out, std::string& why) const {
    if (index < 0 || index >= static_cast<int>(sketches_.size())) {
        why = "не выбран эскиз профиля";
        return false;
    }
    const Sketch& sketch = sketches_[index];
    const std::string named = "«" + sketch.name + "»";
    // A line that was never made is the likeliest cause of any defect of the contour.
    auto fail = [&](const std::string& defect) {
        why = sketch.refused > 0
                  ? "в эскизе " + named + " не создано линий: " + std::to_string(sketch.refused) +
                        " (" + sketch.refusal + ")"
                  : defect;
        return false;
    };
    const double tol = std::max(Precision::Confusion(), 1e-9 * template_.unitsPerMetre);
    std::vector<gp_XY> vertices;
    auto vertexOf = [&](const gp_XY& p) {
        for (std::size_t i = 0; i < vertices.size(); ++i)
            if ((vertices[i] - p).Modulus() <= tol)
                return static_cast<int>(i);
        vertices.push_back(p);
        return static_cast<int>(vertices.size()) - 1;
    };
    std::vector<std::array<int, 2>> segments;
    for (const SketchLine& line : sketch.lines) {
        const int a = vertexOf(line.start.XY());
        const int b = vertexOf(line.end.XY());
        if (a != b)
            segments.push_back({a, b});
    }
    if (segments.size() < 3)
        return fail("в эскизе " + named + " нет замкнутого контура");
    std::vector<std::vector<int>> incident(vertices.size());
    for (std::size_t s = 0; s < segments.size(); ++s)
        for (int v : segments[s])
            incident[v].push_back(static_cast<int>(s));
    for (const auto& at : incident) {
        if (at.size() == 1)
            return fail("контур эскиза " + named + " не замкнут");
        if (at.size() > 2)
            return fail("линии эскиза " + named + " ветвятся");
    }
    const std::string crossing = "контур эскиза " + named + " пересекает сам себя";
    // No segment may touch another except at a shared end, nor fold back onto its neighbour.
    for (std::size_t i = 0; i < segments.size(); ++i)
        for (std::size_t j = i + 1; j < segments.size(); ++j) {
            const auto& s = segments[i];
            const auto& t = segments[j];
            int shared = -1, otherS = -1, otherT = -1;
            for (int a = 0; a < 2; ++a)
                for (int b = 0; b < 2; ++b)
                    if (s[a] == t[b]) {
                        shared = s[a];
                        otherS = s[1 - a];
                        otherT = t[1 - b];
                    }
            if (shared >= 0) {
                if (otherS == otherT)
                    return fail(crossing); // the same segment twice
                const gp_XY u = vertices[otherS] - vertices[shared];
                const gp_XY w = vertices[otherT] - vertices[shared];
                if (std::abs(Cross(u, w)) <= tol * std::max(u.Modulus(), w.Modulus()) &&
                    u.Dot(w) > 0)
                    return fail(crossing);
            } else if (SegmentsMeet(vertices[s[0]], vertices[s[1]], vertices[t[0]], vertices[t[1]],
                                    tol)) {
                return fail(crossing);
            }
        }
    std::vector<bool> used(segments.size(), false);
    std::vector<std::vector<gp_XY>> loops;
    for (std::size_t first = 0; first < segments.size(); ++first) {
        if (used[first])
            continue;
        std::vector<gp_XY> loop;
        int segment = static_cast<int>(first);
        int from = segments[first][0];
        while (!used[segment]) {
            used[segment] = true;
            loop.push_back(vertices[from]);
            const int to =
                segments[segment][0] == from ? segments[segment][1] : segments[segment][0];
            const auto& next = incident[to];
            segment = next[0] == segment ? next[1] : next[0];
            from = to;
        }
        if (std::abs(LoopArea(loop)) <= tol * tol)
            return fail("контур эскиза " + named + " не ограничивает площади");
        loops.push_back(std::move(loop));
    }
    std::sort(loops.begin(), loops.end(), [](const auto& a, const auto& b) {
        return std::abs(LoopArea(a)) > std::abs(LoopArea(b));
    });
    // Even nesting depth is material, odd depth a hole in the loop around it.
    std::vector<int> depth(loops.size(), 0), parent(loops.size(), -1);
    for (std::size_t i = 0; i < loops.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j)
            if (InsideLoop(loops[i][0], loops[j])) {
                ++depth[i];
                parent[i] = static_cast<int>(j);
            }
        const bool anticlockwise = LoopArea(loops[i]) > 0;
        if (anticlockwise != (depth[i] % 2 == 0))
            std::reverse(loops[i].begin(), loops[i].end());
    }
    const bool made = Guarded([&] {
        auto wireOf = [&](const std::vector<gp_XY>& loop) {
            BRepBuilderAPI_MakePolygon polygon;
            for (const gp_XY& p : loop)
                polygon.Add(ToModel(sketch.frame, p));
            polygon.Close();
            return polygon.Wire();
        };
        TopoDS_Compound faces;
        BRep_Builder builder;
        builder.MakeCompound(faces);
        const gp_Pln plane(sketch.frame);
        for (std::size_t i = 0; i < loops.size(); ++i) {
            if (depth[i] % 2 != 0)
                continue;
            BRepBuilderAPI_MakeFace face(plane, wireOf(loops[i]), Standard_True);
            for (std::size_t h = 0; h < loops.size(); ++h)
                if (parent[h] == static_cast<int>(i) && depth[h] % 2 != 0)
                    face.Add(wireOf(loops[h]));
            if (!face.IsDone() || !BRepCheck_Analyzer(face.Face()).IsValid())
                return false;
            builder.Add(faces, face.Face());
        }
        out.frame = sketch.frame;
        out.loops = loops;
        out.faces = faces;
        return true;
    });
    return made || fail("по контуру эскиза " + named + " не удалось построить грань");
}

// The profile of a feature: the first selected sketch, else the open one.
int PartDocument::profileSketch() const {
    for (const SelectedEntity& s : selection_)
        if (s.kind == EntityKind::Sketch)
            return s.index;
    return active_;
}

// The axis of a revolve: the selected line or axis with mark 4, else any selected one.
bool PartDocument::revolveAxis(gp_Ax1& axis, std::string& why) const {
    const SelectedEntity* chosen = nullptr;
    for (const SelectedEntity& s : selection_)
        if (s.kind == EntityKind::SketchSegment || s.kind == EntityKind::Axis) {
            if (s.mark == 4) {
                chosen = &s;
                break;
            }
            if (!chosen)
                chosen = &s;
        }
    if (!chosen) {
        why = "не выбрана ось вращения";
        return false;
    }
    if (chosen->kind == EntityKind::Axis) {
        axis = axes_[chosen->index].axis;
        return true;
    }
    const Sketch& sketch = sketches_[chosen->index];
    const SketchLine& line = sketch.lines[chosen->segment];
    const gp_Pnt a = ToModel(sketch.frame, line.start.XY());
    const gp_Pnt b = ToModel(sketch.frame, line.end.XY());
    if (a.Distance(b) <= Precision::Confusion()) {
        why = "ось вращения — линия нулевой длины";
        return false;
    }
    axis = gp_Ax1(a, gp_Dir(gp_Vec(a, b)));
    return true;
}

bool PartDocument::makeRevolved(const RevolveParams& p, TopoDS_Shape& out, std::string& why) const {
    auto fail = [&](const char* reason) {
        why = reason;
        return false;
    };
    if (p.type < 0 || p.type > 2)
        return fail("неизвестный вид поворота");
    if (!std::isfinite(p.angle) || !std::isfinite(p.angle2) || p.angle <= 1e-9 || p.angle2 < 0)
        return fail("недопустимый угол поворота");
    const double sweep = p.angle + (p.type == 2 ? p.angle2 : 0);
    if (sweep > TwoPi + FullTurnSlack)
        return fail("угол поворота больше полного оборота");
    Profile profile;
    gp_Ax1 axis;
    if (!buildProfile(profileSketch(), profile, why) || !revolveAxis(axis, why))
        return false;
    // The axis must lie in the sketch plane with the whole profile on one side of it.
    const gp_Ax3& f = profile.frame;
    const double tol = std::max(Precision::Confusion(), 1e-9 * template_.unitsPerMetre);
    if (std::abs(axis.Direction().Dot(f.Direction())) > 1e-9 ||
        std::abs(gp_Vec(f.Location(), axis.Location()).Dot(gp_Vec(f.Direction()))) > tol)
        return fail("ось вращения не лежит в плоскости эскиза");
    const gp_Vec rel(f.Location(), axis.Location());
    const gp_XY origin(rel.Dot(gp_Vec(f.XDirection())), rel.Dot(gp_Vec(f.YDirection())));
    const gp_XY dir(axis.Direction().Dot(f.XDirection()), axis.Direction().Dot(f.YDirection()));
    bool left = false, right = false;
    for (const auto& loop : profile.loops)
        for (const gp_XY& v : loop) {
            const double s = Cross(dir, v - origin);
            left |= s > tol;
            right |= s < -tol;
        }
    if (left && right)
        return fail("профиль лежит по обе стороны от оси вращения");
    if (p.reverse)
        axis.Reverse();
    const bool made = Guarded([&] {
        TopoDS_Shape faces = profile.faces;
        const double back = p.type == 1 ? p.angle / 2 : p.type == 2 ? p.angle2 : 0;
        if (sweep >= TwoPi - FullTurnSlack) {
            BRepPrimAPI_MakeRevol revol(faces, axis);
            if (!revol.IsDone())
                return false;
            out = revol.Shape();
        } else {
            if (back > 0) {
                gp_Trsf turn;
                turn.SetRotation(axis, -back);
                faces = BRepBuilderAPI_Transform(faces, turn, Standard_True).Shape();
            }
            BRepPrimAPI_MakeRevol revol(faces, axis, sweep);
            if (!revol.IsDone())
                return false;
            out = revol.Shape();
        }
        return HasSolid(out) && BRepCheck_Analyzer(out).IsValid();
    });
    return made || fail("поворот профиля не дал правильного тела");
}

// ---- features

bool PartDocument::setBody(const TopoDS_Shape& shape) {
    if (!HasSolid(shape))
        return false;
    body_ = shape;
    meshValid_ = false;
    volume_.reset();
    return true;
}

bool PartDocument::refuse(FeatureKind kind, std::string name, std::string why) {
    failures_.push_back({std::move(name), kind, std::move(why), features_.size()});
    changed();
    return false;
}

void PartDocument::finishFeature(FeatureKind kind, const char* baseName, int& counter) {
    active_ = -1;
    features_.push_back({baseName + std::to_string(++counter), kind});
    selection_.clear();
    changed();
}

bool PartDocument::featureRevolve(const RevolveParams& params) {
    const char* base = "Бобышка-Повернуть";
    auto fail = [&](std::string why) {
        return refuse(FeatureKind::Revolve, base + std::to_string(revolveCounter_ + 1),
                      std::move(why));
    };
    TopoDS_Shape tool;
    std::string why;
    if (!makeRevolved(params, tool, why))
        return fail(why);
    std::optional<TopoDS_Shape> result;
    Guarded([&] {
        if (body_.IsNull())
            result = Simplified(tool);
        else if (params.merge)
            result = Fused(body_, tool);
        else {
            TopoDS_Compound both;
            BRep_Builder builder;
            builder.MakeCompound(both);
            builder.Add(both, body_);
            builder.Add(both, tool);
            result = both;
        }
        return true;
    });
    if (!result || !setBody(*result))
        return fail("тело вращения не удалось объединить с телом детали");
    finishFeature(FeatureKind::Revolve, base, revolveCounter_);
    return true;
}

bool PartDocument::featureRevolveCut(const RevolveParams& params) {
    const char* base = "Вырез-Повернуть";
    auto fail = [&](std::string why) {
        return refuse(FeatureKind::RevolveCut, base + std::to_string(cutCounter_ + 1),
                      std::move(why));
    };
    if (body_.IsNull())
        return fail("в детали нет тела, из которого вырезать");
    TopoDS_Shape tool;
    std::string why;
    if (!makeRevolved(params, tool, why))
        return fail(why);
    std::optional<TopoDS_Shape> result;
    why = "вырез не удалось вычесть из тела";
    const bool ok = Guarded([&] {
        const double before = QuickVolumeOf(body_);
        result = Cut(body_, tool);
        // A cut that misses the body, or takes all of it, cannot be made.
        if (!result)
            return false;
        const double after = QuickVolumeOf(*result);
        if (after <= 1e-9 * before)
            why = "вырез удаляет всё тело";
        else if (before - after <= 1e-9 * before)
            why = "вырез не задевает тело";
        else
            return true;
        return false;
    });
    if (!ok || !setBody(*result))
        return fail(why);
    finishFeature(FeatureKind::RevolveCut, base, cutCounter_);
    return true;
}

bool PartDocument::featureExtrusion(const ExtrusionParams& p) {
    const char* base = "Бобышка-Вытянуть";
    auto fail = [&](std::string why) {
        return refuse(FeatureKind::Extrusion, base + std::to_string(extrusionCounter_ + 1),
                      std::move(why));
    };
    if (p.draft1 || p.draft2)
        return fail("вытягивание с уклоном не поддерживается");
    if (!Sane(p.depth) || !Sane(p.depth2))
        return fail(std::string("глубина: ") + OutOfRange);
    double forward = 0, backward = 0;
    if (p.endCondition == 0) {
        forward = p.depth;
        if (!p.singleDirection) {
            if (p.endCondition2 != 0)
                return fail("такое окончание во втором направлении не поддерживается");
            if (p.depth2 <= 0)
                return fail("глубина во втором направлении должна быть больше нуля");
            backward = p.depth2;
        }
    } else if (p.endCondition == 6) {
        forward = backward = p.depth / 2;
    } else {
        return fail("такое окончание вытягивания не поддерживается");
    }
    if (p.depth <= 1e-9)
        return fail("глубина должна быть больше нуля");
    Profile profile;
    std::string why;
    if (!buildProfile(profileSketch(), profile, why))
        return fail(why);
    // A face sketch's normal points out of the solid, so the boss grows away from it.
    gp_Vec normal(profile.frame.Direction());
    if (p.reverse)
        normal.Reverse();
    std::optional<TopoDS_Shape> result;
    why = "вытягивание профиля не дало тела";
    const bool ok = Guarded([&] {
        TopoDS_Shape faces = profile.faces;
        if (backward > 0) {
            gp_Trsf shift;
            shift.SetTranslation(normal * -toModel(backward));
            faces = BRepBuilderAPI_Transform(faces, shift, Standard_True).Shape();
        }
        BRepPrimAPI_MakePrism prism(faces, normal * toModel(forward + backward));
        if (!prism.IsDone() || !HasSolid(prism.Shape()))
            return false;
        why = "вытянутое тело не удалось объединить с телом детали";
        const TopoDS_Shape tool = Simplified(prism.Shape());
        if (body_.IsNull())
            result = tool;
        else if (p.merge)
            result = Fused(body_, tool);
        else {
            TopoDS_Compound both;
            BRep_Builder builder;
            builder.MakeCompound(both);
            builder.Add(both, body_);
            builder.Add(both, tool);
            result = both;
        }
        return result.has_value();
    });
    if (!ok || !setBody(*result))
        return fail(why);
    finishFeature(FeatureKind::Extrusion, base, extrusionCounter_);
    return true;
}

// An axis from the first selected cylindrical or conical face or sketch line, else from
// the intersection of two selected planes.
bool PartDocument::insertAxis() {
    std::optional<gp_Ax1> axis;
    std::vector<gp_Pln> planes;
    bool parallel = false;
    Guarded([&] {
        for (const SelectedEntity& s : selection_) {
            if (s.kind == EntityKind::Face) {
                axis = AxisOfFace(s.face);
                if (!axis)
                    if (const auto plane = PlaneOfFace(s.face))
                        planes.push_back(*plane);
            } else if (s.kind == EntityKind::SketchSegment) {
                const Sketch& sketch = sketches_[s.index];
                const SketchLine& line = sketch.lines[s.segment];
                const gp_Pnt a = ToModel(sketch.frame, line.start.XY());
                const gp_Pnt b = ToModel(sketch.frame, line.end.XY());
                if (a.Distance(b) > Precision::Confusion())
                    axis = gp_Ax1(a, gp_Dir(gp_Vec(a, b)));
            } else if (s.kind == EntityKind::Plane) {
                planes.emplace_back(planeFrames_[s.index]);
            }
            if (axis)
                return true;
        }
        if (planes.size() >= 2) {
            const gp_Dir n1 = planes[0].Axis().Direction(), n2 = planes[1].Axis().Direction();
            const gp_Vec d = gp_Vec(n1).Crossed(gp_Vec(n2));
            if (d.Magnitude() < 1e-9) {
                parallel = true;
                return false;
            }
            // The point of both planes nearest the origin.
            const double h1 = gp_Vec(planes[0].Location().XYZ()).Dot(gp_Vec(n1));
            const double h2 = gp_Vec(planes[1].Location().XYZ()).Dot(gp_Vec(n2));
            const double c = gp_Vec(n1).Dot(gp_Vec(n2));
            const double det = 1 - c * c;
            const double k1 = (h1 - h2 * c) / det, k2 = (h2 - h1 * c) / det;
            const gp_Pnt at(gp_Vec(n1).XYZ() * k1 + gp_Vec(n2).XYZ() * k2);
            axis = gp_Ax1(at, gp_Dir(d));
        }
        return true;
    });
    const std::string name = "Ось" + std::to_string(axes_.size() + 1);
    if (!axis)
        return refuse(FeatureKind::Axis, name,
                      parallel ? "выбранные плоскости параллельны"
                               : "не выбраны ни цилиндрическая грань, ни линия, ни две плоскости");
    ReferenceAxis made;
    made.name = name;
    made.axis = *axis;
    // Shown a little longer than the part along it.
    double from = -10 * template_.unitsPerMetre / 1000, to = -from;
    if (!body_.IsNull()) {
        Bnd_Box box;
        BRepBndLib::Add(body_, box);
        if (!box.IsVoid()) {
            double x0, y0, z0, x1, y1, z1;
            box.Get(x0, y0, z0, x1, y1, z1);
            from = std::numeric_limits<double>::max();
            to = -from;
            for (int i = 0; i < 8; ++i) {
                const gp_Pnt corner(i & 1 ? x1 : x0, i & 2 ? y1 : y0, i & 4 ? z1 : z0);
                const double t = gp_Vec(axis->Location(), corner).Dot(gp_Vec(axis->Direction()));
                from = std::min(from, t);
                to = std::max(to, t);
            }
            const double margin = (to - from) * 0.05;
            from -= margin;
            to += margin;
        }
    }
    made.from = from;
    made.to = to;
    axes_.push_back(made);
    features_.push_back({made.name, FeatureKind::Axis});
    selection_.clear();
    changed();
    return true;
}

// ---- view

void PartDocument::rotateAboutCenter(double xAngle, double yAngle) {
    if (!std::isfinite(xAngle) || !std::isfinite(yAngle))
        return;
    const double cx = std::cos(xAngle), sx = std::sin(xAngle);
    const double cy = std::cos(yAngle), sy = std::sin(yAngle);
    // Turn about the screen's horizontal axis, then its vertical one.
    const std::array<double, 9> rx{1, 0, 0, 0, cx, -sx, 0, sx, cx};
    const std::array<double, 9> ry{cy, 0, sy, 0, 1, 0, -sy, 0, cy};
    auto mul = [](const std::array<double, 9>& a, const std::array<double, 9>& b) {
        std::array<double, 9> r{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    r[i * 3 + j] += a[i * 3 + k] * b[k * 3 + j];
        return r;
    };
    view_.rotation = mul(ry, mul(rx, view_.rotation));
    ++view_.rotations;
    changed();
}

void PartDocument::zoomToFit() {
    ++view_.zoomsToFit;
    changed();
}

void PartDocument::setViewRotation(const std::array<double, 9>& rotation) {
    view_.rotation = rotation;
    changed();
}

// ---- results

double PartDocument::volume() const {
    if (volume_)
        return *volume_;
    double v = 0;
    Guarded([&] {
        v = VolumeOf(body_);
        return true;
    });
    volume_ = v;
    return v;
}

const MeshData& PartDocument::mesh() const {
    if (meshValid_)
        return mesh_;
    mesh_ = MeshData();
    meshValid_ = true;
    if (body_.IsNull())
        return mesh_;
    Guarded([&] {
        Bnd_Box box;
        BRepBndLib::Add(body_, box);
        const double size = box.IsVoid() ? 1.0 : std::sqrt(box.SquareExtent());
        BRepMesh_IncrementalMesh(body_, size * 5e-4, Standard_False, 0.2);
        for (TopExp_Explorer e(body_, TopAbs_FACE); e.More(); e.Next()) {
            const TopoDS_Face& face = TopoDS::Face(e.Current());
            TopLoc_Location location;
            const Handle(Poly_Triangulation) tri = BRep_Tool::Triangulation(face, location);
            if (tri.IsNull())
                continue;
            if (!tri->HasNormals())
                tri->ComputeNormals();
            const gp_Trsf& trsf = location.Transformation();
            const bool reversed = face.Orientation() == TopAbs_REVERSED;
            const auto base = static_cast<uint32_t>(mesh_.positions.size());
            for (int i = 1; i <= tri->NbNodes(); ++i) {
                const gp_Pnt p = tri->Node(i).Transformed(trsf);
                gp_Dir n = tri->Normal(i).Transformed(trsf);
                if (reversed)
                    n.Reverse();
                mesh_.positions.push_back({static_cast<float>(p.X()), static_cast<float>(p.Y()),
                                           static_cast<float>(p.Z())});
                mesh_.normals.push_back({static_cast<float>(n.X()), static_cast<float>(n.Y()),
                                         static_cast<float>(n.Z())});
            }
            for (int i = 1; i <= tri->NbTriangles(); ++i) {
                int a, b, c;
                tri->Triangle(i).Get(a, b, c);
                if (reversed)
                    std::swap(b, c);
                mesh_.triangles.push_back({base + a - 1, base + b - 1, base + c - 1});
            }
        }
        TopTools_IndexedDataMapOfShapeListOfShape edges;
        TopExp::MapShapesAndAncestors(body_, TopAbs_EDGE, TopAbs_FACE, edges);
        for (int i = 1; i <= edges.Extent(); ++i) {
            const TopoDS_Edge& edge = TopoDS::Edge(edges.FindKey(i));
            if (BRep_Tool::Degenerated(edge))
                continue;
            // The seam of a closed surface is no edge a person sees.
            const TopTools_ListOfShape& faces = edges.FindFromIndex(i);
            if (!faces.IsEmpty() && BRep_Tool::IsClosed(edge, TopoDS::Face(faces.First())))
                continue;
            BRepAdaptor_Curve curve(edge);
            GCPnts_TangentialDeflection points(curve, 0.1, size * 5e-4);
            std::vector<std::array<float, 3>> line;
            for (int k = 1; k <= points.NbPoints(); ++k) {
                const gp_Pnt p = points.Value(k);
                line.push_back({static_cast<float>(p.X()), static_cast<float>(p.Y()),
                                static_cast<float>(p.Z())});
            }
            mesh_.edges.push_back(std::move(line));
        }
        return true;
    });
    return mesh_;
}

namespace {

const char* StepUnit(const std::string& unit) {
    if (unit == "cm")
        return "CM";
    if (unit == "m")
        return "M";
    if (unit == "in")
        return "INCH";
    return "MM";
}

bool Failed(std::string* error, const std::string& why) {
    if (error)
        *error = why;
    return false;
}

} // namespace

bool PartDocument::saveStep(const std::string& path, std::string* error) const {
    if (body_.IsNull())
        return Failed(error, "the part has no body to save");
    bool ok = false;
    try {
        // The part is kept in its template's unit and written in it. The unit settings are
        // process-wide, and readers go by them too, so they are put back afterwards.
        STEPControl_Controller::Init();
        const std::string cascade = Interface_Static::CVal("xstep.cascade.unit");
        const std::string written = Interface_Static::CVal("write.step.unit");
        Interface_Static::SetCVal("xstep.cascade.unit", StepUnit(template_.unit));
        Interface_Static::SetCVal("write.step.unit", StepUnit(template_.unit));
        {
            STEPControl_Writer writer;
            ok = writer.Transfer(body_, STEPControl_AsIs) == IFSelect_RetDone &&
                 writer.Write(path.c_str()) == IFSelect_RetDone;
        }
        Interface_Static::SetCVal("xstep.cascade.unit", cascade.c_str());
        Interface_Static::SetCVal("write.step.unit", written.c_str());
    } catch (const Standard_Failure& failure) {
        return Failed(error, std::string("STEP export failed: ") + failure.GetMessageString());
    }
    return ok ? true : Failed(error, "cannot write \"" + path + "\"");
}

bool PartDocument::saveStl(const std::string& path, std::string* error) const {
    if (body_.IsNull())
        return Failed(error, "the part has no body to save");
    bool ok = false;
    try {
        mesh();
        StlAPI_Writer writer;
        writer.ASCIIMode() = Standard_False;
        ok = writer.Write(body_, path.c_str());
    } catch (const Standard_Failure& failure) {
        return Failed(error, std::string("STL export failed: ") + failure.GetMessageString());
    }
    return ok ? true : Failed(error, "cannot write \"" + path + "\"");
}

} // namespace krepiks::cad
