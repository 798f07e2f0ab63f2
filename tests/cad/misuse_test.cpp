// Calls out of order, with nothing selected, and a few thousand random ones (quits among them):
// every call gives a result or an automation error.
#include "automation/dispatch_object.h"
#include "bolt_steps.h"
#include "cad/cad_server.h"

#include <BRepCheck_Analyzer.hxx>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>

using namespace krepiks::cad;
using namespace krepiks::cad::test;
using automation::CallKind;
using automation::DispatchPtr;
using automation::IDispatch;
using automation::Variant;

namespace {

const Variant Zero = Variant::fromInt(0);
const Variant Yes = Variant::fromBool(true);
const Variant No = Variant::fromBool(false);

Variant Path() {
    return Variant::fromBStr(automation::BStr(automation::fromUtf8(KREPIKS_PART_TEMPLATE)));
}

Variant Str(const char16_t* s) {
    return Variant::fromBStr(automation::BStr(s));
}

} // namespace

TEST(Misuse, OutOfOrderCallsOnAFreshDocument) {
    std::shared_ptr<CadSession> session;
    DispatchPtr app = CreateCadApplication(false, &session);
    const DispatchPtr part = Call(app.get(), u"NewDocument", {Path(), Zero, Zero, Zero}).dispVal();
    ASSERT_TRUE(part);
    const auto doc = session->activeDocument();
    auto get = [&](const char16_t* m) { return Call(part.get(), m).dispVal(); };
    // Lines and polygons with no open sketch, features with nothing selected, a cut with no
    // body, a face pick with no body, closing a sketch that is not open.
    EXPECT_FALSE(Call(get(u"SketchManager").get(), u"CreateLine",
                      {Zero, Zero, Zero, Variant::fromDouble(0.01), Zero, Zero})
                     .dispVal());
    EXPECT_EQ(
        Call(get(u"SketchManager").get(), u"CreatePolygon",
             {Zero, Zero, Zero, Variant::fromDouble(0.01), Zero, Zero, Variant::fromInt(6), Yes})
            .boolVal(),
        automation::VARIANT_FALSE);
    const std::vector<Variant> revolve = {
        Variant::fromDouble(1), No, Zero, Zero, Zero, Yes, Yes, Yes};
    EXPECT_FALSE(Call(get(u"FeatureManager").get(), u"FeatureRevolve", revolve).dispVal());
    EXPECT_FALSE(Call(get(u"FeatureManager").get(), u"FeatureRevolveCut",
                      {Variant::fromDouble(1), No, Zero, Zero, Zero, Yes, Yes})
                     .dispVal());
    std::vector<Variant> extrusion(20, No);
    extrusion[0] = Yes;
    extrusion[3] = extrusion[4] = Zero;
    extrusion[5] = Variant::fromDouble(0.01);
    extrusion[6] = extrusion[11] = extrusion[12] = Variant::fromDouble(0);
    EXPECT_FALSE(Call(get(u"FeatureManager").get(), u"FeatureExtrusion", extrusion).dispVal());
    IDispatch* callout = nullptr;
    EXPECT_EQ(Call(get(u"Extension").get(), u"SelectByID2",
                   {Variant::fromBStr({}), Str(u"FACE"), Zero, Zero, Zero, No, Zero,
                    Variant::byRefDispatch(&callout), Zero})
                  .boolVal(),
              automation::VARIANT_FALSE);
    Call(part.get(), u"ClearSelection2", {Yes});
    Call(part.get(), u"ViewZoomtofit2");
    Call(get(u"ActiveView").get(), u"RotateAboutCenter", {Variant::fromDouble(NAN), Zero});
    EXPECT_TRUE(doc->body().IsNull());
    EXPECT_TRUE(doc->features().empty());

    // An open square sketch, then a revolve with the sketch but no axis: still nothing.
    Call(get(u"SketchManager").get(), u"InsertSketch", {Yes});
    Call(get(u"SketchManager").get(), u"CreatePolygon",
         {Zero, Variant::fromDouble(0.02), Zero, Variant::fromDouble(0.01),
          Variant::fromDouble(0.02), Zero, Variant::fromInt(4), No});
    EXPECT_FALSE(Call(get(u"FeatureManager").get(), u"FeatureRevolve", revolve).dispVal());
    EXPECT_TRUE(doc->body().IsNull());
    // The same square extrudes, as the open sketch.
    EXPECT_TRUE(Call(get(u"FeatureManager").get(), u"FeatureExtrusion", extrusion).dispVal());
    EXPECT_NEAR(doc->volume(), 400 * 10, 1e-6);
    EXPECT_EQ(doc->activeSketch(), -1);
}

