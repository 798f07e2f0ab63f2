#include "script_expectations.h"

#include <charconv>
#include <cmath>

namespace krepiks::test {

using namespace automation;

TBolt ExampleBolt() {
    TBolt bolt;
    bolt.isp = "001";
    bolt.d1 = 12, bolt.d0 = 10, bolt.d2 = 8;
    bolt.L = 60, bolt.L2 = 30, bolt.L3 = 6;
    bolt.b = 50, bolt.c = 45, bolt.K = 7.5, bolt.e = 20;
    bolt.D = 19, bolt.R = 0.5, bolt.a = 30, bolt.S = 20;
    bolt.TemplatePath = "C:\\Шаблоны\\Деталь.prtdot";
    return bolt;
}

namespace {

ExpectedArg I(int v) {
    return {"int", double(v), {}, false};
}
ExpectedArg D(double v) {
    return {"dbl", v, {}, false};
}
ExpectedArg C(long count) {
    return {"cur", double(count), {}, false};
}
ExpectedArg B(bool v) {
    return {"bool", v ? 1.0 : 0.0, {}, false};
}
ExpectedArg S(std::string text) {
    return {"str", 0, std::move(text)};
}
ExpectedArg NullS() {
    return {"str", 0, {}, true};
}
ExpectedArg RD(double v) {
    return {"&dbl", v, {}, false};
}
ExpectedArg NullDisp() {
    return {"&disp", 0, {}, true};
}

} // namespace

std::vector<ExpectedCall> ExpectedScript() {
    std::vector<ExpectedCall> s;
    const auto on = [&](const char* manager, ExpectedCall call) {
        s.push_back({manager, {}});
        s.push_back(std::move(call));
    };
    const auto select = [&](ExpectedArg name, const char* type, ExpectedArg x, ExpectedArg y,
                            ExpectedArg z, bool append, int mark) {
        on("Extension",
           {"SelectByID2", {name, S(type), x, y, z, B(append), I(mark), NullDisp(), I(0)}});
    };
    const auto clear = [&] { s.push_back({"ClearSelection2", {B(true)}}); };
    const auto series = [&](int rotations) {
        for (int i = 0; i < rotations; ++i) {
            s.push_back({"ActiveView", {}});
            s.push_back({"RotateAboutCenter", {}, true});
        }
    };
    // Shank corners in metres, P0 to P7, closed back to P0.
    const double px[] = {0, 0, 0.029, 0.03, 0.0531459193145365, 0.054, 0.06, 0.06, 0};
    const double py[] = {0, 0.006, 0.006, 0.005, 0.005, 0.004, 0.004, 0, 0};
    const double top = -0.0075, corner = 0.01, draft = 0.01745329251994;
    const double turn = 6.28318530718;

    s.push_back({"ActiveView", {}});                  // 1
    on("SketchManager", {"InsertSketch", {B(true)}}); // 2
    for (int i = 0; i < 8; ++i)                       // 3
        on("SketchManager",
           {"CreateLine", {RD(px[i]), RD(py[i]), I(0), RD(px[i + 1]), RD(py[i + 1]), I(0)}});
    clear();                                                                   // 4
    select(S("Line8@Эскиз1"), "EXTSKETCHSEGMENT", I(20), I(0), I(0), true, 4); // 5
    select(S("Эскиз1"), "SKETCH", I(0), I(0), I(0), true, 0);                  // 6
    on("FeatureManager",
       {"FeatureRevolve", {D(turn), B(false), I(0), I(0), I(0), B(true), B(true), B(true)}}); // 7
    series(33);                                                                               // 8
    select(NullS(), "FACE", I(0), D(0.00141841058029), D(-0.001807800679217), false, 0);      // 9
    on("SketchManager", {"InsertSketch", {B(true)}});                                         // 10
    clear();                                                                                  // 11
    on("SketchManager",
       {"CreatePolygon", {I(0), I(0), I(0), D(corner), I(0), I(0), I(6), B(true)}}); // 12
    clear();                                                                         // 13
    on("SketchManager", {"InsertSketch", {B(true)}});                                // 14
    clear();                                                                         // 15
    select(S("Эскиз2"), "SKETCH", I(0), I(0), I(0), false, 0);                       // 16
    on("FeatureManager",
       {"FeatureExtrusion", {B(true),  B(false), B(false), I(0),     I(0),     D(0.0075), C(100),
                             B(false), B(false), B(false), B(false), D(draft), D(draft),  B(false),
                             B(false), B(false), B(false), B(true),  B(true),  B(true)}}); // 17
    select(NullS(), "FACE", D(0.00729113867385), D(0.001886594753219), D(0.002948009537988), true,
           0);                                                 // 18
    s.push_back({"InsertAxis2", {B(true)}});                   // 19
    select(S("Сверху"), "PLANE", I(0), I(0), I(0), false, 0);  // 20
    select(S("Сверху"), "PLANE", I(0), I(0), I(0), false, 0);  // 21
    on("SketchManager", {"InsertSketch", {B(true)}});          // 22
    select(S("Эскиз3"), "SKETCH", I(0), I(0), I(0), false, 0); // 23
    clear();                                                   // 24
    on("SketchManager", {"CreateLine", {D(top), D(corner), I(0), C(-20), D(corner), I(0)}});
    clear(); // 26
    on("SketchManager", {"CreateLine", {C(-20), D(corner), I(0), D(top), C(30), I(0)}});
    clear(); // 28
    on("SketchManager", {"CreateLine", {D(top), C(30), I(0), D(top), D(corner), I(0)}});
    clear();                                          // 30
    on("SketchManager", {"InsertSketch", {B(true)}}); // 31
    series(100);                                      // 32
    s.push_back({"ActiveView", {}});
    select(S("Эскиз3"), "SKETCH", I(0), I(0), I(0), false, 0); // 33
    select(S("Ось1"), "AXIS", D(0.00466275515114), D(4.047502160935e-05), D(-0.0009721099765148),
           true, 0);                                           // 34
    clear();                                                   // 35
    select(S("Эскиз3"), "SKETCH", I(0), I(0), I(0), false, 0); // 36
    select(S("Ось1"), "AXIS", D(0.00466275515114), D(4.047502160935e-05), D(-0.0009721099765148),
           true, 4);                                          // 37
    select(S("Эскиз3"), "SKETCH", I(0), I(0), I(0), true, 0); // 38
    on("FeatureManager",
       {"FeatureRevolveCut", {D(turn), B(false), I(0), I(0), I(0), B(true), B(true)}}); // 39
    on("SelectionManager", {"EnableContourSelection", {B(false)}});                     // 40
    clear();                                                                            // 41
    s.push_back({"ViewZoomtofit2", {}});                                                // 42
    return s;
}

std::map<std::string, int> ExpectedMemberCounts() {
    return {{"ActiveView", 135},     {"RotateAboutCenter", 133},
            {"SketchManager", 17},   {"Extension", 13},
            {"SelectByID2", 13},     {"CreateLine", 11},
            {"ClearSelection2", 10}, {"InsertSketch", 5},
            {"FeatureManager", 3},   {"FeatureRevolve", 1},
            {"CreatePolygon", 1},    {"FeatureExtrusion", 1},
            {"InsertAxis2", 1},      {"FeatureRevolveCut", 1},
            {"SelectionManager", 1}, {"EnableContourSelection", 1},
            {"ViewZoomtofit2", 1}};
}

namespace {

std::string number(double v) {
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, end.ptr);
}

bool close(double a, double b) {
    return std::fabs(a - b) <= 1e-15 * std::max(1.0, std::fabs(b));
}

} // namespace

