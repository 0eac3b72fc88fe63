#include "dark_style.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QPainter>
#include <QPolygon>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>
#include <array>

#include "color_scheme.h"
#include "skin_paint.h"

// Resources live in this static library; registering them by hand keeps the
// linker from dropping them.
static void RegisterSkinResources() { Q_INIT_RESOURCE(skin); }

namespace {

constexpr int kIndicatorSide = 13;  // a quarter of the classic four-box strip

QStyle* ClassicBase() {
    if (QStyle* s = QStyleFactory::create("Windows")) return s;
    return QStyleFactory::create("Fusion");
}

QColor TextColour(const QStyleOption* o) {
    return SkinColor((o->state & QStyle::State_Enabled) ? kColorBtnText : kColorGrayText);
}

ArrowDirection DirectionOf(QStyle::PrimitiveElement e) {
    switch (e) {
        case QStyle::PE_IndicatorArrowUp:
        case QStyle::PE_IndicatorSpinUp:
        case QStyle::PE_IndicatorSpinPlus: return ArrowDirection::Up;
        case QStyle::PE_IndicatorArrowLeft: return ArrowDirection::Left;
        case QStyle::PE_IndicatorArrowRight: return ArrowDirection::Right;
        default: return ArrowDirection::Down;
    }
}

// As many rows (up to four: 7-5-3-1) as the rectangle holds.
int ArrowRows(const QRect& r, ArrowDirection d) {
    const bool vertical = d == ArrowDirection::Up || d == ArrowDirection::Down;
    const int across = vertical ? r.width() : r.height(), along = vertical ? r.height() : r.width();
    return std::clamp(std::min((across + 1) / 2, along), 2, 4);
}

void Outline(QPainter& p, const QRect& r, const QColor& c) {
    p.fillRect(QRect(r.left(), r.top(), r.width(), 1), c);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), c);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height()), c);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height()), c);
}

void DottedRect(QPainter& p, const QRect& r, const QColor& c) {
    for (int x = r.left(); x <= r.right(); x += 2) {
        p.fillRect(x, r.top(), 1, 1, c);
        p.fillRect(x, r.bottom(), 1, 1, c);
    }
    for (int y = r.top(); y <= r.bottom(); y += 2) {
        p.fillRect(r.left(), y, 1, 1, c);
        p.fillRect(r.right(), y, 1, 1, c);
    }
}

// Push-button faces: raised when up, sunken when pushed or checked; a flat
// button shows a frame only under the mouse or when pushed; a disabled one
// has a single quiet line.
void ButtonFace(QPainter& p, const QStyleOption* o, bool flat) {
    const bool enabled = o->state & QStyle::State_Enabled;
    const bool down = o->state & (QStyle::State_Sunken | QStyle::State_On);
    p.fillRect(o->rect, SkinColor(kColorBtnFace));
    if (flat) {
        if (down && enabled)
            SkinEdge(p, o->rect, kEdgeSunkenOuter);
        else if (enabled && (o->state & QStyle::State_MouseOver))
            SkinEdge(p, o->rect, kEdgeRaisedInner);
        return;
    }
    if (!enabled) {
        Outline(p, o->rect, SkinColor(down ? kColorBtnShadow : kColor3dDkShadow));
        return;
    }
    SkinEdge(p, o->rect, down ? kEdgeSunken : kEdgeRaised);
}

void ToolButtonPanel(QPainter& p, const QStyleOption* o) {
    const bool enabled = o->state & QStyle::State_Enabled;
    const bool down = o->state & (QStyle::State_Sunken | QStyle::State_On);
    const bool autoRaise = o->state & QStyle::State_AutoRaise;
    if (!autoRaise) p.fillRect(o->rect, SkinColor(kColorBtnFace));
    if (down && enabled)
        SkinEdge(p, o->rect, kEdgeSunkenOuter);
    else if (!autoRaise || (enabled && (o->state & QStyle::State_MouseOver)))
        SkinEdge(p, o->rect, kEdgeRaisedInner);
}

