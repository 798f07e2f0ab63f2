#include "automation/dispatch_object.h"
#include "automation/invoke.h"

#include <gtest/gtest.h>

using namespace automation;

namespace {

struct Plain : DispatchObject {
    Plain() {
        addMethod(u"Ping", 0, [](const DispatchArgs&) { return Variant::fromInt(1); });
    }
};

} // namespace

TEST(ClassRegistry, ProgIdsResolveWithoutRegardToCase) {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"Nobody.Application", &clsid), CO_E_CLASSSTRING);
    const CLSID registered = RegisterClassObject(u"Test.Server", [](IDispatch** out) {
        *out = DispatchPtr(new Plain).detach();
        return S_OK;
    });
    ASSERT_EQ(CLSIDFromProgID(u"test.SERVER", &clsid), S_OK);
    EXPECT_EQ(clsid, registered);
    EXPECT_EQ(CLSIDFromProgID(u"Test.Server", nullptr), E_INVALIDARG);
    UnregisterClassObject(u"Test.Server");
    EXPECT_EQ(CLSIDFromProgID(u"Test.Server", &clsid), CO_E_CLASSSTRING);
}

TEST(ClassRegistry, CreationHonoursContextAndFactoryResult) {
    static int made = 0;
    static HRESULT answer = S_OK;
    const CLSID clsid = RegisterClassObject(
        u"Test.Local",
        [](IDispatch** out) {
            ++made;
            *out = DispatchPtr(new Plain).detach();
            return answer;
        },
        CLSCTX_LOCAL_SERVER);

    DispatchPtr object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, object.put()),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(made, 0);
    ASSERT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, object.put()),
        S_OK);
    ASSERT_TRUE(object);
    EXPECT_EQ(static_cast<Plain*>(object.get())->refCount(), 1u);

    // A failing factory's result passes through, and whatever it made is not leaked to the
    // caller.
    answer = CO_E_SERVER_EXEC_FAILURE;
    DispatchPtr failed;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, 5, failed.put()), CO_E_SERVER_EXEC_FAILURE);
    EXPECT_FALSE(failed);
    EXPECT_EQ(made, 2);

    answer = S_OK;
    EXPECT_EQ(CoCreateInstance(clsid, object.get(), 5, failed.put()), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID{"progid:unknown"}, nullptr, 5, failed.put()),
              REGDB_E_CLASSNOTREG);
    UnregisterClassObject(u"Test.Local");
}

TEST(RunningObjectTable, AnnounceAttachRevoke) {
    const CLSID clsid = RegisterClassObject(u"Test.Running", nullptr);
    DispatchPtr found;
    EXPECT_EQ(GetActiveObject(clsid, nullptr, found.put()), MK_E_UNAVAILABLE);
    EXPECT_FALSE(found);

    ComPtr<Plain> running(new Plain);
    uint32_t cookie = 0;
    ASSERT_EQ(RegisterActiveObject(running.get(), clsid, ACTIVEOBJECT_STRONG, &cookie), S_OK);
    EXPECT_EQ(running->refCount(), 2u);
    ASSERT_EQ(GetActiveObject(clsid, nullptr, found.put()), S_OK);
    EXPECT_EQ(found.get(), running.get());
    EXPECT_EQ(running->refCount(), 3u);
    found.reset();

    // A class without a factory cannot be created, only attached to.
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, 5, found.put()), REGDB_E_CLASSNOTREG);

    EXPECT_EQ(RevokeActiveObject(cookie), S_OK);
    EXPECT_EQ(running->refCount(), 1u);
    EXPECT_EQ(RevokeActiveObject(cookie), E_INVALIDARG);
    EXPECT_EQ(GetActiveObject(clsid, nullptr, found.put()), MK_E_UNAVAILABLE);
    UnregisterClassObject(u"Test.Running");
}

TEST(ErrorTexts, SystemMessagesAndTheFallback) {
    EXPECT_EQ(SysErrorMessage(CO_E_CLASSSTRING), "Invalid class string");
    EXPECT_EQ(SysErrorMessage(REGDB_E_CLASSNOTREG), "Class not registered");
    EXPECT_EQ(SysErrorMessage(DISP_E_TYPEMISMATCH), "Type mismatch");
    EXPECT_EQ(SysErrorMessage(DISP_E_BADPARAMCOUNT), "Invalid number of parameters");
    EXPECT_EQ(SysErrorMessage(DISP_E_UNKNOWNNAME), "Unknown name");
    EXPECT_EQ(SysErrorMessage(DISP_E_MEMBERNOTFOUND), "Member not found");
    EXPECT_EQ(SysErrorMessage(E_FAIL), "Unspecified error");
    EXPECT_EQ(SysErrorMessage(RPC_E_DISCONNECTED),
              "The object invoked has disconnected from its clients");
    EXPECT_EQ(SysErrorMessage(RPC_S_SERVER_UNAVAILABLE), "The RPC server is unavailable");
    EXPECT_EQ(SysErrorMessage(RPC_E_CALL_REJECTED), "Call was rejected by callee");
    EXPECT_EQ(SysErrorMessage(hr(0x8004D001)), "");
    EXPECT_EQ(OleErrorText(hr(0x8004D001)), "OLE error 8004d001");
    EXPECT_EQ(OleErrorText(hr(0x00000005)), "OLE error 00000005");
    EXPECT_EQ(OleErrorText(MK_E_UNAVAILABLE), "Operation unavailable");
    // No text ends in a full stop: the error report adds it.
    for (HRESULT code :
         {E_NOTIMPL, E_NOINTERFACE, E_INVALIDARG, E_POINTER, E_OUTOFMEMORY, DISP_E_PARAMNOTOPTIONAL,
          DISP_E_OVERFLOW, DISP_E_EXCEPTION, DISP_E_BADVARTYPE, DISP_E_NONAMEDARGS,
          CO_E_SERVER_EXEC_FAILURE, RPC_S_CALL_FAILED, RPC_E_SERVERFAULT}) {
        const std::string text = SysErrorMessage(code);
        ASSERT_FALSE(text.empty()) << std::hex << code;
        EXPECT_NE(text.back(), '.') << text;
    }
}

