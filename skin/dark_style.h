// The program's look: every window, dialog and standard control drawn in the
// dark colour scheme. A proxy over Qt's classic "Windows" style, which gives
// flat, gradient-free geometry; every face, frame, text and arrow that shows
// is drawn here with the scheme's colours, edges and check-box images.
#pragma once

#include <QImage>
#include <QProxyStyle>

class DarkStyle : public QProxyStyle {
public:
    DarkStyle();

    QPalette standardPalette() const override;
    void polish(QPalette& palette) override;
    void polish(QWidget* widget) override;
    using QProxyStyle::polish;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;

private:
    void DrawMenuItem(const QStyleOption* option, QPainter* p) const;
    void DrawSlider(const QStyleOptionComplex* option, QPainter* p, const QWidget* widget) const;
    void DrawComboBox(const QStyleOptionComplex* option, QPainter* p, const QWidget* widget) const;
    void DrawGroupBox(const QStyleOptionComplex* option, QPainter* p, const QWidget* widget) const;
};

// The check-box image for a state, as drawn: the dark set ("CHECKD_SEL",
// "CHECKD_SEMI", "CHECKD_DES" with "ON" or "OFF") over opaque black.
QString CheckImageName(Qt::CheckState state, bool enabled);
QImage CheckImage(Qt::CheckState state, bool enabled);

// The fill of a slider's channel left of the thumb.
constexpr QRgb kSliderFill = 0xFF6587A8;  // RGB(101, 135, 168)
