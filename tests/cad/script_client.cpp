#include "script_client.h"

#include <sstream>
#include <stdexcept>

namespace krepiks::cad::test {

using automation::CallKind;
using automation::CY;
using automation::DispatchPtr;
using automation::IDispatch;
using automation::Variant;

Variant Call(IDispatch* object, const std::u16string& member, std::vector<Variant> args,
             CallKind kind) {
    Variant result;
    const auto outcome = automation::DispatchInvoke(object, member, kind, args, &result);
    if (!outcome.ok())
        throw std::runtime_error(automation::toUtf8(member) + ": " + outcome.message);
    return result;
}

namespace {

Variant I(int32_t v) {
    return Variant::fromInt(v);
}
Variant D(double v) {
    return Variant::fromDouble(v);
}
Variant B(bool v) {
    return Variant::fromBool(v);
}
Variant C(int64_t tenThousandths) {
    return Variant::fromCurrency(CY{tenThousandths});
}
Variant S(const char16_t* text) {
    return Variant::fromBStr(automation::BStr(text));
}
Variant NullText() {
    return Variant::fromBStr(automation::BStr());
}

// "Y1*5 Y2" → Y1 five times, then Y2.
std::vector<std::string> Expand(const std::string& series) {
    std::vector<std::string> kinds;
    std::istringstream in(series);
    std::string item;
    while (in >> item) {
        const auto star = item.find('*');
        const int n = star == std::string::npos ? 1 : std::stoi(item.substr(star + 1));
        for (int i = 0; i < n; ++i)
            kinds.push_back(item.substr(0, star));
    }
    return kinds;
}

const char* SeriesA = "Y1*5 Y2 Y1*6 Y2 X1 Y1*11 XY Y2 Y1*6";
const char* SeriesB = "X1*2 X2 X1 X2 X1*7 X2 X1*3 X2*2 X1*4 X2 X1 X2 X1 X2*5 "
                      "X3 X1 X2 X1 X2 X1*2 X2*2 X1*2 X2 X1 X2 X1 X2 X1*2 X2 X1*3 "
                      "X2 X1*7 X2*2 X1*7 X2 X1*2 X2 X1 X2*2 X1*9 X2 Y1 X1*12";

} // namespace

ScriptRun SendBuildScript(IDispatch* app, const BoltDims& d, const std::string& templatePath) {
    ScriptRun run;
    int& n = run.callsAfterNewDocument;
    Call(app, u"Visible", {B(true)}, CallKind::Put);
    const Variant partValue =
        Call(app, u"NewDocument",
             {Variant::fromBStr(automation::BStr(automation::fromUtf8(templatePath))), I(0), I(0),
              I(0)});
    run.part = partValue.dispVal();
    IDispatch* part = run.part.get();
    if (!part)
        throw std::runtime_error("NewDocument returned no document");
    auto onPart = [&](const char16_t* member, std::vector<Variant> args = {}) {
        ++n;
        return Call(part, member, std::move(args));
    };
    auto via = [&](const char16_t* getter, const char16_t* member, std::vector<Variant> args) {
        const DispatchPtr object = onPart(getter).dispVal();
        ++n;
        return Call(object.get(), member, std::move(args));
    };
    auto rotate = [&](const std::string& kind) {
        const Variant y1 = D(0.008094901315998), x1 = D(0.005158205295183);
        std::vector<Variant> args;
        if (kind == "Y1")
            args = {I(0), y1};
        else if (kind == "Y2")
            args = {I(0), D(0.016189802632)};
        else if (kind == "X1")
            args = {x1, I(0)};
        else if (kind == "X2")
            args = {D(0.01031641059037), I(0)};
        else if (kind == "XY")
            args = {x1, y1};
        else
            args = {D(0.01547461588555), D(-0.008094901315998)};
        via(u"ActiveView", u"RotateAboutCenter", args);
    };
    IDispatch* callout = nullptr;
    auto select = [&](Variant name, const char16_t* type, Variant x, Variant y, Variant z,
                      bool append, int mark) {
        via(u"Extension", u"SelectByID2",
            {name, S(type), x, y, z, B(append), I(mark), Variant::byRefDispatch(&callout), I(0)});
    };

    // Points in metres, sent by reference as the program sends its record's fields.
    std::vector<Pt> p = ShankProfile(d);
    for (Pt& q : p)
        q = {q.x / 1000, q.y / 1000};

    onPart(u"ActiveView");                             // 1
    via(u"SketchManager", u"InsertSketch", {B(true)}); // 2
    for (int i = 0; i < 8; ++i) {                      // 3
        Pt& a = p[i];
        Pt& b = p[(i + 1) % 8];
        via(u"SketchManager", u"CreateLine",
            {Variant::byRefDouble(&a.x), Variant::byRefDouble(&a.y), I(0),
             Variant::byRefDouble(&b.x), Variant::byRefDouble(&b.y), I(0)});
    }
    onPart(u"ClearSelection2", {B(true)}); // 4
    select(S(u"Line8@Эскиз1"), u"EXTSKETCHSEGMENT", I(20), I(0), I(0), true, 4);
    select(S(u"Эскиз1"), u"SKETCH", I(0), I(0), I(0), true, 0);
    const Variant revolve =
        via(u"FeatureManager", u"FeatureRevolve",
            {D(6.28318530718), B(false), I(0), I(0), I(0), B(true), B(true), B(true)}); // 7
    (void)revolve;
    for (const std::string& kind : Expand(SeriesA)) // 8
        rotate(kind);
    select(NullText(), u"FACE", I(0), D(0.00141841058029), D(-0.001807800679217), false, 0);
    via(u"SketchManager", u"InsertSketch", {B(true)}); // 10
    onPart(u"ClearSelection2", {B(true)});
    via(u"SketchManager", u"CreatePolygon",
        {I(0), I(0), I(0), D(d.e / 2000), I(0), I(0), I(6), B(true)});
    onPart(u"ClearSelection2", {B(true)});
    via(u"SketchManager", u"InsertSketch", {B(true)}); // 14
    onPart(u"ClearSelection2", {B(true)});
    select(S(u"Эскиз2"), u"SKETCH", I(0), I(0), I(0), false, 0);
    via(u"FeatureManager", u"FeatureExtrusion",
        {B(true),
         B(false),
         B(false),
         I(0),
         I(0),
         D(d.K / 1000),
         C(100),
         B(false),
         B(false),
         B(false),
         B(false),
         D(0.01745329251994),
         D(0.01745329251994),
         B(false),
         B(false),
         B(false),
         B(false),
         B(true),
         B(true),
         B(true)}); // 17
    select(NullText(), u"FACE", D(0.00729113867385), D(0.001886594753219), D(0.002948009537988),
           true, 0);
    onPart(u"InsertAxis2", {B(true)}); // 19
    select(S(u"Сверху"), u"PLANE", I(0), I(0), I(0), false, 0);
    select(S(u"Сверху"), u"PLANE", I(0), I(0), I(0), false, 0);
    via(u"SketchManager", u"InsertSketch", {B(true)}); // 22
    select(S(u"Эскиз3"), u"SKETCH", I(0), I(0), I(0), false, 0);
    onPart(u"ClearSelection2", {B(true)});
    const double top = -d.K / 1000, rim = d.e / 2000;
    via(u"SketchManager", u"CreateLine", {D(top), D(rim), I(0), C(-20), D(rim), I(0)});
    onPart(u"ClearSelection2", {B(true)});
    via(u"SketchManager", u"CreateLine", {C(-20), D(rim), I(0), D(top), C(30), I(0)});
    onPart(u"ClearSelection2", {B(true)});
    via(u"SketchManager", u"CreateLine", {D(top), C(30), I(0), D(top), D(rim), I(0)});
    onPart(u"ClearSelection2", {B(true)});
    via(u"SketchManager", u"InsertSketch", {B(true)}); // 31
    for (const std::string& kind : Expand(SeriesB))    // 32
        rotate(kind);
    onPart(u"ActiveView");
    const Variant ax = D(0.00466275515114), ay = D(4.047502160935e-05), az = D(-0.0009721099765148);
    select(S(u"Эскиз3"), u"SKETCH", I(0), I(0), I(0), false, 0);
    select(S(u"Ось1"), u"AXIS", ax, ay, az, true, 0);
    onPart(u"ClearSelection2", {B(true)});
    select(S(u"Эскиз3"), u"SKETCH", I(0), I(0), I(0), false, 0);
    select(S(u"Ось1"), u"AXIS", ax, ay, az, true, 4);
    select(S(u"Эскиз3"), u"SKETCH", I(0), I(0), I(0), true, 0);
    via(u"FeatureManager", u"FeatureRevolveCut",
        {D(6.28318530718), B(false), I(0), I(0), I(0), B(true), B(true)}); // 39
    via(u"SelectionManager", u"EnableContourSelection", {B(false)});
    onPart(u"ClearSelection2", {B(true)});
    onPart(u"ViewZoomtofit2"); // 42
    return run;
}

} // namespace krepiks::cad::test
