// GoogleTest main for tests that need an application object (offscreen platform).
#include "shell/application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    krepiks::KrepiksApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
