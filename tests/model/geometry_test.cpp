#include "model/bolt.h"
#include "model/build_script.h"

#include <cmath>
#include <gtest/gtest.h>
#include <map>

using namespace krepiks;

namespace {

// The worked example of the drawing: d1 12, d0 10, d2 8, L 60, L2 30, L3 6, b 50, c 45, K 7.5,
// e 20.
TBolt WorkedExample() {
    TBolt bolt;
    bolt.d1 = 12, bolt.d0 = 10, bolt.d2 = 8;
    bolt.L = 60, bolt.L2 = 30, bolt.L3 = 6;
    bolt.b = 50, bolt.c = 45, bolt.K = 7.5, bolt.e = 20;
    return bolt;
}

void ExpectPoint(const TPoint2& p, double x, double y) {
    EXPECT_NEAR(p.x, x, 1e-15);
    EXPECT_NEAR(p.y, y, 1e-15);
}

} // namespace

TEST(Geometry, WorkedExampleValueForValue) {
    TBolt bolt = WorkedExample();
    DeriveProfile(bolt);
    const auto& p = bolt.Points;
    ExpectPoint(p[0], 0, 0);
    ExpectPoint(p[1], 0, 0.006);
    ExpectPoint(p[2], 0.029, 0.006);
    ExpectPoint(p[3], 0.03, 0.005);
    ExpectPoint(p[4], 0.0531459193145365, 0.005);
    ExpectPoint(p[5], 0.054, 0.004);
    ExpectPoint(p[6], 0.06, 0.004);
    ExpectPoint(p[7], 0.06, 0);
    ExpectPoint(HexagonPoint(bolt), 0.01, 0);
    EXPECT_DOUBLE_EQ(HeadDepth(bolt), 0.0075);
    const ChamferTriangle t = DeriveChamfer(bolt);
    ExpectPoint(t.T0, -0.0075, 0.01);
    ExpectPoint(t.T1, -0.002, 0.01);
    ExpectPoint(t.T2, -0.0075, 0.003);
    // Only Points changes.
    EXPECT_EQ(bolt.d1, 12);
    EXPECT_EQ(bolt.L2, 30);
    EXPECT_EQ(bolt.K, 7.5);
}

TEST(Geometry, TransitionAngles) {
    TBolt bolt = WorkedExample();
    // b = 50 is 45 degrees to the axis: the transition is as long as it is high.
    bolt.d1 = 20, bolt.d0 = 14;
    DeriveProfile(bolt);
    EXPECT_NEAR(bolt.Points[2].x, (30 - (20 - 14) / 2.0) / 1000, 1e-15);
    // The default 45 uses the factor pi/200, not pi/180.
    EXPECT_NEAR(std::tan(45 * AngleFactor), 0.8540806854634668, 1e-15);
    EXPECT_NEAR(bolt.Points[4].x, (54 - 0.8540806854634668 * (14 - 8) / 2.0) / 1000, 1e-15);
    // Between 100 and 200 the tangent is negative: P2 lies beyond L2, unchecked.
    bolt.b = 150;
    DeriveProfile(bolt);
    EXPECT_GT(bolt.Points[2].x, bolt.Points[3].x);
    EXPECT_NEAR(bolt.Points[2].x, (30 - std::tan(150 * AngleFactor) * 3) / 1000, 1e-15);
}

TEST(Geometry, EqualDiametersMakeCoincidentCorners) {
    TBolt bolt = WorkedExample();
    bolt.d1 = bolt.d0 = 10;
    bolt.d2 = 10;
    DeriveProfile(bolt);
    ExpectPoint(bolt.Points[2], 0.03, 0.005);
    ExpectPoint(bolt.Points[3], 0.03, 0.005);
    ExpectPoint(bolt.Points[4], 0.054, 0.005);
    ExpectPoint(bolt.Points[5], 0.054, 0.005);
}

TEST(Geometry, RepeatedDerivationIsIdenticalAndLeavesTheRestZero) {
    TBolt bolt = WorkedExample();
    // Leftovers from an earlier use of the record must not survive or accumulate.
    for (auto& point : bolt.Points)
        point = {123.0, -4.0};
    DeriveProfile(bolt);
    const auto first = bolt.Points;
    DeriveProfile(bolt);
    for (size_t i = 0; i < bolt.Points.size(); ++i) {
        EXPECT_EQ(bolt.Points[i].x, first[i].x) << i;
        EXPECT_EQ(bolt.Points[i].y, first[i].y) << i;
    }
    for (size_t i = 8; i < bolt.Points.size(); ++i) {
        EXPECT_EQ(bolt.Points[i].x, 0.0) << i;
        EXPECT_EQ(bolt.Points[i].y, 0.0) << i;
    }
    // D, R, a and S do not reach the model.
    TBolt other = WorkedExample();
    other.D = 99, other.R = 7, other.a = 12, other.S = 1;
    DeriveProfile(other);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(other.Points[i].x, first[i].x);
        EXPECT_EQ(other.Points[i].y, first[i].y);
    }
}

TEST(RotationSeries, CountsAndSumsOfBothSeries) {
    struct Totals {
        int rotations = 0;
        std::map<Rotation, int> kinds;
        double first = 0, second = 0;
    };
    const auto total = [](std::span<const RotationRun> series) {
        Totals t;
        for (const RotationRun& run : series) {
            EXPECT_GT(run.count, 0);
            t.rotations += run.count;
            t.kinds[run.kind] += run.count;
            t.first += run.count * AnglesOf(run.kind).first;
            t.second += run.count * AnglesOf(run.kind).second;
        }
        return t;
    };
    const Totals a = total(RotationSeriesA());
    EXPECT_EQ(a.rotations, 33);
    EXPECT_EQ(a.kinds,
              (std::map<Rotation, int>{
                  {Rotation::Y1, 28}, {Rotation::Y2, 3}, {Rotation::X1, 1}, {Rotation::XY, 1}}));
    EXPECT_NEAR(a.first, 0.010316410590366, 1e-15);
    EXPECT_NEAR(a.second, 0.283321546059942, 1e-14);

    const Totals b = total(RotationSeriesB());
    EXPECT_EQ(b.rotations, 100);
    EXPECT_EQ(b.kinds,
              (std::map<Rotation, int>{
                  {Rotation::X1, 70}, {Rotation::X2, 28}, {Rotation::X3, 1}, {Rotation::Y1, 1}}));
    EXPECT_NEAR(b.first, 0.66540848307872, 1e-14);
    EXPECT_NEAR(b.second, 0.0, 1e-15);
}
