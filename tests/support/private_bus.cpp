#include "support/private_bus.h"

#include <cstdlib>

namespace krepiks::test {

bool PrivateBus::start(std::string* error) {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000)) {
        if (error)
            *error = "dbus-daemon (package dbus) could not start";
        return false;
    }
    const QByteArray address = daemon_.readLine().trimmed();
    if (address.isEmpty()) {
        if (error)
            *error = "dbus-daemon gave no address";
        return false;
    }
    address_ = address.toStdString();
    setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
    return true;
}

PrivateBus::~PrivateBus() {
    if (daemon_.state() == QProcess::NotRunning)
        return;
    daemon_.terminate();
    daemon_.waitForFinished(3000);
}

} // namespace krepiks::test
