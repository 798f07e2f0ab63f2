#include "test_app.h"

#include "automation/dispatch_object.h"

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace bustest {

using namespace automation;

namespace {

int& liveChildren() {
    static int count = 0;
    return count;
}

int& childLookups() {
    static int count = 0;
    return count;
}

class TestApplication;

class Child : public DispatchObject {
public:
    HRESULT GetIDsOfNames(const std::u16string& name, LCID lcid, DISPID* dispid) override {
        ++childLookups();
        return DispatchObject::GetIDsOfNames(name, lcid, dispid);
    }

    Child(int id, DispatchPtr parent) : id_(id), parent_(std::move(parent)) {
        ++liveChildren();
        addProperty(u"Id", [this](const DispatchArgs&) { return Variant::fromInt(id_); });
        addProperty(u"Parent",
                    [this](const DispatchArgs&) { return Variant::fromDispatch(parent_); });
    }
    ~Child() override { --liveChildren(); }
    int id() const { return id_; }

private:
    int id_;
    DispatchPtr parent_;
};

std::string Number(double value) {
    char buffer[40];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
    return std::string(buffer, end.ptr);
}

// The value as this side received it.
std::string Describe(const Variant& v, const IDispatch* app) {
    const auto object = [app](const IDispatch* o) -> std::string {
        if (!o)
            return "null";
        if (o == app)
            return "app";
        if (const auto* child = dynamic_cast<const Child*>(o))
            return "child " + std::to_string(child->id());
        return "other";
    };
    switch (v.vt()) {
    case VT_I4:
        return "int " + std::to_string(v.intVal());
    case VT_R8:
        return "dbl " + Number(v.dblVal());
    case VT_CY:
        return "cur " + std::to_string(v.cyVal().int64);
    case VT_BOOL:
        return "bool " + std::to_string(v.boolVal());
    case VT_BSTR:
        return v.bstrVal().isNull() ? "str null" : "str '" + toUtf8(v.bstrVal().str()) + "'";
    case VT_DISPATCH:
        return "disp " + object(v.dispVal().get());
    case VT_BYREF | VT_R8:
        return "&dbl " + Number(*v.pdblVal());
    case VT_BYREF | VT_DISPATCH:
        return "&disp " + object(*v.ppdispVal());
    default:
        return "empty";
    }
}

class TestApplication : public DispatchObject {
public:
    explicit TestApplication(TestHooks hooks) : hooks_(std::move(hooks)) {
        addMethod(u"Echo", 1, [](const DispatchArgs& a) { return a[0]; });
        addMethod(u"Describe", 0, 12, [this](const DispatchArgs& a) {
            std::string text;
            for (size_t i = 0; i < a.size(); ++i)
                text += (i ? "; " : "") + Describe(a[i], this);
            return Variant::fromBStr(BStr(fromUtf8(text)));
        });
        addMethod(u"MakeChild", 0, [this](const DispatchArgs&) {
            return Variant::fromDispatch(DispatchPtr(new Child(++made_, DispatchPtr(this))));
        });
        addProperty(u"LiveChildren",
                    [](const DispatchArgs&) { return Variant::fromInt(liveChildren()); });
        addProperty(u"ChildLookups",
                    [](const DispatchArgs&) { return Variant::fromInt(childLookups()); });
        addProperty(u"HeldHandles", [this](const DispatchArgs&) {
            return Variant::fromInt(hooks_.heldHandles ? hooks_.heldHandles() : 0);
        });
        addProperty(u"Messages", [this](const DispatchArgs&) {
            return Variant::fromInt(hooks_.messages ? hooks_.messages() : 0);
        });
        addProperty(u"ProcessId", [](const DispatchArgs&) {
            return Variant::fromInt(static_cast<int32_t>(getpid()));
        });
        addProperty(
            u"Value", [this](const DispatchArgs&) { return Variant::fromInt(value_); },
            [this](const DispatchArgs& a) { value_ = a.asInt(0); });
        // Multiplies the referenced double by factor.
        addMethod(u"Scale", 2, [](const DispatchArgs& a) {
            double* target = a[0].pdblVal();
            if (!target)
                throw DispatchError(DISP_E_TYPEMISMATCH, 0);
            *target *= a.asDouble(1);
        });
        // Puts a new child into the referenced cell, as COM's out-parameter rule says.
        addMethod(u"SwapChild", 1, [this](const DispatchArgs& a) {
            IDispatch** cell = a[0].ppdispVal();
            if (!cell)
                throw DispatchError(DISP_E_TYPEMISMATCH, 0);
            IDispatch* fresh = new Child(++made_, DispatchPtr(this));
            fresh->AddRef();
            if (IDispatch* old = std::exchange(*cell, fresh))
                old->Release();
        });
        // The same as Scale, with type information saying that the reference may change.
        addMethod(u"Grow", 2, [](const DispatchArgs& a) {
            double* target = a[0].pdblVal();
            if (!target)
                throw DispatchError(DISP_E_TYPEMISMATCH, 0);
            *target *= a.asDouble(1);
        });
        setParameterFlags(u"Grow", {PARAMFLAG_FIN | PARAMFLAG_FOUT, PARAMFLAG_FIN});
        // Takes the referenced double as the value, which it only reads; refuses a negative.
        addMethod(u"Keep", 1, [this](const DispatchArgs& a) {
            const double kept = a.asDouble(0);
            if (kept < 0)
                throw ServerException("Отрицательное значение", "KrepiksBusTest", hr(0x80040202));
            value_ = static_cast<int32_t>(kept);
        });
        setParameterFlags(u"Keep", {PARAMFLAG_FIN});
        // Notes whether the caller of each call waited for it: 'w' when it did, '.' when it
        // went on.
        addMethod(u"Note", 0, [this](const DispatchArgs&) { notes_ += CallerWaits() ? 'w' : '.'; });
        addProperty(u"Notes", [this](const DispatchArgs&) {
            return Variant::fromBStr(BStr(fromUtf8(notes_)));
        });
        addMethod(u"Half", 1,
                  [](const DispatchArgs& a) { return Variant::fromDouble(a.asDouble(0) / 2); });
        addMethod(u"Fail", 0, [](const DispatchArgs&) -> Variant {
            throw ServerException("Сбой на стороне сервера", "KrepiksBusTest", hr(0x80040201));
        });
        addMethod(u"Hang", 0, [](const DispatchArgs&) {
            // Tells a test that waits for it that the call is now being served.
            if (const char* mark = std::getenv("KREPIKS_TEST_HANG_MARK"))
                std::ofstream(mark) << getpid() << '\n';
            for (;;)
                std::this_thread::sleep_for(std::chrono::hours(1));
        });
        addMethod(u"Quit", 0, [this](const DispatchArgs&) {
            if (hooks_.quit)
                hooks_.quit();
        });
    }

private:
    TestHooks hooks_;
    int made_ = 0;
    int32_t value_ = 0;
    std::string notes_;
};

struct Running {
    DispatchPtr app;
    uint32_t cookie = 0;
};

Running& running() {
    static Running instance;
    return instance;
}

} // namespace

int LiveChildren() {
    return liveChildren();
}

DispatchPtr MakeTestApplication(TestHooks hooks) {
    return DispatchPtr(new TestApplication(std::move(hooks)));
}

void RegisterTestServer(TestHooks hooks, const std::u16string& progId) {
    auto quit = hooks.quit;
    hooks.quit = [quit] {
        // Gone from the running table; the next creation makes a new application.
        if (running().app)
            RevokeActiveObject(running().cookie);
        running().app.reset();
        if (quit)
            quit();
    };
    RegisterClassObject(progId, [hooks, progId](IDispatch** out) {
        Running& r = running();
        if (!r.app) {
            r.app = MakeTestApplication(hooks);
            CLSID clsid;
            CLSIDFromProgID(progId, &clsid);
            RegisterActiveObject(r.app.get(), clsid, ACTIVEOBJECT_STRONG, &r.cookie);
        }
        *out = DispatchPtr(r.app).detach();
        return S_OK;
    });
}

} // namespace bustest
