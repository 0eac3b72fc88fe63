// quorvane-contact-sheet: the demo's side-by-side views of a photograph and
// its repaintings.
#include <QGuiApplication>
#include <cstdio>

#include "contact_sheet.h"

namespace {

constexpr int kCellWidth = 480;
constexpr int kCropSize = 320;

int Usage() {
    std::fprintf(stderr,
                 "Usage: quorvane-contact-sheet SHEET.png CROP.png LABEL=PICTURE...\n"
                 "Writes the pictures side by side at one scale (SHEET) and the most detailed\n"
                 "region of the first one at 100 %% in every picture (CROP).\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 3) return Usage();

    std::vector<LabelledPicture> pictures;
    for (const QString& arg : args.mid(2)) {
        const int equals = arg.indexOf('=');
        if (equals <= 0) return Usage();
        LabelledPicture p{arg.left(equals), QImage(arg.mid(equals + 1))};
        if (p.picture.isNull()) {
            std::fprintf(stderr, "quorvane-contact-sheet: cannot read %s\n", qPrintable(arg.mid(equals + 1)));
            return 1;
        }
        pictures.push_back(p);
    }
    const QImage sheet = ContactSheet(pictures, kCellWidth);
    const QImage crop = CropSheet(pictures, MostDetailedRegion(pictures.front().picture, kCropSize));
    if (sheet.isNull() || crop.isNull()) {
        std::fprintf(stderr, "quorvane-contact-sheet: the pictures differ in size\n");
        return 1;
    }
    if (!sheet.save(args[0]) || !crop.save(args[1])) {
        std::fprintf(stderr, "quorvane-contact-sheet: cannot write %s or %s\n", qPrintable(args[0]),
                     qPrintable(args[1]));
        return 1;
    }
    return 0;
}
