#include "automation/dispatch_object.h"

#include "automation/trace.h"

#include <algorithm>

namespace automation {

std::u16string FoldMemberName(const std::u16string& name) {
    std::u16string folded = name;
    for (auto& c : folded) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        else if (c >= u'\u0410' && c <= u'\u042F')
            c = static_cast<char16_t>(c + 0x20);
        else if (c == u'\u0401')
            c = u'\u0451';
    }
    return folded;
}

namespace {
thread_local int unawaitedCalls = 0;
} // namespace

bool CallerWaits() {
    return unawaitedCalls == 0;
}

UnawaitedCall::UnawaitedCall() {
    ++unawaitedCalls;
}

UnawaitedCall::~UnawaitedCall() {
    --unawaitedCalls;
}

// ---- DispatchArgs ----------------------------------------------------------------------------

const Variant& DispatchArgs::operator[](size_t i) const {
    static const Variant missing;
    return i < args_.size() ? args_[i] : missing;
}

namespace {

const Variant& required(const DispatchArgs& args, size_t i) {
    if (!args.has(i))
        throw DispatchError(DISP_E_PARAMNOTOPTIONAL, i);
    return args[i];
}

void check(HRESULT h, size_t i) {
    if (FAILED(h))
        throw DispatchError(h, i);
}

} // namespace

double DispatchArgs::asDouble(size_t i) const {
    double v = 0;
    check(required(*this, i).toDouble(&v), i);
    return v;
}

int32_t DispatchArgs::asInt(size_t i) const {
    int32_t v = 0;
    check(required(*this, i).toInt(&v), i);
    return v;
}

bool DispatchArgs::asBool(size_t i) const {
    bool v = false;
    check(required(*this, i).toBool(&v), i);
    return v;
}

BStr DispatchArgs::asBStr(size_t i) const {
    BStr v;
    check(required(*this, i).toBStr(&v), i);
    return v;
}

DispatchPtr DispatchArgs::asDispatch(size_t i) const {
    DispatchPtr v;
    check(required(*this, i).toDispatch(&v), i);
    return v;
}

// ---- DispatchObject --------------------------------------------------------------------------

DispatchObject::~DispatchObject() {
    // A later object may reuse this address; the trace must not give it this one's number.
    trace::ForgetObject(this);
}

void DispatchObject::addMember(std::u16string name, uint16_t callFlags, size_t minArgs,
                               size_t maxArgs, Handler call, Handler put) {
    std::u16string key = FoldMemberName(name);
    Member member{std::move(name),
                  key,
                  callFlags,
                  minArgs,
                  std::max(minArgs, maxArgs),
                  std::move(call),
                  std::move(put),
                  std::nullopt};
    for (auto& existing : members_) {
        if (existing.key == key) {
            existing = std::move(member); // redeclaring keeps the DISPID
            return;
        }
    }
    members_.push_back(std::move(member));
}

std::vector<std::u16string> DispatchObject::names() const {
    std::vector<std::u16string> result;
    for (const auto& member : members_)
        result.push_back(member.name);
    return result;
}

const std::vector<uint16_t>* DispatchObject::parameterFlags(DISPID dispid) const {
    if (dispid < 1 || static_cast<size_t>(dispid) > members_.size())
        return nullptr;
    const auto& flags = members_[static_cast<size_t>(dispid - 1)].parameterFlags;
    return flags ? &*flags : nullptr;
}

void DispatchObject::setParameterFlags(const std::u16string& member, std::vector<uint16_t> flags) {
    const std::u16string key = FoldMemberName(member);
    for (auto& existing : members_)
        if (existing.key == key)
            existing.parameterFlags = std::move(flags);
}

void DispatchObject::onCall(const std::u16string&, uint16_t, const DispatchArgs&) {}

HRESULT DispatchObject::GetIDsOfNames(const std::u16string& name, LCID, DISPID* dispid) {
    if (!dispid)
        return E_POINTER;
    *dispid = DISPID_UNKNOWN;
    if (disconnected_)
        return *disconnected_;
    const std::u16string key = FoldMemberName(name);
    for (size_t i = 0; i < members_.size(); ++i) {
        if (members_[i].key == key) {
            *dispid = static_cast<DISPID>(i + 1);
            return S_OK;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT DispatchObject::Invoke(DISPID dispid, LCID, uint16_t flags, DISPPARAMS* params,
                               Variant* result, EXCEPINFO* excepInfo, uint32_t* argErr) {
    if (disconnected_)
        return *disconnected_;
    if (dispid < 1 || static_cast<size_t>(dispid) > members_.size())
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none;
    if (!params)
        params = &none;
    // Copies, so that a handler may change the object's members while it runs.
    const Member member = members_[static_cast<size_t>(dispid - 1)];
    DispatchArgs args(std::vector<Variant>(params->rgvarg.rbegin(), params->rgvarg.rend()));
    onCall(member.name, flags, args);

    const Handler* handler = nullptr;
    if (flags & DISPATCH_PROPERTYPUT) {
        if (!member.put)
            return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs() != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTFOUND;
        if (params->cArgs() != 1)
            return DISP_E_BADPARAMCOUNT;
        handler = &member.put;
    } else {
        if (params->cNamedArgs() != 0)
            return DISP_E_NONAMEDARGS;
        if ((flags & member.callFlags) == 0 || !member.call)
            return DISP_E_MEMBERNOTFOUND;
        if (args.size() < member.minArgs || args.size() > member.maxArgs)
            return DISP_E_BADPARAMCOUNT;
        handler = &member.call;
    }

    const auto failArgument = [&](std::optional<size_t> argument) {
        if (argErr && argument && *argument < args.size())
            *argErr = static_cast<uint32_t>(args.size() - 1 - *argument); // COM's order
    };
    const auto raise = [&](const std::string& description, const std::string& source,
                           HRESULT scode) {
        if (excepInfo) {
            *excepInfo = EXCEPINFO{};
            excepInfo->bstrDescription = fromUtf8(description);
            excepInfo->bstrSource = fromUtf8(source);
            excepInfo->scode = scode;
        }
        return DISP_E_EXCEPTION;
    };
    try {
        Variant value = (*handler)(args);
        if (result && !(flags & DISPATCH_PROPERTYPUT))
            *result = std::move(value);
        return S_OK;
    } catch (const DispatchError& error) {
        failArgument(error.argument());
        return error.code();
    } catch (const ServerException& error) {
        return raise(error.description(), error.source(), error.scode());
    } catch (const std::exception& error) {
        return raise(error.what(), {}, E_FAIL);
    } catch (...) {
        return RPC_E_SERVERFAULT;
    }
}

} // namespace automation
