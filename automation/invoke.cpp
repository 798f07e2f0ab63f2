#include "automation/invoke.h"

#include "automation/trace.h"

namespace automation {

const char* CallKindName(CallKind kind) {
    switch (kind) {
    case CallKind::Method:
        return "method";
    case CallKind::Get:
        return "get";
    case CallKind::Put:
        return "put";
    case CallKind::MethodOrGet:
        return "method-or-get";
    }
    return "method";
}

uint16_t CallKindFlags(CallKind kind) {
    switch (kind) {
    case CallKind::Method:
        return DISPATCH_METHOD;
    case CallKind::Get:
        return DISPATCH_PROPERTYGET;
    case CallKind::Put:
        return DISPATCH_PROPERTYPUT;
    case CallKind::MethodOrGet:
        return DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    }
    return DISPATCH_METHOD;
}

namespace {

CallOutcome systemFailure(HRESULT code) {
    CallOutcome outcome;
    outcome.failure = CallOutcome::Failure::System;
    outcome.code = code;
    outcome.message = OleErrorText(code);
    return outcome;
}

} // namespace

CallOutcome DispatchInvoke(IDispatch* target, const std::u16string& member, CallKind kind,
                           const std::vector<Variant>& args, Variant* result) {
    if (result)
        *result = Variant();
    if (!target)
        return systemFailure(E_POINTER);
    // Held for the length of the call, in case the call drops the caller's last reference.
    const DispatchPtr keep(target);
    trace::CallRecord record(target, member, kind, args);

    DISPID dispid = DISPID_UNKNOWN;
    HRESULT h = target->GetIDsOfNames(member, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(h)) {
        CallOutcome outcome;
        if (h == DISP_E_UNKNOWNNAME) {
            outcome.failure = CallOutcome::Failure::UnknownName;
            outcome.code = h;
            outcome.message = "Method '" + toUtf8(member) + "' not supported by automation object";
        } else {
            outcome = systemFailure(h);
        }
        record.failed(outcome.message);
        return outcome;
    }

    DISPPARAMS params;
    params.rgvarg.assign(args.rbegin(), args.rend());
    if (kind == CallKind::Put)
        params.rgdispidNamedArgs.push_back(DISPID_PROPERTYPUT);
    EXCEPINFO excepInfo;
    uint32_t argErr = 0;
    h = target->Invoke(dispid, LOCALE_USER_DEFAULT, CallKindFlags(kind), &params, result,
                       &excepInfo, &argErr);
    if (SUCCEEDED(h)) {
        record.succeeded(result);
        return {};
    }
    if (result)
        *result = Variant(); // a failed call hands back nothing
    CallOutcome outcome;
    if (h == DISP_E_EXCEPTION) {
        outcome.failure = CallOutcome::Failure::ServerException;
        outcome.code = excepInfo.scode != 0 ? excepInfo.scode : DISP_E_EXCEPTION;
        outcome.message = toUtf8(excepInfo.bstrDescription);
        outcome.source = toUtf8(excepInfo.bstrSource);
        // A server that gives no description still deserves a readable report.
        if (outcome.message.empty())
            outcome.message = OleErrorText(outcome.code);
    } else {
        outcome = systemFailure(h);
    }
    record.failed(outcome.message);
    return outcome;
}

} // namespace automation
