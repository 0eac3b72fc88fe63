// Pixel helpers for the skin tests: widgets are grabbed offscreen and their
// pixels compared with the scheme's grey levels.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <functional>

extern QString gStyleBeforeSkin;

inline QImage Grab(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

inline bool IsGrey(QRgb c, int level) { return qRed(c) == level && qGreen(c) == level && qBlue(c) == level; }

// Grey level of a pixel, -1 when it is coloured.
inline int GreyOf(QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c) ? qRed(c) : -1; }

// The brightest grey in `area` (text is the brightest thing on the dark faces).
inline int Brightest(const QImage& image, QRect area) {
    area &= image.rect();
    int best = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) best = std::max(best, GreyOf(image.pixel(x, y)));
    return best;
}

// The bounding box of the pixels in `area` that satisfy `test`.
inline QRect Bounds(const QImage& image, QRect area, const std::function<bool(QRgb)>& test) {
    area &= image.rect();
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test(image.pixel(x, y))) box |= QRect(x, y, 1, 1);
    return box;
}

inline int Count(const QImage& image, QRect area, const std::function<bool(QRgb)>& test) {
    area &= image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += test(image.pixel(x, y));
    return n;
}

// Runs of pixels of one colour, row by row: (row, first column, length).
struct PixelRun {
    int y, x, length;
    bool operator==(const PixelRun& o) const { return y == o.y && x == o.x && length == o.length; }
};
std::vector<PixelRun> RowRuns(const QImage& image, QRect area, QRgb colour);
