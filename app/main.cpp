// quorvane: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <atomic>
#include <cstring>

#include "color_scheme.h"
#include "main_window.h"
#include "platform.h"
#include "skin.h"

namespace {

void DescribeCommandLine(QCommandLineParser& parser) {
    QCoreApplication::setApplicationName("Quorvane");
    QCoreApplication::setApplicationVersion(QUORVANE_VERSION);
    parser.setApplicationDescription("Turns photographs into painted-looking pictures.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("file", "A picture to open at start.");
}

bool AsksForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer in a terminal without a display.
    if (AsksForHelpOrVersion(argc, argv)) {
        QCoreApplication core(argc, argv);
        QCommandLineParser parser;
        DescribeCommandLine(parser);
        parser.process(core);  // prints and exits
    }

    QApplication app(argc, argv);
    // Lets the desktop match the window to the installed menu entry and icon.
    QGuiApplication::setDesktopFileName("quorvane");
    InstallColorScheme();
    SkinStart();

    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.process(app);

    int code = 0;
    {
        MainWindow window(DefaultSettingsPaths());
        window.show();
        // SIGTERM (a logout, `kill`) and Ctrl+C end the program as a close
        // would, instead of leaving a crash warning for the next start.
        static std::atomic<bool> endRequested{false};
        CatchInterrupts(endRequested);
        QTimer endWatch;
        QObject::connect(&endWatch, &QTimer::timeout, [&] {
            if (!endRequested.load()) return;
            endWatch.stop();
            window.EndOnRequest();
        });
        endWatch.start(200);
        // "Open with": the file opens as if it had been dropped on the window.
        if (!parser.positionalArguments().isEmpty())
            window.OpenFile(parser.positionalArguments().front().toStdString());
        code = app.exec();
    }
    ReleaseColorScheme();
    SkinStop();
    return code;
}
