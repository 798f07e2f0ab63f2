#include "cad/part_geometry.h"

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRep_Builder.hxx>
#include <Bnd_Box.hxx>
#include <TopoDS_Compound.hxx>
#include <algorithm>
#include <cmath>
#include <optional>

namespace krepiks::cad {

namespace {

// A new solid with the body: the solid alone where there is no body yet, else fused into it,
// or kept beside it when the feature does not merge. Nothing when the fuse fails.
std::optional<TopoDS_Shape> Added(const TopoDS_Shape& body, const TopoDS_Shape& tool, bool merge) {
    if (body.IsNull())
        return Simplified(tool);
    if (merge)
        return Fused(body, tool);
    TopoDS_Compound both;
    BRep_Builder builder;
    builder.MakeCompound(both);
    builder.Add(both, body);
    builder.Add(both, tool);
    return both;
}

} // namespace

// The axis of a revolve: the selected line or axis with mark 4, else any selected one.
const SelectedEntity* PartDocument::revolveAxisEntity() const {
    const SelectedEntity* chosen = nullptr;
    for (const SelectedEntity& s : selection_)
        if (s.kind == EntityKind::SketchSegment || s.kind == EntityKind::Axis) {
            if (s.mark == 4)
                return &s;
            if (!chosen)
                chosen = &s;
        }
    return chosen;
}

bool PartDocument::revolveAxis(gp_Ax1& axis, std::string& why) const {
    const SelectedEntity* chosen = revolveAxisEntity();
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

bool PartDocument::setBody(const TopoDS_Shape& shape) {
    if (!HasSolid(shape))
        return false;
    body_ = shape;
    meshValid_ = false;
    volume_.reset();
    quickVolume_.reset();
    return true;
}

bool PartDocument::refuse(FeatureKind kind, std::string name, std::string why) {
    failures_.push_back({std::move(name), kind, std::move(why), features_.size()});
    changed();
    return false;
}

void PartDocument::finishFeature(FeatureKind kind, const char* baseName, int& counter,
                                 FeatureInputs inputs) {
    active_ = -1;
    features_.push_back({baseName + std::to_string(++counter), kind, std::move(inputs)});
    selection_.clear();
    changed();
}

FeatureInputs PartDocument::revolveInputs(const RevolveParams& params) const {
    FeatureInputs inputs;
    inputs.profile = profileSketch();
    if (const SelectedEntity* axis = revolveAxisEntity())
        inputs.axis = *axis;
    inputs.revolve = params;
    return inputs;
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
        result = Added(body_, tool, params.merge);
        return true;
    });
    if (!result || !setBody(*result))
        return fail("тело вращения не удалось объединить с телом детали");
    finishFeature(FeatureKind::Revolve, base, revolveCounter_, revolveInputs(params));
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
    double after = 0;
    why = "вырез не удалось вычесть из тела";
    const bool ok = Guarded([&] {
        const double before = quickVolume();
        result = Cut(body_, tool);
        // A cut that misses the body, or takes all of it, cannot be made.
        if (!result)
            return false;
        after = QuickVolumeOf(*result);
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
    quickVolume_ = after;
    finishFeature(FeatureKind::RevolveCut, base, cutCounter_, revolveInputs(params));
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
        result = Added(body_, Simplified(prism.Shape()), p.merge);
        return result.has_value();
    });
    if (!ok || !setBody(*result))
        return fail(why);
    FeatureInputs inputs;
    inputs.profile = profileSketch();
    inputs.extrusion = p;
    finishFeature(FeatureKind::Extrusion, base, extrusionCounter_, std::move(inputs));
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

} // namespace krepiks::cad
