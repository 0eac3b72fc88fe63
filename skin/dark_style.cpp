#include "dark_style.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionSlider>

#include "color_scheme.h"

DarkStyle::DarkStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}

void SkinEdge(QPainter& p, const QRect& r, bool raised) {
    // Outer line, then the inner line one pixel inside.
    const QColor outerTopLeft = SkinColor(raised ? kColor3dLight : kColorBtnShadow);
    const QColor outerBottomRight = SkinColor(raised ? kColor3dDkShadow : kColorBtnHighlight);
    const QColor innerTopLeft = SkinColor(raised ? kColorBtnHighlight : kColor3dDkShadow);
    const QColor innerBottomRight = SkinColor(raised ? kColorBtnShadow : kColor3dLight);
    auto frame = [&p](const QRect& q, const QColor& topLeft, const QColor& bottomRight) {
        p.fillRect(QRect(q.left(), q.top(), q.width(), 1), topLeft);
        p.fillRect(QRect(q.left(), q.top(), 1, q.height()), topLeft);
        p.fillRect(QRect(q.left(), q.bottom(), q.width(), 1), bottomRight);
        p.fillRect(QRect(q.right(), q.top(), 1, q.height()), bottomRight);
    };
    frame(r, outerTopLeft, outerBottomRight);
    frame(r.adjusted(1, 1, -1, -1), innerTopLeft, innerBottomRight);
}

void DarkStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                   const QWidget* widget) const {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || !slider || slider->orientation != Qt::Horizontal) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QRect groove = subControlRect(CC_Slider, slider, SC_SliderGroove, widget);
    const QRect handle = subControlRect(CC_Slider, slider, SC_SliderHandle, widget);
    const bool enabled = slider->state & State_Enabled;
    painter->save();
    const QRect channel(groove.left(), groove.center().y() - 3, groove.width(), 7);
    painter->fillRect(channel, SkinColor(kColorBtnFace));
    painter->fillRect(QRect(channel.left() + 2, channel.top() + 2, handle.left() - channel.left() - 2, channel.height() - 4),
                      enabled ? QColor(kSliderFill) : SkinColor(kColor3dDkShadow));
    SkinEdge(*painter, channel, false);
    painter->fillRect(handle.adjusted(1, 1, -1, -1), SkinBrush(kColorBtnFace));
    SkinEdge(*painter, handle, true);
    painter->restore();
}
