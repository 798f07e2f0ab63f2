#include "automation/bus/local_client.h"

#include "automation/bus/protocol.h"
#include "automation/invoke.h"
#include "automation/trace.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace automation::bus {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char ConnectionName[] = "krepiks-automation-client";

class RemoteObject;

// A direct connection to a server program. Its name is the server's name for its objects.
struct PeerLink {
    QString name;
    int pidfd = -1; // the server process, to tell a call that never reached it; -1 if unknown
};

// Peer names never start with ':' as the bus's unique names do.
constexpr char PeerNamePrefix[] = "krepiks-automation-peer-";

bool IsPeerName(const QString& server) {
    return server.startsWith(QLatin1String(PeerNamePrefix));
}

struct ClientState {
    std::mutex mutex; // guards everything but the timeouts
    std::optional<QDBusConnection> connection;
    bool closing = false; // the application object has gone: the bus is not used any more
    bool postRoutineAdded = false;
    std::map<std::pair<QString, uint64_t>, RemoteObject*> proxies;
    // Direct connections by the bus name of the server they reach.
    std::map<QString, PeerLink> peers;
    uint64_t nextPeer = 1;
    // Member numbers by server, handle class, locale and name: each costs a round trip.
    std::map<std::tuple<QString, uint64_t, LCID, std::u16string>, DISPID> memberNumbers;
    // The type information of members by server, handle class and member number, where the
    // server gave it.
    std::map<std::tuple<QString, uint64_t, DISPID>, std::vector<uint16_t>> parameterFlags;
    // The same by server and member name, for calls by name on results still on their way;
    // empty where two classes declare a name differently. The server checks the guess.
    std::map<std::pair<QString, std::u16string>, std::vector<uint16_t>> parameterFlagsByName;
    std::atomic<int64_t> callMs{DefaultCallTimeout.count()};
    std::atomic<int64_t> startMs{DefaultStartTimeout.count()};
};

// Never destroyed: proxies may be released during static destruction.
ClientState& state() {
    static ClientState* instance = new ClientState;
    return *instance;
}

void StopUsingBus() {
    ClientState& s = state();
    std::lock_guard lock(s.mutex);
    s.closing = true;
}

// The connection of this program's automation client, made on first use; none without an
// application object or a session bus.
std::optional<QDBusConnection> Connection() {
    ClientState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.closing || !QCoreApplication::instance())
        return std::nullopt;
    if (!s.connection) {
        RegisterWireTypes();
        s.connection = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                     QString::fromLatin1(ConnectionName));
        if (!s.postRoutineAdded) {
            s.postRoutineAdded = true;
            qAddPostRoutine(StopUsingBus);
        }
    }
    if (!s.connection->isConnected()) {
        // Perhaps the session bus comes later; the next call tries again.
        s.connection.reset();
        QDBusConnection::disconnectFromBus(QString::fromLatin1(ConnectionName));
        return std::nullopt;
    }
    return s.connection;
}

int TimeoutMs(std::chrono::milliseconds timeout) {
    return static_cast<int>(std::clamp<int64_t>(timeout.count(), 1, 24 * 3600 * 1000));
}

struct Answer {
    HRESULT failure = S_OK; // the transport's own failure; arguments only when S_OK
    QList<QVariant> arguments;
    bool skipped = false; // an earlier deferred call failed: this one's end is that failure
};

Answer FromReply(const QDBusMessage& reply, const char* replySignature) {
    Answer answer;
    if (reply.type() == QDBusMessage::ReplyMessage &&
        reply.signature() == QLatin1String(replySignature)) {
        answer.arguments = reply.arguments();
        return answer;
    }
    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
        error == QLatin1String("org.freedesktop.DBus.Error.Disconnected"))
        answer.failure = RPC_S_SERVER_UNAVAILABLE;
    else
        answer.failure = RPC_S_CALL_FAILED; // no answer in time, gone mid-call, or garbled
    return answer;
}

