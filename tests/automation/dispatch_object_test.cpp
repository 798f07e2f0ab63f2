#include "automation/dispatch_object.h"
#include "automation/invoke.h"

#include <gtest/gtest.h>

using namespace automation;

namespace {

// A small server with one of each kind of member.
class Counter : public DispatchObject {
public:
    Counter() {
        addProperty(
            u"Value", [this](const DispatchArgs&) { return Variant::fromInt(value); },
            [this](const DispatchArgs& args) { value = args.asInt(0); });
        addProperty(u"Name", [](const DispatchArgs&) { return Variant::fromBStr(u"Счётчик"); });
        addMethod(u"Add", 1, 2, [this](const DispatchArgs& args) {
            value += args.asInt(0) * (args.has(1) ? args.asInt(1) : 1);
            return Variant::fromInt(value);
        });
        addMethod(u"Fail", 0, [](const DispatchArgs&) {
            throw ServerException("Счётчик сломан", "Counter", E_ABORT);
        });
        addMethod(u"Оборот", 0, [this](const DispatchArgs&) { ++turns; });
        addMethod(u"Crash", 0, [](const DispatchArgs&) -> Variant { throw 42; });
    }
    void onCall(const std::u16string& member, uint16_t flags, const DispatchArgs& args) override {
        seen.push_back({member, flags, args.size()});
    }
    struct Seen {
        std::u16string member;
        uint16_t flags;
        size_t count;
    };
    std::vector<Seen> seen;
    int32_t value = 0;
    int turns = 0;
};

HRESULT rawInvoke(IDispatch* target, const std::u16string& name, uint16_t flags,
                  std::vector<Variant> comOrderArgs, std::vector<DISPID> named = {},
                  Variant* result = nullptr, uint32_t* argErr = nullptr,
                  EXCEPINFO* info = nullptr) {
    DISPID id = DISPID_UNKNOWN;
    const HRESULT h = target->GetIDsOfNames(name, 0, &id);
    if (FAILED(h))
        return h;
    DISPPARAMS params{std::move(comOrderArgs), std::move(named)};
    return target->Invoke(id, 0, flags, &params, result, info, argErr);
}

} // namespace

