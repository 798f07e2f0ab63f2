#include "cad/part_geometry.h"

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>
#include <algorithm>
#include <cmath>

namespace krepiks::cad {

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

} // namespace krepiks::cad