QDBusMessage MethodCall(const QString& service, const QString& path, const QString& interface,
                        const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    message.setAutoStartService(false);
    return message;
}

// One blocking call; the reply must have the given signature.
Answer Call(const QDBusConnection& connection, const QString& service, const QString& path,
            const QString& interface, const QString& method, const QList<QVariant>& arguments,
            const char* replySignature) {
    const QDBusMessage reply =
        connection.call(MethodCall(service, path, interface, method, arguments), QDBus::Block,
                        TimeoutMs(CallTimeout()));
    return FromReply(reply, replySignature);
}

// Whether the process behind pidfd has ended; false when that cannot be told.
bool Ended(int pidfd) {
    if (pidfd < 0)
        return false;
    pollfd ready{pidfd, POLLIN, 0};
    return ::poll(&ready, 1, 0) == 1;
}

// Where the calls to server go: the bus, or the direct connection named server.
struct Channel {
    QDBusConnection connection;
    QString service; // empty on a direct connection
    int pidfd = -1;
};

std::optional<Channel> ChannelTo(const QString& server) {
    if (!IsPeerName(server)) {
        const std::optional<QDBusConnection> bus = Connection();
        if (!bus)
            return std::nullopt;
        return Channel{*bus, server, -1};
    }
    ClientState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.closing)
        return std::nullopt;
    for (const auto& [owner, link] : s.peers)
        if (link.name == server)
            return Channel{QDBusConnection(server), QString(), link.pidfd};
    return std::nullopt;
}

Answer CallServer(const QDBusConnection& connection, const QString& server, const char* method,
                  const QList<QVariant>& arguments, const char* replySignature) {
    return Call(connection, server, QString::fromLatin1(ObjectPath), QString::fromLatin1(Interface),
                QString::fromLatin1(method), arguments, replySignature);
}

// The server that this thread's deferred calls went to: calls stay in order only on the
// way to one server.
thread_local QString deferredTo;

std::optional<Channel> ReachableChannel(const QString& server) {
    std::optional<Channel> channel = ChannelTo(server);
    if (!channel || !channel->connection.isConnected() || Ended(channel->pidfd))
        return std::nullopt;
    return channel;
}

// The channel a call to server goes on, once the deferred calls that must go before it are
// settled: those to another server always, and when server cannot be reached, those to it
// too, so that their own failure is the one reported. None, with E_SKIPPED when an earlier
// call failed or RPC_S_SERVER_UNAVAILABLE, in failure.
std::optional<Channel> ChannelAfterDeferred(const QString& server, HRESULT* failure) {
    *failure = E_SKIPPED;
    if (HasDeferredCalls() && deferredTo != server && !SettleDeferredCalls().ok())
        return std::nullopt;
    std::optional<Channel> channel = ReachableChannel(server);
    if (!channel && !(HasDeferredCalls() && !SettleDeferredCalls().ok()))
        *failure = RPC_S_SERVER_UNAVAILABLE;
    return channel;
}

QDBusPendingCall Send(const Channel& channel, const char* method,
                      const QList<QVariant>& arguments) {
    return channel.connection.asyncCall(MethodCall(channel.service, QString::fromLatin1(ObjectPath),
                                                   QString::fromLatin1(Interface),
                                                   QString::fromLatin1(method), arguments),
                                        TimeoutMs(CallTimeout()));
}

Answer Await(QDBusPendingCall& pending, const Channel& channel, const char* replySignature) {
    pending.waitForFinished();
    Answer answer = FromReply(pending.reply(), replySignature);
    if (channel.service.isEmpty() && answer.failure == RPC_S_SERVER_UNAVAILABLE)
        answer.failure = RPC_S_CALL_FAILED; // it was sent: the program had not ended then
    return answer;
}

// Sends the posted calls this thread has gathered, if any; awaited when nothing more is sent
// until their answers have come.
void SendOpenRun(bool awaited = false);