TEST(DispatchObject, NamesMatchWithoutRegardToCaseIncludingCyrillic) {
    ComPtr<Counter> counter(new Counter);
    DISPID a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(counter->GetIDsOfNames(u"Add", 0, &a), S_OK);
    EXPECT_EQ(counter->GetIDsOfNames(u"aDD", 0, &b), S_OK);
    EXPECT_EQ(a, b);
    EXPECT_EQ(counter->GetIDsOfNames(u"ОБОРОТ", 0, &c), S_OK);
    EXPECT_EQ(counter->GetIDsOfNames(u"оборот", 0, &d), S_OK);
    EXPECT_EQ(c, d);
    EXPECT_NE(a, c);
    DISPID unknown = 7;
    EXPECT_EQ(counter->GetIDsOfNames(u"Subtract", 0, &unknown), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(unknown, DISPID_UNKNOWN);
    EXPECT_EQ(counter->Invoke(999, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST(DispatchObject, ArgumentsReachHandlersInCallerOrderWithCountChecks) {
    ComPtr<Counter> counter(new Counter);
    Variant result;
    // COM order: the last argument first. Add(5, 3) adds 15.
    ASSERT_EQ(rawInvoke(counter.get(), u"Add", DISPATCH_METHOD,
                        {Variant::fromInt(3), Variant::fromInt(5)}, {}, &result),
              S_OK);
    EXPECT_EQ(result.intVal(), 15);
    ASSERT_EQ(rawInvoke(counter.get(), u"Add", DISPATCH_METHOD, {Variant::fromDouble(2.0)}), S_OK);
    EXPECT_EQ(counter->value, 17);
    EXPECT_EQ(rawInvoke(counter.get(), u"Add", DISPATCH_METHOD, {}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(rawInvoke(counter.get(), u"Add", DISPATCH_METHOD,
                        {Variant::fromInt(1), Variant::fromInt(1), Variant::fromInt(1)}),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(counter->value, 17);
    // The recording hook sees even the refused calls.
    ASSERT_EQ(counter->seen.size(), 4u);
    EXPECT_EQ(counter->seen[3].count, 3u);
}

TEST(DispatchObject, TypeMismatchNamesTheArgumentInComOrder) {
    ComPtr<Counter> counter(new Counter);
    uint32_t argErr = 99;
    // Add(7, "x"): the second argument is at fault, which is index 0 in COM's order.
    EXPECT_EQ(rawInvoke(counter.get(), u"Add", DISPATCH_METHOD,
                        {Variant::fromBStr(u"x"), Variant::fromInt(7)}, {}, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(rawInvoke(counter.get(), u"Add", DISPATCH_METHOD, {Variant::fromDouble(1e12)}, {},
                        nullptr, &argErr),
              DISP_E_OVERFLOW);
    EXPECT_EQ(counter->value, 0);
}

TEST(DispatchObject, PropertyKindsFollowStandardDispatch) {
    ComPtr<Counter> counter(new Counter);
    Variant result;
    EXPECT_EQ(rawInvoke(counter.get(), u"Value", DISPATCH_PROPERTYPUT, {Variant::fromInt(4)},
                        {DISPID_PROPERTYPUT}),
              S_OK);
    EXPECT_EQ(counter->value, 4);
    // A put without the named argument, or with two values, is refused.
    EXPECT_EQ(rawInvoke(counter.get(), u"Value", DISPATCH_PROPERTYPUT, {Variant::fromInt(5)}),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(rawInvoke(counter.get(), u"Value", DISPATCH_PROPERTYPUT,
                        {Variant::fromInt(5), Variant::fromInt(6)}, {DISPID_PROPERTYPUT}),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(counter->value, 4);
    // Read-only property and methods cannot be put.
    EXPECT_EQ(rawInvoke(counter.get(), u"Name", DISPATCH_PROPERTYPUT, {Variant::fromInt(1)},
                        {DISPID_PROPERTYPUT}),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(rawInvoke(counter.get(), u"Оборот", DISPATCH_PROPERTYPUT, {Variant::fromInt(1)},
                        {DISPID_PROPERTYPUT}),
              DISP_E_MEMBERNOTFOUND);
    // A getter answers get and method-or-get, not a plain method call; a method the reverse.
    EXPECT_EQ(rawInvoke(counter.get(), u"Value", DISPATCH_PROPERTYGET, {}, {}, &result), S_OK);
    EXPECT_EQ(result.intVal(), 4);
    EXPECT_EQ(
        rawInvoke(counter.get(), u"Name", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, {}, &result),
        S_OK);
    EXPECT_EQ(result.bstrVal().str(), u"Счётчик");
    EXPECT_EQ(rawInvoke(counter.get(), u"Name", DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(rawInvoke(counter.get(), u"Оборот", DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(rawInvoke(counter.get(), u"Оборот", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}),
              S_OK);
    EXPECT_EQ(counter->turns, 1);
    // Named arguments on a method are refused.
    EXPECT_EQ(rawInvoke(counter.get(), u"Add", DISPATCH_METHOD, {Variant::fromInt(1)}, {0}),
              DISP_E_NONAMEDARGS);
}

TEST(DispatchObject, ServerErrorsCarryTheDescription) {
    ComPtr<Counter> counter(new Counter);
    EXCEPINFO info;
    EXPECT_EQ(rawInvoke(counter.get(), u"Fail", DISPATCH_METHOD, {}, {}, nullptr, nullptr, &info),
              DISP_E_EXCEPTION);
    EXPECT_EQ(toUtf8(info.bstrDescription), "Счётчик сломан");
    EXPECT_EQ(toUtf8(info.bstrSource), "Counter");
    EXPECT_EQ(info.scode, E_ABORT);
    EXPECT_EQ(rawInvoke(counter.get(), u"Crash", DISPATCH_METHOD, {}), RPC_E_SERVERFAULT);

    const CallOutcome outcome =
        DispatchInvoke(counter.get(), u"fail", CallKind::Method, {}, nullptr);
    EXPECT_EQ(outcome.failure, CallOutcome::Failure::ServerException);
    EXPECT_EQ(outcome.message, "Счётчик сломан");
    EXPECT_EQ(outcome.code, E_ABORT);
}

TEST(DispatchObject, DisconnectedServerFailsEveryCall) {
    ComPtr<Counter> counter(new Counter);
    counter->disconnect();
    DISPID id = 0;
    EXPECT_EQ(counter->GetIDsOfNames(u"Add", 0, &id), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(counter->Invoke(1, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              RPC_S_SERVER_UNAVAILABLE);
    const CallOutcome outcome =
        DispatchInvoke(counter.get(), u"Add", CallKind::Method, {Variant::fromInt(1)}, nullptr);
    EXPECT_EQ(outcome.failure, CallOutcome::Failure::System);
    EXPECT_EQ(outcome.message, "The RPC server is unavailable");
    EXPECT_EQ(counter->value, 0);
}

TEST(DispatchObject, ReferencesAreCountedAndObjectsFreedAtZero) {
    static int alive = 0;
    struct Tracked : DispatchObject {
        Tracked() { ++alive; }
        ~Tracked() override { --alive; }
    };
    {
        ComPtr<Tracked> first(new Tracked);
        EXPECT_EQ(first->refCount(), 1u);
        DispatchPtr second(first.get());
        EXPECT_EQ(first->refCount(), 2u);
        Variant held = Variant::fromDispatch(second);
        EXPECT_EQ(first->refCount(), 3u);
        held = Variant();
        second.reset();
        EXPECT_EQ(first->refCount(), 1u);
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
}