std::string Describe(const Variant& value) {
    switch (value.vt()) {
    case VT_I4:
        return "int " + std::to_string(value.intVal());
    case VT_R8:
        return "dbl " + number(value.dblVal());
    case VT_CY:
        return "cur " + std::to_string(value.cyVal().int64);
    case VT_BOOL:
        return value.boolVal() == VARIANT_TRUE    ? "bool true"
               : value.boolVal() == VARIANT_FALSE ? "bool false"
                                                  : "bool " + std::to_string(value.boolVal());
    case VT_BSTR:
        return value.bstrVal().isNull() ? "str null" : "str " + toUtf8(value.bstrVal().str());
    case VT_DISPATCH:
        return value.dispVal() ? "disp object" : "disp null";
    case VT_BYREF | VT_R8:
        return "&dbl " + number(*value.pdblVal());
    case VT_BYREF | VT_DISPATCH:
        return *value.ppdispVal() ? "&disp object" : "&disp null";
    default:
        return "empty";
    }
}

std::string Mismatch(const RecordedCall& call, const ExpectedCall& expected) {
    if (call.member != expected.member)
        return "member " + call.member + ", expected " + expected.member;
    if (expected.rotation)
        return {};
    if (call.args.size() != expected.args.size())
        return call.member + ": " + std::to_string(call.args.size()) + " arguments";
    for (size_t i = 0; i < call.args.size(); ++i) {
        const Variant& got = call.args[i];
        const ExpectedArg& want = expected.args[i];
        bool same = false;
        if (want.type == "int")
            same = got.vt() == VT_I4 && got.intVal() == want.number;
        else if (want.type == "dbl")
            same = got.vt() == VT_R8 && close(got.dblVal(), want.number);
        else if (want.type == "cur")
            same = got.vt() == VT_CY && got.cyVal().int64 == static_cast<int64_t>(want.number);
        else if (want.type == "bool")
            same = got.vt() == VT_BOOL &&
                   got.boolVal() == (want.number != 0 ? VARIANT_TRUE : VARIANT_FALSE);
        else if (want.type == "str")
            same = got.vt() == VT_BSTR && got.bstrVal().isNull() == want.null &&
                   toUtf8(got.bstrVal().str()) == want.text;
        else if (want.type == "&dbl")
            same = got.vt() == (VT_BYREF | VT_R8) && close(*got.pdblVal(), want.number);
        else if (want.type == "&disp")
            same = got.vt() == (VT_BYREF | VT_DISPATCH) && got.ppdispVal() &&
                   *got.ppdispVal() == nullptr;
        if (!same)
            return call.member + " argument " + std::to_string(i + 1) + ": " + Describe(got) +
                   ", expected " + want.type + " " +
                   (want.type == "str" ? (want.null ? "null" : want.text) : number(want.number));
    }
    return {};
}