// A call on server's objects. On a direct connection there is no bus to say that the server
// has gone before the call was sent, so its process is looked at: a call sent to a program
// that had ended never reached it, while one it died in the middle of did. With deferred
// calls to the same server outstanding, this one goes out first and their answers are taken
// while it travels; to another server, they are settled before it is sent.
Answer CallServer(const QString& server, const char* method, const QList<QVariant>& arguments,
                  const char* replySignature) {
    HRESULT failure = S_OK;
    const std::optional<Channel> channel = ChannelAfterDeferred(server, &failure);
    if (!channel)
        return failure == E_SKIPPED ? Answer{S_OK, {}, true} : Answer{failure, {}, false};
    SendOpenRun(); // what was posted before this call is carried out before it
    QDBusPendingCall pending = Send(*channel, method, arguments);
    const bool settled = !HasDeferredCalls() || SettleDeferredCalls().ok();
    Answer answer = Await(pending, *channel, replySignature);
    answer.skipped = !settled;
    return answer;
}

// The server's exception in the answer to a call (Invoke's reply), when one is asked for.
void ReadExcepInfo(const Answer& answer, EXCEPINFO* excepInfo) {
    if (!excepInfo)
        return;
    *excepInfo = EXCEPINFO{};
    excepInfo->wCode = static_cast<uint16_t>(answer.arguments[5].toUInt());
    excepInfo->bstrSource = answer.arguments[6].toString().toStdU16String();
    excepInfo->bstrDescription = answer.arguments[7].toString().toStdU16String();
    excepInfo->scode = answer.arguments[8].toInt();
}

// Posted calls go out together, as one PostRun, when a call must wait, when their answers
// are taken, or when one more is posted once this many have gathered: a message per call
// costs more than the calls. A full run waits for that next call so that the run whose
// answers are taken is always the open one, and goes out saying it is awaited.
constexpr qsizetype MaxRunCalls = 64;
constexpr size_t MaxRunBytes = 64 * 1024;

// A run of posted calls to one server, and the answer they share once it has been sent.
class PostedRun {
public:
    PostedRun(QString server, Channel channel)
        : server_(std::move(server)), channel_(std::move(channel)) {}

    const QString& server() const { return server_; }
    const Channel& channel() const { return channel_; }

    // The call's index in the run. The proxies it names are held until the run has left, so
    // that no Release of theirs can overtake it.
    size_t add(uint64_t handle, const QString& name, DISPID dispid, LCID lcid, uint16_t flags,
               bool wantResult, uint64_t promise, const std::vector<WireValue>& values,
               const std::vector<DISPID>& named, std::vector<DispatchPtr> held) {
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

    // Counts of a handle given back: carried out after the run's calls, or, once the run
    // has left, all together in one message when its last answer has been taken.
    void release(uint64_t handle, uint64_t count) {
        (pending_ ? lateReleases_ : releases_) << handle;
        (pending_ ? lateReleaseCounts_ : releaseCounts_) << count;
    }

    ~PostedRun() {
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
                                            QString::fromLatin1(Interface),
                                            QStringLiteral("PostRun"), arguments));
    }

    bool full() const { return handles_.size() >= MaxRunCalls || bytes_ >= MaxRunBytes; }

    void send(bool awaited) {
        if (pending_)
            return;
        QList<QVariant> arguments{
            QVariant::fromValue(handles_),  QVariant::fromValue(names_),
            QVariant::fromValue(dispids_),  QVariant::fromValue(lcids_),
            QVariant::fromValue(flags_),    QVariant::fromValue(wantResults_),
            QVariant::fromValue(promises_), QVariant::fromValue(valueCounts_)};
        values_.appendTo(arguments);
        arguments << QVariant::fromValue(namedCounts_) << QVariant::fromValue(named_)
                  << QVariant::fromValue(releases_) << QVariant::fromValue(releaseCounts_)
                  << awaited;
        pending_ = channel_.connection.asyncCall(
            MethodCall(channel_.service, QString::fromLatin1(ObjectPath),
                       QString::fromLatin1(Interface), QStringLiteral("PostRun"), arguments),
            TimeoutMs(CallTimeout()));
        held_.clear();
    }

    // The run's answer, waited for once; a garbled one fails every call in it.
    const Answer& answer() {
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

    HRESULT outcome(size_t index) const { return outcomes_[static_cast<qsizetype>(index)]; }
    const WireValue& result(size_t index) const { return results_[index]; }

private:
    const QString server_;
    const Channel channel_;
    QList<quint64> handles_;
    QStringList names_;
    QList<qint32> dispids_;
    QList<quint32> lcids_;
    QList<quint16> flags_;
    QList<bool> wantResults_;
    QList<quint64> promises_;
    QList<quint32> valueCounts_;
    WireValues values_;
    QList<quint32> namedCounts_;
    QList<qint32> named_;
    QList<quint64> releases_, releaseCounts_, lateReleases_, lateReleaseCounts_;
    size_t bytes_ = 0;
    std::vector<DispatchPtr> held_;
    std::optional<QDBusPendingCall> pending_;
    bool answered_ = false;
    Answer answer_;
    QList<qint32> outcomes_;
    std::vector<WireValue> results_;
};

