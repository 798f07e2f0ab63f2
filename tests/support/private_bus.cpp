#include "support/private_bus.h"

#include <QFile>

#include <csignal>
#include <cstdlib>
#include <sys/prctl.h>
#include <unistd.h>

namespace krepiks::test {

bool PrivateBus::start(std::string* error, const std::string& serviceFolder) {
    QStringList arguments{QStringLiteral("--session")};
    if (!serviceFolder.empty()) {
        config_.emplace();
        QFile config(config_->filePath(QStringLiteral("session.conf")));
        if (!config_->isValid() || !config.open(QIODevice::WriteOnly)) {
            if (error)
                *error = "no folder for the bus's configuration";
            return false;
        }
        // The socket in that folder too: it goes with the folder, however the daemon ended.
        config.write(
            QByteArray("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                       "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                       "busconfig.dtd\">\n<busconfig><type>session</type>"
                       "<listen>unix:dir=") +
            config_->path().toHtmlEscaped().toUtf8() + "</listen><servicedir>" +
            QString::fromStdString(serviceFolder).toHtmlEscaped().toUtf8() +
            "</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
            "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
            "</policy></busconfig>\n");
        arguments = {QStringLiteral("--config-file=") + config.fileName()};
    }
    // The daemon ends with this process, however it ends: nothing else would end it.
    const pid_t parent = getpid();
    daemon_.setChildProcessModifier([parent] {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
    });
    arguments << QStringLiteral("--nofork") << QStringLiteral("--print-address=1");
    daemon_.start(QStringLiteral("dbus-daemon"), arguments);
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
