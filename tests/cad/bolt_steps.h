#pragma once
// The bolt build's geometry steps, issued straight on a part document with the values the
// build script sends, so the geometry can be checked stage by stage without automation.
#include "automation/invoke.h"
#include "cad/part_document.h"
#include "model/bolt.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace krepiks::cad::test {

struct BoltDims {
    std::string name;
    double d0, d1, d2, K, L, L2, L3, b, c, e; // millimetres, angles as typed
};

// d1=12, d0=10, d2=8, L=60, L2=30, L3=6, b=50, c=45, K=7.5, e=20.
inline BoltDims WorkedExample() {
    return {"worked", 10, 12, 8, 7.5, 60, 30, 6, 50, 45, 20};
}

// The twelve variants of the sample catalogue.
std::vector<BoltDims> SampleVariants();

struct Pt {
    double x, y;
};

// The eight shank-profile corners, millimetres.
std::vector<Pt> ShankProfile(const BoltDims& d);

enum class Stage { Revolve, Extrusion, Axis, Chamfer };

struct StepResults {
    bool revolve = false, facePick = false, extrusion = false, axisPick = false, axis = false;
    bool chamfer = false;
};

// The bolt record the program's build would read for d, with the shipped template.
krepiks::TBolt BoltOf(const BoltDims& d);

// One late-bound call; throws std::runtime_error with the automation error's text.
automation::Variant Call(automation::IDispatch* object, const std::u16string& member,
                         std::vector<automation::Variant> args = {},
                         automation::CallKind kind = automation::CallKind::Method);

// Runs the script's geometry calls up to and including stage; afterFeature, when given, after
// each feature that changes the body.
StepResults BuildBolt(PartDocument& doc, const BoltDims& d, Stage last = Stage::Chamfer,
                      const std::function<void()>& afterFeature = {});

// The shipped template.
PartTemplate ShippedTemplate();

// Independent figures, millimetres.
// Pappus: a profile turned a full turn sweeps 2π times its first moment about the axis.
double PappusVolume(const std::vector<Pt>& profile);
double HexagonArea(double circumradius);
// The volume the chamfer cut takes from the head, by numerical integration.
double ChamferVolume(const BoltDims& d);
// The whole bolt: shank, head, less the chamfer.
double BoltVolume(const BoltDims& d);

// One valid solid in closed shells.
void ExpectValidSolid(const TopoDS_Shape& body);
// Planar faces whose plane is x = at.
std::vector<TopoDS_Face> FacesAtX(const TopoDS_Shape& body, double at);
double Relative(double value, double reference);

} // namespace krepiks::cad::test
