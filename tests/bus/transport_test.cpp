// Calls through the bus: values, object handles, references, errors and the call trace.
#include "automation/bus/local_client.h"
#include "automation/invoke.h"
#include "automation/trace.h"
#include "bus_fixture.h"
#include "test_app.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

using namespace automation;
using namespace bustest;

namespace {

class Transport : public BusTest {
protected:
    void SetUp() override {
        BusTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(Create(&app_), S_OK);
        ASSERT_TRUE(bus::IsRemoteObject(app_.get()));
    }
    void TearDown() override {
        app_.reset();
        BusTest::TearDown();
    }
    std::string Describe(std::vector<Variant> args) {
        return toUtf8(Call(app_.get(), u"Describe", std::move(args)).bstrVal().str());
    }
    int Count(const char16_t* member) {
        return Call(app_.get(), member, {}, CallKind::Get).intVal();
    }
    DispatchPtr app_;
};

TEST_F(Transport, EveryValueKindReachesTheServerAndComesBackWithItsType) {
    EXPECT_EQ(Describe({Variant::fromInt(-7), Variant::fromDouble(2.5),
                        Variant::fromCurrency(CY{123456789012}), Variant::fromBool(true),
                        Variant::fromBool(false), Variant::fromBStr(BStr()),
                        Variant::fromBStr(BStr(u"")), Variant::fromBStr(BStr(u"Эскиз1")), Variant(),
                        Variant::fromDispatch(nullptr), Variant::fromDispatch(app_)}),
              "int -7; dbl 2.5; cur 123456789012; bool -1; bool 0; str null; str ''; "
              "str 'Эскиз1'; empty; disp null; disp app");

    const std::u16string awkward{u'a', u'\0', u'b', char16_t(0xD800), u'Ё'};
    const Variant values[] = {
        Variant::fromInt(std::numeric_limits<int32_t>::min()),
        Variant::fromInt(std::numeric_limits<int32_t>::max()),
        Variant::fromDouble(-0.0),
        Variant::fromDouble(std::numeric_limits<double>::denorm_min()),
        Variant::fromDouble(0.006000000000000001),
        Variant::fromCurrency(CY{std::numeric_limits<int64_t>::min()}),
        Variant::fromBool(true),
        Variant::fromBStr(BStr()),
        Variant::fromBStr(BStr(u"")),
        Variant::fromBStr(BStr(awkward)),
        Variant(),
    };
    for (const Variant& value : values) {
        SCOPED_TRACE(trace::TypeName(value));
        const Variant back = Call(app_.get(), u"Echo", {value});
        ASSERT_EQ(back.vt(), value.vt());
        EXPECT_EQ(back.intVal(), value.intVal());
        EXPECT_EQ(std::signbit(back.dblVal()), std::signbit(value.dblVal()));
        EXPECT_EQ(back.dblVal(), value.dblVal());
        EXPECT_EQ(back.cyVal(), value.cyVal());
        EXPECT_EQ(back.boolVal(), value.boolVal());
        EXPECT_EQ(back.bstrVal().isNull(), value.bstrVal().isNull());
        EXPECT_EQ(back.bstrVal().str(), value.bstrVal().str());
    }
    const Variant nan = Call(app_.get(), u"Echo", {Variant::fromDouble(std::nan(""))});
    EXPECT_TRUE(std::isnan(nan.dblVal()));
    const Variant none = Call(app_.get(), u"Echo", {Variant::fromDispatch(nullptr)});
    EXPECT_EQ(none.vt(), VT_DISPATCH);
    EXPECT_FALSE(none.dispVal());
}

TEST_F(Transport, ObjectsAreHandlesHeldUntilTheClientReleasesThem) {
    EXPECT_EQ(Count(u"HeldHandles"), 1);
    Variant child = Call(app_.get(), u"MakeChild");
    ASSERT_EQ(child.vt(), VT_DISPATCH);
    IDispatch* proxy = child.dispVal().get();
    EXPECT_TRUE(bus::IsRemoteObject(proxy));
    EXPECT_EQ(Count(u"LiveChildren"), 1);
    EXPECT_EQ(Count(u"HeldHandles"), 2);

    // The same server object is the same proxy, however often and by whatever road it comes.
    EXPECT_EQ(Call(app_.get(), u"Echo", {child}).dispVal().get(), proxy);
    EXPECT_EQ(Call(proxy, u"Parent", {}, CallKind::Get).dispVal().get(), app_.get());
    EXPECT_EQ(Describe({child}), "disp child 1");
    EXPECT_EQ(Call(proxy, u"Id", {}, CallKind::Get).intVal(), 1);
    EXPECT_EQ(Count(u"HeldHandles"), 2);

    child = Variant();
    EXPECT_EQ(Count(u"LiveChildren"), 0) << "the release reached the server before the next call";
    EXPECT_EQ(Count(u"HeldHandles"), 1);

    // An object of this program cannot travel; nothing is sent.
    const DispatchPtr local = MakeTestApplication({});
    const CallOutcome refused = DispatchInvoke(app_.get(), u"Echo", CallKind::Method,
                                               {Variant::fromDispatch(local)}, nullptr);
    EXPECT_EQ(refused.code, DISP_E_TYPEMISMATCH);
}

TEST_F(Transport, ReferencesCarryTheServersValuesBackIntoTheCallersStorage) {
    double x = 1.5;
    Call(app_.get(), u"Scale", {Variant::byRefDouble(&x), Variant::fromInt(4)});
    EXPECT_EQ(x, 6.0);

    IDispatch* cell = nullptr;
    EXPECT_EQ(Describe({Variant::byRefDouble(&x), Variant::byRefDispatch(&cell)}),
              "&dbl 6; &disp null");
    EXPECT_EQ(cell, nullptr) << "an untouched cell stays as it was";

    Call(app_.get(), u"SwapChild", {Variant::byRefDispatch(&cell)});
    ASSERT_NE(cell, nullptr);
    EXPECT_TRUE(bus::IsRemoteObject(cell));
    EXPECT_EQ(Call(cell, u"Id", {}, CallKind::Get).intVal(), 1);
    EXPECT_EQ(Describe({Variant::byRefDispatch(&cell)}), "&disp child 1");
    // Replacing the cell's object releases the one it held.
    Call(app_.get(), u"SwapChild", {Variant::byRefDispatch(&cell)});
    EXPECT_EQ(Call(cell, u"Id", {}, CallKind::Get).intVal(), 2);
    EXPECT_EQ(Count(u"LiveChildren"), 1);
    cell->Release();
    EXPECT_EQ(Count(u"LiveChildren"), 0);
}

TEST_F(Transport, ServerErrorsArriveAsTheServerGaveThem) {
    const CallOutcome failed = DispatchInvoke(app_.get(), u"Fail", CallKind::Method, {}, nullptr);
    EXPECT_EQ(failed.failure, CallOutcome::Failure::ServerException);
    EXPECT_EQ(failed.message, "Сбой на стороне сервера");
    EXPECT_EQ(failed.source, "KrepiksBusTest");
    EXPECT_EQ(failed.code, hr(0x80040201));

    const CallOutcome unknown = DispatchInvoke(app_.get(), u"Nope", CallKind::Method, {}, nullptr);
    EXPECT_EQ(unknown.failure, CallOutcome::Failure::UnknownName);
    EXPECT_EQ(unknown.message, "Method 'Nope' not supported by automation object");

    // The argument at fault, in COM's order, and a plain HRESULT.
    DISPID half = DISPID_UNKNOWN;
    ASSERT_EQ(app_->GetIDsOfNames(u"HALF", LOCALE_USER_DEFAULT, &half), S_OK);
    DISPPARAMS params;
    params.rgvarg = {Variant::fromBStr(BStr(u"x"))};
    uint32_t argErr = 99;
    Variant result = Variant::fromInt(5);
    EXPECT_EQ(app_->Invoke(half, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr,
                           &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(result.intVal(), 5) << "a failed call leaves the result alone";
    params.rgvarg.clear();
    argErr = 99;
    EXPECT_EQ(app_->Invoke(half, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                           &argErr),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(argErr, 99u) << "not set by the server, not set here";

    // A put carries its named argument.
    Call(app_.get(), u"Value", {Variant::fromInt(42)}, CallKind::Put);
    EXPECT_EQ(Count(u"Value"), 42);
}

TEST_F(Transport, MemberNumbersAreAskedOncePerClassAndNameButFailuresEveryTime) {
    const int before = Count(u"ChildLookups");
    const Variant first = Call(app_.get(), u"MakeChild", {});
    const Variant second = Call(app_.get(), u"MakeChild", {});
    const int id = Call(first.dispVal().get(), u"Id", {}, CallKind::Get).intVal();
    for (const Variant& child : {first, second, first, second})
        Call(child.dispVal().get(), u"Id", {}, CallKind::Get);
    EXPECT_EQ(Call(second.dispVal().get(), u"Id", {}, CallKind::Get).intVal(), id + 1)
        << "each object still answers for itself";
    EXPECT_LE(Count(u"ChildLookups") - before, 1);

    const int known = Count(u"ChildLookups");
    for (int i = 0; i < 2; ++i) {
        const CallOutcome unknown =
            DispatchInvoke(first.dispVal().get(), u"Missing", CallKind::Method, {}, nullptr);
        EXPECT_EQ(unknown.message, "Method 'Missing' not supported by automation object");
    }
    EXPECT_EQ(Count(u"ChildLookups") - known, 2);
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Calls of every kind, objects passed around, released and made anew, and failures.
void Script(IDispatch* app) {
    double x = 0.25;
    IDispatch* cell = nullptr;
    const auto call = [](IDispatch* on, const char16_t* member, std::vector<Variant> args,
                         CallKind kind = CallKind::Method) {
        Variant result;
        DispatchInvoke(on, member, kind, args, &result);
        return result;
    };
    call(app, u"Value", {Variant::fromInt(3)}, CallKind::Put);
    Variant first = call(app, u"MakeChild", {}, CallKind::MethodOrGet);
    const Variant parent = call(first.dispVal().get(), u"Parent", {}, CallKind::Get);
    call(app, u"Describe",
         {Variant::fromInt(1), Variant::fromDouble(0.1), Variant::fromCurrency(CY{30}),
          Variant::fromBool(true), Variant::fromBStr(BStr()), Variant::fromBStr(BStr(u"Эскиз1")),
          Variant::byRefDouble(&x), Variant::byRefDispatch(&cell), first, parent, Variant()});
    call(app, u"Scale", {Variant::byRefDouble(&x), Variant::fromDouble(3)});
    call(app, u"Describe", {Variant::byRefDouble(&x)}); // traced with the value that came back
    first = Variant();
    const Variant second = call(app, u"MakeChild", {});
    call(second.dispVal().get(), u"Id", {}, CallKind::Get);
    call(app, u"Fail", {});
    call(app, u"Missing", {});
    call(app, u"Half", {Variant::fromBStr(BStr(u"x"))});
}

TEST_F(Transport, TheCallTraceIsTheSameAsInProcess) {
    const auto dir = std::filesystem::temp_directory_path();
    const std::string local =
        (dir / ("krepiks-bus-trace-local-" + std::to_string(getpid()))).string();
    const std::string remote =
        (dir / ("krepiks-bus-trace-bus-" + std::to_string(getpid()))).string();
    std::filesystem::remove(local);
    std::filesystem::remove(remote);
    const auto traced = [](const std::string& path, IDispatch* app) {
        setenv("KREPIKS_AUTOMATION_TRACE", path.c_str(), 1);
        trace::Reload();
        Script(app);
        unsetenv("KREPIKS_AUTOMATION_TRACE");
        trace::Reload();
    };
    traced(local, MakeTestApplication({}).get());
    traced(remote, app_.get());
    const auto expected = Lines(local);
    ASSERT_EQ(expected.size(), 11u);
    EXPECT_EQ(Lines(remote), expected);
    if (std::getenv("SHOW_TRACE"))
        for (const auto& line : expected)
            std::printf("%s\n", line.c_str());
    std::filesystem::remove(local);
    std::filesystem::remove(remote);
}

} // namespace