// Random members, argument counts and types, on every object the calls hand out, with a
// well-formed call now and then so that geometry gets built and broken along the way.
TEST(Misuse, ThousandsOfRandomCalls) {
    std::mt19937 random(20261208);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto coordinate = [&]() { return (pick(21) - 10) * 0.002; };

    std::vector<std::shared_ptr<CadSession>> sessions;
    std::vector<DispatchPtr> objects;
    auto newApplication = [&] {
        std::shared_ptr<CadSession> s;
        objects.push_back(CreateCadApplication(false, &s));
        sessions.push_back(s);
    };
    newApplication();

    const std::vector<std::u16string> members = {u"Visible",
                                                 u"NewDocument",
                                                 u"Application",
                                                 u"Quit",
                                                 u"ActiveView",
                                                 u"SketchManager",
                                                 u"Extension",
                                                 u"FeatureManager",
                                                 u"SelectionManager",
                                                 u"ClearSelection2",
                                                 u"InsertAxis2",
                                                 u"ViewZoomtofit2",
                                                 u"InsertSketch",
                                                 u"CreateLine",
                                                 u"CreatePolygon",
                                                 u"SelectByID2",
                                                 u"FeatureRevolve",
                                                 u"FeatureExtrusion",
                                                 u"FeatureRevolveCut",
                                                 u"RotateAboutCenter",
                                                 u"EnableContourSelection",
                                                 u"visible",
                                                 u"CREATELINE",
                                                 u"Foo",
                                                 u"",
                                                 u"Эскиз1"};
    const std::vector<std::u16string> names = {
        u"Line1@Эскиз1", u"Line4@Эскиз2", u"Эскиз1", u"Эскиз2", u"Ось1", u"Сверху",
        u"Спереди",      u"Справа",       u"",       u"@",      u"Line@"};
    const std::vector<std::u16string> types = {
        u"EXTSKETCHSEGMENT", u"SKETCH", u"FACE", u"PLANE", u"AXIS", u"EDGE", u""};
    std::vector<double> cells(64);
    IDispatch* callout = nullptr;
    auto randomArg = [&]() -> Variant {
        switch (pick(11)) {
        case 0:
            return Variant::fromInt(pick(9) - 2);
        case 1:
            return Variant::fromDouble(coordinate());
        case 2: {
            const double odd[] = {NAN, INFINITY, -INFINITY, 1e300, -1e-300, 6.28318530718, 1e5};
            return Variant::fromDouble(odd[pick(7)]);
        }
        case 3:
            return Variant::fromCurrency({(pick(41) - 20) * 10});
        case 4:
            return Variant::fromBool(pick(2));
        case 5:
            return Variant::fromBStr(pick(5) ? automation::BStr(names[pick(names.size())])
                                             : automation::BStr(types[pick(types.size())]));
        case 6:
            return Variant();
        case 7:
            return Variant::fromDispatch(pick(2) ? objects[pick(objects.size())] : DispatchPtr());
        case 8: {
            double& cell = cells[pick(cells.size())];
            cell = coordinate();
            return Variant::byRefDouble(&cell);
        }
        case 9:
            return Variant::byRefDispatch(&callout);
        default:
            return Variant::fromBStr(automation::BStr());
        }
    };
    // A call with the right shape and plausible values.
    auto wellFormed = [&](const std::u16string& member) -> std::vector<Variant> {
        const Variant d[6] = {
            Variant::fromDouble(coordinate()), Variant::fromDouble(coordinate()), Zero,
            Variant::fromDouble(coordinate()), Variant::fromDouble(coordinate()), Zero};
        if (member == u"CreateLine")
            return {d[0], d[1], d[2], d[3], d[4], d[5]};
        if (member == u"CreatePolygon")
            return {d[0],
                    d[1],
                    Zero,
                    d[3],
                    d[4],
                    Zero,
                    Variant::fromInt(pick(8) + 2),
                    Variant::fromBool(pick(2))};
        if (member == u"SelectByID2")
            return {Variant::fromBStr(automation::BStr(names[pick(names.size())])),
                    Variant::fromBStr(automation::BStr(types[pick(types.size())])),
                    d[0],
                    d[1],
                    d[3],
                    Variant::fromBool(pick(2)),
                    Variant::fromInt(pick(2) * 4),
                    Variant::byRefDispatch(&callout),
                    Zero};
        if (member == u"FeatureRevolve")
            return {Variant::fromDouble(pick(2) ? 6.28318530718 : 1.5),
                    No,
                    Zero,
                    Variant::fromInt(pick(3)),
                    Zero,
                    Yes,
                    Yes,
                    Yes};
        if (member == u"FeatureRevolveCut")
            return {Variant::fromDouble(6.28318530718), No, Zero, Zero, Zero, Yes, Yes};
        if (member == u"FeatureExtrusion") {
            std::vector<Variant> e(20, No);
            e[0] = Variant::fromBool(pick(2));
            e[3] = Zero;
            e[4] = Zero;
            e[5] = Variant::fromDouble(0.001 * (pick(10) + 1));
            e[6] = Variant::fromCurrency({100});
            e[11] = e[12] = Variant::fromDouble(0.0174);
            e[17] = Variant::fromBool(pick(4) != 0);
            return e;
        }
        if (member == u"NewDocument")
            return {Path(), Zero, Zero, Zero};
        if (member == u"InsertSketch" || member == u"ClearSelection2" || member == u"InsertAxis2" ||
            member == u"EnableContourSelection")
            return {Yes};
        if (member == u"RotateAboutCenter")
            return {Variant::fromDouble(0.01), Zero};
        if (member == u"Visible")
            return {No};
        return {};
    };

    // Now and then a short coherent burst on a document: a polygon on a random plane or
    // picked face, extruded or revolved into whatever the document holds.
    auto burst = [&](automation::IDispatch* part) {
        auto on = [&](const char16_t* getter, const char16_t* member, std::vector<Variant> args) {
            Variant object, result;
            automation::DispatchInvoke(part, getter, CallKind::Method, {}, &object);
            automation::DispatchInvoke(object.dispVal().get(), member, CallKind::Method, args,
                                       &result);
            return result;
        };
        const char16_t* planes[] = {u"Спереди", u"Сверху", u"Справа"};
        if (pick(2))
            on(u"Extension", u"SelectByID2",
               {Str(planes[pick(3)]), Str(u"PLANE"), Zero, Zero, Zero, No, Zero, Variant(), Zero});
        else
            on(u"Extension", u"SelectByID2",
               {Variant::fromBStr({}), Str(u"FACE"), Variant::fromDouble(coordinate()),
                Variant::fromDouble(coordinate()), Variant::fromDouble(coordinate()), No, Zero,
                Variant(), Zero});
        on(u"SketchManager", u"InsertSketch", {Yes});
        const double cx = coordinate(), cy = coordinate();
        on(u"SketchManager", u"CreatePolygon",
           {Variant::fromDouble(cx), Variant::fromDouble(cy), Zero,
            Variant::fromDouble(cx + 0.001 * (pick(9) + 1)), Variant::fromDouble(cy), Zero,
            Variant::fromInt(pick(6) + 3), Variant::fromBool(pick(2))});
        if (pick(3)) {
            std::vector<Variant> e = wellFormed(u"FeatureExtrusion");
            e[2] = Variant::fromBool(pick(2));
            on(u"FeatureManager", u"FeatureExtrusion", e);
        } else {
            on(u"SketchManager", u"CreateLine",
               {Zero, Zero, Zero, Variant::fromDouble(0.01), Zero, Zero});
            on(u"FeatureManager", pick(2) ? u"FeatureRevolve" : u"FeatureRevolveCut",
               pick(2) ? wellFormed(u"FeatureRevolve") : wellFormed(u"FeatureRevolveCut"));
        }
        Call(part, u"ClearSelection2", {Yes});
    };

    int succeeded = 0, failed = 0;
    for (int i = 0; i < 3000; ++i) {
        if (pick(25) == 0) {
            for (auto it = objects.rbegin(); it != objects.rend(); ++it) {
                auto* own = dynamic_cast<automation::DispatchObject*>(it->get());
                const auto names = own ? own->names() : std::vector<std::u16string>();
                if (std::find(names.begin(), names.end(), u"ActiveView") != names.end()) {
                    if (!own->disconnected() && sessions.back()->alive())
                        try {
                            burst(it->get());
                        } catch (const std::runtime_error&) {
                            // the document's application has quit
                        }
                    break;
                }
            }
        }
        // A quit application is soon followed by a new one, as a user would start it again.
        if (!sessions.back()->alive() && pick(10) == 0)
            newApplication();
        // Mostly the objects handed out last, sometimes any of them.
        const int recent = std::min<int>(objects.size(), 12);
        automation::IDispatch* target =
            (pick(4) ? objects[objects.size() - 1 - pick(recent)] : objects[pick(objects.size())])
                .get();
        std::u16string member = members[pick(members.size())];
        // Usually a member the object has, so that calls get past the name look-up.
        if (auto* own = dynamic_cast<automation::DispatchObject*>(target); own && pick(5)) {
            const auto names = own->names();
            if (!names.empty())
                member = names[pick(names.size())];
        }
        std::vector<Variant> args;
        CallKind kind = CallKind::Method;
        if (pick(3) == 0) {
            const int n = pick(22);
            for (int k = 0; k < n; ++k)
                args.push_back(randomArg());
            kind = static_cast<CallKind>(pick(4));
        } else {
            if (member == u"Quit" && pick(8) != 0)
                member = u"ClearSelection2"; // quitting is rarer than building
            args = wellFormed(member);
            kind = member == u"Visible" ? CallKind::Put : CallKind::Method;
        }
        Variant result;
        const auto outcome = automation::DispatchInvoke(target, member, kind, args, &result);
        if (outcome.ok()) {
            ++succeeded;
            if (result.vt() == automation::VT_DISPATCH && result.dispVal())
                objects.push_back(result.dispVal());
        } else {
            ++failed;
            EXPECT_FALSE(outcome.message.empty());
            EXPECT_TRUE(automation::FAILED(outcome.code) ||
                        outcome.failure == automation::CallOutcome::Failure::ServerException);
        }
    }
    EXPECT_GT(succeeded, 300);
    EXPECT_GT(failed, 300);
    int bodies = 0;
    for (const auto& s : sessions)
        for (const auto& doc : s->documents())
            if (!doc->body().IsNull()) {
                ++bodies;
                EXPECT_TRUE(BRepCheck_Analyzer(doc->body()).IsValid()) << doc->title();
            }
    EXPECT_GT(bodies, 3) << "some random sketches became solids";
    RecordProperty("bodies", bodies);
    RecordProperty("succeeded", succeeded);
}
