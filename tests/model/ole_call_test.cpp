#include "automation/dispatch_object.h"
#include "model/ole_call.h"
#include "platform/exception.h"

#include <gtest/gtest.h>

using namespace krepiks;
using namespace automation;

namespace {

// A bare IDispatch that shows exactly how it was called.
class Probe : public RefCounted<IDispatch> {
public:
    HRESULT GetIDsOfNames(const std::u16string& name, LCID, DISPID* dispid) override {
        ++lookups;
        lastName = name;
        if (name == u"Missing")
            return DISP_E_UNKNOWNNAME;
        *dispid = 7;
        return S_OK;
    }
    HRESULT Invoke(DISPID dispid, LCID, uint16_t flags, DISPPARAMS* params, Variant* result,
                   EXCEPINFO* info, uint32_t*) override {
        lastDispid = dispid;
        lastFlags = flags;
        resultAsked = result != nullptr;
        lastParams = *params;
        if (answer == DISP_E_EXCEPTION) {
            info->bstrDescription = u"Деталь не открыта";
            info->bstrSource = u"Probe";
            info->scode = E_ABORT;
        }
        if (SUCCEEDED(answer) && result)
            *result = Variant::fromDispatch(DispatchPtr(this));
        return answer;
    }
    int lookups = 0;
    std::u16string lastName;
    DISPID lastDispid = 0;
    uint16_t lastFlags = 0;
    bool resultAsked = false;
    DISPPARAMS lastParams;
    HRESULT answer = S_OK;
};

template <class E> std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const E& error) {
        return error.what();
    }
    return "(no error)";
}

} // namespace

TEST(OleVariant, CallKindsAndArgumentOrder) {
    ComPtr<Probe> probe(new Probe);
    const OleVariant object{DispatchPtr(probe.get())};

    const OleVariant child = object.get(u"ActiveView");
    EXPECT_EQ(probe->lastFlags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    EXPECT_TRUE(probe->resultAsked);
    EXPECT_TRUE(child.holdsObject());

    object.call(u"NewDocument", {Str(u"path"), Int(1), Int(2), Int(3)});
    EXPECT_EQ(probe->lastFlags, DISPATCH_METHOD);
    EXPECT_TRUE(probe->resultAsked);
    // COM's order: the last argument first.
    ASSERT_EQ(probe->lastParams.cArgs(), 4u);
    EXPECT_EQ(probe->lastParams.rgvarg[0].intVal(), 3);
    EXPECT_EQ(probe->lastParams.rgvarg[3].bstrVal().str(), u"path");
    EXPECT_EQ(probe->lastParams.cNamedArgs(), 0u);

    object.send(u"ViewZoomtofit2");
    EXPECT_EQ(probe->lastFlags, DISPATCH_METHOD);
    EXPECT_FALSE(probe->resultAsked);
    EXPECT_EQ(probe->lastParams.cArgs(), 0u);

    object.put(u"Visible", Bool(true));
    EXPECT_EQ(probe->lastFlags, DISPATCH_PROPERTYPUT);
    ASSERT_EQ(probe->lastParams.cNamedArgs(), 1u);
    EXPECT_EQ(probe->lastParams.rgdispidNamedArgs[0], DISPID_PROPERTYPUT);
    ASSERT_EQ(probe->lastParams.cArgs(), 1u);
    EXPECT_EQ(probe->lastParams.rgvarg[0].boolVal(), VARIANT_TRUE);

    // The name is looked up anew at every call.
    EXPECT_EQ(probe->lookups, 4);
    EXPECT_EQ(probe->lastDispid, 7);
}

TEST(OleVariant, FailuresBecomeTheProgramsErrors) {
    ComPtr<Probe> probe(new Probe);
    const OleVariant object{DispatchPtr(probe.get())};

    EXPECT_EQ(MessageOf<EOleError>([&] { object.send(u"Missing"); }),
              "Method 'Missing' not supported by automation object");
    try {
        object.send(u"Missing");
    } catch (const EOleSysError&) {
        ADD_FAILURE() << "an unknown name is not a system error";
    } catch (const EOleError&) {
    }
    EXPECT_EQ(probe->lastDispid, 0) << "Invoke was made for an unknown name";

    probe->answer = DISP_E_EXCEPTION;
    try {
        object.send(u"Run");
        ADD_FAILURE() << "no error";
    } catch (const EOleException& error) {
        EXPECT_STREQ(error.what(), "Деталь не открыта");
        EXPECT_EQ(error.errorCode(), E_ABORT);
        EXPECT_EQ(error.source(), "Probe");
    }

    probe->answer = DISP_E_TYPEMISMATCH;
    try {
        object.send(u"Run", {Int(1)});
        ADD_FAILURE() << "no error";
    } catch (const EOleSysError& error) {
        EXPECT_STREQ(error.what(), "Type mismatch");
        EXPECT_EQ(error.errorCode(), DISP_E_TYPEMISMATCH);
    }
    probe->answer = hr(0x8004D001);
    EXPECT_EQ(MessageOf<EOleSysError>([&] { object.send(u"Run"); }), "OLE error 8004d001");

    // A failed call hands back no object.
    const OleVariant nothing = [&] {
        try {
            return object.get(u"Run");
        } catch (const EOleError&) {
            return OleVariant();
        }
    }();
    EXPECT_FALSE(nothing.holdsObject());
}

TEST(OleVariant, NoObjectToCallOn) {
    const std::string text = "Variant does not reference an automation object";
    EXPECT_EQ(MessageOf<EOleError>([] { OleVariant().get(u"ActiveView"); }), text);
    EXPECT_EQ(MessageOf<EOleError>([] { OleVariant(Int(5)).send(u"Quit"); }), text);
    EXPECT_EQ(MessageOf<EOleError>([] { OleVariant(DispatchPtr()).put(u"Visible", Bool(true)); }),
              text);
}

TEST(OleVariant, TemporariesAreReleased) {
    ComPtr<Probe> probe(new Probe);
    {
        const OleVariant object{DispatchPtr(probe.get())};
        EXPECT_EQ(probe->refCount(), 2u);
        object.get(u"Child").get(u"Grandchild").send(u"Run", {Bool(true)});
        EXPECT_EQ(probe->refCount(), 2u);
        const OleVariant kept = object.call(u"Make", {});
        EXPECT_EQ(probe->refCount(), 3u);
        probe->answer = E_FAIL;
        EXPECT_THROW(object.get(u"Child").send(u"Run"), EOleSysError);
        EXPECT_EQ(probe->refCount(), 3u);
    }
    EXPECT_EQ(probe->refCount(), 1u);
}
