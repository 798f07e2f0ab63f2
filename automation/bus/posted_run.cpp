#include "automation/bus/posted_run.h"

#include "automation/bus/client_state.h"
#include "automation/bus/remote_object.h"

#include <QDBusPendingReply>

#include <mutex>

namespace automation::bus::client {

size_t PostedRun::add(uint64_t handle, const QString& name, DISPID dispid, LCID lcid,
                      uint16_t flags, bool wantResult, uint64_t promise,
                      const std::vector<WireValue>& values, const std::vector<DISPID>& named,
                      std::vector<DispatchPtr> held) {
    handles_ << handle;
    names_ << name;
    dispids_ << dispid;
    lcids_ << lcid;
    flags_ << flags;
    wantResults_ << wantResult;
    promises_ << promise;
    valueCounts_ << static_cast<quint32>(values.size());
    for (const WireValue& value : values) {
        values_.append(value);
        bytes_ += 20 + 2 * value.text.str().size();
    }
    namedCounts_ << static_cast<quint32>(named.size());
    for (const DISPID id : named)
        named_ << id;
    bytes_ += 40 + 2 * static_cast<size_t>(name.size()) + 4 * named.size();
    for (DispatchPtr& object : held)
        held_.push_back(std::move(object));
    return static_cast<size_t>(handles_.size() - 1);
}

void PostedRun::release(uint64_t handle, uint64_t count) {
    (pending_ ? lateReleases_ : releases_) << handle;
    (pending_ ? lateReleaseCounts_ : releaseCounts_) << count;
}

PostedRun::~PostedRun() {
    if (lateReleases_.isEmpty() || !channel_.connection.isConnected())
        return;
    {
        ClientState& s = state();
        std::lock_guard lock(s.mutex);
        if (s.closing)
            return;
    }
    QList<QVariant> arguments{
        QVariant::fromValue(QList<quint64>{}), QVariant::fromValue(QStringList{}),
        QVariant::fromValue(QList<qint32>{}),  QVariant::fromValue(QList<quint32>{}),
        QVariant::fromValue(QList<quint16>{}), QVariant::fromValue(QList<bool>{}),
        QVariant::fromValue(QList<quint64>{}), QVariant::fromValue(QList<quint32>{})};
    WireValues{}.appendTo(arguments);
    arguments << QVariant::fromValue(QList<quint32>{}) << QVariant::fromValue(QList<qint32>{})
              << QVariant::fromValue(lateReleases_) << QVariant::fromValue(lateReleaseCounts_)
              << false;
    channel_.connection.send(MethodCall(channel_.service, QString::fromLatin1(ObjectPath),
                                        QString::fromLatin1(Interface), QStringLiteral("PostRun"),
                                        arguments));
}

void PostedRun::send(bool awaited) {
    if (pending_)
        return;
    QList<QVariant> arguments{QVariant::fromValue(handles_),  QVariant::fromValue(names_),
                              QVariant::fromValue(dispids_),  QVariant::fromValue(lcids_),
                              QVariant::fromValue(flags_),    QVariant::fromValue(wantResults_),
                              QVariant::fromValue(promises_), QVariant::fromValue(valueCounts_)};
    values_.appendTo(arguments);
    arguments << QVariant::fromValue(namedCounts_) << QVariant::fromValue(named_)
              << QVariant::fromValue(releases_) << QVariant::fromValue(releaseCounts_) << awaited;
    pending_ = channel_.connection.asyncCall(
        MethodCall(channel_.service, QString::fromLatin1(ObjectPath),
                   QString::fromLatin1(Interface), QStringLiteral("PostRun"), arguments),
        TimeoutMs(CallTimeout()));
    held_.clear();
}

const Answer& PostedRun::answer() {
    send(true);
    if (!answered_) {
        answered_ = true;
        answer_ = Await(*pending_, channel_, "aiaqaxadaqqssi");
        if (answer_.failure == S_OK) {
            outcomes_ = qdbus_cast<QList<qint32>>(answer_.arguments[0]);
            if (outcomes_.size() != handles_.size() ||
                !ReadWireValues(answer_.arguments, 1, &results_) ||
                results_.size() != static_cast<size_t>(handles_.size()))
                answer_.failure = RPC_S_CALL_FAILED;
        }
    }
    return answer_;
}

thread_local std::shared_ptr<PostedRun> openRun;
thread_local std::weak_ptr<PostedRun> lastRun;

void SendOpenRun(bool awaited) {
    if (const std::shared_ptr<PostedRun> run = std::exchange(openRun, nullptr))
        run->send(awaited);
}

HRESULT PostedAnswer::wait(EXCEPINFO* excepInfo) {
    auto* promise = static_cast<RemoteObject*>(promise_.get());
    if (openRun == run_)
        SendOpenRun(true);
    const Answer& answer = run_->answer();
    if (FAILED(answer.failure)) {
        if (promise)
            promise->settle({});
        return answer.failure;
    }
    const HRESULT h = run_->outcome(index_);
    if (SUCCEEDED(h)) {
        // Adopted even when not asked for, so that its count goes back with the proxy.
        Variant value = FromWire(run_->server(), run_->result(index_));
        if (promise)
            result_ = value;
    }
    if (promise)
        promise->settle(result_);
    if (h == E_SKIPPED || SUCCEEDED(h))
        return h;
    // The server holds back what came after this call until it hears that we know.
    const Channel& channel = run_->channel();
    channel.connection.send(MethodCall(channel.service, QString::fromLatin1(ObjectPath),
                                       QString::fromLatin1(Interface), QStringLiteral("Resume"),
                                       {}));
    if (h == DISP_E_EXCEPTION)
        ReadExcepInfo(answer, excepInfo);
    return h;
}

} // namespace automation::bus::client
