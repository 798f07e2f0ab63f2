// The bolt's geometry, stage by stage, against independent computations.
#include "bolt_steps.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <cmath>
#include <gp_Lin.hxx>
#include <gtest/gtest.h>
#include <numbers>

using namespace krepiks::cad;
using namespace krepiks::cad::test;

namespace {

constexpr double Pi = std::numbers::pi;

} // namespace

TEST(WorkedExample, EachStageAddsOrRemovesTheExpectedVolume) {
    const BoltDims d = WorkedExample();
    PartDocument doc(ShippedTemplate(), "Деталь1");

    ASSERT_TRUE(BuildBolt(doc, d, Stage::Revolve).revolve);
    ExpectValidSolid(doc.body());
    const double shank = doc.volume();
    EXPECT_LT(Relative(shank, PappusVolume(ShankProfile(d))), 1e-9) << shank;

    PartDocument doc2(ShippedTemplate(), "Деталь2");
    const StepResults head = BuildBolt(doc2, d, Stage::Extrusion);
    ASSERT_TRUE(head.facePick && head.extrusion);
    ExpectValidSolid(doc2.body());
    // Away from the solid: the head does not overlap the shank, so it adds its whole prism.
    EXPECT_LT(Relative(doc2.volume() - shank, HexagonArea(d.e / 2) * d.K), 1e-9);

    PartDocument doc3(ShippedTemplate(), "Деталь3");
    const StepResults all = BuildBolt(doc3, d);
    ASSERT_TRUE(all.axisPick && all.axis && all.chamfer);
    ExpectValidSolid(doc3.body());
    const double chamfer = doc2.volume() - doc3.volume();
    EXPECT_LT(Relative(chamfer, ChamferVolume(d)), 1e-8) << chamfer << " vs " << ChamferVolume(d);
}

TEST(WorkedExample, HeadTopIsACircleOfThreeMillimetres) {
    const BoltDims d = WorkedExample();
    PartDocument doc(ShippedTemplate(), "Деталь1");
    ASSERT_TRUE(BuildBolt(doc, d).chamfer);
    const auto top = FacesAtX(doc.body(), -d.K);
    ASSERT_EQ(top.size(), 1u);
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(top[0], TopAbs_EDGE, edges);
    ASSERT_EQ(edges.Extent(), 1);
    BRepAdaptor_Curve rim(TopoDS::Edge(edges(1)));
    ASSERT_EQ(rim.GetType(), GeomAbs_Circle);
    EXPECT_NEAR(rim.Circle().Radius(), 3.0, 1e-9);
    EXPECT_NEAR(rim.Circle().Location().Distance(gp_Pnt(-d.K, 0, 0)), 0, 1e-9);
    GProp_GProps area;
    BRepGProp::SurfaceProperties(top[0], area);
    EXPECT_LT(Relative(area.Mass(), Pi * 9), 1e-9);
    // The end face of the shank is gone into the head; the underside is a ring at x = 0.
    EXPECT_EQ(FacesAtX(doc.body(), 0).size(), 1u);
}

