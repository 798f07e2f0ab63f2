#pragma once
// Client side of the automation runtime: one late-bound call by name. Every call the program
// makes on an automation object goes through DispatchInvoke, which is also where the call
// trace is written (see trace.h).
#include "automation/automation.h"

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
    };
    Failure failure = Failure::None;
    HRESULT code = S_OK; // for ServerException the server's scode, else DISP_E_EXCEPTION
    std::string message; // UTF-8, without a closing full stop added
    std::string source;  // ServerException only
    bool ok() const { return failure == Failure::None; }
};

// Looks member up with GetIDsOfNames, then invokes it with args given in the order the
// caller writes them (reversed into COM's order here). For Put the last argument is the
// value. result may be null when the caller does not ask for one; otherwise it is cleared
// first. A null target fails with E_POINTER.
CallOutcome DispatchInvoke(IDispatch* target, const std::u16string& member, CallKind kind,
                           const std::vector<Variant>& args, Variant* result);

} // namespace automation
