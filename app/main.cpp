// quorvane: the desktop program.
#include <QApplication>
#include <QCommandLineParser>

#include "color_scheme.h"
#include "dark_style.h"
#include "main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quorvane");
    QApplication::setApplicationVersion(QUORVANE_VERSION);
    QApplication::setStyle(new DarkStyle);
    InstallColorScheme();
    ApplyColorScheme(app);

    QCommandLineParser parser;
    parser.setApplicationDescription("Turns photographs into painted-looking pictures.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("file", "A picture to open at start.");
    parser.process(app);

    int code = 0;
    {
        MainWindow window(DefaultSettingsPaths());
        window.show();
        // "Open with": the file opens as if it had been dropped on the window.
        if (!parser.positionalArguments().isEmpty())
            window.OpenFile(parser.positionalArguments().front().toStdString());
        code = app.exec();
    }
    ReleaseColorScheme();
    return code;
}
