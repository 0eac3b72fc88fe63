#include <gtest/gtest.h>

#include <QApplication>
#include <QStyle>
#include <vector>

#include "color_scheme.h"
#include "skin.h"
#include "skin_test_util.h"

QString gStyleBeforeSkin;

// The tests run as a user who asked for another style twice over, on the
// command line and in the environment: the skin must replace it.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_STYLE_OVERRIDE", "windows");
    ::testing::InitGoogleTest(&argc, argv);
    std::vector<char*> args(argv, argv + argc);
    char style[] = "-style", name[] = "windows";
    args.push_back(style);
    args.push_back(name);
    int count = int(args.size());
    QApplication app(count, args.data());
    gStyleBeforeSkin = app.style()->name();
    InstallColorScheme();
    SkinStart();
    return RUN_ALL_TESTS();
}
