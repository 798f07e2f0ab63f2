#include "cad/cad_server.h"

#include "automation/dispatch_object.h"

#include <cmath>
#include <vector>

namespace krepiks::cad {

using automation::DispatchArgs;
using automation::DispatchError;
using automation::DispatchPtr;
using automation::HRESULT;
using automation::Variant;

namespace {

SessionViewFactory& ViewFactory() {
    static SessionViewFactory factory;
    return factory;
}

std::function<void(const std::shared_ptr<CadSession>&)>& StartHook() {
    static std::function<void(const std::shared_ptr<CadSession>&)> hook;
    return hook;
}

Variant ObjectResult(automation::IDispatch* object) {
    return Variant::fromDispatch(DispatchPtr(object));
}

Variant NoObject() {
    return Variant::fromDispatch(DispatchPtr());
}

} // namespace

// Every object of an application answers as a vanished server once the application ends.
class SessionObject : public automation::DispatchObject {
public:
    HRESULT GetIDsOfNames(const std::u16string& name, automation::LCID lcid,
                          automation::DISPID* dispid) override {
        if (!session_->alive()) {
            if (dispid)
                *dispid = automation::DISPID_UNKNOWN;
            return automation::RPC_E_DISCONNECTED;
        }
        return DispatchObject::GetIDsOfNames(name, lcid, dispid);
    }
    HRESULT Invoke(automation::DISPID dispid, automation::LCID lcid, uint16_t flags,
                   automation::DISPPARAMS* params, Variant* result,
                   automation::EXCEPINFO* excepInfo, uint32_t* argErr) override {
        if (!session_->alive())
            return automation::RPC_E_DISCONNECTED;
        const HRESULT hr =
            DispatchObject::Invoke(dispid, lcid, flags, params, result, excepInfo, argErr);
        if (hr != automation::S_OK || !session_->callFollower_)
            return hr;
        // The follower may end the session and with it this object's last reference.
        const std::shared_ptr<CadSession> keep = session_;
        return keep->callFollower_(automation::CallerWaits(), excepInfo);
    }

protected:
    explicit SessionObject(std::shared_ptr<CadSession> session) : session_(std::move(session)) {}
    std::shared_ptr<CadSession> session_;
};

namespace {

class DocumentObject : public SessionObject {
protected:
    DocumentObject(std::shared_ptr<CadSession> session, std::shared_ptr<PartDocument> doc)
        : SessionObject(std::move(session)), doc_(std::move(doc)) {}
    std::shared_ptr<PartDocument> doc_;
};

// Handles for what a call made (a feature, a sketch line); they have no members of their own.
class HandleObject : public SessionObject {
public:
    explicit HandleObject(std::shared_ptr<CadSession> session)
        : SessionObject(std::move(session)) {}
};

std::string Text(const DispatchArgs& args, size_t i) {
    return automation::toUtf8(args.asBStr(i).str());
}

// A coordinate, length or angle: a value no geometry can have is refused as out of range, so
// the client hears of it instead of getting a part that silently lacks its feature.
double Finite(const DispatchArgs& args, size_t i) {
    const double value = args.asDouble(i);
    if (!std::isfinite(value))
        throw DispatchError(automation::DISP_E_OVERFLOW, i);
    return value;
}

// The optional callout of a selection: only "no object" or an object reference will do.
void CheckCallout(const DispatchArgs& args, size_t i) {
    const uint16_t vt = args[i].vt();
    if (vt != automation::VT_EMPTY && vt != automation::VT_DISPATCH &&
        vt != (automation::VT_DISPATCH | automation::VT_BYREF))
        throw DispatchError(automation::DISP_E_TYPEMISMATCH, i);
}

class SketchManagerObject : public DocumentObject {
public:
    SketchManagerObject(std::shared_ptr<CadSession> s, std::shared_ptr<PartDocument> d)
        : DocumentObject(std::move(s), std::move(d)) {
        addMethod(u"InsertSketch", 1, [this](const DispatchArgs& a) {
            a.asBool(0);
            doc_->insertSketch();
        });
        addMethod(u"CreateLine", 6, [this](const DispatchArgs& a) {
            double v[6];
            for (size_t i = 0; i < 6; ++i)
                v[i] = Finite(a, i);
            if (!doc_->createLine(v[0], v[1], v[2], v[3], v[4], v[5]))
                return NoObject();
            return ObjectResult(new HandleObject(session_));
        });
        // The end points are only read, whether passed by value or by reference.
        setParameterFlags(u"CreateLine", std::vector<uint16_t>(6, automation::PARAMFLAG_FIN));
        addMethod(u"CreatePolygon", 8, [this](const DispatchArgs& a) {
            double v[6];
            for (size_t i = 0; i < 6; ++i)
                v[i] = Finite(a, i);
            const int32_t sides = a.asInt(6);
            const bool inscribed = a.asBool(7);
            return Variant::fromBool(
                doc_->createPolygon(v[0], v[1], v[2], v[3], v[4], v[5], sides, inscribed));
        });
    }
};

class ExtensionObject : public DocumentObject {
public:
    ExtensionObject(std::shared_ptr<CadSession> s, std::shared_ptr<PartDocument> d)
        : DocumentObject(std::move(s), std::move(d)) {
        addMethod(u"SelectByID2", 9, [this](const DispatchArgs& a) {
            const std::string name = Text(a, 0);
            const std::string type = Text(a, 1);
            const double x = Finite(a, 2), y = Finite(a, 3), z = Finite(a, 4);
            const bool append = a.asBool(5);
            const int32_t mark = a.asInt(6);
            CheckCallout(a, 7);
            a.asInt(8);
            return Variant::fromBool(doc_->selectById(name, type, x, y, z, append, mark));
        });
        // The callout is only looked at, never set.
        setParameterFlags(u"SelectByID2", std::vector<uint16_t>(9, automation::PARAMFLAG_FIN));
    }
};

RevolveParams ReadRevolve(const DispatchArgs& a, bool withMerge) {
    RevolveParams p;
    p.angle = Finite(a, 0);
    p.reverse = a.asBool(1);
    p.angle2 = Finite(a, 2);
    p.type = a.asInt(3);
    a.asInt(4); // options
    size_t next = 5;
    if (withMerge)
        p.merge = a.asBool(next++);
    for (; next < a.size(); ++next)
        a.asBool(next); // feature scope, auto-select
    return p;
}

class FeatureManagerObject : public DocumentObject {
public:
    FeatureManagerObject(std::shared_ptr<CadSession> s, std::shared_ptr<PartDocument> d)
        : DocumentObject(std::move(s), std::move(d)) {
        addMethod(u"FeatureRevolve", 8, [this](const DispatchArgs& a) {
            return made(doc_->featureRevolve(ReadRevolve(a, true)));
        });
        addMethod(u"FeatureRevolveCut", 7, [this](const DispatchArgs& a) {
            return made(doc_->featureRevolveCut(ReadRevolve(a, false)));
        });
        addMethod(u"FeatureExtrusion", 20, [this](const DispatchArgs& a) {
            ExtrusionParams p;
            p.singleDirection = a.asBool(0);
            a.asBool(1); // flip side to cut: a boss has none
            p.reverse = a.asBool(2);
            p.endCondition = a.asInt(3);
            p.endCondition2 = a.asInt(4);
            p.depth = Finite(a, 5);
            p.depth2 = Finite(a, 6);
            p.draft1 = a.asBool(7);
            p.draft2 = a.asBool(8);
            for (size_t i = 9; i <= 10; ++i)
                a.asBool(i); // draft directions
            a.asDouble(11);  // draft angles, used only with a draft
            a.asDouble(12);
            for (size_t i = 13; i <= 16; ++i)
                a.asBool(i); // offsets and surface translation: none here
            p.merge = a.asBool(17);
            a.asBool(18);
            a.asBool(19);
            return made(doc_->featureExtrusion(p));
        });
    }

private:
    Variant made(bool ok) { return ok ? ObjectResult(new HandleObject(session_)) : NoObject(); }
};

class ModelViewObject : public DocumentObject {
public:
    ModelViewObject(std::shared_ptr<CadSession> s, std::shared_ptr<PartDocument> d)
        : DocumentObject(std::move(s), std::move(d)) {
        addMethod(u"RotateAboutCenter", 2, [this](const DispatchArgs& a) {
            const double x = a.asDouble(0), y = a.asDouble(1);
            doc_->rotateAboutCenter(x, y);
        });
    }
};

class SelectionManagerObject : public DocumentObject {
public:
    SelectionManagerObject(std::shared_ptr<CadSession> s, std::shared_ptr<PartDocument> d)
        : DocumentObject(std::move(s), std::move(d)) {
        // Contour selection only matters to a person clicking in sketches.
        addMethod(u"EnableContourSelection", 1, [](const DispatchArgs& a) { a.asBool(0); });
    }
};

class ModelDocObject : public DocumentObject {
public:
    ModelDocObject(std::shared_ptr<CadSession> s, std::shared_ptr<PartDocument> d)
        : DocumentObject(std::move(s), std::move(d)) {
        addMethod(u"ActiveView", 0, [this](const DispatchArgs&) {
            return ObjectResult(new ModelViewObject(session_, doc_));
        });
        addMethod(u"SketchManager", 0, [this](const DispatchArgs&) {
            return ObjectResult(new SketchManagerObject(session_, doc_));
        });
        addMethod(u"Extension", 0, [this](const DispatchArgs&) {
            return ObjectResult(new ExtensionObject(session_, doc_));
        });
        addMethod(u"FeatureManager", 0, [this](const DispatchArgs&) {
            return ObjectResult(new FeatureManagerObject(session_, doc_));
        });
        addMethod(u"SelectionManager", 0, [this](const DispatchArgs&) {
            return ObjectResult(new SelectionManagerObject(session_, doc_));
        });
        addMethod(u"ClearSelection2", 1, [this](const DispatchArgs& a) {
            a.asBool(0);
            doc_->clearSelection();
        });
        addMethod(u"InsertAxis2", 1, [this](const DispatchArgs& a) {
            a.asBool(0);
            return Variant::fromBool(doc_->insertAxis());
        });
        addMethod(u"ViewZoomtofit2", 0, [this](const DispatchArgs&) { doc_->zoomToFit(); });
    }
};

} // namespace

class ApplicationObject : public SessionObject {
public:
    explicit ApplicationObject(std::shared_ptr<CadSession> session)
        : SessionObject(std::move(session)) {
        addProperty(
            u"Visible",
            [this](const DispatchArgs&) { return Variant::fromBool(session_->visible()); },
            [this](const DispatchArgs& a) { session_->setVisible(a.asBool(0)); });
        addMethod(u"NewDocument", 4, [this](const DispatchArgs& a) {
            const std::string path = Text(a, 0);
            a.asInt(1); // paper size and its width and height: parts have no sheet
            a.asInt(2);
            a.asInt(3);
            const std::shared_ptr<PartDocument> doc = session_->newDocument(path);
            return doc ? ObjectResult(new ModelDocObject(session_, doc)) : NoObject();
        });
        addMethod(u"Application", 0, [this](const DispatchArgs&) { return ObjectResult(this); });
        addMethod(u"Quit", 0, [this](const DispatchArgs&) { session_->quit(); });
    }
    ~ApplicationObject() override {
        if (session_->application_ == this)
            session_->application_ = nullptr;
    }
};

void SetSessionStartHook(std::function<void(const std::shared_ptr<CadSession>&)> hook) {
    StartHook() = std::move(hook);
}

void SetSessionViewFactory(SessionViewFactory factory) {
    ViewFactory() = std::move(factory);
}

CadSession::CadSession(bool allowView) : allowView_(allowView) {}

CadSession::~CadSession() {
    for (const auto& doc : documents_)
        doc->setObserver(nullptr);
}

void CadSession::setVisible(bool visible) {
    if (!alive_)
        return;
    visible_ = visible;
    updateView();
    changed();
}

void CadSession::updateView() {
    if (updatingView_)
        return;
    updatingView_ = true;
    if (alive_ && visible_ && allowView_ && !view_ && ViewFactory())
        view_ = ViewFactory()(*this);
    else if ((!alive_ || !visible_) && view_)
        view_.reset();
    updatingView_ = false;
}

std::shared_ptr<PartDocument> CadSession::newDocument(const std::string& templatePath,
                                                      std::string* error) {
    if (!alive_)
        return nullptr;
    TemplateError why;
    const auto loading = std::chrono::steady_clock::now();
    auto partTemplate = templateLoader_ ? templateLoader_(templatePath, &why)
                                        : LoadPartTemplate(templatePath, &why);
    lastTemplateLoad_ = std::chrono::steady_clock::now() - loading;
    if (!partTemplate) {
        if (error)
            *error = why.message;
        // The client only hears of no document; the person at the window is told why.
        templateFailure_ = TemplateFailure{templatePath, std::move(why), ++templateFailures_};
        changed();
        return nullptr;
    }
    templateFailure_.reset();
    auto doc = std::make_shared<PartDocument>(std::move(*partTemplate),
                                              "Деталь" + std::to_string(++documentCounter_));
    doc->setObserver([this] { changed(); });
    documents_.push_back(doc);
    active_ = static_cast<int>(documents_.size()) - 1;
    changed();
    return doc;
}

std::shared_ptr<PartDocument> CadSession::activeDocument() const {
    return active_ >= 0 && active_ < static_cast<int>(documents_.size()) ? documents_[active_]
                                                                         : nullptr;
}

void CadSession::setActiveIndex(int index) {
    if (index >= 0 && index < static_cast<int>(documents_.size()) && index != active_) {
        active_ = index;
        changed();
    }
}

void CadSession::changed() {
    if (view_)
        view_->sessionChanged();
}

namespace {

struct Running {
    std::weak_ptr<CadSession> session;
    uint32_t cookie = 0;
    bool inTable = false;
};

Running& RunningApplication() {
    static Running running;
    return running;
}

} // namespace

void CadSession::quit() {
    if (!alive_)
        return;
    // Whoever asked may drop the last reference to this session below.
    const std::shared_ptr<CadSession> keep = shared_from_this();
    alive_ = false;
    visible_ = false;
    for (const auto& doc : documents_)
        doc->setObserver(nullptr);
    updateView();
    Running& running = RunningApplication();
    if (running.session.lock() == keep) {
        running.session.reset();
        if (running.inTable) {
            running.inTable = false;
            automation::RevokeActiveObject(running.cookie);
        }
    }
}

automation::DispatchPtr CadSession::applicationObject() {
    if (!application_)
        application_ = new ApplicationObject(shared_from_this());
    return DispatchPtr(application_);
}

automation::DispatchPtr CreateCadApplication(bool allowView, std::shared_ptr<CadSession>* out) {
    auto session = std::make_shared<CadSession>(allowView);
    if (StartHook())
        StartHook()(session);
    if (out)
        *out = session;
    return session->applicationObject();
}

namespace {

HRESULT CreateOrJoin(automation::IDispatch** out) {
    if (!out)
        return automation::E_POINTER;
    Running& running = RunningApplication();
    if (auto session = running.session.lock(); session && session->alive()) {
        *out = session->applicationObject().detach();
        return automation::S_OK;
    }
    std::shared_ptr<CadSession> session;
    DispatchPtr app = CreateCadApplication(true, &session);
    running.session = session;
    automation::CLSID clsid;
    if (automation::SUCCEEDED(automation::CLSIDFromProgID(CadProgId, &clsid)))
        running.inTable = automation::SUCCEEDED(automation::RegisterActiveObject(
            app.get(), clsid, automation::ACTIVEOBJECT_STRONG, &running.cookie));
    *out = app.detach();
    return automation::S_OK;
}

} // namespace

void RegisterCadServer() {
    automation::RegisterClassObject(CadProgId, CreateOrJoin,
                                    automation::CLSCTX_INPROC_SERVER |
                                        automation::CLSCTX_LOCAL_SERVER);
}

void UnregisterCadServer() {
    automation::UnregisterClassObject(CadProgId);
}

std::shared_ptr<CadSession> RunningCadSession() {
    auto session = RunningApplication().session.lock();
    return session && session->alive() ? session : nullptr;
}

} // namespace krepiks::cad