TEST(WorkedExample, NamesAndTreeFollowTheScript) {
    PartDocument doc(ShippedTemplate(), "Деталь1");
    ASSERT_TRUE(BuildBolt(doc, WorkedExample()).chamfer);
    ASSERT_EQ(doc.sketches().size(), 3u);
    EXPECT_EQ(doc.sketches()[0].name, "Эскиз1");
    EXPECT_EQ(doc.sketches()[1].name, "Эскиз2");
    EXPECT_EQ(doc.sketches()[2].name, "Эскиз3");
    ASSERT_EQ(doc.sketches()[0].lines.size(), 8u);
    EXPECT_EQ(doc.sketches()[0].lines[7].name, "Line8");
    ASSERT_EQ(doc.sketches()[1].lines.size(), 6u);
    EXPECT_EQ(doc.sketches()[1].lines[5].name, "Line6");
    // Sketch 2 lies on the end face and faces away from the shank.
    EXPECT_TRUE(doc.sketches()[1].onFace);
    EXPECT_NEAR(doc.sketches()[1].frame.Direction().X(), -1, 1e-12);
    EXPECT_NEAR(doc.sketches()[1].frame.Location().Distance(gp_Pnt(0, 0, 0)), 0, 1e-12);
    // Sketch 3 is on the template's "Сверху".
    EXPECT_FALSE(doc.sketches()[2].onFace);
    EXPECT_NEAR(doc.sketches()[2].frame.Direction().Y(), 1, 1e-12);
    ASSERT_EQ(doc.axes().size(), 1u);
    EXPECT_EQ(doc.axes()[0].name, "Ось1");
    EXPECT_LT(gp_Vec(doc.axes()[0].axis.Direction()).Crossed(gp_Vec(gp::DX())).Magnitude(), 1e-12);
    EXPECT_LT(gp_Lin(doc.axes()[0].axis).Distance(gp_Pnt(0, 0, 0)), 1e-9);
    std::vector<std::string> tree;
    for (const auto& f : doc.features())
        tree.push_back(f.name);
    EXPECT_EQ(tree, (std::vector<std::string>{"Эскиз1", "Бобышка-Повернуть1", "Эскиз2",
                                              "Бобышка-Вытянуть1", "Ось1", "Эскиз3",
                                              "Вырез-Повернуть1"}));
    EXPECT_TRUE(doc.selection().empty());
    EXPECT_EQ(doc.activeSketch(), -1);
}

TEST(FacePick, PointBeyondTheRimOfAThinShankStillPicksTheEndFace) {
    // d1 = 4: the script's first face point (2.298 mm from the axis) misses the end disk.
    BoltDims d = WorkedExample();
    d.d1 = 4, d.d0 = 3.6, d.d2 = 3, d.e = 8, d.K = 3;
    PartDocument doc(ShippedTemplate(), "thin");
    const StepResults r = BuildBolt(doc, d);
    EXPECT_TRUE(r.facePick && r.extrusion && r.axis && r.chamfer);
    EXPECT_NEAR(doc.sketches()[1].frame.Direction().X(), -1, 1e-12);
    EXPECT_LT(gp_Vec(doc.axes()[0].axis.Direction()).Crossed(gp_Vec(gp::DX())).Magnitude(), 1e-12);
}

TEST(FacePick, PointsOnAndOffTheBody) {
    PartDocument doc(ShippedTemplate(), "p");
    EXPECT_FALSE(doc.selectById("", "FACE", 0, 0, 0, false, 0)) << "no body yet";
    ASSERT_TRUE(BuildBolt(doc, WorkedExample(), Stage::Revolve).revolve);
    // On the tip face.
    ASSERT_TRUE(doc.selectById("", "FACE", 0.060, 0.001, 0, false, 0));
    ASSERT_EQ(doc.selection().size(), 1u);
    EXPECT_EQ(BRepAdaptor_Surface(doc.selection()[0].face).GetType(), GeomAbs_Plane);
    // Far outside beside the middle section: its cylinder is nearest.
    ASSERT_TRUE(doc.selectById("", "FACE", 0.040, 0.020, 0, false, 0));
    BRepAdaptor_Surface s(doc.selection()[0].face);
    ASSERT_EQ(s.GetType(), GeomAbs_Cylinder);
    EXPECT_NEAR(s.Cylinder().Radius(), 5, 1e-9);
    // Appending the same face twice keeps one entry with the newest mark.
    ASSERT_TRUE(doc.selectById("", "FACE", 0.041, 0.020, 0, true, 2));
    ASSERT_EQ(doc.selection().size(), 1u);
    EXPECT_EQ(doc.selection()[0].mark, 2);
    EXPECT_FALSE(doc.selectById("", "FACE", NAN, 0, 0, false, 0));
    EXPECT_FALSE(doc.selectById("face", "FACE", 0.060, 0.001, 0, false, 0))
        << "faces have no names";
    EXPECT_EQ(doc.selection().size(), 1u) << "a failed selection changes nothing";
}

