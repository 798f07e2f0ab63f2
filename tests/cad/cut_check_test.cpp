// A revolve cut must take something from the body and leave something of it: a tool that
// misses the body or swallows it is refused and the part stays as it was, while a hidden
// pocket inside the material is a cut like any other.
#include "bolt_steps.h"

#include <gtest/gtest.h>
#include <numbers>

using namespace krepiks::cad;
using namespace krepiks::cad::test;

namespace {

constexpr double FullTurn = 6.28318530718;

// The worked example up to its reference axis along the shank.
class CutCheck : public ::testing::Test {
protected:
    void SetUp() override {
        const StepResults steps = BuildBolt(doc, WorkedExample(), Stage::Axis);
        ASSERT_TRUE(steps.axis);
        before = doc.volume();
        features = doc.features().size();
    }
    // A triangle on the top plane (sketch x along the shank, y away from its axis, metres),
    // turned about the axis and cut away.
    bool CutTriangle(Pt a, Pt b, Pt c) {
        doc.selectById("Сверху", "PLANE", 0, 0, 0, false, 0);
        doc.insertSketch();
        doc.createLine(a.x, a.y, 0, b.x, b.y, 0);
        doc.createLine(b.x, b.y, 0, c.x, c.y, 0);
        doc.createLine(c.x, c.y, 0, a.x, a.y, 0);
        doc.insertSketch();
        const std::string sketch = doc.sketches().back().name;
        doc.selectById(sketch, "SKETCH", 0, 0, 0, false, 0);
        doc.selectById("Ось1", "AXIS", 0, 0, 0, true, 4);
        doc.selectById(sketch, "SKETCH", 0, 0, 0, true, 0);
        return doc.featureRevolveCut({FullTurn, false, 0, 0, true});
    }

    PartDocument doc{ShippedTemplate(), "Деталь1"};
    double before = 0;
    std::size_t features = 0;
};

} // namespace

TEST_F(CutCheck, AToolBeyondTheBodyIsRefused) {
    EXPECT_FALSE(CutTriangle({0.010, 0.020}, {0.015, 0.020}, {0.010, 0.025}));
    EXPECT_DOUBLE_EQ(doc.volume(), before);
    // The sketch stays; no cut joins the tree.
    EXPECT_EQ(doc.features().size(), features + 1);
}

TEST_F(CutCheck, AToolAroundTheWholeBodyIsRefused) {
    EXPECT_FALSE(CutTriangle({-0.02, 0}, {0.1, 0}, {-0.02, 0.2}));
    EXPECT_DOUBLE_EQ(doc.volume(), before);
    EXPECT_EQ(doc.features().size(), features + 1);
}

TEST_F(CutCheck, APocketInsideTheShankTakesExactlyItsRing) {
    // 1 to 2 mm from the axis, within the 6 mm of the first shank section.
    ASSERT_TRUE(CutTriangle({0.010, 0.001}, {0.020, 0.001}, {0.010, 0.002}));
    // Pappus: area 5 mm², centroid 4/3 mm from the axis.
    const double ring = 2 * std::numbers::pi * (4.0 / 3.0) * 5.0;
    EXPECT_LT(Relative(before - doc.volume(), ring), 1e-8);
    ExpectValidSolid(doc.body());
    EXPECT_EQ(doc.features().back().kind, FeatureKind::RevolveCut);
}