// The run this thread's posted calls are gathering in, not yet sent; and the last run made,
// while its answers are still to be taken or in hand.
thread_local std::shared_ptr<PostedRun> openRun;
thread_local std::weak_ptr<PostedRun> lastRun;

void SendOpenRun(bool awaited) {
    if (const std::shared_ptr<PostedRun> run = std::exchange(openRun, nullptr))
        run->send(awaited);
}

// The answer to a call sent without waiting; for a call whose result was promised, the
// stand-in learns here what it stands for.
class PostedAnswer final : public DeferredAnswer {
public:
    PostedAnswer(std::shared_ptr<PostedRun> run, size_t index, DispatchPtr promise = nullptr)
        : run_(std::move(run)), index_(index), promise_(std::move(promise)) {}

    HRESULT wait(EXCEPINFO* excepInfo) override;
    Variant result() override { return result_; }

private:
    std::shared_ptr<PostedRun> run_;
    size_t index_;
    DispatchPtr promise_;
    Variant result_;
};

// The unique name of the program owning name, empty when none does.
QString OwnerOf(const QDBusConnection& connection, const QString& name) {
    const Answer answer = Call(
        connection, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"), {name}, "s");
    return answer.failure == S_OK ? answer.arguments[0].toString() : QString();
}

// A started process that has ended (or is a zombie) no longer runs.
bool ProcessRunning(qint64 pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line))
        return ::kill(static_cast<pid_t>(pid), 0) == 0;
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return true;
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

// Member numbers handed out for names looked up on a result still on its way: the server
// looks the name up itself when the call comes.
constexpr DISPID FirstPromisedMember = -0x30000000;

class RemoteObject final : public IDispatch, public PromisedResult {
public:
    RemoteObject(QString server, uint64_t handle, bool promised = false)
        : server_(std::move(server)), handle_(handle), promised_(promised) {}

    uint32_t AddRef() override { return ++refs_; }

