#include "automation/bus/call_dispatch.h"

#include "automation/dispatch_object.h"
#include "automation/invoke.h"

#include <QDBusArgument>
#include <QStringList>

#include <optional>

namespace automation::bus::server {

QList<QVariant> CallDispatch::getIDsOfNames(const QString& client, const QList<QVariant>& args) {
    DispatchPtr target;
    HRESULT h = RPC_E_DISCONNECTED;
    DISPID dispid = DISPID_UNKNOWN;
    QList<quint16> parameterFlags;
    if (handles_.resolve(client, args[0].toULongLong(), &target) && target)
        h = target->GetIDsOfNames(args[1].toString().toStdU16String(), args[2].toUInt(), &dispid);
    if (h == S_OK)
        if (const auto* declared = dynamic_cast<const DispatchObject*>(target.get()))
            if (const std::vector<uint16_t>* flags = declared->parameterFlags(dispid))
                parameterFlags = QList<quint16>(flags->begin(), flags->end());
    return {QVariant::fromValue<qint32>(h), QVariant::fromValue<qint32>(dispid),
            QVariant::fromValue(parameterFlags)};
}

QList<QVariant> CallDispatch::skipped(bool lookup) {
    if (lookup)
        return {QVariant::fromValue<qint32>(E_SKIPPED), QVariant::fromValue<qint32>(0),
                QVariant::fromValue(QList<quint16>{})};
    Outcome outcome;
    outcome.h = E_SKIPPED;
    outcome.outs.append(WireValue{});
    return invokeReply(outcome);
}

QList<QVariant> CallDispatch::invokeReply(const Outcome& outcome) {
    QList<QVariant> out{QVariant::fromValue<qint32>(outcome.h)};
    outcome.outs.appendTo(out);
    out << QVariant::fromValue<quint16>(outcome.info.wCode)
        << QString::fromStdU16String(outcome.info.bstrSource)
        << QString::fromStdU16String(outcome.info.bstrDescription)
        << QVariant::fromValue<qint32>(outcome.info.scode)
        << QVariant::fromValue<quint32>(outcome.argErr);
    return out;
}

bool CallDispatch::ValidPromise(uint64_t promise) {
    return promise == 0 || (promise & PromiseHandleBit);
}

CallDispatch::Outcome CallDispatch::invoke(const QString& client, uint64_t handle,
                                           const QString& name, DISPID dispid, LCID lcid,
                                           uint16_t flags, bool wantResult, uint64_t promise,
                                           const std::vector<WireValue>& wire,
                                           const QList<qint32>& named, bool posted, bool awaited) {
    Outcome outcome;
    const auto fail = [&](HRESULT h, uint32_t argErr = NoArgError) {
        outcome.h = h;
        outcome.argErr = argErr;
        return outcome;
    };
    DispatchPtr target;
    if (!handles_.resolve(client, handle, &target))
        return fail(RPC_E_DISCONNECTED);
    if (!target)
        return fail((handle & PromiseHandleBit) ? E_NOOBJECT : RPC_E_DISCONNECTED);
    if (!name.isEmpty()) {
        const HRESULT found = target->GetIDsOfNames(name.toStdU16String(), lcid, &dispid);
        if (FAILED(found))
            return fail(found);
    }

    // By-reference values point into these; sized once so that no pointer moves.
    const size_t n = wire.size();
    std::vector<double> reals(n, 0.0);
    std::vector<IDispatch*> cells(n, nullptr);
    std::vector<DispatchPtr> sent(n); // what each object cell held going in
    const auto refuse = [&](size_t at, HRESULT h = RPC_E_DISCONNECTED) {
        for (IDispatch*& cell : cells)
            DispatchPtr::attach(std::exchange(cell, nullptr)).reset();
        return fail(h, static_cast<uint32_t>(at));
    };
    DISPPARAMS params;
    params.rgdispidNamedArgs.assign(named.begin(), named.end());
    for (size_t i = 0; i < n; ++i) {
        const WireValue& v = wire[i];
        Variant arg;
        switch (v.type) {
        case VT_I4:
            arg = Variant::fromInt(static_cast<int32_t>(v.number));
            break;
        case VT_R8:
            arg = Variant::fromDouble(v.real);
            break;
        case VT_CY:
            arg = Variant::fromCurrency(CY{v.number});
            break;
        case VT_BOOL:
            arg = Variant::fromBool(v.number != 0);
            break;
        case VT_BSTR:
            arg = Variant::fromBStr(v.text);
            break;
        case VT_DISPATCH: {
            DispatchPtr object;
            if (!handles_.resolve(client, static_cast<uint64_t>(v.number), &object))
                return refuse(i);
            arg = Variant::fromDispatch(std::move(object));
            break;
        }
        case VT_BYREF | VT_R8:
            reals[i] = v.real;
            arg = Variant::byRefDouble(&reals[i]);
            break;
        case VT_BYREF | VT_DISPATCH:
            if (!handles_.resolve(client, static_cast<uint64_t>(v.number), &sent[i]))
                return refuse(i);
            // The cell owns what it holds: a callee that replaces it releases this one.
            cells[i] = DispatchPtr(sent[i]).detach();
            arg = Variant::byRefDispatch(&cells[i]);
            break;
        default:
            break;
        }
        params.rgvarg.push_back(std::move(arg));
    }

    // The client of a posted call does not wait for what comes back by reference: it
    // counted on the member's type information saying that nothing does.
    if (posted) {
        const auto* declared = dynamic_cast<const DispatchObject*>(target.get());
        const std::vector<uint16_t>* parameterFlags =
            declared ? declared->parameterFlags(dispid) : nullptr;
        for (size_t i = 0; i < n; ++i)
            if ((wire[i].type & VT_BYREF) &&
                (!parameterFlags || !ReferencesOnlyRead(*parameterFlags, params)))
                return refuse(i, DISP_E_TYPEMISMATCH);
    }

    Variant result;
    EXCEPINFO info;
    uint32_t argErr = NoArgError;
    HRESULT h;
    std::optional<UnawaitedCall> unawaited;
    if (!awaited)
        unawaited.emplace();
    try {
        h = target->Invoke(dispid, lcid, flags, &params, wantResult ? &result : nullptr, &info,
                           &argErr);
    } catch (...) {
        h = RPC_E_SERVERFAULT;
    }

    outcome.result = toWire(client, result);
    outcome.outs.append(outcome.result);
    for (size_t i = 0; i < n; ++i) {
        WireValue back;
        if (wire[i].type == (VT_BYREF | VT_R8)) {
            back.type = VT_BYREF | VT_R8;
            back.real = reals[i];
        } else if (wire[i].type == (VT_BYREF | VT_DISPATCH)) {
            const DispatchPtr now = DispatchPtr::attach(cells[i]);
            if (now.get() != sent[i].get()) {
                back.type = VT_BYREF | VT_DISPATCH;
                back.number = static_cast<int64_t>(handles_.share(client, now));
            }
        }
        outcome.outs.append(back);
    }
    if (promise != 0 && SUCCEEDED(h))
        handles_.keepPromise(
            client, promise,
            outcome.result.type == VT_DISPATCH ? static_cast<uint64_t>(outcome.result.number) : 0);
    outcome.h = h;
    outcome.argErr = argErr;
    if (h == DISP_E_EXCEPTION)
        outcome.info = info;
    return outcome;
}

QList<QVariant> CallDispatch::invokeAs(const QString& client, const QList<QVariant>& args) {
    std::vector<WireValue> wire;
    const uint64_t promise = args[6].toULongLong();
    if (!ReadWireValues(args, 7, &wire) || !ValidPromise(promise))
        return {};
    return invokeReply(invoke(client, args[0].toULongLong(), args[1].toString(), args[2].toInt(),
                              args[3].toUInt(), static_cast<uint16_t>(args[4].toUInt()),
                              args[5].toBool(), promise, wire,
                              qdbus_cast<QList<qint32>>(args[11])));
}

QList<QVariant> CallDispatch::postRun(const QString& client, const QList<QVariant>& args) {
    const auto handles = qdbus_cast<QList<quint64>>(args[0]);
    const auto names = qdbus_cast<QStringList>(args[1]);
    const auto dispids = qdbus_cast<QList<qint32>>(args[2]);
    const auto lcids = qdbus_cast<QList<quint32>>(args[3]);
    const auto flags = qdbus_cast<QList<quint16>>(args[4]);
    const auto wantResults = qdbus_cast<QList<bool>>(args[5]);
    const auto promises = qdbus_cast<QList<quint64>>(args[6]);
    const auto valueCounts = qdbus_cast<QList<quint32>>(args[7]);
    const auto namedCounts = qdbus_cast<QList<quint32>>(args[12]);
    const auto named = qdbus_cast<QList<qint32>>(args[13]);
    const auto releases = qdbus_cast<QList<quint64>>(args[14]);
    const auto releaseCounts = qdbus_cast<QList<quint64>>(args[15]);
    const bool awaited = args[16].toBool();
    const qsizetype calls = handles.size();
    if (names.size() != calls || dispids.size() != calls || lcids.size() != calls ||
        flags.size() != calls || wantResults.size() != calls || promises.size() != calls ||
        valueCounts.size() != calls || namedCounts.size() != calls ||
        releases.size() != releaseCounts.size())
        return {};
    std::vector<WireValue> wire;
    if (!ReadWireValues(args, 8, &wire))
        return {};
    uint64_t values = 0, namedTotal = 0;
    for (qsizetype i = 0; i < calls; ++i) {
        if (!ValidPromise(promises[i]))
            return {};
        values += valueCounts[i];
        namedTotal += namedCounts[i];
    }
    if (values != wire.size() || namedTotal != static_cast<uint64_t>(named.size()))
        return {};

    QList<qint32> outcomes;
    WireValues results;
    EXCEPINFO failed;
    size_t nextValue = 0;
    qsizetype nextNamed = 0;
    for (qsizetype i = 0; i < calls; ++i) {
        const auto first = wire.begin() + static_cast<std::ptrdiff_t>(nextValue);
        const std::vector<WireValue> arguments(first, first + valueCounts[i]);
        const QList<qint32> namedArgs = named.mid(nextNamed, namedCounts[i]);
        nextValue += valueCounts[i];
        nextNamed += namedCounts[i];
        if (halted_.count(client)) {
            outcomes << E_SKIPPED;
            results.append(WireValue{});
            continue;
        }
        const Outcome outcome =
            invoke(client, handles[i], names[i], dispids[i], lcids[i], flags[i], wantResults[i],
                   promises[i], arguments, namedArgs, true, awaited && i + 1 == calls);
        outcomes << outcome.h;
        results.append(outcome.result);
        if (FAILED(outcome.h)) {
            halted_.insert(client);
            failed = outcome.info;
        }
    }
    // Releases go through even after a failure: they only give back.
    for (qsizetype i = 0; i < releases.size(); ++i)
        handles_.release(client, releases[i], releaseCounts[i]);
    QList<QVariant> out{QVariant::fromValue(outcomes)};
    results.appendTo(out);
    out << QVariant::fromValue<quint16>(failed.wCode)
        << QString::fromStdU16String(failed.bstrSource)
        << QString::fromStdU16String(failed.bstrDescription)
        << QVariant::fromValue<qint32>(failed.scode);
    return out;
}

WireValue CallDispatch::toWire(const QString& client, const Variant& value) {
    WireValue wire;
    wire.type = value.vt();
    switch (value.vt()) {
    case VT_I4:
        wire.number = value.intVal();
        break;
    case VT_R8:
        wire.real = value.dblVal();
        break;
    case VT_CY:
        wire.number = value.cyVal().int64;
        break;
    case VT_BOOL:
        wire.number = value.boolVal();
        break;
    case VT_BSTR:
        wire.text = value.bstrVal();
        break;
    case VT_DISPATCH:
        wire.number = static_cast<int64_t>(handles_.share(client, value.dispVal()));
        break;
    // A result that points into this program means nothing in another: send the value.
    case VT_BYREF | VT_R8:
        wire.type = VT_R8;
        wire.real = value.pdblVal() ? *value.pdblVal() : 0.0;
        break;
    case VT_BYREF | VT_DISPATCH:
        wire.type = VT_DISPATCH;
        if (value.ppdispVal())
            wire.number =
                static_cast<int64_t>(handles_.share(client, DispatchPtr(*value.ppdispVal())));
        break;
    default:
        wire.type = VT_EMPTY;
    }
    return wire;
}

} // namespace automation::bus::server
