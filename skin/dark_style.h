// The program's style: Qt's Fusion in the scheme's colours, with the
// sliders drawn as sunken channels filled up to a raised dark thumb.
#pragma once

#include <QProxyStyle>

class DarkStyle : public QProxyStyle {
public:
    DarkStyle();
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};

// Draws a two-line edge in the scheme's colours: raised or sunken.
void SkinEdge(QPainter& painter, const QRect& r, bool raised);

// The fill of a slider's channel left of the thumb.
constexpr QRgb kSliderFill = 0xFF6587A8;  // RGB(101, 135, 168)
