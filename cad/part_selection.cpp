#include "cad/part_geometry.h"

#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRep_Tool.hxx>
#include <GeomAPI_ProjectPointOnSurf.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <algorithm>

namespace krepiks::cad {

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

} // namespace krepiks::cad
