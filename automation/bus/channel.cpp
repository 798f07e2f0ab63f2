#include "automation/bus/channel.h"

#include "automation/bus/client_state.h"
#include "automation/bus/posted_run.h"
#include "automation/bus/protocol.h"
#include "automation/invoke.h"

#include <QDBusPendingReply>

#include <mutex>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace automation::bus::client {

bool IsPeerName(const QString& server) {
    return server.startsWith(QLatin1String(PeerNamePrefix));
}

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

bool Ended(int pidfd) {
    if (pidfd < 0)
        return false;
    pollfd ready{pidfd, POLLIN, 0};
    return ::poll(&ready, 1, 0) == 1;
}

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

thread_local QString deferredTo;

namespace {

std::optional<Channel> ReachableChannel(const QString& server) {
    std::optional<Channel> channel = ChannelTo(server);
    if (!channel || !channel->connection.isConnected() || Ended(channel->pidfd))
        return std::nullopt;
    return channel;
}

} // namespace

std::optional<Channel> ChannelAfterDeferred(const QString& server, HRESULT* failure) {
    *failure = E_SKIPPED;
    if (HasDeferredCalls() && deferredTo != server && !SettleDeferredCalls().ok())
        return std::nullopt;
    std::optional<Channel> channel = ReachableChannel(server);
    if (!channel && !(HasDeferredCalls() && !SettleDeferredCalls().ok()))
        *failure = RPC_S_SERVER_UNAVAILABLE;
    return channel;
}

namespace {

QDBusPendingCall Send(const Channel& channel, const char* method,
                      const QList<QVariant>& arguments) {
    return channel.connection.asyncCall(MethodCall(channel.service, QString::fromLatin1(ObjectPath),
                                                   QString::fromLatin1(Interface),
                                                   QString::fromLatin1(method), arguments),
                                        TimeoutMs(CallTimeout()));
}

} // namespace

Answer Await(QDBusPendingCall& pending, const Channel& channel, const char* replySignature) {
    pending.waitForFinished();
    Answer answer = FromReply(pending.reply(), replySignature);
    if (channel.service.isEmpty() && answer.failure == RPC_S_SERVER_UNAVAILABLE)
        answer.failure = RPC_S_CALL_FAILED; // it was sent: the program had not ended then
    return answer;
}

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

void ReadExcepInfo(const Answer& answer, EXCEPINFO* excepInfo) {
    if (!excepInfo)
        return;
    *excepInfo = EXCEPINFO{};
    excepInfo->wCode = static_cast<uint16_t>(answer.arguments[5].toUInt());
    excepInfo->bstrSource = answer.arguments[6].toString().toStdU16String();
    excepInfo->bstrDescription = answer.arguments[7].toString().toStdU16String();
    excepInfo->scode = answer.arguments[8].toInt();
}

QString OwnerOf(const QDBusConnection& connection, const QString& name) {
    const Answer answer = Call(
        connection, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"), {name}, "s");
    return answer.failure == S_OK ? answer.arguments[0].toString() : QString();
}

namespace {

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

} // namespace

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

} // namespace automation::bus::client
