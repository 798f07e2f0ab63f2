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

// The outcome of an Invoke that answered h.
CallOutcome invokeFailure(HRESULT h, const EXCEPINFO& excepInfo) {
    if (h != DISP_E_EXCEPTION)
        return systemFailure(h);
    CallOutcome outcome;
    outcome.failure = CallOutcome::Failure::ServerException;
    outcome.code = excepInfo.scode != 0 ? excepInfo.scode : DISP_E_EXCEPTION;
    outcome.message = toUtf8(excepInfo.bstrDescription);
    outcome.source = toUtf8(excepInfo.bstrSource);
    // A server that gives no description still deserves a readable report.
    if (outcome.message.empty())
        outcome.message = OleErrorText(outcome.code);
    return outcome;
}

struct Deferred {
    trace::CallRecord record;
    std::u16string member;
    std::unique_ptr<DeferredAnswer> answer;
};

// What a failing answer means to the caller.
CallOutcome answerFailure(HRESULT h, const EXCEPINFO& excepInfo, const std::u16string& member) {
    CallOutcome outcome;
    if (h == E_NOOBJECT) {
        outcome.failure = CallOutcome::Failure::NoObject;
        outcome.code = h;
        outcome.message = "Variant does not reference an automation object";
        return outcome;
    }
    if (h == DISP_E_UNKNOWNNAME) {
        // A call on a result still on its way names its member: the server looked it up.
        outcome.failure = CallOutcome::Failure::UnknownName;
        outcome.code = h;
        outcome.message = "Method '" + toUtf8(member) + "' not supported by automation object";
        return outcome;
    }
    return invokeFailure(h, excepInfo);
}

// Traced as the caller would have been: a call on no object never reaches the runtime.
void finishFailed(trace::CallRecord& record, const CallOutcome& outcome) {
    if (outcome.failure == CallOutcome::Failure::NoObject)
        record.discard();
    else
        record.failed(outcome.message);
}

thread_local int promiseScopes = 0;

struct DeferredState {
    int scopes = 0;
    std::vector<Deferred> calls;
    std::unique_ptr<DeferredAnswer> handed; // between DeferAnswer and Invoke's return
    CallOutcome failure;                    // what SettleDeferredCalls last found
};

DeferredState& deferred() {
    thread_local DeferredState state;
    return state;
}

} // namespace

DeferredCalls::DeferredCalls() {
    ++deferred().scopes;
}

DeferredCalls::~DeferredCalls() {
    SettleDeferredCalls();
    --deferred().scopes;
}

AcceptPromises::AcceptPromises() {
    ++promiseScopes;
}

AcceptPromises::~AcceptPromises() {
    --promiseScopes;
}

bool AcceptingPromises() {
    return promiseScopes > 0;
}

bool DeferringCalls() {
    return deferred().scopes > 0;
}

bool HasDeferredCalls() {
    return !deferred().calls.empty();
}

void DeferAnswer(std::unique_ptr<DeferredAnswer> answer) {
    deferred().handed = std::move(answer);
}

CallOutcome SettleDeferredCalls() {
    DeferredState& d = deferred();
    std::vector<Deferred> calls;
    calls.swap(d.calls);
    CallOutcome first;
    for (Deferred& call : calls) {
        if (!first.ok()) {
            call.answer->wait(nullptr); // skipped by the server; only its answer is taken
            call.record.discard();
            continue;
        }
        EXCEPINFO excepInfo;
        const HRESULT h = call.answer->wait(&excepInfo);
        if (SUCCEEDED(h)) {
            const Variant result = call.answer->result();
            call.record.succeeded(&result);
            continue;
        }
        first = answerFailure(h, excepInfo, call.member);
        finishFailed(call.record, first);
    }
    d.failure = first;
    return first;
}

CallOutcome DispatchInvoke(IDispatch* target, const std::u16string& member, CallKind kind,
                           const std::vector<Variant>& args, Variant* result) {
    if (result)
        *result = Variant();
    if (!target)
        return systemFailure(E_POINTER);
    // Held for the length of the call, in case the call drops the caller's last reference.
    const DispatchPtr keep(target);
    trace::CallRecord record(target, member, kind, args);
    // A transport that settled earlier calls found one that failed: that is this call's end.
    const auto skipped = [&record] {
        record.discard();
        return deferred().failure;
    };

    DISPID dispid = DISPID_UNKNOWN;
    HRESULT h = target->GetIDsOfNames(member, LOCALE_USER_DEFAULT, &dispid);
    if (h == E_SKIPPED)
        return skipped();
    if (FAILED(h)) {
        CallOutcome outcome;
        if (h == E_NOOBJECT) {
            outcome = answerFailure(h, {}, member);
            record.discard();
            return outcome;
        }
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
    DeferredState& d = deferred();
    if (h == S_SENT && d.handed) {
        d.calls.push_back(Deferred{std::move(record), member, std::move(d.handed)});
        return {};
    }
    d.handed.reset();
    if (h == E_SKIPPED)
        return skipped();
    if (SUCCEEDED(h)) {
        record.succeeded(result);
        return {};
    }
    if (result)
        *result = Variant(); // a failed call hands back nothing
    const CallOutcome outcome = answerFailure(h, excepInfo, member);
    finishFailed(record, outcome);
    return outcome;
}

} // namespace automation
