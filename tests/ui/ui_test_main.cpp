// The windows' tests run inside the program's own application object, so an
// exception escaping a handler is caught as the program catches it.

#include <gtest/gtest.h>

#include "application.h"

int main(int argc, char** argv) {
    // Test discovery at build time runs without the tests' environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    runlight::ui::Application app(argc, argv);
    return RUN_ALL_TESTS();
}
