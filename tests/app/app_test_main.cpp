#include <gtest/gtest.h>

#include <QApplication>

#include "color_scheme.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    InstallColorScheme();
    return RUN_ALL_TESTS();
}
