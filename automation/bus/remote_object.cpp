#include "automation/bus/remote_object.h"

#include "automation/bus/channel.h"
#include "automation/bus/client_state.h"
#include "automation/bus/local_client.h"
#include "automation/bus/posted_run.h"
#include "automation/trace.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>

namespace automation::bus::client {

namespace {

// Member numbers handed out for names looked up on a result still on its way: the server
// looks the name up itself when the call comes.
constexpr DISPID FirstPromisedMember = -0x30000000;

} // namespace

uint32_t RemoteObject::Release() {
    ClientState& s = state();
    std::unique_lock lock(s.mutex);
    const uint32_t left = --refs_;
    if (left != 0)
        return left;
    if (auto it = s.proxies.find({server_, handle_}); it != s.proxies.end() && it->second == this)
        s.proxies.erase(it);
    const bool closing = s.closing;
    lock.unlock();
    // Releases go with this thread's last run to the server (see PostedRun::release):
    // a build drops a stand-in after nearly every call. Nothing in a run names this
    // proxy (a run holds those), so the release may come after its calls.
    if (const auto run = lastRun.lock(); !closing && run && run->server() == server_) {
        run->release(handle_, receipts_);
        delete this;
        return 0;
    }
    const std::optional<Channel> channel = closing ? std::nullopt : ChannelTo(server_);
    if (channel && channel->connection.isConnected()) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            channel->service, QString::fromLatin1(ObjectPath), QString::fromLatin1(Interface),
            QStringLiteral("Release"));
        message << QVariant::fromValue<quint64>(handle_) << QVariant::fromValue<quint64>(receipts_);
        message.setAutoStartService(false);
        channel->connection.send(message);
    }
    delete this;
    return 0;
}

bool RemoteObject::ReadsOnly(DISPID dispid, const std::u16string& name,
                             const DISPPARAMS& params) const {
    if (!params.rgdispidNamedArgs.empty())
        return false;
    ClientState& s = state();
    std::lock_guard lock(s.mutex);
    const std::vector<uint16_t>* declared = nullptr;
    if (name.empty()) {
        const auto it =
            s.parameterFlags.find(std::make_tuple(server_, HandleClass(handle_), dispid));
        declared = it == s.parameterFlags.end() ? nullptr : &it->second;
    } else {
        const auto it = s.parameterFlagsByName.find(std::make_pair(server_, name));
        declared = it == s.parameterFlagsByName.end() ? nullptr : &it->second;
    }
    return declared && ReferencesOnlyRead(*declared, params);
}

bool RemoteObject::KnowsParametersOf(const std::u16string& name) const {
    ClientState& s = state();
    std::lock_guard lock(s.mutex);
    return s.parameterFlagsByName.count(std::make_pair(server_, name)) != 0;
}

Variant RemoteObject::fulfil(CallOutcome* outcome) {
    if (!promised_)
        return Variant::fromDispatch(DispatchPtr(this));
    if (!settled_) {
        const CallOutcome settled = SettleDeferredCalls();
        if (!settled.ok()) {
            *outcome = settled;
            return {};
        }
    }
    return value_;
}

RemoteObject::~RemoteObject() {
    trace::ForgetObject(this);
}

namespace {

// The trace numbers a promised result as the object it turned out to be.
const IDispatch* IdentityOf(const IDispatch* object) {
    const auto* remote = dynamic_cast<const RemoteObject*>(object);
    if (remote && remote->promised_)
        if (const IDispatch* resolved = remote->resolved())
            return resolved;
    return object;
}

// A new stand-in for the result of a call on server, with a handle of this client's own.
RemoteObject* NewPromise(const QString& server) {
    static std::atomic<uint64_t> next{1};
    static const bool identified = (trace::SetIdentityOf(&IdentityOf), true);
    (void)identified;
    return new RemoteObject(server, PromiseHandleBit | next++, true);
}

} // namespace

IDispatch* Adopt(const QString& server, uint64_t handle) {
    if (handle == 0)
        return nullptr;
    ClientState& s = state();
    std::lock_guard lock(s.mutex);
    RemoteObject*& slot = s.proxies[{server, handle}];
    if (slot) {
        ++slot->receipts_;
        slot->AddRef();
    } else {
        slot = new RemoteObject(server, handle);
    }
    return slot;
}

Variant FromWire(const QString& server, const WireValue& value) {
    switch (value.type) {
    case VT_I4:
        return Variant::fromInt(static_cast<int32_t>(value.number));
    case VT_R8:
        return Variant::fromDouble(value.real);
    case VT_CY:
        return Variant::fromCurrency(CY{value.number});
    case VT_BOOL:
        return Variant::fromBool(value.number != 0);
    case VT_BSTR:
        return Variant::fromBStr(value.text);
    case VT_DISPATCH:
        return Variant::fromDispatch(
            DispatchPtr::attach(Adopt(server, static_cast<uint64_t>(value.number))));
    default:
        return Variant();
    }
}

