#pragma once
// The call trace. When the environment variable KREPIKS_AUTOMATION_TRACE names a file,
// DispatchInvoke appends one JSON object per line for every call it makes, flushed at once:
//
//   {"object": 3, "member": "CreateLine", "kind": "method",
//    "args": [{"type": "&dbl", "value": 0.0060000000000000001}, {"type": "int", "value": 0}],
//    "result": "empty"}
//
// or, for a failed call, "error": "<message>" in place of "result". kind is "method", "get",
// "put" or "method-or-get". Each argument is {"type": T, "value": V} with T one of int, dbl,
// cur, bool, str, disp, &dbl, &disp, empty; V is the integer, the double in 17 significant
// digits, the currency's count of ten-thousandths, true/false, the text (null for the null
// text), an object number (null for no object; for &disp the referenced object's), the
// referenced double's value at the time of the call for &dbl, and null for empty. Arguments
// are in the caller's order, not COM's. "result" is the result's T name ("empty" when the
// call asked for none). Non-finite doubles are written as the strings "NaN", "Infinity" and
// "-Infinity". A call that fails before Invoke (an unknown name) is traced with its error too;
// a call the program cannot make at all (no object to call on) never reaches this runtime.
//
// Object numbers count the distinct objects the trace has seen, from 1, in the order they
// first appear in the lines as written: the called object, then the arguments, then the
// result. A
// DispatchObject that is destroyed drops its number, so an object later created at the same
// address gets a new one.
//
// Without the variable nothing is written and the only cost is one relaxed atomic load per
// call. A trace file that cannot be opened turns tracing off; it never fails a call.
#include "automation/invoke.h"

#include <string>
#include <utility>
#include <vector>

namespace automation::trace {

// Whether calls are traced. The variable is read at the first call (or after Reload()).
bool Enabled();

// Closes the trace file, forgets every object number and reads the variable again.
void Reload();

// The T name of a value: "int", "dbl", "cur", "bool", "str", "disp", "&dbl", "&disp", "empty".
const char* TypeName(const Variant& value);

// Called by DispatchObject's destructor.
void ForgetObject(const IDispatch* object);

// What an object stands for in the trace: a transport that hands out a stand-in for a result
// still on its way (see invoke.h) names the object it turned out to be, once it has come.
// The stand-in is numbered as that object, as the call that waited would have been.
using IdentityOf = const IDispatch* (*)(const IDispatch* object);
void SetIdentityOf(IdentityOf identity);

// One traced call: started before Invoke (so references show the values sent), written when
// finished with the result or the error. The line, its object numbers included, is made
// then: a call whose answer came later is numbered in the order of the lines, and one
// never written gives out no numbers. Does nothing when tracing is off.
class CallRecord {
public:
    CallRecord(const IDispatch* target, const std::u16string& member, CallKind kind,
               const std::vector<Variant>& args);
    CallRecord(CallRecord&& other) noexcept;
    CallRecord& operator=(CallRecord&&) = delete;
    ~CallRecord();
    void succeeded(const Variant* result);
    void failed(const std::string& message);
    // The call is not written at all.
    void discard() { active_ = false; }

private:
    struct Arg;
    std::string head() const;

    bool active_ = false;
    // Held until the line is written, so that no object's number goes with it meanwhile.
    DispatchPtr target_;
    std::u16string member_;
    CallKind kind_ = CallKind::Method;
    std::vector<Arg> args_;
};

} // namespace automation::trace
