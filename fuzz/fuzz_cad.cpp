// libFuzzer target: the CAD stand-in fed random call sequences with random argument types.
// Every call must end in a result or an automation error: no crash, no sanitizer report, no
// kernel left working past libFuzzer's timeout.
#include "automation/invoke.h"
#include "cad/cad_server.h"

#include <cmath>
#include <fuzzer/FuzzedDataProvider.h>
#include <limits>
#include <string>
#include <vector>

using automation::CallKind;
using automation::DispatchPtr;
using automation::IDispatch;
using automation::Variant;

namespace {

const std::u16string Members[] = {u"Visible",
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
                                  u"Foo",
                                  u""};

const std::u16string Texts[] = {
    u"Line1@Эскиз1", u"Line8@Эскиз1",     u"Эскиз1", u"Эскиз2", u"Эскиз3",           u"Ось1",
    u"Сверху",       u"Спереди",          u"Справа", u"PLANE",  u"SKETCH",           u"FACE",
    u"AXIS",         u"EXTSKETCHSEGMENT", u"",       u"@",      u"/nonexistent.kprt"};

const CallKind Kinds[] = {CallKind::Method, CallKind::Get, CallKind::Put, CallKind::MethodOrGet};

class Session {
public:
    explicit Session(FuzzedDataProvider& in) : in_(in) {
        objects_.push_back(krepiks::cad::CreateCadApplication(false));
        cells_.resize(16);
    }

    void run() {
        // Starting with a document gives the geometry calls something to work on.
        if (in_.ConsumeBool())
            call(objects_[0].get(), u"NewDocument",
                 {templatePath(), Variant::fromInt(0), Variant::fromInt(0), Variant::fromInt(0)},
                 CallKind::Method);
        for (int n = 0; n < 48 && in_.remaining_bytes() > 0; ++n) {
            if (part_ && in_.ConsumeIntegralInRange<int>(0, 4) == 0) {
                burst();
                continue;
            }
            IDispatch* target =
                objects_[in_.ConsumeIntegralInRange<size_t>(0, objects_.size() - 1)].get();
            const std::u16string& member = in_.PickValueInArray(Members);
            const CallKind kind = in_.PickValueInArray(Kinds);
            std::vector<Variant> args;
            const size_t count = in_.ConsumeIntegralInRange<size_t>(0, 21);
            for (size_t i = 0; i < count && in_.remaining_bytes() > 0; ++i)
                args.push_back(argument());
            call(target, member, args, kind);
        }
    }

private:
    static Variant templatePath() {
        return Variant::fromBStr(automation::BStr(automation::fromUtf8(KREPIKS_PART_TEMPLATE)));
    }

    double number() {
        switch (in_.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            return std::numeric_limits<double>::quiet_NaN();
        case 1:
            return in_.ConsumeBool() ? HUGE_VAL : -HUGE_VAL;
        case 2:
            return in_.ConsumeFloatingPoint<double>(); // anything a double holds
        default:
            // Coordinates of a bolt's size, in metres, on a coarse grid so they meet.
            return in_.ConsumeIntegralInRange<int>(-40, 40) * 0.0025;
        }
    }

    Variant argument() {
        switch (in_.ConsumeIntegralInRange<int>(0, 10)) {
        case 0:
            return Variant::fromInt(in_.ConsumeIntegralInRange<int32_t>(-3, 12));
        case 1:
        case 2:
            return Variant::fromDouble(number());
        case 3:
            return Variant::fromCurrency({in_.ConsumeIntegral<int64_t>()});
        case 4:
            return Variant::fromBool(in_.ConsumeBool());
        case 5:
            return in_.ConsumeBool()
                       ? Variant::fromBStr(automation::BStr(in_.PickValueInArray(Texts)))
                       : templatePath();
        case 6:
            return Variant();
        case 7:
            return Variant::fromDispatch(
                in_.ConsumeBool()
                    ? objects_[in_.ConsumeIntegralInRange<size_t>(0, objects_.size() - 1)]
                    : DispatchPtr());
        case 8: {
            double& cell = cells_[in_.ConsumeIntegralInRange<size_t>(0, cells_.size() - 1)];
            cell = number();
            return Variant::byRefDouble(&cell);
        }
        case 9:
            return Variant::byRefDispatch(&callout_);
        default:
            return Variant::fromBStr(automation::BStr());
        }
    }

