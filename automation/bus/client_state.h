#pragma once
// What this program's automation client keeps across calls: its bus connection, its direct
// connections to server programs, the proxies it holds and what it has learnt of their
// members, and how long calls and starts may take.
#include "automation/automation.h"
#include "automation/bus/local_client.h"

#include <QDBusConnection>
#include <QString>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

namespace automation::bus::client {

class RemoteObject;

// A direct connection to a server program. Its name is the server's name for its objects.
struct PeerLink {
    QString name;
    int pidfd = -1; // the server process, to tell a call that never reached it; -1 if unknown
};

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
ClientState& state();

// The connection of this program's automation client, made on first use; none without an
// application object or a session bus.
std::optional<QDBusConnection> Connection();

// A timeout as the bus layer takes it: at least 1 ms, at most a day.
int TimeoutMs(std::chrono::milliseconds timeout);

} // namespace automation::bus::client
