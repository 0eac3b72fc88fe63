// Drawing primitives of the skin in the scheme's colours: two-line edges,
// shaded faces and small arrows made of one-pixel lines.
#pragma once

#include <QColor>
#include <QRect>

class QPainter;

// Edge bits: the outer line raised or sunken, the inner line (one pixel
// inside) raised or sunken.
enum EdgeBits : unsigned {
    kEdgeRaisedOuter = 0x1,
    kEdgeSunkenOuter = 0x2,
    kEdgeRaisedInner = 0x4,
    kEdgeSunkenInner = 0x8,
    kEdgeRaised = kEdgeRaisedOuter | kEdgeRaisedInner,
    kEdgeSunken = kEdgeSunkenOuter | kEdgeSunkenInner,
};

// Side bits: which sides of the rectangle get lines.
enum EdgeSides : unsigned {
    BF_LEFT = 0x1,
    BF_TOP = 0x2,
    BF_RIGHT = 0x4,
    BF_BOTTOM = 0x8,
    BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM,
};

// Draws the edge on the border of `r` (the outer line on its outermost
// pixels). Raised outer: 3D light top-left, 3D dark shadow bottom-right;
// sunken outer: button shadow / button highlight. Raised inner: button
// highlight / button shadow; sunken inner: 3D dark shadow / 3D light.
// Bottom and right lines are drawn last and own the corners they share.
void SkinEdge(QPainter& p, const QRect& r, unsigned edge, unsigned sides = BF_RECT);

// Fills `r` with `face`, its intensity ramped row by row from lighter at
// the top to darker at the bottom; hue and saturation are kept.
void ShadedFace(QPainter& p, const QRect& r, const QColor& face);

enum class ArrowDirection { Up, Down, Left, Right };

// A small arrow as a stack of one-pixel lines, `rows` long (rows 4 gives
// lines of 7, 5, 3 and 1 pixels), centred in `r`.
void DrawArrow(QPainter& p, const QRect& r, ArrowDirection direction, const QColor& colour, int rows = 4);