    Variant on(const char16_t* getter, const char16_t* member, const std::vector<Variant>& args) {
        Variant object;
        automation::DispatchInvoke(part_.get(), getter, CallKind::Method, {}, &object);
        if (object.vt() != automation::VT_DISPATCH || !object.dispVal())
            return {};
        return call(object.dispVal().get(), member, args, CallKind::Method);
    }

    // A coherent step of a build with fuzzed numbers: a profile on a plane or a picked face,
    // then a feature made of it. This is where odd values reach the geometry kernel.
    void burst() {
        const Variant zero = Variant::fromInt(0), yes = Variant::fromBool(true),
                      no = Variant::fromBool(false);
        const auto d = [&] { return Variant::fromDouble(number()); };
        const auto text = [&] {
            return Variant::fromBStr(automation::BStr(in_.PickValueInArray(Texts)));
        };
        on(u"Extension", u"SelectByID2",
           {text(), text(), d(), d(), d(), Variant::fromBool(in_.ConsumeBool()), zero, Variant(),
            zero});
        on(u"SketchManager", u"InsertSketch", {yes});
        if (in_.ConsumeBool()) {
            on(u"SketchManager", u"CreatePolygon",
               {d(), d(), zero, d(), d(), zero,
                Variant::fromInt(in_.ConsumeIntegralInRange<int32_t>(2, 9)),
                Variant::fromBool(in_.ConsumeBool())});
        } else {
            const int corners = in_.ConsumeIntegralInRange<int>(2, 8);
            std::vector<std::pair<double, double>> p;
            for (int i = 0; i < corners; ++i)
                p.emplace_back(number(), number());
            for (int i = 0; i < corners; ++i) {
                const auto& [x1, y1] = p[i];
                const auto& [x2, y2] = p[(i + 1) % corners];
                on(u"SketchManager", u"CreateLine",
                   {Variant::fromDouble(x1), Variant::fromDouble(y1), zero, Variant::fromDouble(x2),
                    Variant::fromDouble(y2), zero});
            }
        }
        on(u"SketchManager", u"InsertSketch", {yes});
        on(u"Extension", u"SelectByID2",
           {text(), text(), zero, zero, zero, Variant::fromBool(in_.ConsumeBool()),
            Variant::fromInt(in_.ConsumeBool() ? 4 : 0), Variant(), zero});
        switch (in_.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            std::vector<Variant> e(20, no);
            e[0] = Variant::fromBool(in_.ConsumeBool());
            e[3] = Variant::fromInt(in_.ConsumeBool() ? 0 : 6);
            e[4] = zero;
            e[5] = d();
            e[6] = d();
            e[11] = e[12] = d();
            e[17] = Variant::fromBool(in_.ConsumeBool());
            on(u"FeatureManager", u"FeatureExtrusion", e);
            break;
        }
        case 1:
            on(u"FeatureManager", u"FeatureRevolve",
               {d(), no, d(), Variant::fromInt(in_.ConsumeIntegralInRange<int32_t>(0, 2)), zero,
                yes, yes, yes});
            break;
        case 2:
            on(u"FeatureManager", u"FeatureRevolveCut", {d(), no, d(), zero, zero, yes, yes});
            break;
        default:
            call(part_.get(), u"InsertAxis2", {yes}, CallKind::Method);
            break;
        }
    }

    Variant call(IDispatch* target, const std::u16string& member, const std::vector<Variant>& args,
                 CallKind kind) {
        Variant result;
        const automation::CallOutcome outcome =
            automation::DispatchInvoke(target, member, kind, args, &result);
        (void)outcome;
        if (result.vt() == automation::VT_DISPATCH && result.dispVal()) {
            if (member == u"NewDocument")
                part_ = result.dispVal();
            if (objects_.size() < 64)
                objects_.push_back(result.dispVal());
        }
        return result;
    }

    FuzzedDataProvider& in_;
    std::vector<DispatchPtr> objects_;
    std::vector<double> cells_;
    IDispatch* callout_ = nullptr;
    DispatchPtr part_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Session(in).run();
    return 0;
}