TEST(Sketching, PolygonCornersAndSides) {
    PartDocument doc(ShippedTemplate(), "p");
    EXPECT_FALSE(doc.createPolygon(0, 0, 0, 0.01, 0, 0, 6, true)) << "no open sketch";
    doc.insertSketch();
    EXPECT_FALSE(doc.createPolygon(0, 0, 0, 0.01, 0, 0, 2, true));
    EXPECT_FALSE(doc.createPolygon(0, 0, 0, 0, 0, 0, 6, true));
    ASSERT_TRUE(doc.createPolygon(0.001, 0.002, 0, 0.011, 0.002, 0, 6, true));
    const auto& lines = doc.sketches()[0].lines;
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_DOUBLE_EQ(lines[0].start.X(), 11); // inscribed: the point is a corner
    EXPECT_DOUBLE_EQ(lines[0].start.Y(), 2);
    for (const auto& l : lines)
        EXPECT_NEAR(l.start.Distance(l.end), 10, 1e-9);
    ASSERT_TRUE(doc.createPolygon(0, 0, 0, 0, 0.005, 0, 4, false));
    const auto& square = doc.sketches()[0].lines;
    ASSERT_EQ(square.size(), 10u);
    EXPECT_EQ(square[9].name, "Line10");
    // Circumscribed: the point is the middle of a side, 5 mm from the centre.
    const gp_Pnt2d mid((square[6].start.XY() + square[6].end.XY()) / 2);
    EXPECT_NEAR(mid.Distance(gp_Pnt2d(0, 5)), 0, 1e-9);
    EXPECT_NEAR(square[6].start.Distance(square[6].end), 10, 1e-9);
}

