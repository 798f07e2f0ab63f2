#include "model/solidworks.h"

#include "model/build_script.h"
#include "model/ole_call.h"
#include "platform/exception.h"

namespace krepiks {

using namespace automation;

automation::Variant SolidWorksApp;

namespace {

// Creation first; when it fails in any way, attach to a running instance instead. The attach
// attempt's error is reported, except that with nothing running to attach to, the creation's
// own failure (which program could not be started, and why) is what the person can act on.
// SolidWorksApp changes only when one of them succeeds.
void ConnectSolidWorks() {
    CLSID clsid;
    DispatchPtr app;
    HRESULT created = CLSIDFromProgID(SolidWorksProgId, &clsid);
    if (SUCCEEDED(created))
        created =
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, app.put());
    if (FAILED(created) || !app) {
        const std::string why = TakeErrorDescription();
        app.reset();
        OleCheck(CLSIDFromProgID(SolidWorksProgId, &clsid));
        const HRESULT attached = GetActiveObject(clsid, nullptr, app.put());
        if (attached == MK_E_UNAVAILABLE && FAILED(created))
            throw EOleSysError(OleErrorText(created) + (why.empty() ? "" : ": " + why), created);
        OleCheck(attached);
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
