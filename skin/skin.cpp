#include "skin.h"

#include <QApplication>
#include <QPointer>
#include <QStyleFactory>
#include <QToolTip>

#include "color_scheme.h"
#include "dark_style.h"
#include "dialog_keys.h"

namespace {
QPointer<DialogKeys>& Keys() {
    static QPointer<DialogKeys> keys;
    return keys;
}
}  // namespace

void SkinStart() {
    if (SkinActive()) return;
    QApplication::setStyle(new DarkStyle);
    const QPalette palette = SchemePalette();
    QApplication::setPalette(palette);
    QToolTip::setPalette(palette);
    Keys() = new DialogKeys(qApp);
    qApp->installEventFilter(Keys());
}

void SkinStop() {
    if (!SkinActive()) return;
    qApp->removeEventFilter(Keys());
    delete Keys();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication::setPalette(QApplication::style()->standardPalette());
}

bool SkinActive() { return !Keys().isNull(); }