    uint32_t Release() override {
        ClientState& s = state();
        std::unique_lock lock(s.mutex);
        const uint32_t left = --refs_;
        if (left != 0)
            return left;
        if (auto it = s.proxies.find({server_, handle_});
            it != s.proxies.end() && it->second == this)
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
            message << QVariant::fromValue<quint64>(handle_)
                    << QVariant::fromValue<quint64>(receipts_);
            message.setAutoStartService(false);
            channel->connection.send(message);
        }
        delete this;
        return 0;
    }

    HRESULT GetIDsOfNames(const std::u16string& name, LCID lcid, DISPID* dispid) override;
    HRESULT Invoke(DISPID dispid, LCID lcid, uint16_t flags, DISPPARAMS* params, Variant* result,
                   EXCEPINFO* excepInfo, uint32_t* argErr) override;

    // Whether the member's type information says that it only reads every by-reference
    // value of params; false when the server gave none. A member is known by its number on
    // an object of a known class, else by name.
    bool ReadsOnly(DISPID dispid, const std::u16string& name, const DISPPARAMS& params) const {
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

    // Whether type information for name is at hand (see ReadsOnly).
    bool KnowsParametersOf(const std::u16string& name) const {
        ClientState& s = state();
        std::lock_guard lock(s.mutex);
        return s.parameterFlagsByName.count(std::make_pair(server_, name)) != 0;
    }

    Variant fulfil(CallOutcome* outcome) override {
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

    // What a promised result turned out to be; called once, when its answer is taken.
    void settle(Variant value) {
        value_ = std::move(value);
        if (value_.vt() == VT_DISPATCH)
            resolved_.store(value_.dispVal().get(), std::memory_order_release);
        settled_ = true;
    }

    // The object a promised result turned out to be, if it has come and was one.
    IDispatch* resolved() const { return resolved_.load(std::memory_order_acquire); }

    const QString server_;
    const uint64_t handle_;
    const bool promised_;
    uint64_t receipts_ = 1; // counts the server gave out for this proxy; under the mutex

private:
    ~RemoteObject() override { trace::ForgetObject(this); }

    std::atomic<uint32_t> refs_{1};
    // A promised result: whether its answer has been taken, what it was, and the names
    // looked up on it before then.
    bool settled_ = false;
    Variant value_;
    std::atomic<IDispatch*> resolved_{nullptr};
    std::vector<std::u16string> names_;
};

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

// A reference of the caller's own to the proxy of handle on server (null for handle 0).
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

struct Registration {
    std::string progId;
    QString busName;
    QString program;
    QStringList arguments;
    QString registeredIn;    // the registration file that named program; empty for a default
    bool busStarted = false; // the session bus starts program when it has its service file
};

// Why program cannot be started at all; empty when it is an absolute path to an executable
// file. A relative path would run from wherever the client happens to be.
std::string ProgramProblem(const QString& program) {
    const std::string path = program.toStdString();
    if (!program.startsWith(QLatin1Char('/')))
        return "'" + path + "' is not an absolute path";
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0)
        return "'" + path + "': " + std::strerror(errno);
    if (!S_ISREG(entry.st_mode))
        return "'" + path + "' is not a program file";
    if (::access(path.c_str(), X_OK) != 0)
        return "'" + path + "' is not executable";
    return {};
}

std::string ReadReport(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096).trimmed().toStdString();
}

bool BusCanStart(const QDBusConnection& connection, const QString& busName) {
    const Answer names = Call(
        connection, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"), {}, "as");
    return names.failure == S_OK && names.arguments[0].toStringList().contains(busName);
}

// Has the session bus start the server from its service file; the server's unique name,
// or empty, with the bus's reason, when it did not get it started in time.
QString StartByBus(const QDBusConnection& connection, const Registration& server,
                   std::string* why) {
    const QDBusMessage reply = connection.call(
        MethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                   QStringLiteral("org.freedesktop.DBus"), QStringLiteral("StartServiceByName"),
                   {server.busName, 0u}),
        QDBus::Block, TimeoutMs(StartTimeout()));
    if (reply.type() == QDBusMessage::ReplyMessage) {
        if (const QString owner = OwnerOf(connection, server.busName); !owner.isEmpty())
            return owner;
    }
    *why = "the session bus did not start '" + server.program.toStdString() + "' for " +
           server.progId +
           (reply.type() == QDBusMessage::ErrorMessage ? ": " + reply.errorMessage().toStdString()
                                                       : std::string());
    return {};
}

