// Bus tests run against a session bus of their own: a dbus-daemon started here for this
// process, so that they never reach a developer's session nor each other.
#include "bus_fixture.h"

#include <QCoreApplication>
#include <QProcess>

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1")});
    if (daemon.waitForStarted(5000) && daemon.waitForReadyRead(5000)) {
        const QByteArray address = daemon.readLine().trimmed();
        if (!address.isEmpty()) {
            setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
            bustest::PrivateBusAddress() = address.toStdString();
        }
    }
    const int result = RUN_ALL_TESTS();
    daemon.terminate();
    daemon.waitForFinished(3000);
    return result;
}
