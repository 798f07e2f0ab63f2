// Whole-program runs against a session bus of their own, so that the programs they start
// never reach a developer's session nor each other.
#include "support/private_bus.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    krepiks::test::PrivateBus bus;
    std::string error;
    if (!bus.start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return RUN_ALL_TESTS();
}