std::string RotationKind(const RecordedCall& call) {
    struct Kind {
        const char* name;
        const char* first;
        const char* second;
    };
    // The six kinds of rotation, by their two angles.
    static const Kind kinds[] = {
        {"Y1", "int 0", "dbl 0.008094901315998"},
        {"Y2", "int 0", "dbl 0.016189802632"},
        {"X1", "dbl 0.005158205295183", "int 0"},
        {"X2", "dbl 0.01031641059037", "int 0"},
        {"XY", "dbl 0.005158205295183", "dbl 0.008094901315998"},
        {"X3", "dbl 0.01547461588555", "dbl -0.008094901315998"},
    };
    if (call.member != "RotateAboutCenter" || call.args.size() != 2)
        return "?";
    const std::string first = Describe(call.args[0]), second = Describe(call.args[1]);
    for (const Kind& kind : kinds)
        if (first == kind.first && second == kind.second)
            return kind.name;
    return "?(" + first + ", " + second + ")";
}

std::string Runs(const std::vector<std::string>& kinds) {
    std::string out;
    for (size_t i = 0; i < kinds.size();) {
        size_t j = i;
        while (j < kinds.size() && kinds[j] == kinds[i])
            ++j;
        if (!out.empty())
            out += ' ';
        out += kinds[i];
        if (j - i > 1)
            out += "x" + std::to_string(j - i);
        i = j;
    }
    return out;
}

} // namespace krepiks::test