namespace {

// The handle an object travels as to server; false when it cannot travel there.
bool HandleFor(const QString& server, const IDispatch* object, int64_t* handle) {
    *handle = 0;
    if (!object)
        return true;
    const auto* remote = dynamic_cast<const RemoteObject*>(object);
    if (!remote || remote->server_ != server)
        return false;
    *handle = static_cast<int64_t>(remote->handle_);
    return true;
}

} // namespace

HRESULT RemoteObject::GetIDsOfNames(const std::u16string& name, LCID lcid, DISPID* dispid) {
    if (!dispid)
        return E_POINTER;
    *dispid = DISPID_UNKNOWN;
    // Bus texts end at a zero character; no member has one in its name.
    if (name.find(u'\0') != std::u16string::npos)
        return DISP_E_UNKNOWNNAME;
    if (promised_) {
        if (settled_) {
            IDispatch* object = resolved();
            return object ? object->GetIDsOfNames(name, lcid, dispid) : E_NOOBJECT;
        }
        names_.push_back(name);
        *dispid = FirstPromisedMember - static_cast<DISPID>(names_.size() - 1);
        return S_OK;
    }
    // Only a found name is kept: whatever made a lookup fail (an unknown name, a server that
    // has gone) is asked about again, so the caller meets it as before.
    const uint64_t memberClass = HandleClass(handle_);
    ClientState& s = state();
    const auto key = std::make_tuple(server_, memberClass, lcid, name);
    if (memberClass != NoHandleClass) {
        std::lock_guard lock(s.mutex);
        if (const auto it = s.memberNumbers.find(key); it != s.memberNumbers.end()) {
            *dispid = it->second;
            return S_OK;
        }
    }
    const Answer answer =
        CallServer(server_, "GetIDsOfNames",
                   {QVariant::fromValue<quint64>(handle_), QString::fromStdU16String(name),
                    QVariant::fromValue<quint32>(lcid)},
                   "iiaq");
    if (answer.skipped)
        return E_SKIPPED;
    if (FAILED(answer.failure))
        return answer.failure;
    *dispid = answer.arguments[1].toInt();
    const HRESULT h = answer.arguments[0].toInt();
    if (h == S_OK && memberClass != NoHandleClass) {
        const auto flags = qdbus_cast<QList<quint16>>(answer.arguments[2]);
        std::lock_guard lock(s.mutex);
        s.memberNumbers.emplace(key, *dispid);
        if (!flags.isEmpty()) {
            std::vector<uint16_t> declared(flags.begin(), flags.end());
            const auto [byName, added] =
                s.parameterFlagsByName.try_emplace(std::make_pair(server_, name), declared);
            if (!added && byName->second != declared)
                byName->second.clear();
            s.parameterFlags.emplace(std::make_tuple(server_, memberClass, *dispid),
                                     std::move(declared));
        }
    }
    return h;
}

