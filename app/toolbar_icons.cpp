#include "toolbar_icons.h"

#include <QPainter>
#include <QSvgRenderer>

// Resources compiled into a static library are registered by hand.
static void RegisterIconResources() { Q_INIT_RESOURCE(quorvane); }

namespace {

void EnsureResources() {
    static const bool registered = (RegisterIconResources(), true);
    (void)registered;
}

QImage RenderSvg(const QString& path, int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

}  // namespace

QImage GreyedImage(const QImage& source) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = row[x];
            const int grey =
                int((0.3 * qRed(p) + 0.5 * qGreen(p) + 0.2 * qBlue(p)) * 0.43 + 120) - 70;
            const int a = qAlpha(p) >= 100 ? qAlpha(p) : qAlpha(p) / 2;
            row[x] = qRgba(grey, grey, grey, a);
        }
    }
    return image;
}

QIcon ToolbarIcon(const char* name) {
    EnsureResources();
    const QString path = QString(":/icons/%1.svg").arg(name);
    QIcon icon;
    for (int scale : {1, 2}) {
        const QImage image = RenderSvg(path, kToolbarIconSize * scale);
        icon.addPixmap(QPixmap::fromImage(image), QIcon::Normal);
        icon.addPixmap(QPixmap::fromImage(GreyedImage(image)), QIcon::Disabled);
    }
    return icon;
}

QIcon ProgramIcon() {
    EnsureResources();
    return QIcon(":/icons/quorvane.svg");
}
