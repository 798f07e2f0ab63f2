#include "model/build_script.h"

namespace krepiks {

using automation::IDispatch;
using automation::Variant;

namespace {

using enum Rotation;

// clang-format off
constexpr RotationAngles Angles[] = {
    /* Y1 */ {0, 0.008094901315998},
    /* Y2 */ {0, 0.016189802632},
    /* X1 */ {0.005158205295183, 0},
    /* X2 */ {0.01031641059037, 0},
    /* XY */ {0.005158205295183, 0.008094901315998},
    /* X3 */ {0.01547461588555, -0.008094901315998},
};

// Each pair is a kind and how many of it come in a row.
constexpr RotationRun SeriesA[] = {
    {Y1, 5}, {Y2, 1}, {Y1, 6}, {Y2, 1}, {X1, 1}, {Y1, 11}, {XY, 1}, {Y2, 1}, {Y1, 6},
};

constexpr RotationRun SeriesB[] = {
    {X1, 2}, {X2, 1}, {X1, 1}, {X2, 1}, {X1, 7}, {X2, 1}, {X1, 3}, {X2, 2}, {X1, 4}, {X2, 1},
        {X1, 1}, {X2, 1}, {X1, 1}, {X2, 5},
    {X3, 1}, {X1, 1}, {X2, 1}, {X1, 1}, {X2, 1}, {X1, 2}, {X2, 2}, {X1, 2}, {X2, 1}, {X1, 1},
        {X2, 1}, {X1, 1}, {X2, 1}, {X1, 2}, {X2, 1}, {X1, 3},
    {X2, 1}, {X1, 7}, {X2, 2}, {X1, 7}, {X2, 1}, {X1, 2}, {X2, 1}, {X1, 1}, {X2, 2}, {X1, 9},
        {X2, 1}, {Y1, 1}, {X1, 12},
};
// clang-format on

// Zeros travel as the integer 0: the CAD side tells the two apart.
Variant Angle(double value) {
    return value == 0 ? Int(0) : Dbl(value);
}

void Rotate(const OleVariant& part, OleVariant& view, std::span<const RotationRun> series) {
    for (const RotationRun& run : series) {
        const RotationAngles& angles = AnglesOf(run.kind);
        for (int i = 0; i < run.count; ++i) {
            view = part.get(u"ActiveView");
            view.send(u"RotateAboutCenter", {Angle(angles.first), Angle(angles.second)});
        }
    }
}

} // namespace

const RotationAngles& AnglesOf(Rotation kind) {
    return Angles[static_cast<int>(kind)];
}

std::span<const RotationRun> RotationSeriesA() {
    return SeriesA;
}
std::span<const RotationRun> RotationSeriesB() {
    return SeriesB;
}

void RunBuildScript(const OleVariant& part, OleVariant& view, TBolt& bolt) {
    auto& p = bolt.Points;
    const TPoint2 hexagon = HexagonPoint(bolt);
    const ChamferTriangle t = DeriveChamfer(bolt);
    // Passed by reference as the optional callout of every selection; never set.
    IDispatch* callout = nullptr;
    const auto selectByID2 = [&](std::u16string_view name, std::u16string_view type, Variant x,
                                 Variant y, Variant z, bool append, int32_t mark) {
        part.get(u"Extension")
            .send(u"SelectByID2", {Str(name), Str(type), x, y, z, Bool(append), Int(mark),
                                   RefDisp(callout), Int(0)});
    };

    // Sketch 1: the shank's half-section, revolved into the body about its eighth line.
    part.get(u"SketchManager").send(u"InsertSketch", {Bool(true)});
    for (int i = 0; i < 8; ++i) {
        TPoint2& from = p[i];
        TPoint2& to = p[(i + 1) % 8];
        part.get(u"SketchManager")
            .send(u"CreateLine",
                  {RefDbl(from.x), RefDbl(from.y), Int(0), RefDbl(to.x), RefDbl(to.y), Int(0)});
    }
    part.send(u"ClearSelection2", {Bool(true)});
    selectByID2(u"Line8@Эскиз1", u"EXTSKETCHSEGMENT", Int(20), Int(0), Int(0), true, 4);
    selectByID2(u"Эскиз1", u"SKETCH", Int(0), Int(0), Int(0), true, 0);
    const OleVariant body =
        part.get(u"FeatureManager")
            .call(u"FeatureRevolve", {Dbl(RevolveAngle), Bool(false), Int(0), Int(0), Int(0),
                                      Bool(true), Bool(true), Bool(true)});

    Rotate(part, view, RotationSeriesA());

    // Sketch 2: the hexagon on the end face, extruded into the head.
    selectByID2(u"", u"FACE", Int(0), Dbl(0.00141841058029), Dbl(-0.001807800679217), false, 0);
    part.get(u"SketchManager").send(u"InsertSketch", {Bool(true)});
    part.send(u"ClearSelection2", {Bool(true)});
    part.get(u"SketchManager")
        .send(u"CreatePolygon",
              {Int(0), Int(0), Int(0), Dbl(hexagon.x), Int(0), Int(0), Int(6), Bool(true)});
    part.send(u"ClearSelection2", {Bool(true)});
    part.get(u"SketchManager").send(u"InsertSketch", {Bool(true)});
    part.send(u"ClearSelection2", {Bool(true)});
    selectByID2(u"Эскиз2", u"SKETCH", Int(0), Int(0), Int(0), false, 0);
    const double draft = 0.01745329251994;
    // clang-format off
    part.get(u"FeatureManager").send(u"FeatureExtrusion", {
        Bool(true), Bool(false), Bool(false), Int(0), Int(0),
        Dbl(HeadDepth(bolt)), Cur(0.01),
        Bool(false), Bool(false), Bool(false), Bool(false),
        Dbl(draft), Dbl(draft),
        Bool(false), Bool(false), Bool(false), Bool(false),
        Bool(true), Bool(true), Bool(true)});
    // clang-format on

    // The reference axis, and sketch 3: the chamfer triangle on the top plane.
    selectByID2(u"", u"FACE", Dbl(0.00729113867385), Dbl(0.001886594753219), Dbl(0.002948009537988),
                true, 0);
    part.send(u"InsertAxis2", {Bool(true)});
    selectByID2(u"Сверху", u"PLANE", Int(0), Int(0), Int(0), false, 0);
    selectByID2(u"Сверху", u"PLANE", Int(0), Int(0), Int(0), false, 0);
    part.get(u"SketchManager").send(u"InsertSketch", {Bool(true)});
    selectByID2(u"Эскиз3", u"SKETCH", Int(0), Int(0), Int(0), false, 0);
    part.send(u"ClearSelection2", {Bool(true)});
    part.get(u"SketchManager")
        .send(u"CreateLine", {Dbl(t.T0.x), Dbl(t.T0.y), Int(0), Cur(t.T1.x), Dbl(t.T1.y), Int(0)});
    part.send(u"ClearSelection2", {Bool(true)});
    part.get(u"SketchManager")
        .send(u"CreateLine", {Cur(t.T1.x), Dbl(t.T1.y), Int(0), Dbl(t.T2.x), Cur(t.T2.y), Int(0)});
    part.send(u"ClearSelection2", {Bool(true)});
    part.get(u"SketchManager")
        .send(u"CreateLine", {Dbl(t.T2.x), Cur(t.T2.y), Int(0), Dbl(t.T0.x), Dbl(t.T0.y), Int(0)});
    part.send(u"ClearSelection2", {Bool(true)});
    part.get(u"SketchManager").send(u"InsertSketch", {Bool(true)});

    Rotate(part, view, RotationSeriesB());
    view = part.get(u"ActiveView");

    // The chamfer: sketch 3 revolved out of the head about the axis.
    selectByID2(u"Эскиз3", u"SKETCH", Int(0), Int(0), Int(0), false, 0);
    selectByID2(u"Ось1", u"AXIS", Dbl(0.00466275515114), Dbl(4.047502160935e-05),
                Dbl(-0.0009721099765148), true, 0);
    part.send(u"ClearSelection2", {Bool(true)});
    selectByID2(u"Эскиз3", u"SKETCH", Int(0), Int(0), Int(0), false, 0);
    selectByID2(u"Ось1", u"AXIS", Dbl(0.00466275515114), Dbl(4.047502160935e-05),
                Dbl(-0.0009721099765148), true, 4);
    selectByID2(u"Эскиз3", u"SKETCH", Int(0), Int(0), Int(0), true, 0);
    part.get(u"FeatureManager")
        .send(u"FeatureRevolveCut",
              {Dbl(RevolveAngle), Bool(false), Int(0), Int(0), Int(0), Bool(true), Bool(true)});
    part.get(u"SelectionManager").send(u"EnableContourSelection", {Bool(false)});
    part.send(u"ClearSelection2", {Bool(true)});
    part.send(u"ViewZoomtofit2");
}

} // namespace krepiks
