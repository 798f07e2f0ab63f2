#include "bolt_steps.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRep_Tool.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <fstream>
#include <gtest/gtest.h>
#include <numbers>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace krepiks::cad::test {

std::vector<BoltDims> SampleVariants() {
    std::ifstream file(KREPIKS_SAMPLE_CATALOGUE);
    std::stringstream text;
    text << file.rdbuf();
    const std::string sql = text.str();
    // Rows of the insert into "Размеры": ('isp', d0, d1, d2, D, R, K, L, L2, L3, a, b, c, S, e)
    const std::regex row(R"(\('([^']*)',([^)]*)\))");
    std::vector<BoltDims> variants;
    for (auto it = std::sregex_iterator(sql.begin(), sql.end(), row); it != std::sregex_iterator();
         ++it) {
        std::vector<double> v;
        std::stringstream numbers((*it)[2].str());
        std::string item;
        while (std::getline(numbers, item, ','))
            v.push_back(std::stod(item));
        if (v.size() != 14)
            continue;
        variants.push_back(
            {(*it)[1].str(), v[0], v[1], v[2], v[5], v[6], v[7], v[8], v[10], v[11], v[13]});
    }
    if (variants.empty())
        throw std::runtime_error("no variants in " KREPIKS_SAMPLE_CATALOGUE);
    return variants;
}

std::vector<Pt> ShankProfile(const BoltDims& d) {
    const double factor = 0.015707963267948966192;
    const double p2x = d.L2 - std::tan(d.b * factor) * (d.d1 - d.d0) / 2;
    const double p4x = (d.L - d.L3) - std::tan(d.c * factor) * (d.d0 - d.d2) / 2;
    return {{0, 0},          {0, d.d1 / 2},          {p2x, d.d1 / 2}, {d.L2, d.d0 / 2},
            {p4x, d.d0 / 2}, {d.L - d.L3, d.d2 / 2}, {d.L, d.d2 / 2}, {d.L, 0}};
}

StepResults BuildBolt(PartDocument& doc, const BoltDims& d, Stage last,
                      const std::function<void()>& afterFeature) {
    StepResults r;
    const auto changed = [&] {
        if (afterFeature)
            afterFeature();
    };
    const double angle = 6.28318530718;
    std::vector<Pt> p = ShankProfile(d);
    for (Pt& q : p)
        q = {q.x / 1000, q.y / 1000};
    doc.insertSketch();
    for (int i = 0; i < 8; ++i)
        doc.createLine(p[i].x, p[i].y, 0, p[(i + 1) % 8].x, p[(i + 1) % 8].y, 0);
    doc.clearSelection();
    doc.selectById("Line8@Эскиз1", "EXTSKETCHSEGMENT", 20, 0, 0, true, 4);
    doc.selectById("Эскиз1", "SKETCH", 0, 0, 0, true, 0);
    r.revolve = doc.featureRevolve({angle, false, 0, 0, true});
    changed();
    if (last == Stage::Revolve)
        return r;

    r.facePick = doc.selectById("", "FACE", 0, 0.00141841058029, -0.001807800679217, false, 0);
    doc.insertSketch();
    doc.clearSelection();
    doc.createPolygon(0, 0, 0, d.e / 2000, 0, 0, 6, true);
    doc.clearSelection();
    doc.insertSketch();
    doc.clearSelection();
    doc.selectById("Эскиз2", "SKETCH", 0, 0, 0, false, 0);
    ExtrusionParams extrusion;
    extrusion.depth = d.K / 1000;
    extrusion.depth2 = 0.01;
    r.extrusion = doc.featureExtrusion(extrusion);
    changed();
    if (last == Stage::Extrusion)
        return r;

    r.axisPick =
        doc.selectById("", "FACE", 0.00729113867385, 0.001886594753219, 0.002948009537988, true, 0);
    r.axis = doc.insertAxis();
    if (last == Stage::Axis)
        return r;

    doc.selectById("Сверху", "PLANE", 0, 0, 0, false, 0);
    doc.selectById("Сверху", "PLANE", 0, 0, 0, false, 0);
    doc.insertSketch();
    doc.selectById("Эскиз3", "SKETCH", 0, 0, 0, false, 0);
    doc.clearSelection();
    const double top = -d.K / 1000, rim = d.e / 2000;
    doc.createLine(top, rim, 0, -0.002, rim, 0);
    doc.clearSelection();
    doc.createLine(-0.002, rim, 0, top, 0.003, 0);
    doc.clearSelection();
    doc.createLine(top, 0.003, 0, top, rim, 0);
    doc.clearSelection();
    doc.insertSketch();
    const double ax = 0.00466275515114, ay = 4.047502160935e-05, az = -0.0009721099765148;
    doc.selectById("Эскиз3", "SKETCH", 0, 0, 0, false, 0);
    doc.selectById("Ось1", "AXIS", ax, ay, az, true, 0);
    doc.clearSelection();
    doc.selectById("Эскиз3", "SKETCH", 0, 0, 0, false, 0);
    doc.selectById("Ось1", "AXIS", ax, ay, az, true, 4);
    doc.selectById("Эскиз3", "SKETCH", 0, 0, 0, true, 0);
    r.chamfer = doc.featureRevolveCut({angle, false, 0, 0, true});
    changed();
    doc.clearSelection();
    doc.zoomToFit();
    return r;
}

