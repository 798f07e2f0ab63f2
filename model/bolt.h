#pragma once
// The bolt in work and the geometry the build derives from it. Plain C++ on purpose:
// the model is tested and could be built without any window toolkit.
#include <array>
#include <string>

namespace krepiks {

struct TPoint2 {
    double x = 0.0;
    double y = 0.0;
};

struct TBolt {
    std::string isp; // UTF-8
    double d0 = 0, d1 = 0, d2 = 0, D = 0, R = 0, K = 0, L = 0, L2 = 0, L3 = 0;
    double a = 0, b = 0, c = 0, S = 0, e = 0;
    std::array<TPoint2, 100> Points{};
    std::string TemplatePath; // UTF-8
};

// The one bolt record of the run.
extern TBolt Bolt;

// The angle factor the catalogue's angle values are multiplied by before the tangent.
inline constexpr double AngleFactor = 0.015707963267948966192; // pi / 200

// Both revolves turn through 2*pi rounded to twelve significant digits.
inline constexpr double RevolveAngle = 6.28318530718;

// Overwrites Points with the eight shank-profile corners, in metres; nothing else changes.
void DeriveProfile(TBolt& bolt);

// The head hexagon: centre at the origin, second point on +x, in metres.
TPoint2 HexagonPoint(const TBolt& bolt);
// Extrusion depth of the head, in metres.
double HeadDepth(const TBolt& bolt);

// Chamfer triangle on plane "Сверху", in metres. T1.x (-0.002) and T2.y (0.003) are fixed.
struct ChamferTriangle {
    TPoint2 T0, T1, T2;
};
ChamferTriangle DeriveChamfer(const TBolt& bolt);

} // namespace krepiks
