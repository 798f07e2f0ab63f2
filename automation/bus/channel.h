#pragma once
// Where a client's calls to a server program go: over the session bus, or over a direct
// connection to the program where it offers one. Blocking calls and sent ones, the answers
// to them, and what tells a server that has gone from a call that failed.
#include "automation/automation.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

namespace automation::bus::client {

// Peer names never start with ':' as the bus's unique names do.
inline constexpr char PeerNamePrefix[] = "krepiks-automation-peer-";

bool IsPeerName(const QString& server);

struct Answer {
    HRESULT failure = S_OK; // the transport's own failure; arguments only when S_OK
    QList<QVariant> arguments;
    bool skipped = false; // an earlier deferred call failed: this one's end is that failure
};

Answer FromReply(const QDBusMessage& reply, const char* replySignature);

QDBusMessage MethodCall(const QString& service, const QString& path, const QString& interface,
                        const QString& method, const QList<QVariant>& arguments);

// One blocking call; the reply must have the given signature.
Answer Call(const QDBusConnection& connection, const QString& service, const QString& path,
            const QString& interface, const QString& method, const QList<QVariant>& arguments,
            const char* replySignature);

// Whether the process behind pidfd has ended; false when that cannot be told.
bool Ended(int pidfd);

// Where the calls to server go: the bus, or the direct connection named server.
struct Channel {
    QDBusConnection connection;
    QString service; // empty on a direct connection
    int pidfd = -1;
};

std::optional<Channel> ChannelTo(const QString& server);

Answer CallServer(const QDBusConnection& connection, const QString& server, const char* method,
                  const QList<QVariant>& arguments, const char* replySignature);

// The server that this thread's deferred calls went to: calls stay in order only on the
// way to one server.
extern thread_local QString deferredTo;

// The channel a call to server goes on, once the deferred calls that must go before it are
// settled: those to another server always, and when server cannot be reached, those to it
// too, so that their own failure is the one reported. None, with E_SKIPPED when an earlier
// call failed or RPC_S_SERVER_UNAVAILABLE, in failure.
std::optional<Channel> ChannelAfterDeferred(const QString& server, HRESULT* failure);

Answer Await(QDBusPendingCall& pending, const Channel& channel, const char* replySignature);

// A call on server's objects. On a direct connection there is no bus to say that the server
// has gone before the call was sent, so its process is looked at: a call sent to a program
// that had ended never reached it, while one it died in the middle of did. With deferred
// calls to the same server outstanding, this one goes out first and their answers are taken
// while it travels; to another server, they are settled before it is sent.
Answer CallServer(const QString& server, const char* method, const QList<QVariant>& arguments,
                  const char* replySignature);

// The server's exception in the answer to a call (Invoke's reply), when one is asked for.
void ReadExcepInfo(const Answer& answer, EXCEPINFO* excepInfo);

// The unique name of the program owning name, empty when none does.
QString OwnerOf(const QDBusConnection& connection, const QString& name);

// The name to reach owner's objects by: a direct connection to it where it offers one,
// else its name on the bus. A direct connection is made once per server program.
QString Reach(const QDBusConnection& bus, const QString& owner);

} // namespace automation::bus::client