// Starts the server program and waits until it has claimed its name; its unique name, or
// empty, with why, when it does not get there in time.
QString Launch(const QDBusConnection& connection, const Registration& server, std::string* why) {
    if (server.busStarted && BusCanStart(connection, server.busName))
        return StartByBus(connection, server, why);
    const std::string program = server.program.toStdString();
    if (const std::string problem = ProgramProblem(server.program); !problem.empty()) {
        *why = server.registeredIn.isEmpty()
                   ? problem
                   : "bad registration " + server.registeredIn.toStdString() + ": " + problem +
                         "; expected the absolute path of a program";
        return {};
    }
    // A private file the program writes why it gave up into, should it end before serving.
    const QTemporaryDir reportFolder(QDir::tempPath() + QStringLiteral("/krepiks-start-XXXXXX"));
    const QString report = reportFolder.filePath(QStringLiteral("report"));
    QProcess process;
    process.setProgram(server.program);
    process.setArguments(server.arguments);
    if (reportFolder.isValid() && QFile(report).open(QIODevice::WriteOnly)) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(StartReportVariable), report);
        process.setProcessEnvironment(environment);
    }
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        *why = "'" + program + "' could not be started: " + process.errorString().toStdString();
        return {};
    }
    const auto deadline = Clock::now() + StartTimeout();
    for (;;) {
        const QString owner = OwnerOf(connection, server.busName);
        if (!owner.isEmpty())
            return owner;
        if (Clock::now() >= deadline) {
            *why = "'" + program + "' did not serve " + server.progId + " within " +
                   QString::number(StartTimeout().count() / 1000.0).toStdString() + " s";
            return {};
        }
        if (pid > 0 && !ProcessRunning(pid)) { // it ended; perhaps another copy won the name
            const QString winner = OwnerOf(connection, server.busName);
            if (winner.isEmpty()) {
                const std::string said = ReadReport(report);
                *why = "'" + program + "' ended before it served " + server.progId +
                       (said.empty() ? "" : ": " + said);
            }
            return winner;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The process behind a bus name, as a pidfd; -1 when that cannot be had.
int ProcessOf(const QDBusConnection& connection, const QString& owner) {
    const Answer answer =
        Call(connection, QStringLiteral("org.freedesktop.DBus"),
             QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
             QStringLiteral("GetConnectionUnixProcessID"), {owner}, "u");
    if (answer.failure != S_OK)
        return -1;
    const auto pid = static_cast<pid_t>(answer.arguments[0].toUInt());
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// The name to reach owner's objects by: a direct connection to it where it offers one,
// else its name on the bus. A direct connection is made once per server program.
QString Reach(const QDBusConnection& bus, const QString& owner) {
    ClientState& s = state();
    {
        std::lock_guard lock(s.mutex);
        if (const auto it = s.peers.find(owner); it != s.peers.end()) {
            if (QDBusConnection(it->second.name).isConnected() && !Ended(it->second.pidfd))
                return it->second.name;
            // The program has gone; its proxies now find no channel and fail as unavailable.
            QDBusConnection::disconnectFromPeer(it->second.name);
            if (it->second.pidfd >= 0)
                ::close(it->second.pidfd);
            s.peers.erase(it);
        }
    }
    const Answer address = CallServer(bus, owner, "PeerAddress", {}, "s");
    if (address.failure != S_OK || address.arguments[0].toString().isEmpty())
        return owner;
    QString name;
    {
        std::lock_guard lock(s.mutex);
        name = QLatin1String(PeerNamePrefix) + QString::number(s.nextPeer++);
    }
    const QDBusConnection peer =
        QDBusConnection::connectToPeer(address.arguments[0].toString(), name);
    if (!peer.isConnected()) {
        QDBusConnection::disconnectFromPeer(name);
        return owner;
    }
    const int pidfd = ProcessOf(bus, owner);
    std::lock_guard lock(s.mutex);
    s.peers[owner] = PeerLink{name, pidfd};
    return name;
}

HRESULT CreateRemote(const Registration& server, IDispatch** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!QCoreApplication::instance())
        return CO_E_NOTINITIALIZED;
    const auto connection = Connection();
    if (!connection)
        return CO_E_SERVER_EXEC_FAILURE;
    // A second round when the program found on the bus leaves before it answers.
    for (int round = 0; round < 2; ++round) {
        QString owner = OwnerOf(*connection, server.busName);
        std::string why;
        if (owner.isEmpty())
            owner = Launch(*connection, server, &why);
        if (owner.isEmpty()) {
            SetErrorDescription(why);
            return CO_E_SERVER_EXEC_FAILURE;
        }
        const QString reached = Reach(*connection, owner);
        const Answer answer = CallServer(reached, "CreateInstance", {}, "it");
        if (answer.failure == RPC_S_SERVER_UNAVAILABLE ||
            (answer.failure == RPC_S_CALL_FAILED && OwnerOf(*connection, server.busName) != owner))
            continue;
        if (FAILED(answer.failure))
            return CO_E_SERVER_EXEC_FAILURE;
        const HRESULT h = answer.arguments[0].toInt();
        IDispatch* object = Adopt(reached, answer.arguments[1].toULongLong());
        if (FAILED(h) || !object) {
            if (object)
                object->Release();
            return FAILED(h) ? h : E_NOINTERFACE;
        }
        *out = object;
        return S_OK;
    }
    return CO_E_SERVER_EXEC_FAILURE;
}

HRESULT FindRunning(const Registration& server, IDispatch** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!QCoreApplication::instance())
        return CO_E_NOTINITIALIZED;
    const auto connection = Connection();
    if (!connection)
        return MK_E_UNAVAILABLE;
    const QString owner = OwnerOf(*connection, server.busName);
    if (owner.isEmpty())
        return MK_E_UNAVAILABLE;
    const QString reached = Reach(*connection, owner);
    const Answer answer = CallServer(reached, "GetActiveObject", {}, "it");
    if (answer.failure == RPC_S_SERVER_UNAVAILABLE)
        return MK_E_UNAVAILABLE;
    if (FAILED(answer.failure))
        return answer.failure;
    const HRESULT h = answer.arguments[0].toInt();
    IDispatch* object = Adopt(reached, answer.arguments[1].toULongLong());
    if (FAILED(h) || !object) {
        if (object)
            object->Release();
        return FAILED(h) ? h : MK_E_UNAVAILABLE;
    }
    *out = object;
    return S_OK;
}

} // namespace

