#include "skin_paint.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "color_scheme.h"

namespace {

void Line(QPainter& p, const QRect& r, unsigned sides, const QColor& topLeft, const QColor& bottomRight) {
    if (sides & BF_TOP) p.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
    if (sides & BF_LEFT) p.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
    if (sides & BF_BOTTOM) p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    if (sides & BF_RIGHT) p.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

QRect Inside(const QRect& r, unsigned sides) {
    return r.adjusted(sides & BF_LEFT ? 1 : 0, sides & BF_TOP ? 1 : 0, sides & BF_RIGHT ? -1 : 0,
                      sides & BF_BOTTOM ? -1 : 0);
}

// Hue-saturation-intensity, with intensity the mean of the channels.
struct Hsi {
    double h, s, i;
};

Hsi ToHsi(const QColor& c) {
    const double r = c.redF(), g = c.greenF(), b = c.blueF();
    const double i = (r + g + b) / 3;
    const double s = i > 0 ? 1 - std::min({r, g, b}) / i : 0;
    const double num = 0.5 * ((r - g) + (r - b));
    const double den = std::sqrt((r - g) * (r - g) + (r - b) * (g - b));
    double h = den > 1e-12 ? std::acos(std::clamp(num / den, -1.0, 1.0)) : 0;
    if (b > g) h = 2 * M_PI - h;
    return {h, s, i};
}

QColor FromHsi(const Hsi& c) {
    const double third = 2 * M_PI / 3;
    double h = std::fmod(c.h, 2 * M_PI);
    int sector = int(h / third);
    h -= sector * third;
    const double x = c.i * (1 - c.s);
    const double y = c.i * (1 + c.s * std::cos(h) / std::cos(M_PI / 3 - h));
    const double z = 3 * c.i - (x + y);
    double r, g, b;
    if (sector == 0) { b = x; r = y; g = z; }
    else if (sector == 1) { r = x; g = y; b = z; }
    else { g = x; b = y; r = z; }
    auto channel = [](double v) { return std::clamp(int(std::lround(v * 255)), 0, 255); };
    return QColor(channel(r), channel(g), channel(b));
}

}  // namespace

void SkinEdge(QPainter& p, const QRect& r, unsigned edge, unsigned sides) {
    QRect line = r;
    if (edge & (kEdgeRaisedOuter | kEdgeSunkenOuter)) {
        const bool raised = edge & kEdgeRaisedOuter;
        Line(p, line, sides, SkinColor(raised ? kColor3dLight : kColorBtnShadow),
             SkinColor(raised ? kColor3dDkShadow : kColorBtnHighlight));
        line = Inside(line, sides);
    }
    if (edge & (kEdgeRaisedInner | kEdgeSunkenInner)) {
        const bool raised = edge & kEdgeRaisedInner;
        Line(p, line, sides, SkinColor(raised ? kColorBtnHighlight : kColor3dDkShadow),
             SkinColor(raised ? kColorBtnShadow : kColor3dLight));
    }
}

void ShadedFace(QPainter& p, const QRect& r, const QColor& face) {
    if (r.height() <= 0) return;
    const Hsi base = ToHsi(face);
    // About +12 % of the intensity at the top row down to -12 % at the bottom.
    for (int row = 0; row < r.height(); ++row) {
        const double t = r.height() > 1 ? double(row) / (r.height() - 1) : 0.5;
        Hsi c = base;
        c.i = std::clamp(base.i * (1.12 - 0.24 * t), 0.0, 1.0);
        p.fillRect(QRect(r.left(), r.top() + row, r.width(), 1), FromHsi(c));
    }
}

void DrawArrow(QPainter& p, const QRect& r, ArrowDirection direction, const QColor& colour, int rows) {
    const int longest = 2 * rows - 1;
    const bool vertical = direction == ArrowDirection::Up || direction == ArrowDirection::Down;
    const int w = vertical ? longest : rows, h = vertical ? rows : longest;
    const int x0 = r.left() + (r.width() - w) / 2, y0 = r.top() + (r.height() - h) / 2;
    for (int i = 0; i < rows; ++i) {
        const int length = longest - 2 * i;  // line i is i pixels in from each end
        switch (direction) {
            case ArrowDirection::Down: p.fillRect(QRect(x0 + i, y0 + i, length, 1), colour); break;
            case ArrowDirection::Up: p.fillRect(QRect(x0 + i, y0 + rows - 1 - i, length, 1), colour); break;
            case ArrowDirection::Right: p.fillRect(QRect(x0 + i, y0 + i, 1, length), colour); break;
            case ArrowDirection::Left: p.fillRect(QRect(x0 + rows - 1 - i, y0 + i, 1, length), colour); break;
        }
    }
}
