#pragma once
// Late binding for the program's automation calls (the build, the link opener): a value the
// program calls members on by name, so that each call reads like the call it makes:
//
//   part.get(u"Extension").send(u"SelectByID2", {Str(u"Эскиз1"), Str(u"SKETCH"), Int(0), ...});
//
// get() asks for a zero-argument member's result (method-or-get); call() invokes a method
// and keeps its result (inside an OleBatch, a result from another program may come later:
// calls on it go out meanwhile, and reading it waits); send() invokes a method for its effect only
// (no result asked for); put() writes a property. Each one looks the name up anew and invokes it. A
// failure throws:
// - EOleError "Method 'X' not supported by automation object" for an unknown name;
// - EOleException with the server's description when the server raises an exception;
// - EOleSysError with the system's text for any other failing HRESULT;
// - EOleError "Variant does not reference an automation object" for a call on a value that
//   holds no object (e.g. a document that NewDocument did not return).
// Temporaries release their reference at the end of the statement that made them.
#include "automation/automation.h"
#include "automation/invoke.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace krepiks {

// Argument makers, named after the argument types of the calls.
inline automation::Variant Int(int32_t v) {
    return automation::Variant::fromInt(v);
}
inline automation::Variant Dbl(double v) {
    return automation::Variant::fromDouble(v);
}
inline automation::Variant Cur(double v) {
    return automation::Variant::fromCurrency(automation::CY::fromDouble(v));
}
inline automation::Variant Bool(bool v) {
    return automation::Variant::fromBool(v);
}
// OLE text; an empty text travels as the null text.
automation::Variant Str(std::u16string_view text);
inline automation::Variant RefDbl(double& target) {
    return automation::Variant::byRefDouble(&target);
}
inline automation::Variant RefDisp(automation::IDispatch*& target) {
    return automation::Variant::byRefDispatch(&target);
}

class OleVariant {
public:
    using Args = std::initializer_list<automation::Variant>;

    OleVariant() = default;
    explicit OleVariant(automation::Variant value) : value_(std::move(value)) {}
    explicit OleVariant(automation::DispatchPtr object)
        : value_(automation::Variant::fromDispatch(std::move(object))) {}

    // The value itself: a result still on its way is waited for here (and a failure among
    // the calls outstanding thrown).
    const automation::Variant& value() const;
    bool holdsObject() const;

    OleVariant get(std::u16string_view member) const;
    OleVariant call(std::u16string_view member, Args args) const;
    void send(std::u16string_view member, Args args = {}) const;
    void put(std::u16string_view member, automation::Variant value) const;

private:
    // A stand-in for a result on its way becomes the result when the value is asked for.
    mutable automation::Variant value_;
};

// For the length of a batch, calls whose answer the program does not read (send() and
// put() without a by-reference argument) go out without waiting for it where the server is
// in another program; the next call that needs an answer, or finish(), waits for them. The
// first failure among them is thrown there, with the message its own call would have given,
// and nothing sent after it is carried out.
class OleBatch {
public:
    // Waits for what is outstanding and throws the first failure.
    void finish();

private:
    automation::DeferredCalls calls_;
};

// Throws the error for a failed HRESULT from the platform calls around the build (class
// lookup, creation, attaching): EOleSysError with the system's text.
void OleCheck(automation::HRESULT code);

} // namespace krepiks