TEST(Values, CoercionsFollowAutomation) {
    double d = 0;
    int32_t i = 0;
    bool b = false;
    EXPECT_EQ(Variant().toDouble(&d), S_OK);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(Variant::fromBool(true).toDouble(&d), S_OK);
    EXPECT_EQ(d, -1.0);
    EXPECT_EQ(Variant::fromCurrency(CY{-20}).toDouble(&d), S_OK);
    EXPECT_DOUBLE_EQ(d, -0.002);
    EXPECT_EQ(Variant::fromBStr(u"1").toDouble(&d), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Variant::fromDouble(2.5).toInt(&i), S_OK);
    EXPECT_EQ(i, 2); // half to even
    EXPECT_EQ(Variant::fromDouble(3.5).toInt(&i), S_OK);
    EXPECT_EQ(i, 4);
    EXPECT_EQ(Variant::fromDouble(3e9).toInt(&i), DISP_E_OVERFLOW);
    EXPECT_EQ(Variant::fromInt(0).toBool(&b), S_OK);
    EXPECT_FALSE(b);
    EXPECT_EQ(Variant::fromDouble(0.5).toBool(&b), S_OK);
    EXPECT_TRUE(b);
    BStr text(u"x");
    EXPECT_EQ(Variant::fromInt(1).toBStr(&text), DISP_E_TYPEMISMATCH);
    DispatchPtr object;
    EXPECT_EQ(Variant::fromInt(1).toDispatch(&object), DISP_E_TYPEMISMATCH);

    // References follow the caller's storage.
    double storage = 1.25;
    const Variant ref = Variant::byRefDouble(&storage);
    EXPECT_EQ(ref.vt(), VT_BYREF | VT_R8);
    storage = 7.5;
    EXPECT_EQ(ref.toDouble(&d), S_OK);
    EXPECT_EQ(d, 7.5);
    ComPtr<Plain> plain(new Plain);
    IDispatch* cell = nullptr;
    const Variant dispRef = Variant::byRefDispatch(&cell);
    EXPECT_EQ(dispRef.toDispatch(&object), S_OK);
    EXPECT_FALSE(object);
    cell = plain.get();
    EXPECT_EQ(dispRef.toDispatch(&object), S_OK);
    EXPECT_EQ(object.get(), plain.get());
}

TEST(Values, CurrencyCountsTenThousandths) {
    EXPECT_EQ(CY::fromDouble(-0.002).int64, -20);
    EXPECT_EQ(CY::fromDouble(0.003).int64, 30);
    EXPECT_EQ(CY::fromDouble(0.01).int64, 100);
    EXPECT_EQ(CY::fromDouble(0.00005).int64, 1);
    EXPECT_EQ(CY::fromDouble(-0.00005).int64, -1);
    EXPECT_EQ(CY::fromDouble(1e300).int64, INT64_MAX);
    EXPECT_EQ(CY{-20}.toDouble(), -0.002);
}

TEST(Values, TextsNullEmptyAndUtf8) {
    EXPECT_TRUE(BStr().isNull());
    EXPECT_FALSE(BStr(u"").isNull());
    EXPECT_FALSE(BStr() == BStr(u""));
    EXPECT_TRUE(BStr(static_cast<const char16_t*>(nullptr)).isNull());
    EXPECT_EQ(BStr().str(), u"");
    const std::string text = "Эскиз1 \xF0\x9F\x94\xA9 Line8@";
    EXPECT_EQ(toUtf8(fromUtf8(text)), text);
    EXPECT_EQ(fromUtf8("Ось1"), u"Ось1");
    EXPECT_EQ(fromUtf8("a\xFF"
                       "b"),
              u"a\uFFFDb");
    EXPECT_EQ(fromUtf8("\xE0\x80\x80"), u"\uFFFD\uFFFD\uFFFD"); // overlong
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(DispatchInvoke, UnknownNamesAndMissingTargets) {
    ComPtr<Plain> plain(new Plain);
    Variant result = Variant::fromInt(99);
    CallOutcome outcome = DispatchInvoke(plain.get(), u"Pong", CallKind::Method, {}, &result);
    EXPECT_EQ(outcome.failure, CallOutcome::Failure::UnknownName);
    EXPECT_EQ(outcome.message, "Method 'Pong' not supported by automation object");
    EXPECT_TRUE(result.isEmpty());
    outcome = DispatchInvoke(nullptr, u"Ping", CallKind::Method, {}, &result);
    EXPECT_EQ(outcome.failure, CallOutcome::Failure::System);
    EXPECT_EQ(outcome.code, E_POINTER);
    outcome = DispatchInvoke(plain.get(), u"ping", CallKind::MethodOrGet, {}, &result);
    EXPECT_TRUE(outcome.ok());
    EXPECT_EQ(result.intVal(), 1);
    EXPECT_EQ(plain->refCount(), 1u);
}
