#pragma once
// A dbus-daemon of the process's own as its session bus, so that tests and benchmarks never
// reach a developer's session nor each other. Ended with the object, or with the process.
#include <QProcess>
#include <QTemporaryDir>

#include <optional>
#include <string>

namespace krepiks::test {

class PrivateBus {
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Starts the daemon and points DBUS_SESSION_BUS_ADDRESS at it; why not, in error. With a
    // service folder, the bus starts the services whose files are there (and no others).
    bool start(std::string* error, const std::string& serviceFolder = {});
    bool running() const { return daemon_.state() == QProcess::Running; }
    const std::string& address() const { return address_; }
    qint64 pid() const { return daemon_.processId(); }

private:
    // Made only for a service folder: a process killed outright leaves no folder behind.
    std::optional<QTemporaryDir> config_;
    QProcess daemon_;
    std::string address_;
};

} // namespace krepiks::test
