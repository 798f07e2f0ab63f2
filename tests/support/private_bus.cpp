#include "support/private_bus.h"

#include <csignal>
#include <cstdlib>
#include <sys/prctl.h>
#include <unistd.h>

namespace krepiks::test {

bool PrivateBus::start(std::string* error) {
    // The daemon ends with this process, however it ends: nothing else would end it.
    const pid_t parent = getpid();
    daemon_.setChildProcessModifier([parent] {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
    });
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
