#include "bolt_steps.h"

#include <fstream>
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

StepResults BuildBolt(PartDocument& doc, const BoltDims& d, Stage last) {
    StepResults r;
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
    doc.clearSelection();
    doc.zoomToFit();
    return r;
}

PartTemplate ShippedTemplate() {
    std::string error;
    auto t = LoadPartTemplate(KREPIKS_PART_TEMPLATE, &error);
    if (!t)
        throw std::runtime_error("shipped template: " + error);
    return *t;
}

} // namespace krepiks::cad::test
