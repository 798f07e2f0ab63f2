// Bus tests run against a session bus of their own: a dbus-daemon started here for this
// process, so that they never reach a developer's session nor each other.
#include "bus_fixture.h"
#include "support/private_bus.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    krepiks::test::PrivateBus bus;
    if (bus.start(nullptr))
        bustest::PrivateBusAddress() = bus.address();
    return RUN_ALL_TESTS();
}