krepiks::TBolt BoltOf(const BoltDims& d) {
    krepiks::TBolt bolt;
    bolt.isp = d.name;
    bolt.d0 = d.d0, bolt.d1 = d.d1, bolt.d2 = d.d2, bolt.K = d.K, bolt.L = d.L;
    bolt.L2 = d.L2, bolt.L3 = d.L3, bolt.b = d.b, bolt.c = d.c, bolt.e = d.e;
    bolt.TemplatePath = KREPIKS_PART_TEMPLATE;
    return bolt;
}

automation::Variant Call(automation::IDispatch* object, const std::u16string& member,
                         std::vector<automation::Variant> args, automation::CallKind kind) {
    automation::Variant result;
    const auto outcome = automation::DispatchInvoke(object, member, kind, args, &result);
    if (!outcome.ok())
        throw std::runtime_error(automation::toUtf8(member) + ": " + outcome.message);
    return result;
}

PartTemplate ShippedTemplate() {
    std::string error;
    auto t = LoadPartTemplate(KREPIKS_PART_TEMPLATE, &error);
    if (!t)
        throw std::runtime_error("shipped template: " + error);
    return *t;
}

namespace {

constexpr double Pi = std::numbers::pi;

// Area of a regular hexagon (circumradius R, centred) inside a circle of radius rho.
double HexagonInsideCircle(double R, double rho) {
    const double a = R * std::cos(Pi / 6);
    if (rho <= a)
        return Pi * rho * rho;
    if (rho >= R)
        return HexagonArea(R);
    const double segment = rho * rho * std::acos(a / rho) - a * std::sqrt(rho * rho - a * a);
    return Pi * rho * rho - 6 * segment;
}

} // namespace

double PappusVolume(const std::vector<Pt>& p) {
    double moment = 0; // ∫∫ y dA
    for (std::size_t i = 0; i < p.size(); ++i) {
        const Pt& a = p[i];
        const Pt& b = p[(i + 1) % p.size()];
        moment += (a.x * b.y - b.x * a.y) * (a.y + b.y) / 6;
    }
    return 2 * Pi * std::abs(moment);
}

double HexagonArea(double circumradius) {
    return 1.5 * std::sqrt(3.0) * circumradius * circumradius;
}

// At each x between the head's top and T1 the triangle spans from its slanted side out to
// e/2, the hexagon's circumradius, so the cut takes the part of the hexagon outside the
// circle through the slanted side. Simpson's rule, split at the kink where that circle
// meets the flats.
double ChamferVolume(const BoltDims& d) {
    const double R = d.e / 2, K = d.K;
    auto rho = [&](double x) { return 3 + (x + K) / (K - 2) * (R - 3); };
    auto removed = [&](double x) { return HexagonArea(R) - HexagonInsideCircle(R, rho(x)); };
    auto simpson = [&](double from, double to) {
        const int n = 20000;
        const double h = (to - from) / n;
        double sum = removed(from) + removed(to);
        for (int i = 1; i < n; ++i)
            sum += removed(from + i * h) * (i % 2 ? 4 : 2);
        return sum * h / 3;
    };
    const double a = R * std::cos(Pi / 6);
    const double kink = -K + (a - 3) / (R - 3) * (K - 2);
    if (kink > -K && kink < -2)
        return simpson(-K, kink) + simpson(kink, -2);
    return simpson(-K, -2);
}

double BoltVolume(const BoltDims& d) {
    return PappusVolume(ShankProfile(d)) + HexagonArea(d.e / 2) * d.K - ChamferVolume(d);
}

void ExpectValidSolid(const TopoDS_Shape& body) {
    ASSERT_FALSE(body.IsNull());
    EXPECT_TRUE(BRepCheck_Analyzer(body).IsValid());
    TopTools_IndexedMapOfShape solids, shells;
    TopExp::MapShapes(body, TopAbs_SOLID, solids);
    TopExp::MapShapes(body, TopAbs_SHELL, shells);
    EXPECT_EQ(solids.Extent(), 1);
    ASSERT_GT(shells.Extent(), 0);
    for (int i = 1; i <= shells.Extent(); ++i)
        EXPECT_TRUE(BRep_Tool::IsClosed(shells(i)));
}

std::vector<TopoDS_Face> FacesAtX(const TopoDS_Shape& body, double at) {
    std::vector<TopoDS_Face> found;
    TopTools_IndexedMapOfShape faces;
    TopExp::MapShapes(body, TopAbs_FACE, faces);
    for (int i = 1; i <= faces.Extent(); ++i) {
        BRepAdaptor_Surface s(TopoDS::Face(faces(i)));
        if (s.GetType() == GeomAbs_Plane &&
            std::abs(std::abs(s.Plane().Axis().Direction().X()) - 1) < 1e-12 &&
            std::abs(s.Plane().Location().X() - at) < 1e-9)
            found.push_back(TopoDS::Face(faces(i)));
    }
    return found;
}

double Relative(double value, double reference) {
    return std::abs(value - reference) / std::abs(reference);
}

} // namespace krepiks::cad::test
