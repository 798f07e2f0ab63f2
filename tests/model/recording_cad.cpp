#include "recording_cad.h"

#include "model/solidworks.h"

namespace krepiks::test {

using namespace automation;

class RecordingCad::Object : public DispatchObject {
public:
    Object(RecordingCad& cad, std::string role, long number)
        : cad_(cad), role_(std::move(role)), number_(number) {
        if (role_ == "application") {
            addProperty(
                u"Visible", [this](const DispatchArgs&) { return Variant::fromBool(visible_); },
                [this](const DispatchArgs& args) { visible_ = args.asBool(0); });
            define(u"NewDocument", 4, [this](const DispatchArgs& args) {
                args.asBStr(0), args.asInt(1), args.asInt(2), args.asInt(3);
                return cad_.newDocumentReturnsNothing ? Variant() : child("document");
            });
            define(u"Application", 0, [this](const DispatchArgs&) {
                return Variant::fromDispatch(DispatchPtr(this));
            });
            define(u"Quit", 0, [this](const DispatchArgs&) {
                for (auto& object : cad_.objects_)
                    object->disconnect();
                return Variant();
            });
        } else if (role_ == "document") {
            define(u"ActiveView", 0, [this](const DispatchArgs&) { return child("view"); });
            define(u"SketchManager", 0, [this](const DispatchArgs&) { return child("sketch"); });
            define(u"Extension", 0, [this](const DispatchArgs&) { return child("extension"); });
            define(u"FeatureManager", 0, [this](const DispatchArgs&) { return child("features"); });
            define(u"SelectionManager", 0,
                   [this](const DispatchArgs&) { return child("selection"); });
            define(u"ClearSelection2", 1, boolean(0));
            define(u"InsertAxis2", 1, boolean(0));
            define(u"ViewZoomtofit2", 0, nothing());
        } else if (role_ == "view") {
            define(u"RotateAboutCenter", 2, numbers(2));
        } else if (role_ == "sketch") {
            define(u"InsertSketch", 1, boolean(0));
            define(u"CreateLine", 6, numbers(6));
            define(u"CreatePolygon", 8, [](const DispatchArgs& args) {
                for (size_t i = 0; i < 7; ++i)
                    args.asDouble(i);
                return Variant::fromBool(args.asBool(7));
            });
        } else if (role_ == "extension") {
            define(u"SelectByID2", 9, [](const DispatchArgs& args) {
                args.asBStr(0), args.asBStr(1);
                args.asDouble(2), args.asDouble(3), args.asDouble(4);
                args.asBool(5), args.asInt(6), args.asDispatch(7), args.asInt(8);
                return Variant::fromBool(true);
            });
        } else if (role_ == "features") {
            define(u"FeatureRevolve", 8, [this](const DispatchArgs& args) {
                args.asDouble(0);
                return child("feature");
            });
            define(u"FeatureExtrusion", 20, [this](const DispatchArgs& args) {
                args.asDouble(5);
                return child("feature");
            });
            define(u"FeatureRevolveCut", 7, [this](const DispatchArgs& args) {
                args.asDouble(0);
                return child("feature");
            });
        } else if (role_ == "selection") {
            define(u"EnableContourSelection", 1, boolean(0));
        }
    }

    const std::string& role() const { return role_; }

protected:
    void onCall(const std::u16string& member, uint16_t flags, const DispatchArgs& args) override {
        RecordedCall call{number_, role_, toUtf8(member), flags, args.all(), {}, {}};
        for (Variant& arg : call.args) {
            if (arg.vt() == (VT_BYREF | VT_R8))
                call.referenced.push_back(*arg.pdblVal());
            if (arg.vt() == (VT_BYREF | VT_DISPATCH)) {
                call.callouts.push_back(std::make_shared<IDispatch*>(*arg.ppdispVal()));
                arg = Variant::byRefDispatch(call.callouts.back().get());
            }
        }
        cad_.calls.push_back(std::move(call));
    }

private:
    void define(std::u16string name, size_t count, Handler handler) {
        const std::string member = toUtf8(name);
        addMethod(std::move(name), count,
                  [this, member, handler = std::move(handler)](const DispatchArgs& args) {
                      if (cad_.raiseAt == member)
                          throw ServerException(cad_.raiseText, "RecordingCad");
                      return handler(args);
                  });
    }
    static Handler boolean(size_t i) {
        return [i](const DispatchArgs& args) { return Variant::fromBool(args.asBool(i)); };
    }
    static Handler numbers(size_t count) {
        return [count](const DispatchArgs& args) {
            for (size_t i = 0; i < count; ++i)
                args.asDouble(i);
            return Variant::fromBool(true);
        };
    }
    static Handler nothing() {
        return [](const DispatchArgs&) { return Variant(); };
    }
    Variant child(const std::string& role) { return Variant::fromDispatch(cad_.make(role)); }

    RecordingCad& cad_;
    std::string role_;
    long number_;
    bool visible_ = false;
};

RecordingCad::RecordingCad() {
    RegisterClassObject(
        SolidWorksProgId,
        [this](IDispatch** out) {
            ++creationAttempts;
            if (creationFails_) {
                automation::SetErrorDescription("'/opt/cad' could not be started");
                return CO_E_SERVER_EXEC_FAILURE;
            }
            *out = make("application").detach();
            return S_OK;
        },
        CLSCTX_LOCAL_SERVER);
}

RecordingCad::~RecordingCad() {
    if (cookie_)
        RevokeActiveObject(cookie_);
    UnregisterClassObject(SolidWorksProgId);
}

void RecordingCad::announceRunning() {
    CLSID clsid;
    CLSIDFromProgID(SolidWorksProgId, &clsid);
    const DispatchPtr app = make("application");
    RegisterActiveObject(app.get(), clsid, ACTIVEOBJECT_STRONG, &cookie_);
}

DispatchPtr RecordingCad::make(const std::string& role) {
    ComPtr<Object> object(new Object(*this, role, static_cast<long>(objects_.size()) + 1));
    objects_.push_back(object);
    return DispatchPtr(object.get());
}

long RecordingCad::clientReferences(bool applications) const {
    long total = 0;
    for (const auto& object : objects_) {
        if (!applications && object->role() == "application")
            continue;
        const long extra = cookie_ && object.get() == application(0) ? 1 : 0; // the table's
        total += static_cast<long>(object->refCount()) - 1 - extra;
    }
    return total;
}

IDispatch* RecordingCad::application(size_t index) const {
    for (const auto& object : objects_)
        if (object->role() == "application" && index-- == 0)
            return object.get();
    return nullptr;
}

std::vector<RecordedCall> RecordingCad::buildCalls(size_t build) const {
    std::vector<RecordedCall> result;
    size_t documents = 0;
    bool inside = false;
    for (const auto& call : calls) {
        if (call.member == "Visible")
            inside = false;
        if (inside)
            result.push_back(call);
        if (call.member == "NewDocument" && documents++ == build)
            inside = true;
    }
    return result;
}

} // namespace krepiks::test
