#include "null_server.h"

#include "model/solidworks.h"

namespace krepiks::bench {

using namespace automation;

NullServer::NullServer() {
    addProperty(
        u"Visible", [](const DispatchArgs&) { return Variant::fromBool(true); },
        [](const DispatchArgs&) {});
    addProperty(u"Calls", [this](const DispatchArgs&) {
        return Variant::fromInt(static_cast<int32_t>(calls));
    });
    for (const char16_t* getter : {u"NewDocument", u"ActiveView", u"SketchManager", u"Extension",
                                   u"FeatureManager", u"SelectionManager", u"Application"})
        addMethod(getter, 0, 4,
                  [this](const DispatchArgs&) { return Variant::fromDispatch(DispatchPtr(this)); });
    for (const char16_t* method :
         {u"InsertSketch", u"CreateLine", u"ClearSelection2", u"SelectByID2", u"FeatureRevolve",
          u"CreatePolygon", u"FeatureExtrusion", u"InsertAxis2", u"FeatureRevolveCut",
          u"RotateAboutCenter", u"EnableContourSelection", u"ViewZoomtofit2"})
        addMethod(method, 0, 20, [](const DispatchArgs&) {});
    addMethod(u"Quit", 0, [this](const DispatchArgs&) { quitAsked = true; });
}

HRESULT NullServer::Invoke(DISPID dispid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                           Variant* result, EXCEPINFO* excepInfo, uint32_t* argErr) {
    ++calls;
    if (recording && params)
        recorded.push_back({dispid, flags, *params});
    return DispatchObject::Invoke(dispid, lcid, flags, params, result, excepInfo, argErr);
}

ServedNull::ServedNull() : server_(new NullServer) {
    RegisterClassObject(SolidWorksProgId, [this](IDispatch** out) {
        *out = DispatchPtr(server_.get()).detach();
        return S_OK;
    });
}

ServedNull::~ServedNull() {
    ReleaseSolidWorks();
    UnregisterClassObject(SolidWorksProgId);
}

} // namespace krepiks::bench
