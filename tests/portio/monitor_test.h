#pragma once

// What the lamp monitors' tests share: reading a label by its objectName, and
// a main() that runs the tests under a QApplication.

#include <QApplication>
#include <QLabel>
#include <QString>

#include <gtest/gtest.h>

namespace runlight::testing {

inline QString labelText(const QWidget& monitor, const char* name) {
    const auto* label = monitor.findChild<QLabel*>(name);
    return label != nullptr ? label->text() : QString("<no %1>").arg(name);
}

inline int runMonitorTests(int argc, char** argv) {
    // Also when listing the tests at build time, where no display is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace runlight::testing
