#include "model/bolt.h"

#include <cmath>

namespace krepiks {

TBolt Bolt;

void DeriveProfile(TBolt& bolt) {
    auto& p = bolt.Points;
    // Recomputed from the dimensions each time, so the division below never accumulates.
    for (auto& point : p)
        point = TPoint2{};
    p[0] = {0.0, 0.0};
    p[1].x = 0.0;
    p[1].y = bolt.d1 / 2;
    p[3].x = bolt.L2;
    p[3].y = bolt.d0 / 2;
    p[2].y = bolt.d1 / 2;
    p[2].x = bolt.L2 - std::tan(bolt.b * AngleFactor) * (p[2].y - p[3].y);
    p[5].x = bolt.L - bolt.L3;
    p[5].y = bolt.d2 / 2;
    p[4].y = bolt.d0 / 2;
    p[4].x = (bolt.L - bolt.L3) - std::tan(bolt.c * AngleFactor) * (p[4].y - p[5].y);
    p[6] = {bolt.L, bolt.d2 / 2};
    p[7] = {bolt.L, p[0].y};
    for (auto& point : p) {
        point.x /= 1000;
        point.y /= 1000;
    }
}

TPoint2 HexagonPoint(const TBolt& bolt) {
    return {bolt.e / 2000, 0.0};
}

double HeadDepth(const TBolt& bolt) {
    return bolt.K / 1000;
}

ChamferTriangle DeriveChamfer(const TBolt& bolt) {
    const double top = -bolt.K / 1000;
    const double corner = bolt.e / 2000;
    return {{top, corner}, {-0.002, corner}, {top, 0.003}};
}

} // namespace krepiks
