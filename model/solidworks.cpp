#include "model/solidworks.h"

#include "model/build_script.h"
#include "model/ole_call.h"

namespace krepiks {

using namespace automation;

automation::Variant SolidWorksApp;

namespace {

// Creation first; when it fails in any way, attach to a running instance instead. Only the
// attach attempt's error is reported. SolidWorksApp changes only when one of them succeeds.
void ConnectSolidWorks() {
    CLSID clsid;
    DispatchPtr app;
    HRESULT h = CLSIDFromProgID(SolidWorksProgId, &clsid);
    if (SUCCEEDED(h))
        h = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, app.put());
    if (FAILED(h) || !app) {
        app.reset();
        OleCheck(CLSIDFromProgID(SolidWorksProgId, &clsid));
        OleCheck(GetActiveObject(clsid, nullptr, app.put()));
        if (!app)
            OleCheck(E_NOINTERFACE);
    }
    SolidWorksApp = Variant::fromDispatch(std::move(app));
}

} // namespace

void BuildModel(TBolt& bolt) {
    DeriveProfile(bolt);
    ConnectSolidWorks();
    OleBatch batch;
    // Every reference below is this build's own and goes when the function ends, however.
    const OleVariant app(SolidWorksApp);
    app.put(u"Visible", Bool(true));
    const BStr templatePath = Str(fromUtf8(bolt.TemplatePath)).bstrVal();
    const OleVariant part =
        app.call(u"NewDocument", {Variant::fromBStr(templatePath), Int(0), Int(0), Int(0)});
    OleVariant view = part.get(u"ActiveView");
    RunBuildScript(part, view, bolt);
    batch.finish();
}

void CloseSolidWorks() {
    const OleVariant application = OleVariant(SolidWorksApp).get(u"Application");
    application.send(u"Quit");
}

void ReleaseSolidWorks() {
    SolidWorksApp = Variant();
}

} // namespace krepiks
