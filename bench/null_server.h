#pragma once
// A CAD application that does nothing: it answers every member of the build's script, each
// object getter handing back the application itself, so a build costs only its calls. It
// counts them ("Calls" reads the count) and can keep them for replay.
#include "automation/dispatch_object.h"

#include <vector>

namespace krepiks::bench {

class NullServer : public automation::DispatchObject {
public:
    struct Call {
        automation::DISPID dispid;
        uint16_t flags;
        automation::DISPPARAMS params;
    };

    NullServer();

    automation::HRESULT Invoke(automation::DISPID dispid, automation::LCID lcid, uint16_t flags,
                               automation::DISPPARAMS* params, automation::Variant* result,
                               automation::EXCEPINFO* excepInfo, uint32_t* argErr) override;

    long calls = 0;
    bool recording = false;
    bool quitAsked = false;
    std::vector<Call> recorded;
};

// Serves the one server as "SldWorks.Application" in this process while this lives.
class ServedNull {
public:
    ServedNull();
    ~ServedNull();
    NullServer& server() { return *server_.get(); }

private:
    automation::ComPtr<NullServer> server_;
};

} // namespace krepiks::bench
