#pragma once
// Client side of the automation runtime: one late-bound call by name. Every call the program
// makes on an automation object goes through DispatchInvoke, which is also where the call
// trace is written (see trace.h).
#include "automation/automation.h"

#include <memory>
#include <string>
#include <vector>

namespace automation {

inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

// How a member is invoked.
enum class CallKind {
    Method,      // DISPATCH_METHOD
    Get,         // DISPATCH_PROPERTYGET
    Put,         // DISPATCH_PROPERTYPUT with the named argument DISPID_PROPERTYPUT
    MethodOrGet, // DISPATCH_METHOD | DISPATCH_PROPERTYGET
};

// "method", "get", "put" or "method-or-get".
const char* CallKindName(CallKind kind);
uint16_t CallKindFlags(CallKind kind);

struct CallOutcome {
    enum class Failure {
        None,
        UnknownName,     // GetIDsOfNames answered DISP_E_UNKNOWNNAME
        ServerException, // Invoke answered DISP_E_EXCEPTION; message is the server's description
        System,          // any other failing HRESULT; message is OleErrorText(code)
        NoObject,        // a result called on turned out to hold no object (see E_NOOBJECT)
    };
    Failure failure = Failure::None;
    HRESULT code = S_OK; // for ServerException the server's scode, else DISP_E_EXCEPTION
    std::string message; // UTF-8, without a closing full stop added
    std::string source;  // ServerException only
    bool ok() const { return failure == Failure::None; }
};

// Calls whose answer nobody reads can go out without waiting for it, inside a
// DeferredCalls scope on the calling thread. A transport that sends such a call (no result
// asked for, nothing passed by reference) may return S_SENT from Invoke after handing its
// answer to DeferAnswer; DispatchInvoke then reports success for now and keeps the call's
// trace line. Before the transport blocks on any answer it calls SettleDeferredCalls, which
// waits for the deferred answers in the order sent and writes their trace lines. The first
// of them that failed is the outcome of the call being made (the transport answers that
// call with E_SKIPPED): its server has carried out nothing sent after the failed call, and
// the trace forgets those calls, so a build fails with the same message and the same trace
// as one that waited on every call.
inline constexpr HRESULT S_SENT = hr(0x0004F001);
inline constexpr HRESULT E_SKIPPED = hr(0x8004F002);

// A call's result, too, need not be waited for when the caller only calls on it: inside an
// AcceptPromises scope (and a DeferredCalls one) a transport may send a call that asks for a
// result and hand back at once an object that stands for it (one that is also a
// PromisedResult). Calls on that object go out in turn. When the result comes it was either
// an object, and the stand-in is that object from then on (the trace numbers it so), or not,
// and any call made on the stand-in fails with E_NOOBJECT: the caller's "no object to call
// on", met where it would have been met had the caller waited. Only a caller that can tell
// a stand-in and ask for the value (PromisedResult::fulfil) should accept promises.
inline constexpr HRESULT E_NOOBJECT = hr(0x8004F003);

class PromisedResult {
public:
    virtual ~PromisedResult() = default;
    // Waits for every call outstanding and returns the result this stands for; on a failure
    // among them returns empty and sets *outcome.
    virtual Variant fulfil(CallOutcome* outcome) = 0;
};

class AcceptPromises {
public:
    AcceptPromises();
    ~AcceptPromises();
    AcceptPromises(const AcceptPromises&) = delete;
    AcceptPromises& operator=(const AcceptPromises&) = delete;
};
bool AcceptingPromises();

class DeferredAnswer {
public:
    virtual ~DeferredAnswer() = default;
    // Waits for the answer, at most the transport's call time; fills excepInfo on
    // DISP_E_EXCEPTION.
    virtual HRESULT wait(EXCEPINFO* excepInfo) = 0;
    // The result the call answered with, once waited for (empty when it asked for none).
    virtual Variant result() { return {}; }
};

class DeferredCalls {
public:
    DeferredCalls();
    // Settles what is still outstanding; a failure is then nobody's to report.
    ~DeferredCalls();
    DeferredCalls(const DeferredCalls&) = delete;
    DeferredCalls& operator=(const DeferredCalls&) = delete;
};

// Whether calls on this thread may be deferred now.
bool DeferringCalls();
// Whether deferred answers are outstanding on this thread.
bool HasDeferredCalls();
void DeferAnswer(std::unique_ptr<DeferredAnswer> answer);
// The first failure among the outstanding deferred calls, or success; none is left after.
CallOutcome SettleDeferredCalls();

// Looks member up with GetIDsOfNames, then invokes it with args given in the order the
// caller writes them (reversed into COM's order here). For Put the last argument is the
// value. result may be null when the caller does not ask for one; otherwise it is cleared
// first. A null target fails with E_POINTER.
CallOutcome DispatchInvoke(IDispatch* target, const std::u16string& member, CallKind kind,
                           const std::vector<Variant>& args, Variant* result);

} // namespace automation