TEST(Sketching, ExtrudedSquareOnAPlaneAndBothDirections) {
    PartDocument doc(ShippedTemplate(), "p");
    ASSERT_TRUE(doc.selectById("Справа", "PLANE", 0, 0, 0, false, 0));
    doc.insertSketch();
    EXPECT_NEAR(doc.sketches()[0].frame.Direction().X(), 1, 1e-12);
    ASSERT_TRUE(doc.createPolygon(0, 0, 0, 0.01, 0, 0, 4, false)); // 20 mm square
    doc.insertSketch();
    ExtrusionParams p;
    p.singleDirection = false;
    p.depth = 0.003;
    p.depth2 = 0.002;
    EXPECT_FALSE(doc.featureExtrusion(p)) << "no sketch open or selected";
    ASSERT_TRUE(doc.selectById("Эскиз1", "SKETCH", 0, 0, 0, false, 0));
    ASSERT_TRUE(doc.featureExtrusion(p));
    EXPECT_NEAR(doc.volume(), 400 * 5, 1e-6);
    // Along +x by 3 mm and back by 2 mm.
    TopExp_Explorer e(doc.body(), TopAbs_VERTEX);
    double lo = 1e9, hi = -1e9;
    for (; e.More(); e.Next()) {
        const double x = BRep_Tool::Pnt(TopoDS::Vertex(e.Current())).X();
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    EXPECT_NEAR(lo, -2, 1e-9);
    EXPECT_NEAR(hi, 3, 1e-9);
}

TEST(Sketching, ProfileWithAHoleRevolvesToATube) {
    PartDocument doc(ShippedTemplate(), "p");
    doc.insertSketch();
    doc.createPolygon(0.005, 0.005, 0, 0.010, 0.005, 0, 4, false);
    doc.createLine(-0.01, -0.001, 0, 0.02, -0.001, 0); // a loose line beside the square
    doc.insertSketch();
    ASSERT_TRUE(doc.selectById("Line5@Эскиз1", "EXTSKETCHSEGMENT", 0, 0, 0, false, 4));
    ASSERT_TRUE(doc.selectById("Эскиз1", "SKETCH", 0, 0, 0, true, 0));
    EXPECT_FALSE(doc.featureRevolve({2 * Pi, false, 0, 0, true}))
        << "a profile with an open line cannot be revolved";
    EXPECT_TRUE(doc.body().IsNull());

    PartDocument ring(ShippedTemplate(), "ring");
    ring.insertSketch();
    ring.createPolygon(0.005, 0.005, 0, 0.010, 0.005, 0, 4, false); // x 0..10, y 0..10
    ring.createPolygon(0.005, 0.005, 0, 0.007, 0.005, 0, 4, false); // hole x 3..7, y 3..7
    ring.insertSketch();
    ring.insertSketch();
    ring.createLine(0, -0.001, 0, 0.010, -0.001, 0); // axis y = -1 mm, in sketch 2
    ring.insertSketch();
    ASSERT_TRUE(ring.selectById("Line1@Эскиз2", "EXTSKETCHSEGMENT", 0, 0, 0, false, 4));
    ASSERT_TRUE(ring.selectById("Эскиз1", "SKETCH", 0, 0, 0, true, 0));
    ASSERT_TRUE(ring.featureRevolve({Pi, false, 0, 0, true}));
    // Half a turn: π × (first moment of the outer square − that of the hole) about y = −1.
    const double expected = Pi * (100 * 6 - 16 * 6);
    EXPECT_LT(Relative(ring.volume(), expected), 1e-9);
    EXPECT_TRUE(BRepCheck_Analyzer(ring.body()).IsValid());
}

TEST(Sketching, RevolvesInBothDirectionsLieWhereTheirAnglesSay) {
    // A 10 mm square, y 5..15, turned about the x axis: a point (x, y) goes to
    // (x, y cos t, y sin t) for t from the start angle to the end angle.
    struct Case {
        const char* what;
        RevolveParams params;
        double from, to; // the angles t sweeps, degrees
    };
    const double deg = Pi / 180;
    const std::vector<Case> cases{
        {"one direction", {90 * deg, false, 0, 0, true}, 0, 90},
        {"mid-plane", {90 * deg, false, 0, 1, true}, -45, 45},
        {"mid-plane, reversed", {90 * deg, true, 0, 1, true}, -45, 45},
        {"two directions", {90 * deg, false, 30 * deg, 2, true}, -30, 90},
        {"two directions, reversed", {90 * deg, true, 30 * deg, 2, true}, -90, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PartDocument doc(ShippedTemplate(), "p");
        doc.insertSketch();
        ASSERT_TRUE(doc.createPolygon(0.005, 0.010, 0, 0.010, 0.010, 0, 4, false));
        doc.insertSketch();
        doc.insertSketch();
        ASSERT_TRUE(doc.createLine(0, 0, 0, 0.010, 0, 0)); // the x axis, in sketch 2
        doc.insertSketch();
        const gp_Ax3& frame = doc.sketches()[0].frame;
        ASSERT_LT(frame.Location().Distance(gp::Origin()), 1e-12);
        ASSERT_TRUE(frame.XDirection().IsEqual(gp::DX(), 1e-12));
        ASSERT_TRUE(frame.YDirection().IsEqual(gp::DY(), 1e-12));
        ASSERT_TRUE(doc.selectById("Line1@Эскиз2", "EXTSKETCHSEGMENT", 0, 0, 0, false, 4));
        ASSERT_TRUE(doc.selectById("Эскиз1", "SKETCH", 0, 0, 0, true, 0));
        ASSERT_TRUE(doc.featureRevolve(c.params));

        // The extremes of y cos t and y sin t lie at the ends of the sweep or where it
        // crosses a quarter turn, at the inner or the outer edge of the square.
        double ylo = 1e9, yhi = -1e9, zlo = 1e9, zhi = -1e9;
        std::vector<double> angles{c.from, c.to};
        for (int quarter = -4; quarter <= 4; ++quarter)
            if (quarter * 90 > c.from && quarter * 90 < c.to)
                angles.push_back(quarter * 90);
        for (const double t : angles)
            for (const double r : {5.0, 15.0}) {
                ylo = std::min(ylo, r * std::cos(t * deg));
                yhi = std::max(yhi, r * std::cos(t * deg));
                zlo = std::min(zlo, r * std::sin(t * deg));
                zhi = std::max(zhi, r * std::sin(t * deg));
            }
        Bnd_Box box;
        BRepBndLib::AddOptimal(doc.body(), box, false, false);
        double x0, y0, z0, x1, y1, z1;
        box.Get(x0, y0, z0, x1, y1, z1);
        EXPECT_NEAR(x0, 0, 1e-6);
        EXPECT_NEAR(x1, 10, 1e-6);
        EXPECT_NEAR(y0, ylo, 1e-6);
        EXPECT_NEAR(y1, yhi, 1e-6);
        EXPECT_NEAR(z0, zlo, 1e-6);
        EXPECT_NEAR(z1, zhi, 1e-6);
        const double sweep = c.to - c.from;
        EXPECT_LT(Relative(doc.volume(), sweep * deg * 100 * 10), 1e-9);
    }
}