namespace {

CLSID Register(Registration server, const std::u16string& progId) {
    return RegisterClassObject(
        progId, [server](IDispatch** out) { return CreateRemote(server, out); },
        CLSCTX_LOCAL_SERVER, [server](IDispatch** out) { return FindRunning(server, out); });
}

} // namespace

CLSID RegisterLocalServer(const std::u16string& progId, const std::string& executablePath,
                          std::vector<std::string> arguments, const std::string& registeredIn) {
    Registration server;
    server.progId = toUtf8(progId);
    server.busName = BusNameForProgId(progId);
    server.program = QString::fromStdString(executablePath);
    server.registeredIn = QString::fromStdString(registeredIn);
    for (const auto& argument : arguments)
        server.arguments << QString::fromStdString(argument);
    return Register(std::move(server), progId);
}

CLSID RegisterBusStartedServer(const std::u16string& progId, const std::string& executablePath) {
    Registration server;
    server.progId = toUtf8(progId);
    server.busName = BusNameForProgId(progId);
    server.program = QString::fromStdString(executablePath);
    server.arguments << QStringLiteral("-Embedding");
    server.busStarted = true;
    return Register(std::move(server), progId);
}

std::chrono::milliseconds CallTimeout() {
    return std::chrono::milliseconds(state().callMs.load());
}

void SetCallTimeout(std::chrono::milliseconds timeout) {
    state().callMs.store(timeout.count());
}

std::chrono::milliseconds StartTimeout() {
    return std::chrono::milliseconds(state().startMs.load());
}

void SetStartTimeout(std::chrono::milliseconds timeout) {
    state().startMs.store(timeout.count());
}

bool IsRemoteObject(const IDispatch* object) {
    return dynamic_cast<const RemoteObject*>(object) != nullptr;
}

} // namespace automation::bus
