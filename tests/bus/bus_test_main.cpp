// Bus tests run against a session bus of their own: a dbus-daemon started here for this
// process, so that they never reach a developer's session nor each other.
#include "bus_fixture.h"
#include "support/private_bus.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    // The bus starts the services whose files the tests put here.
    const QTemporaryDir services;
    krepiks::test::PrivateBus bus;
    if (services.isValid() && bus.start(nullptr, services.path().toStdString())) {
        bustest::PrivateBusAddress() = bus.address();
        bustest::ServiceFolder() = services.path().toStdString();
    }
    return RUN_ALL_TESTS();
}
