#include "model/ole_call.h"

#include "automation/invoke.h"
#include "platform/exception.h"

#include <optional>
#include <vector>

namespace krepiks {

using automation::CallKind;
using automation::CallOutcome;
using automation::Variant;

automation::Variant Str(std::u16string_view text) {
    if (text.empty())
        return Variant::fromBStr(automation::BStr());
    return Variant::fromBStr(automation::BStr(std::u16string(text)));
}

void OleCheck(automation::HRESULT code) {
    if (automation::FAILED(code))
        throw EOleSysError(automation::OleErrorText(code), code);
}

namespace {

automation::IDispatch* targetOf(const Variant& value) {
    automation::IDispatch* target = nullptr;
    if (value.vt() == automation::VT_DISPATCH)
        target = value.dispVal().get();
    else if (value.vt() == (automation::VT_BYREF | automation::VT_DISPATCH) && value.ppdispVal())
        target = *value.ppdispVal();
    return target;
}

void raise(const CallOutcome& outcome) {
    switch (outcome.failure) {
    case CallOutcome::Failure::None:
        return;
    case CallOutcome::Failure::UnknownName:
        throw EOleError(outcome.message);
    case CallOutcome::Failure::ServerException:
        throw EOleException(outcome.message, outcome.code, outcome.source);
    case CallOutcome::Failure::System:
        throw EOleSysError(outcome.message, outcome.code);
    case CallOutcome::Failure::NoObject:
        throw EOleError(outcome.message);
    }
}

// Waits for a result still on its way and puts it in place of its stand-in.
void fulfil(Variant& value) {
    auto* promise = value.vt() == automation::VT_DISPATCH
                        ? dynamic_cast<automation::PromisedResult*>(value.dispVal().get())
                        : nullptr;
    if (!promise)
        return;
    CallOutcome outcome;
    Variant settled = promise->fulfil(&outcome);
    raise(outcome);
    value = std::move(settled);
}

Variant invoke(const Variant& on, std::u16string_view member, CallKind kind,
               std::vector<Variant> args, bool wantResult) {
    // Only results kept in an OleVariant may come later: it knows to wait when read.
    std::optional<automation::AcceptPromises> promises;
    if (wantResult)
        promises.emplace();
    automation::IDispatch* target = targetOf(on);
    if (!target) {
        // A call sent earlier that failed came first.
        raise(automation::SettleDeferredCalls());
        throw EOleError("Variant does not reference an automation object");
    }
    Variant result;
    raise(automation::DispatchInvoke(target, std::u16string(member), kind, args,
                                     wantResult ? &result : nullptr));
    return result;
}

} // namespace

void OleBatch::finish() {
    raise(automation::SettleDeferredCalls());
}

const automation::Variant& OleVariant::value() const {
    fulfil(value_);
    return value_;
}

bool OleVariant::holdsObject() const {
    fulfil(value_);
    return value_.vt() == automation::VT_DISPATCH && value_.dispVal();
}

OleVariant OleVariant::get(std::u16string_view member) const {
    return OleVariant(invoke(value_, member, CallKind::MethodOrGet, {}, true));
}

OleVariant OleVariant::call(std::u16string_view member, Args args) const {
    return OleVariant(invoke(value_, member, CallKind::Method, args, true));
}

void OleVariant::send(std::u16string_view member, Args args) const {
    invoke(value_, member, CallKind::Method, args, false);
}

void OleVariant::put(std::u16string_view member, automation::Variant value) const {
    invoke(value_, member, CallKind::Put, {std::move(value)}, false);
}

} // namespace krepiks
