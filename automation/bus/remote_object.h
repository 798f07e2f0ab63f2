#pragma once
// The proxy of a server program's object, and the stand-in for a result still on its way
// from it: GetIDsOfNames and Invoke cross to the server, or join a run of posted calls.
#include "automation/automation.h"
#include "automation/bus/protocol.h"
#include "automation/invoke.h"

#include <QString>

#include <atomic>
#include <string>
#include <vector>

namespace automation::bus::client {

class RemoteObject final : public IDispatch, public PromisedResult {
public:
    RemoteObject(QString server, uint64_t handle, bool promised = false)
        : server_(std::move(server)), handle_(handle), promised_(promised) {}

    uint32_t AddRef() override { return ++refs_; }

    uint32_t Release() override;

    HRESULT GetIDsOfNames(const std::u16string& name, LCID lcid, DISPID* dispid) override;
    HRESULT Invoke(DISPID dispid, LCID lcid, uint16_t flags, DISPPARAMS* params, Variant* result,
                   EXCEPINFO* excepInfo, uint32_t* argErr) override;

    // Whether the member's type information says that it only reads every by-reference
    // value of params; false when the server gave none. A member is known by its number on
    // an object of a known class, else by name.
    bool ReadsOnly(DISPID dispid, const std::u16string& name, const DISPPARAMS& params) const;

    // Whether type information for name is at hand (see ReadsOnly).
    bool KnowsParametersOf(const std::u16string& name) const;

    Variant fulfil(CallOutcome* outcome) override;

    // What a promised result turned out to be; called once, when its answer is taken.
    void settle(Variant value) {
        value_ = std::move(value);
        if (value_.vt() == VT_DISPATCH)
            resolved_.store(value_.dispVal().get(), std::memory_order_release);
        settled_ = true;
    }

    // The object a promised result turned out to be, if it has come and was one.
    IDispatch* resolved() const { return resolved_.load(std::memory_order_acquire); }

    const QString server_;
    const uint64_t handle_;
    const bool promised_;
    uint64_t receipts_ = 1; // counts the server gave out for this proxy; under the mutex

private:
    ~RemoteObject() override;

    std::atomic<uint32_t> refs_{1};
    // A promised result: whether its answer has been taken, what it was, and the names
    // looked up on it before then.
    bool settled_ = false;
    Variant value_;
    std::atomic<IDispatch*> resolved_{nullptr};
    std::vector<std::u16string> names_;
};

// A reference of the caller's own to the proxy of handle on server (null for handle 0).
IDispatch* Adopt(const QString& server, uint64_t handle);

Variant FromWire(const QString& server, const WireValue& value);

} // namespace automation::bus::client
