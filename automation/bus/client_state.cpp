#include "automation/bus/client_state.h"

#include "automation/bus/protocol.h"

#include <QCoreApplication>

#include <algorithm>

namespace automation::bus::client {

namespace {

constexpr char ConnectionName[] = "krepiks-automation-client";

void StopUsingBus() {
    ClientState& s = state();
    std::lock_guard lock(s.mutex);
    s.closing = true;
}

} // namespace

ClientState& state() {
    static ClientState* instance = new ClientState;
    return *instance;
}

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

} // namespace automation::bus::client

namespace automation::bus {

std::chrono::milliseconds CallTimeout() {
    return std::chrono::milliseconds(client::state().callMs.load());
}

void SetCallTimeout(std::chrono::milliseconds timeout) {
    client::state().callMs.store(timeout.count());
}

std::chrono::milliseconds StartTimeout() {
    return std::chrono::milliseconds(client::state().startMs.load());
}

void SetStartTimeout(std::chrono::milliseconds timeout) {
    client::state().startMs.store(timeout.count());
}

} // namespace automation::bus