HRESULT RemoteObject::Invoke(DISPID dispid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                             Variant* result, EXCEPINFO* excepInfo, uint32_t* argErr) {
    DISPPARAMS none;
    if (!params)
        params = &none;
    const bool byReference =
        std::any_of(params->rgvarg.begin(), params->rgvarg.end(),
                    [](const Variant& arg) { return (arg.vt() & VT_BYREF) != 0; });
    // A member looked up before the result came is called by its name.
    QString byName;
    if (promised_) {
        const DISPID index = FirstPromisedMember - dispid;
        if (dispid <= FirstPromisedMember && static_cast<size_t>(index) < names_.size()) {
            const std::u16string& name = names_[index];
            if (byReference && !settled_ && !KnowsParametersOf(name)) {
                // Nothing tells yet whether the member changes what it is passed: the call
                // waits for the result and goes to it, whose lookup says so for next time.
                CallOutcome outcome;
                fulfil(&outcome);
                if (!outcome.ok())
                    return E_SKIPPED;
                IDispatch* object = resolved();
                if (!object)
                    return E_NOOBJECT;
                DISPID member = DISPID_UNKNOWN;
                const HRESULT found = object->GetIDsOfNames(name, lcid, &member);
                if (FAILED(found))
                    return found;
                return object->Invoke(member, lcid, flags, params, result, excepInfo, argErr);
            }
            byName = QString::fromStdU16String(name);
        } else {
            IDispatch* object = resolved();
            return object ? object->Invoke(dispid, lcid, flags, params, result, excepInfo, argErr)
                          : E_NOOBJECT;
        }
    }
    const auto refuse = [&](HRESULT code, size_t at) {
        if (argErr)
            *argErr = static_cast<uint32_t>(at);
        return code;
    };
    std::vector<WireValue> values;
    std::vector<DispatchPtr> proxies{DispatchPtr(this)}; // the proxies this call names
    for (size_t i = 0; i < params->rgvarg.size(); ++i) {
        const Variant& arg = params->rgvarg[i];
        WireValue value;
        value.type = arg.vt();
        switch (arg.vt()) {
        case VT_I4:
            value.number = arg.intVal();
            break;
        case VT_R8:
            value.real = arg.dblVal();
            break;
        case VT_CY:
            value.number = arg.cyVal().int64;
            break;
        case VT_BOOL:
            value.number = arg.boolVal();
            break;
        case VT_BSTR:
            value.text = arg.bstrVal();
            break;
        case VT_DISPATCH:
            if (!HandleFor(server_, arg.dispVal().get(), &value.number))
                return refuse(DISP_E_TYPEMISMATCH, i);
            proxies.emplace_back(arg.dispVal().get());
            break;
        case VT_BYREF | VT_R8:
            if (!arg.pdblVal())
                return refuse(E_POINTER, i);
            value.real = *arg.pdblVal();
            break;
        case VT_BYREF | VT_DISPATCH:
            if (!arg.ppdispVal())
                return refuse(E_POINTER, i);
            if (!HandleFor(server_, *arg.ppdispVal(), &value.number))
                return refuse(DISP_E_TYPEMISMATCH, i);
            proxies.emplace_back(*arg.ppdispVal());
            break;
        default:
            value.type = VT_EMPTY;
        }
        values.push_back(std::move(value));
    }
    // Nothing of a call without a result or a by-reference value comes back to the caller
    // but its success: it need not be waited for. Nor need a result that the caller takes
    // as a promise, nor references the member only reads.
    const bool posted = DeferringCalls() && (!result || AcceptingPromises()) &&
                        (!byReference || ReadsOnly(dispid, byName.toStdU16String(), *params));
    if (posted) {
        RemoteObject* promise = result ? NewPromise(server_) : nullptr;
        DispatchPtr held = DispatchPtr::attach(promise);
        HRESULT failure = S_OK;
        const std::optional<Channel> channel = ChannelAfterDeferred(server_, &failure);
        if (!channel)
            return failure;
        if (openRun && (openRun->server() != server_ || openRun->full()))
            SendOpenRun();
        if (!openRun) {
            openRun = std::make_shared<PostedRun>(server_, *channel);
            lastRun = openRun;
        }
        const size_t index = openRun->add(handle_, byName, byName.isEmpty() ? dispid : 0, lcid,
                                          flags, result != nullptr, promise ? promise->handle_ : 0,
                                          values, params->rgdispidNamedArgs, std::move(proxies));
        DeferAnswer(std::make_unique<PostedAnswer>(openRun, index, held));
        deferredTo = server_;
        if (result)
            *result = Variant::fromDispatch(std::move(held));
        return S_SENT;
    }
    QList<QVariant> arguments{QVariant::fromValue<quint64>(handle_),
                              byName,
                              QVariant::fromValue<qint32>(byName.isEmpty() ? dispid : 0),
                              QVariant::fromValue<quint32>(lcid),
                              QVariant::fromValue<quint16>(flags),
                              result != nullptr,
                              QVariant::fromValue<quint64>(0)};
    WireValues wire;
    for (const WireValue& value : values)
        wire.append(value);
    wire.appendTo(arguments);
    arguments << QVariant::fromValue(
        QList<qint32>(params->rgdispidNamedArgs.begin(), params->rgdispidNamedArgs.end()));
    const Answer answer = CallServer(server_, "InvokeAs", arguments, "iaqaxadaqqssiu");
    if (answer.skipped)
        return E_SKIPPED;
    if (FAILED(answer.failure))
        return answer.failure;

    std::vector<WireValue> outs;
    if (!ReadWireValues(answer.arguments, 1, &outs) || outs.size() != 1 + params->rgvarg.size())
        return RPC_S_CALL_FAILED;
    const HRESULT h = answer.arguments[0].toInt();
    // Every handle in the answer is adopted, even where it is not wanted, so that its count
    // goes back to the server with the proxy.
    Variant value = FromWire(server_, outs[0]);
    if (SUCCEEDED(h) && result)
        *result = std::move(value);
    for (size_t i = 0; i < params->rgvarg.size(); ++i) {
        const WireValue& back = outs[i + 1];
        const Variant& arg = params->rgvarg[i];
        if (back.type == (VT_BYREF | VT_R8)) {
            if (arg.vt() == (VT_BYREF | VT_R8))
                *arg.pdblVal() = back.real;
        } else if (back.type == (VT_BYREF | VT_DISPATCH)) {
            DispatchPtr now =
                DispatchPtr::attach(Adopt(server_, static_cast<uint64_t>(back.number)));
            if (arg.vt() == (VT_BYREF | VT_DISPATCH)) {
                IDispatch* old = std::exchange(*arg.ppdispVal(), now.detach());
                if (old)
                    old->Release();
            }
        }
    }
    if (h == DISP_E_EXCEPTION)
        ReadExcepInfo(answer, excepInfo);
    const uint32_t serverArgErr = answer.arguments[9].toUInt();
    if (FAILED(h) && argErr && serverArgErr != NoArgError)
        *argErr = serverArgErr;
    return h;
}

} // namespace automation::bus::client

namespace automation::bus {

bool IsRemoteObject(const IDispatch* object) {
    return dynamic_cast<const client::RemoteObject*>(object) != nullptr;
}

} // namespace automation::bus