void RadioGlyph(QPainter& p, const QStyleOption* o) {
    const bool enabled = o->state & QStyle::State_Enabled;
    const int side = std::min(o->rect.width(), o->rect.height());
    const QRectF r(o->rect.x() + (o->rect.width() - side) / 2, o->rect.y() + (o->rect.height() - side) / 2, side,
                   side);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(SkinColor(enabled ? kColorWindow : kColorBtnFace));
    p.drawEllipse(r.adjusted(1, 1, -1, -1));
    auto arcs = [&p](const QRectF& q, const QColor& topLeft, const QColor& bottomRight) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(topLeft, 1));
        p.drawArc(q, 45 * 16, 180 * 16);
        p.setPen(QPen(bottomRight, 1));
        p.drawArc(q, 225 * 16, 180 * 16);
    };
    arcs(r.adjusted(0.5, 0.5, -0.5, -0.5), SkinColor(kColorBtnShadow), SkinColor(kColorBtnHighlight));
    arcs(r.adjusted(1.5, 1.5, -1.5, -1.5), SkinColor(kColor3dDkShadow), SkinColor(kColor3dLight));
    if (o->state & QStyle::State_On) {
        p.setPen(Qt::NoPen);
        p.setBrush(TextColour(o));
        const qreal dot = side / 2.6;
        p.drawEllipse(r.center(), dot / 2, dot / 2);
    }
    p.restore();
}

// Win32 menu geometry, as the classic style lays items out.
constexpr int kItemFrame = 2, kItemHMargin = 3, kItemVMargin = 2, kRightBorder = 15, kCheckMarkWidth = 12,
              kArrowHMargin = 6;

}  // namespace

QString CheckImageName(Qt::CheckState state, bool enabled) {
    const char* part = state == Qt::Checked ? "SEL" : state == Qt::PartiallyChecked ? "SEMI" : "DES";
    return QString("CHECKD_%1%2").arg(part, enabled ? "ON" : "OFF");
}

QImage CheckImage(Qt::CheckState state, bool enabled) {
    static std::array<QImage, 6> cache;
    QImage& image = cache[size_t(int(state) * 2 + (enabled ? 1 : 0))];
    if (image.isNull()) {
        RegisterSkinResources();
        const QImage png(":/skin/" + CheckImageName(state, enabled));
        QImage over(png.isNull() ? QSize(kIndicatorSide, kIndicatorSide) : png.size(), QImage::Format_RGB32);
        over.fill(Qt::black);
        QPainter p(&over);
        p.drawImage(0, 0, png);
        image = over;
    }
    return image;
}

DarkStyle::DarkStyle() : QProxyStyle(ClassicBase()) {
    RegisterSkinResources();
    setObjectName("quorvane-dark");
}

QPalette DarkStyle::standardPalette() const { return SchemePalette(); }

void DarkStyle::polish(QPalette& palette) { palette = SchemePalette(); }

void DarkStyle::polish(QWidget* widget) {
    QProxyStyle::polish(widget);
    // Hover and press states redraw.
    if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
        qobject_cast<QScrollBar*>(widget))
        widget->setAttribute(Qt::WA_Hover, true);
}

int DarkStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    switch (metric) {
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight: return kIndicatorSide;
        case PM_CheckBoxLabelSpacing:
        case PM_RadioButtonLabelSpacing: {
            // The gap before a check box's text: one "t" and a pixel.
            const QFontMetrics fm = option ? option->fontMetrics
                                    : widget ? widget->fontMetrics()
                                             : QFontMetrics(QApplication::font());
            return fm.horizontalAdvance('t') + 1;
        }
        case PM_ButtonShiftHorizontal:
        case PM_ButtonShiftVertical: return 1;
        case PM_TabBarTabShiftVertical: return 2;
        case PM_TabBarTabShiftHorizontal: return 0;
        case PM_MenuPanelWidth: return 2;
        case PM_DefaultFrameWidth: return 2;
        default: return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

int DarkStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                         QStyleHintReturn* returnData) const {
    switch (hint) {
        case SH_DialogButtonBox_ButtonsHaveIcons:
        case SH_EtchDisabledText:
        case SH_DitherDisabledText:
        case SH_ComboBox_Popup: return 0;
        case SH_UnderlineShortcut: return 1;
        default: return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

void DarkStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* o, QPainter* p,
                              const QWidget* widget) const {
    const QRect& r = o->rect;
    const bool enabled = o->state & State_Enabled;
    switch (element) {
        case PE_IndicatorCheckBox:
        case PE_IndicatorItemViewItemCheck: {
            const Qt::CheckState state = (o->state & State_On)         ? Qt::Checked
                                         : (o->state & State_NoChange) ? Qt::PartiallyChecked
                                                                       : Qt::Unchecked;
            const QImage image = CheckImage(state, enabled);
            const QPoint at(r.x() + (r.width() - image.width()) / 2, r.y() + (r.height() - image.height()) / 2);
            p->drawImage(at, image);
            return;
        }
        case PE_IndicatorRadioButton: RadioGlyph(*p, o); return;
        case PE_FrameGroupBox: {
            Outline(*p, r.adjusted(1, 1, 0, 0), SkinColor(kColorBtnHighlight));
            Outline(*p, r.adjusted(0, 0, -1, -1), SkinColor(kColorBtnShadow));
            return;
        }
        case PE_PanelButtonCommand:
        case PE_PanelButtonBevel: {
            const auto* b = qstyleoption_cast<const QStyleOptionButton*>(o);
            ButtonFace(*p, o, b && (b->features & QStyleOptionButton::Flat));
            return;
        }
        case PE_FrameDefaultButton: return;
        case PE_FrameButtonBevel: SkinEdge(*p, r, (o->state & (State_Sunken | State_On)) ? kEdgeSunken : kEdgeRaised); return;
        case PE_PanelButtonTool:
        case PE_IndicatorButtonDropDown: ToolButtonPanel(*p, o); return;
        case PE_FrameButtonTool: SkinEdge(*p, r, (o->state & (State_Sunken | State_On)) ? kEdgeSunkenOuter : kEdgeRaisedInner); return;
        case PE_FrameFocusRect: DottedRect(*p, r, SkinColor(kColorGrayText)); return;
        case PE_PanelLineEdit: {
            const auto* f = qstyleoption_cast<const QStyleOptionFrame*>(o);
            p->fillRect(r, SkinColor(enabled ? kColorWindow : kColorBtnFace));
            if (f && f->lineWidth > 0) SkinEdge(*p, r, kEdgeSunken);
            return;
        }
        case PE_FrameLineEdit: SkinEdge(*p, r, kEdgeSunken); return;
        case PE_Frame:
        case PE_FrameWindow:
        case PE_FrameDockWidget: {
            const auto* f = qstyleoption_cast<const QStyleOptionFrame*>(o);
            const int width = f ? f->lineWidth : 2;
            if (o->state & State_Sunken)
                SkinEdge(*p, r, width > 1 ? kEdgeSunken : kEdgeSunkenOuter);
            else if (o->state & State_Raised)
                SkinEdge(*p, r, width > 1 ? kEdgeRaised : kEdgeRaisedInner);
            else
                Outline(*p, r, SkinColor(kColorBtnShadow));
            return;
        }
        case PE_FrameTabWidget: SkinEdge(*p, r, kEdgeRaised); return;
        case PE_FrameTabBarBase: return;
        case PE_PanelMenu:
        case PE_PanelMenuBar:
        case PE_PanelToolBar:
        case PE_PanelScrollAreaCorner:
        case PE_IndicatorDockWidgetResizeHandle: p->fillRect(r, SkinColor(kColorBtnFace)); return;
        case PE_FrameMenu: SkinEdge(*p, r, kEdgeRaised); return;
        case PE_PanelStatusBar:
            p->fillRect(r, SkinBrush(kColorBtnFace));
            p->fillRect(QRect(r.left(), r.top(), r.width(), 1), SkinBrush(kColorBtnHighlight));
            return;
        case PE_FrameStatusBarItem:
        case PE_IndicatorToolBarHandle: return;
        case PE_IndicatorToolBarSeparator: {
            // An etched line across the bar.
            if (o->state & State_Horizontal) {
                const int x = r.center().x();
                p->fillRect(QRect(x, r.top() + 2, 1, r.height() - 4), SkinColor(kColorBtnShadow));
                p->fillRect(QRect(x + 1, r.top() + 2, 1, r.height() - 4), SkinColor(kColorBtnHighlight));
            } else {
                const int y = r.center().y();
                p->fillRect(QRect(r.left() + 2, y, r.width() - 4, 1), SkinColor(kColorBtnShadow));
                p->fillRect(QRect(r.left() + 2, y + 1, r.width() - 4, 1), SkinColor(kColorBtnHighlight));
            }
            return;
        }
        case PE_PanelTipLabel:
            p->fillRect(r, SkinColor(kColorBtnFace));
            Outline(*p, r, SkinColor(kColor3dLight));
            return;
        case PE_IndicatorArrowUp:
        case PE_IndicatorArrowDown:
        case PE_IndicatorArrowLeft:
        case PE_IndicatorArrowRight:
        case PE_IndicatorSpinUp:
        case PE_IndicatorSpinDown:
        case PE_IndicatorSpinPlus:
        case PE_IndicatorSpinMinus: {
            const ArrowDirection d = DirectionOf(element);
            const QRect at = (o->state & State_Sunken) ? r.translated(1, 1) : r;
            DrawArrow(*p, at, d, TextColour(o), ArrowRows(r, d));
            return;
        }
        case PE_IndicatorHeaderArrow: {
            const auto* h = qstyleoption_cast<const QStyleOptionHeader*>(o);
            const ArrowDirection d =
                h && h->sortIndicator == QStyleOptionHeader::SortUp ? ArrowDirection::Up : ArrowDirection::Down;
            DrawArrow(*p, r, d, TextColour(o), 3);
            return;
        }
        case PE_IndicatorBranch: {
            if (!(o->state & State_Children)) return;
            const ArrowDirection d = (o->state & State_Open) ? ArrowDirection::Down : ArrowDirection::Right;
            DrawArrow(*p, r, d, SkinColor(kColorBtnText), 3);
            return;
        }
        case PE_IndicatorProgressChunk: p->fillRect(r, o->palette.highlight()); return;
        default: QProxyStyle::drawPrimitive(element, o, p, widget);
    }
}

void DarkStyle::DrawMenuItem(const QStyleOption* option, QPainter* p) const {
    const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (!mi) return;
    const QRect& r = mi->rect;
    p->fillRect(r, SkinColor(kColorBtnFace));
    if (mi->menuItemType == QStyleOptionMenuItem::Separator) {
        const int y = r.center().y();
        p->fillRect(QRect(r.left() + 2, y, r.width() - 4, 1), SkinColor(kColorBtnShadow));
        p->fillRect(QRect(r.left() + 2, y + 1, r.width() - 4, 1), SkinColor(kColorBtnHighlight));
        return;
    }
    const bool enabled = mi->state & State_Enabled;
    const bool selected = mi->state & State_Selected;
    if (selected) p->fillRect(r, mi->palette.brush(QPalette::Active, QPalette::Highlight));
    const QColor text = SkinColor(enabled ? kColorBtnText : kColorGrayText);
    const int checkcol = std::max(mi->maxIconWidth, kCheckMarkWidth);
    const QRect check(r.x() + kItemFrame, r.y(), checkcol, r.height());
    if (mi->checkType != QStyleOptionMenuItem::NotCheckable && mi->checked) {
        // A tick of one-pixel lines, like the small arrows.
        const int x = check.center().x() - 3, y = check.center().y() - 1;
        for (int i = 0; i < 3; ++i) p->fillRect(QRect(x + i, y + i, 1, 3), text);
        for (int i = 0; i < 4; ++i) p->fillRect(QRect(x + 3 + i, y + 1 - i, 1, 3), text);
    } else if (!mi->icon.isNull()) {
        const int size = pixelMetric(PM_SmallIconSize, mi, nullptr);
        const QPixmap pm = mi->icon.pixmap(QSize(size, size), enabled ? QIcon::Normal : QIcon::Disabled);
        p->drawPixmap(check.x() + (check.width() - size) / 2, check.y() + (check.height() - size) / 2, pm);
    }
    const int xm = kItemFrame + checkcol + kItemHMargin;
    const int tab = mi->reservedShortcutWidth;
    const QRect textRect(r.x() + xm, r.y() + kItemVMargin, r.width() - xm - kRightBorder - tab + 1,
                         r.height() - 2 * kItemVMargin);
    QString label = mi->text;
    const int t = label.indexOf('\t');
    const int flags = Qt::AlignVCenter | Qt::TextShowMnemonic | Qt::TextDontClip | Qt::TextSingleLine;
    p->save();
    p->setPen(text);
    p->setFont(mi->font);
    if (t >= 0) {
        const QRect shortcut(textRect.right() + 1, textRect.y(), tab, textRect.height());
        p->drawText(shortcut, flags | Qt::AlignLeft, label.mid(t + 1));
        label = label.left(t);
    }
    p->drawText(textRect, flags | Qt::AlignLeft, label);
    p->restore();
    if (mi->menuItemType == QStyleOptionMenuItem::SubMenu) {
        const int dim = (r.height() - 4) / 2;
        const QRect arrow(r.right() - kArrowHMargin - dim, r.y() + r.height() / 2 - dim / 2, dim, dim);
        DrawArrow(*p, arrow, ArrowDirection::Right, text, 4);
    }
}

void DarkStyle::drawControl(ControlElement element, const QStyleOption* o, QPainter* p,
                            const QWidget* widget) const {
    const QRect& r = o->rect;
    switch (element) {
        case CE_PushButtonBevel: {
            const auto* b = qstyleoption_cast<const QStyleOptionButton*>(o);
            ButtonFace(*p, o, b && (b->features & QStyleOptionButton::Flat));
            if (b && (b->features & QStyleOptionButton::HasMenu)) {
                const int size = pixelMetric(PM_MenuButtonIndicator, o, widget);
                QStyleOption arrow = *o;
                arrow.rect = QRect(r.right() - size - 4, r.y(), size, r.height());
                drawPrimitive(PE_IndicatorArrowDown, &arrow, p, widget);
            }
            return;
        }
        case CE_MenuItem: DrawMenuItem(o, p); return;
        case CE_MenuEmptyArea:
        case CE_MenuBarEmptyArea:
        case CE_ToolBar:
        case CE_Splitter: p->fillRect(r, SkinColor(kColorBtnFace)); return;
        case CE_ProgressBarGroove:
            p->fillRect(r, SkinColor(kColorWindow));
            SkinEdge(*p, r, kEdgeSunkenOuter);
            return;
        case CE_ProgressBarContents: {
            const auto* bar = qstyleoption_cast<const QStyleOptionProgressBar*>(o);
            if (!bar || bar->maximum <= bar->minimum) break;  // busy: the classic moving blocks
            const QRect inside = r.adjusted(1, 1, -1, -1);
            const double done = double(qint64(bar->progress) - bar->minimum) / (qint64(bar->maximum) - bar->minimum);
            const bool vertical = !(bar->state & State_Horizontal);
            const int length = int(std::clamp(done, 0.0, 1.0) * (vertical ? inside.height() : inside.width()));
            QRect fill = vertical ? QRect(inside.left(), inside.bottom() - length + 1, inside.width(), length)
                                  : QRect(inside.left(), inside.top(), length, inside.height());
            if (!vertical && (bar->invertedAppearance != (bar->direction == Qt::RightToLeft)))
                fill.moveRight(inside.right());
            p->fillRect(fill, bar->palette.brush(QPalette::Active, QPalette::Highlight));
            return;
        }
        case CE_HeaderSection:
            p->fillRect(r, SkinColor(kColorBtnFace));
            SkinEdge(*p, r, (o->state & State_Sunken) ? kEdgeSunkenOuter : kEdgeRaised);
            return;
        case CE_HeaderEmptyArea:
            p->fillRect(r, SkinColor(kColorBtnFace));
            SkinEdge(*p, r, kEdgeRaisedInner);
            return;
        case CE_TabBarTabShape: {
            const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(o);
            if (!tab || tab->shape != QTabBar::RoundedNorth) break;
            const QRect face = (tab->state & State_Selected) ? r : r.adjusted(0, 2, 0, 0);
            p->fillRect(face, SkinColor(kColorBtnFace));
            SkinEdge(*p, face, kEdgeRaised, BF_LEFT | BF_TOP | BF_RIGHT);
            return;
        }
        case CE_ScrollBarAddLine:
        case CE_ScrollBarSubLine: {
            const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(o);
            const bool horizontal = bar && bar->orientation == Qt::Horizontal;
            const bool pressed = o->state & State_Sunken;
            p->fillRect(r, SkinColor(kColorBtnFace));
            SkinEdge(*p, r, pressed ? kEdgeSunkenOuter : kEdgeRaised);
            const bool add = element == CE_ScrollBarAddLine;
            const ArrowDirection d = horizontal ? (add ? ArrowDirection::Right : ArrowDirection::Left)
                                                : (add ? ArrowDirection::Down : ArrowDirection::Up);
            const QRect at = pressed ? r.translated(1, 1) : r;
            DrawArrow(*p, at, d, TextColour(o), ArrowRows(r.adjusted(2, 2, -2, -2), d));
            return;
        }
        case CE_ScrollBarAddPage:
        case CE_ScrollBarSubPage:
            p->fillRect(r, SkinColor((o->state & State_Sunken) ? kColor3dDkShadow : kColorWindow));
            return;
        case CE_ScrollBarSlider:
            p->fillRect(r, SkinColor(kColorBtnFace));
            SkinEdge(*p, r, kEdgeRaised);
            return;
        case CE_ScrollBarFirst:
        case CE_ScrollBarLast: return;
        case CE_SizeGrip: {
            // Three pairs of diagonal lines in the bottom-right corner.
            p->save();
            p->setRenderHint(QPainter::Antialiasing, false);
            for (int i = 0; i < 3; ++i) {
                const int d = 4 * i + 3;
                p->setPen(SkinColor(kColorBtnHighlight));
                p->drawLine(r.right() - d, r.bottom(), r.right(), r.bottom() - d);
                p->setPen(SkinColor(kColorBtnShadow));
                p->drawLine(r.right() - d + 1, r.bottom(), r.right(), r.bottom() - d + 1);
            }
            p->restore();
            return;
        }
        default: break;
    }
    QProxyStyle::drawControl(element, o, p, widget);
}

void DarkStyle::DrawSlider(const QStyleOptionComplex* option, QPainter* p, const QWidget* widget) const {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    const QRect groove = subControlRect(CC_Slider, slider, SC_SliderGroove, widget);
    const QRect handle = subControlRect(CC_Slider, slider, SC_SliderHandle, widget);
    const bool enabled = slider->state & State_Enabled;
    const bool below = slider->tickPosition == QSlider::TicksBelow;
    const bool above = slider->tickPosition == QSlider::TicksAbove;
    // A pointed thumb keeps a rectangular body; its point takes half its width.
    const int point = (below || above) ? handle.width() / 2 : 0;
    const QRect body = handle.adjusted(0, above ? point : 0, 0, below ? -point : 0);
    p->save();
    const QRect channel(groove.left(), body.center().y() - 3, groove.width(), 7);
    p->fillRect(channel, SkinColor(kColorBtnFace));
    p->fillRect(QRect(channel.left() + 2, channel.top() + 2, handle.left() - channel.left() - 2, channel.height() - 4),
                enabled ? QColor(kSliderFill) : SkinColor(kColor3dDkShadow));
    SkinEdge(*p, channel, kEdgeSunken);
    if (slider->tickPosition != QSlider::NoTicks) {
        const int interval = slider->tickInterval > 0 ? slider->tickInterval : std::max(1, slider->pageStep);
        const int span = groove.width() - handle.width();
        for (qint64 v = slider->minimum; v <= slider->maximum; v += interval) {
            const int x = groove.left() + handle.width() / 2 +
                          sliderPositionFromValue(slider->minimum, slider->maximum, int(v), span, slider->upsideDown);
            if (slider->tickPosition & QSlider::TicksAbove)
                p->fillRect(QRect(x, groove.top(), 1, 3), TextColour(slider));
            if (slider->tickPosition & QSlider::TicksBelow)
                p->fillRect(QRect(x, groove.bottom() - 2, 1, 3), TextColour(slider));
        }
    }
    if (slider->subControls & SC_SliderHandle) {
        if (!point) {
            p->fillRect(handle.adjusted(1, 1, -1, -1), SkinBrush(kColorBtnFace));
            SkinEdge(*p, handle, kEdgeRaised);
        } else {
            // The pointed thumb: a face with highlight lines on its lit sides
            // and shadow lines on the others, down to the point.
            const int l = body.left(), rgt = body.right(), mid = body.left() + body.width() / 2;
            const int tip = below ? handle.bottom() : handle.top();
            const int base = below ? body.bottom() : body.top();
            p->setRenderHint(QPainter::Antialiasing, false);
            p->setPen(Qt::NoPen);
            p->setBrush(SkinColor(kColorBtnFace));
            p->drawPolygon(QPolygon({QPoint(l, body.top()), QPoint(rgt, body.top()), QPoint(rgt, body.bottom()),
                                     QPoint(l, body.bottom())}));
            p->drawPolygon(QPolygon({QPoint(l, base), QPoint(rgt, base), QPoint(mid, tip)}));
            const QColor light = SkinColor(kColorBtnHighlight), shadow = SkinColor(kColorBtnShadow),
                         dark = SkinColor(kColor3dDkShadow);
            auto line = [p](const QColor& c, QPoint a, QPoint b) {
                p->setPen(c);
                p->drawLine(a, b);
            };
            if (below) {
                line(light, QPoint(l, body.top()), QPoint(rgt - 1, body.top()));
                line(light, QPoint(l, body.top()), QPoint(l, base));
                line(light, QPoint(l, base), QPoint(mid, tip));
                line(dark, QPoint(rgt, body.top()), QPoint(rgt, base));
                line(dark, QPoint(rgt, base), QPoint(mid, tip));
                line(shadow, QPoint(rgt - 1, body.top() + 1), QPoint(rgt - 1, base));
            } else {
                line(light, QPoint(l, body.bottom()), QPoint(l, base));
                line(light, QPoint(l, base), QPoint(mid, tip));
                line(dark, QPoint(mid, tip), QPoint(rgt, base));
                line(dark, QPoint(rgt, base), QPoint(rgt, body.bottom()));
                line(dark, QPoint(l, body.bottom()), QPoint(rgt, body.bottom()));
                line(shadow, QPoint(l + 1, body.bottom() - 1), QPoint(rgt - 1, body.bottom() - 1));
            }
        }
    }
    p->restore();
}

void DarkStyle::DrawComboBox(const QStyleOptionComplex* option, QPainter* p, const QWidget* widget) const {
    const auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option);
    const bool enabled = combo->state & State_Enabled;
    const bool pressed = (combo->state & State_Sunken) && (combo->activeSubControls & SC_ComboBoxArrow);
    p->save();
    if (combo->subControls & SC_ComboBoxFrame) {
        p->fillRect(combo->rect, SkinColor(enabled ? kColorWindow : kColorBtnFace));
        if (combo->frame) SkinEdge(*p, combo->rect, kEdgeSunken);
    }
    if (combo->subControls & SC_ComboBoxArrow) {
        const QRect button = subControlRect(CC_ComboBox, combo, SC_ComboBoxArrow, widget);
        ShadedFace(*p, button, SkinColor(kColorBtnFace));
        if (pressed) {
            // Pressed: the two outer colours swap sides, the inner frame goes.
            const QColor light = SkinColor(kColor3dLight), dark = SkinColor(kColor3dDkShadow);
            p->fillRect(QRect(button.left(), button.top(), button.width(), 1), dark);
            p->fillRect(QRect(button.left(), button.top(), 1, button.height()), dark);
            p->fillRect(QRect(button.left(), button.bottom(), button.width(), 1), light);
            p->fillRect(QRect(button.right(), button.top(), 1, button.height()), light);
        } else {
            SkinEdge(*p, button, kEdgeRaised);
        }
        // The down arrow: lines of 7, 5, 3 and 1 pixels.
        const QRect at = pressed ? button.translated(1, 1) : button;
        DrawArrow(*p, at, ArrowDirection::Down, TextColour(combo), 4);
    }
    p->restore();
    if (!combo->editable && enabled && (combo->state & State_HasFocus)) {
        // The selected item shows highlighted while the list has the focus.
        const QRect field = subControlRect(CC_ComboBox, combo, SC_ComboBoxEditField, widget);
        p->fillRect(field, combo->palette.brush(QPalette::Active, QPalette::Highlight));
        p->setPen(combo->palette.color(QPalette::Active, QPalette::HighlightedText));
    }
}

void DarkStyle::DrawGroupBox(const QStyleOptionComplex* option, QPainter* p, const QWidget* widget) const {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    const QRect label = subControlRect(CC_GroupBox, box, SC_GroupBoxLabel, widget);
    const QRect check = subControlRect(CC_GroupBox, box, SC_GroupBoxCheckBox, widget);
    if (box->subControls & SC_GroupBoxFrame) {
        // The etched frame starts at half the caption's height.
        const int captionHeight = box->fontMetrics.height();
        QStyleOptionFrame frame;
        frame.QStyleOption::operator=(*box);
        frame.rect = box->rect.adjusted(0, captionHeight / 2, 0, 0);
        drawPrimitive(PE_FrameGroupBox, &frame, p, widget);
    }
    if ((box->subControls & SC_GroupBoxLabel) && !box->text.isEmpty()) {
        // The caption, opaque, in grey text on the button face.
        const QRect behind = label.adjusted(-2, 0, 2, 0);
        p->fillRect(behind, SkinColor(kColorBtnFace));
        p->save();
        p->setPen(SkinColor(kColorGrayText));
        drawItemText(p, label, Qt::TextShowMnemonic | Qt::AlignHCenter | Qt::AlignVCenter, box->palette, true,
                     box->text, QPalette::NoRole);
        p->restore();
    }
    if (box->subControls & SC_GroupBoxCheckBox) {
        p->fillRect(check.adjusted(-2, 0, 2, 0), SkinColor(kColorBtnFace));
        QStyleOptionButton indicator;
        indicator.QStyleOption::operator=(*box);
        indicator.rect = check;
        drawPrimitive(PE_IndicatorCheckBox, &indicator, p, widget);
    }
}

void DarkStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                   const QWidget* widget) const {
    if (control == CC_Slider) {
        const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (slider && slider->orientation == Qt::Horizontal) return DrawSlider(option, painter, widget);
    }
    if (control == CC_ComboBox && qstyleoption_cast<const QStyleOptionComboBox*>(option))
        return DrawComboBox(option, painter, widget);
    if (control == CC_GroupBox && qstyleoption_cast<const QStyleOptionGroupBox*>(option))
        return DrawGroupBox(option, painter, widget);
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}
