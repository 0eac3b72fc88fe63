// Every control family as the skin draws it, checked pixel by pixel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QStyleOption>
#include <QTabBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolTip>
#include <QTreeWidget>

#include "color_scheme.h"
#include "dark_style.h"
#include "skin.h"
#include "skin_paint.h"
#include "skin_test_util.h"

namespace {

constexpr int kFace = 0x46, kWindow = 0x41, kShadow = 0x37, kGrayText = 0xA0, kBtnText = 0xE6,
              kWindowText = 0xBE, kHighlight = 0x64, kDkShadow = 0x32, kLight = 0x00;

auto Grey(int level) {
    return [level](QRgb c) { return IsGrey(c, level); };
}

QImage ImageOf(const QSize& size, int fill) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(fill, fill, fill));
    return image;
}

// The down arrow in `area`: rows of 7, 5, 3 and 1 pixels, each one lower and
// one further right; returns the top-left of its first row.
QPoint ArrowOrigin(const QImage& image, QRect area, int level) {
    const std::vector<PixelRun> runs = RowRuns(image, area, qRgb(level, level, level));
    EXPECT_EQ(runs.size(), 4u);
    if (runs.size() != 4) return {};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(runs[i].length, 7 - 2 * i);
        EXPECT_EQ(runs[i].x, runs[0].x + i);
        EXPECT_EQ(runs[i].y, runs[0].y + i);
    }
    return {runs[0].x, runs[0].y};
}

}  // namespace

TEST(Skin, ReplacesAStyleChosenByTheUserAndSwitchesOff) {
    EXPECT_EQ(gStyleBeforeSkin.toLower(), "windows");  // the override did take effect first
    EXPECT_TRUE(dynamic_cast<DarkStyle*>(QApplication::style()));
    EXPECT_TRUE(SkinActive());
    EXPECT_TRUE(IsGrey(QApplication::palette().color(QPalette::Window).rgb(), kFace));
    EXPECT_TRUE(IsGrey(QApplication::palette().color(QPalette::WindowText).rgb(), kBtnText));
    EXPECT_TRUE(IsGrey(QToolTip::palette().color(QPalette::ToolTipBase).rgb(), kFace));
    SkinStop();
    EXPECT_FALSE(SkinActive());
    EXPECT_FALSE(dynamic_cast<DarkStyle*>(QApplication::style()));
    EXPECT_FALSE(IsGrey(QApplication::palette().color(QPalette::Window).rgb(), kFace));
    SkinStart();
    EXPECT_TRUE(dynamic_cast<DarkStyle*>(QApplication::style()));
}

TEST(Skin, EdgesFollowTheirBitsAndSides) {
    QImage image = ImageOf(QSize(10, 8), 0x80);
    QPainter p(&image);
    SkinEdge(p, image.rect(), kEdgeRaised);
    EXPECT_TRUE(IsGrey(image.pixel(0, 0), kLight));
    EXPECT_TRUE(IsGrey(image.pixel(9, 0), kDkShadow));  // bottom and right own their corners
    EXPECT_TRUE(IsGrey(image.pixel(0, 7), kDkShadow));
    EXPECT_TRUE(IsGrey(image.pixel(1, 1), kHighlight));
    EXPECT_TRUE(IsGrey(image.pixel(8, 6), kShadow));
    EXPECT_TRUE(IsGrey(image.pixel(4, 4), 0x80));
    SkinEdge(p, image.rect(), kEdgeSunken);
    EXPECT_TRUE(IsGrey(image.pixel(3, 0), kShadow));
    EXPECT_TRUE(IsGrey(image.pixel(9, 3), kHighlight));
    EXPECT_TRUE(IsGrey(image.pixel(3, 1), kDkShadow));
    EXPECT_TRUE(IsGrey(image.pixel(8, 3), kLight));

    image.fill(qRgb(0x80, 0x80, 0x80));
    SkinEdge(p, image.rect(), kEdgeSunkenInner, BF_LEFT | BF_TOP);
    EXPECT_TRUE(IsGrey(image.pixel(0, 3), kDkShadow));  // the inner line alone sits on the border
    EXPECT_TRUE(IsGrey(image.pixel(3, 0), kDkShadow));
    EXPECT_TRUE(IsGrey(image.pixel(9, 3), 0x80));
    EXPECT_TRUE(IsGrey(image.pixel(3, 7), 0x80));
    image.fill(qRgb(0x80, 0x80, 0x80));
    SkinEdge(p, image.rect(), kEdgeRaised, BF_LEFT | BF_TOP | BF_RIGHT);
    EXPECT_TRUE(IsGrey(image.pixel(1, 7), kHighlight));  // the inner left line runs to the open side
    EXPECT_TRUE(IsGrey(image.pixel(4, 7), 0x80));
}

TEST(Skin, CheckBoxesShowTheImageOfTheirStateAndTextAfterAGap) {
    const char* names[] = {"DES", "SEMI", "SEL"};
    std::vector<QImage> images;
    for (const char* set : {"CHECKD_", "CHECK_"})
        for (const char* state : names)
            for (const char* on : {"ON", "OFF"}) {
                const QImage image(QString(":/skin/%1%2%3").arg(set, state, on));
                EXPECT_EQ(image.size(), QSize(13, 13)) << set << state << on;
                for (const QImage& other : images) EXPECT_NE(image, other) << set << state << on;
                images.push_back(image);
            }

    QCheckBox box("Flattening");
    box.resize(box.sizeHint().width() + 10, 30);
    auto indicatorAt = [&box](const QImage& shot, const QImage& expected) {
        const int top = (box.height() - 13) / 2;  // centred vertically, at the left
        return shot.copy(0, top, 13, 13) == expected.convertToFormat(QImage::Format_RGB32);
    };
    box.setChecked(true);
    QImage shot = Grab(box);
    EXPECT_TRUE(indicatorAt(shot, CheckImage(Qt::Checked, true)));
    EXPECT_EQ(CheckImageName(Qt::Checked, true), "CHECKD_SELON");
    const QRect text = Bounds(shot, QRect(13, 0, box.width(), box.height()), [](QRgb c) { return qRed(c) > 0x90; });
    const int gap = box.fontMetrics().horizontalAdvance('t') + 1;
    EXPECT_GE(text.left(), 13 + gap);
    EXPECT_LE(text.left(), 13 + gap + 2);
    EXPECT_EQ(Brightest(shot, text), kBtnText);

    box.setChecked(false);
    box.setEnabled(false);
    shot = Grab(box);
    EXPECT_TRUE(indicatorAt(shot, CheckImage(Qt::Unchecked, false)));
    EXPECT_EQ(CheckImageName(Qt::Unchecked, false), "CHECKD_DESOFF");
    EXPECT_EQ(Brightest(shot, QRect(14, 0, box.width(), box.height())), kGrayText);

    box.setEnabled(true);
    box.setTristate(true);
    box.setCheckState(Qt::PartiallyChecked);
    EXPECT_TRUE(indicatorAt(Grab(box), CheckImage(Qt::PartiallyChecked, true)));
}

TEST(Skin, RadioButtonsDrawTheirOwnGlyph) {
    QRadioButton radio("Rough");
    radio.resize(radio.sizeHint());
    const QRect glyph(0, (radio.height() - 13) / 2, 13, 13);
    EXPECT_EQ(Count(Grab(radio), glyph, Grey(kBtnText)), 0);
    radio.setChecked(true);
    QImage shot = Grab(radio);
    EXPECT_TRUE(IsGrey(shot.pixel(glyph.center()), kBtnText));  // the dot
    EXPECT_TRUE(IsGrey(shot.pixel(glyph.left() + 3, glyph.top() + 6), kWindow));
    radio.setEnabled(false);
    shot = Grab(radio);
    EXPECT_TRUE(IsGrey(shot.pixel(glyph.center()), kGrayText));
    EXPECT_TRUE(IsGrey(shot.pixel(glyph.left() + 3, glyph.top() + 6), kFace));
}

TEST(Skin, GroupBoxesHaveAGreyCaptionOverAnEtchedFrame) {
    QGroupBox group("Smoothing params");
    group.resize(220, 90);
    const QImage shot = Grab(group);
    const int caption = group.fontMetrics().height();
    EXPECT_EQ(Brightest(shot, QRect(0, 0, group.width(), caption)), kGrayText);
    EXPECT_GT(Count(shot, QRect(0, 0, group.width(), caption), Grey(kGrayText)), 2);
    const int w = group.width(), h = group.height(), mid = h / 2;
    EXPECT_TRUE(IsGrey(shot.pixel(0, mid), kShadow));  // shadow rectangle
    EXPECT_TRUE(IsGrey(shot.pixel(1, mid), kHighlight));  // highlight rectangle, one pixel lower right
    EXPECT_TRUE(IsGrey(shot.pixel(w - 2, mid), kShadow));
    EXPECT_TRUE(IsGrey(shot.pixel(w - 1, mid), kHighlight));
    EXPECT_TRUE(IsGrey(shot.pixel(w - 10, caption / 2), kShadow));  // the top at half the caption
    EXPECT_TRUE(IsGrey(shot.pixel(w - 10, caption / 2 + 1), kHighlight));
    EXPECT_TRUE(IsGrey(shot.pixel(w / 2, h - 1), kHighlight));
    EXPECT_TRUE(IsGrey(shot.pixel(w / 2, h - 2), kShadow));
    EXPECT_TRUE(IsGrey(shot.pixel(w / 2, h - 10), kFace));
}

TEST(Skin, PushButtonsAreFlatFacesWithRaisedOrSunkenEdges) {
    QPushButton button("Default");
    button.resize(90, 26);
    const int w = button.width(), h = button.height();
    auto textOf = [&](const QImage& shot) {
        return Bounds(shot, QRect(3, 3, w - 6, h - 6), [](QRgb c) { return qRed(c) > 0x90; });
    };
    const QImage up = Grab(button);
    EXPECT_TRUE(IsGrey(up.pixel(0, 0), kLight));
    EXPECT_TRUE(IsGrey(up.pixel(1, 1), kHighlight));
    EXPECT_TRUE(IsGrey(up.pixel(w - 1, h - 1), kDkShadow));
    EXPECT_TRUE(IsGrey(up.pixel(w - 2, h - 2), kShadow));
    for (int y : {3, h - 4}) EXPECT_TRUE(IsGrey(up.pixel(4, y), kFace)) << y;  // one flat face, no gradient
    EXPECT_EQ(Brightest(up, textOf(up)), kBtnText);

    button.setDown(true);
    const QImage down = Grab(button);
    EXPECT_TRUE(IsGrey(down.pixel(0, 0), kShadow));
    EXPECT_TRUE(IsGrey(down.pixel(1, 1), kDkShadow));
    EXPECT_TRUE(IsGrey(down.pixel(w - 1, h - 1), kHighlight));
    EXPECT_TRUE(IsGrey(down.pixel(w - 2, h - 2), kLight));
    EXPECT_EQ(textOf(down), textOf(up).translated(1, 1));
    button.setDown(false);

    button.setCheckable(true);
    button.setChecked(true);
    EXPECT_TRUE(IsGrey(Grab(button).pixel(0, 0), kShadow));
    button.setChecked(false);

    button.setFlat(true);
    EXPECT_TRUE(IsGrey(Grab(button).pixel(0, 0), kFace));
    button.setFlat(false);
    button.setEnabled(false);
    const QImage disabled = Grab(button);
    EXPECT_TRUE(IsGrey(disabled.pixel(0, 0), kDkShadow));
    EXPECT_TRUE(IsGrey(disabled.pixel(1, 1), kFace));
    EXPECT_EQ(Brightest(disabled, textOf(disabled)), kGrayText);
}

TEST(Skin, LabelsAndStatusBarsShowButtonText) {
    QLabel label("Smoothness");
    label.resize(label.sizeHint());
    QImage shot = Grab(label);
    EXPECT_EQ(Brightest(shot, shot.rect()), kBtnText);
    EXPECT_GT(Count(shot, shot.rect(), Grey(kBtnText)), 2);
    EXPECT_TRUE(IsGrey(shot.pixel(0, 0), kFace));
    label.setEnabled(false);
    EXPECT_EQ(Brightest(Grab(label), label.rect()), kGrayText);

    QStatusBar bar;
    bar.setSizeGripEnabled(false);
    auto* status = new QLabel("Press Ctrl+O to open an image");
    bar.addWidget(status, 1);
    bar.resize(320, 22);
    bar.show();  // lays the label out
    shot = Grab(bar);
    EXPECT_EQ(Count(shot, QRect(0, 0, bar.width(), 1), Grey(kHighlight)), bar.width());  // the top line
    // Flat below it: no frame around the text.
    const QRect text = status->geometry();
    int off = 0;
    for (int y = 1; y < bar.height(); ++y)
        for (int x = 0; x < bar.width(); ++x)
            off += !text.contains(x, y) && !IsGrey(shot.pixel(x, y), kFace);
    EXPECT_EQ(off, 0);
    EXPECT_EQ(Brightest(shot, QRect(0, 1, bar.width(), bar.height() - 1)), kBtnText);
}

TEST(Skin, DropDownListsHaveASunkenFaceAndALineArrow) {
    QComboBox combo;
    combo.addItems({"Rough", "Normal", "Detailed"});
    combo.resize(160, 24);
    QStyleOptionComboBox option;
    option.initFrom(&combo);
    option.rect = combo.rect();
    option.frame = true;
    option.subControls = QStyle::SC_All;
    const QRect button =
        combo.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, &combo);
    EXPECT_EQ(button.right(), combo.width() - 3);  // inset by 2
    EXPECT_EQ(button.top(), 2);
    const QPoint face(button.left() - 4, combo.height() / 2);

    QImage shot = Grab(combo);
    EXPECT_TRUE(IsGrey(shot.pixel(face), kWindow));
    EXPECT_TRUE(IsGrey(shot.pixel(0, 0), kShadow));  // sunken
    EXPECT_TRUE(IsGrey(shot.pixel(1, 1), kDkShadow));
    const QPoint up = ArrowOrigin(shot, button, kBtnText);
    EXPECT_GT(qRed(shot.pixel(button.center().x() - 5, button.top() + 2)),
              qRed(shot.pixel(button.center().x() - 5, button.bottom() - 2)));  // shaded face

    combo.setEnabled(false);
    shot = Grab(combo);
    EXPECT_TRUE(IsGrey(shot.pixel(face), kFace));
    EXPECT_EQ(ArrowOrigin(shot, button, kGrayText), up);

    // Pressed while the mouse is down on the button: the arrow moves one pixel.
    option.initFrom(&combo);
    option.state |= QStyle::State_Enabled | QStyle::State_Sunken;
    option.activeSubControls = QStyle::SC_ComboBoxArrow;
    QImage pressed = ImageOf(combo.size(), 0x80);
    QPainter p(&pressed);
    combo.style()->drawComplexControl(QStyle::CC_ComboBox, &option, &p, &combo);
    EXPECT_EQ(ArrowOrigin(pressed, button.adjusted(0, 0, 1, 1), kBtnText), up + QPoint(1, 1));
}

TEST(Skin, SlidersFillTheChannelUpToTheThumb) {
    QSlider slider(Qt::Horizontal);
    slider.setRange(0, 100);
    slider.setValue(80);
    slider.resize(200, 24);
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = Qt::Horizontal;
    option.minimum = 0;
    option.maximum = 100;
    option.sliderPosition = option.sliderValue = 80;
    option.subControls = QStyle::SC_All;
    const QRect handle = slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    const int mid = handle.center().y();
    QImage shot = Grab(slider);
    EXPECT_EQ(shot.pixel(handle.left() - 1, mid), kSliderFill);
    EXPECT_EQ(shot.pixel(5, mid), kSliderFill);
    EXPECT_NE(shot.pixel(handle.right() + 3, mid), kSliderFill);
    EXPECT_EQ(Count(shot, QRect(0, handle.bottom(), 200, 1), Grey(kDkShadow)), handle.width());  // flat bottom
    slider.setEnabled(false);
    shot = Grab(slider);
    EXPECT_EQ(Count(shot, shot.rect(), [](QRgb c) { return c == kSliderFill; }), 0);
    EXPECT_TRUE(IsGrey(shot.pixel(5, mid), kDkShadow));

    // With ticks below, the thumb ends in a point.
    slider.setEnabled(true);
    slider.setTickPosition(QSlider::TicksBelow);
    slider.setTickInterval(10);
    slider.resize(200, 32);
    option.initFrom(&slider);
    option.tickPosition = QSlider::TicksBelow;
    option.tickInterval = 10;
    const QRect pointed =
        slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    shot = Grab(slider);
    const QRect tipRow(pointed.left(), pointed.bottom(), pointed.width(), 1);
    const int tip = Count(shot, tipRow, [](QRgb c) { return !IsGrey(c, kFace); });
    EXPECT_GE(tip, 1);
    EXPECT_LE(tip, 3);
    EXPECT_EQ(shot.pixel(pointed.left() - 1, pointed.top() + (pointed.height() - pointed.width() / 2) / 2),
              kSliderFill);
}

TEST(Skin, ProgressBarsRunOverTheWindowColour) {
    QProgressBar bar;
    bar.setRange(0, 100);
    bar.setTextVisible(false);
    bar.resize(200, 16);
    bar.setValue(0);
    QImage shot = Grab(bar);
    EXPECT_TRUE(IsGrey(shot.pixel(100, 8), kWindow));
    EXPECT_TRUE(IsGrey(shot.pixel(0, 0), kShadow));
    bar.setValue(50);
    shot = Grab(bar);
    EXPECT_EQ(shot.pixel(50, 8), QApplication::palette().color(QPalette::Highlight).rgb());
    EXPECT_TRUE(IsGrey(shot.pixel(150, 8), kWindow));
}

TEST(Skin, ScrollBarsEditsListsAndHeadersUseTheSchemeFaces) {
    QScrollBar bar(Qt::Vertical);
    bar.setRange(0, 100);
    bar.setPageStep(10);
    bar.resize(16, 200);
    QImage shot = Grab(bar);
    EXPECT_TRUE(IsGrey(shot.pixel(0, 0), kLight));  // raised arrow button
    const std::vector<PixelRun> arrow = RowRuns(shot, QRect(2, 2, 12, 12), qRgb(kBtnText, kBtnText, kBtnText));
    ASSERT_EQ(arrow.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(arrow[i].length, 2 * i + 1);  // pointing up: 1, 3, 5, 7
    EXPECT_TRUE(IsGrey(shot.pixel(8, 150), kWindow));  // the groove
    EXPECT_TRUE(IsGrey(shot.pixel(8, 16 + 8), kFace));  // the thumb at the top
    EXPECT_TRUE(IsGrey(shot.pixel(0, 16), kLight));

    QLineEdit edit;
    edit.resize(120, 22);
    shot = Grab(edit);
    EXPECT_TRUE(IsGrey(shot.pixel(0, 0), kShadow));
    EXPECT_TRUE(IsGrey(shot.pixel(1, 1), kDkShadow));
    EXPECT_TRUE(IsGrey(shot.pixel(60, 11), kWindow));
    edit.setText("astronaut-repainted");
    EXPECT_EQ(Brightest(Grab(edit), QRect(2, 2, 116, 18)), kWindowText);
    edit.setEnabled(false);
    EXPECT_TRUE(IsGrey(Grab(edit).pixel(115, 11), kFace));

    QTreeWidget tree;
    tree.setHeaderLabels({"Name", "Size"});
    auto* folder = new QTreeWidgetItem(&tree, QStringList{"app", ""});
    new QTreeWidgetItem(folder, QStringList{"main.cpp", "1 KB"});
    tree.resize(240, 140);
    shot = Grab(tree);
    EXPECT_TRUE(IsGrey(shot.pixel(0, 0), kShadow));
    EXPECT_TRUE(IsGrey(shot.pixel(200, 120), kWindow));
    const QRect header = tree.header()->geometry();
    EXPECT_TRUE(IsGrey(shot.pixel(header.left(), header.top()), kLight));  // raised section
    EXPECT_TRUE(IsGrey(shot.pixel(header.left() + 30, header.center().y() + 5), kFace));
    EXPECT_EQ(Brightest(shot, QRect(header.left(), header.top() + 2, header.width(), header.height() - 4)),
              kBtnText);
    const QRect row = tree.visualItemRect(folder).translated(tree.viewport()->pos());
    EXPECT_EQ(Brightest(shot, row), kWindowText);
}

TEST(Skin, MenusTabsToolbarsAndTipsHaveNoLightFace) {
    QMenu menu;
    QAction* open = menu.addAction("Open...");
    menu.addSeparator();
    QAction* exit = menu.addAction("Exit");
    exit->setEnabled(false);
    QMenu* sub = menu.addMenu("Repaint");
    sub->addAction("Original");
    menu.resize(menu.sizeHint());
    QImage shot = Grab(menu);
    EXPECT_TRUE(IsGrey(shot.pixel(0, 0), kLight));
    EXPECT_TRUE(IsGrey(shot.pixel(1, 1), kHighlight));
    EXPECT_TRUE(IsGrey(shot.pixel(menu.width() - 5, menu.actionGeometry(open).center().y()), kFace));
    EXPECT_EQ(Brightest(shot, menu.actionGeometry(open)), kBtnText);
    EXPECT_EQ(Brightest(shot, menu.actionGeometry(exit)), kGrayText);
    const QRect separator = menu.actionGeometry(menu.actions()[1]);
    const int x = separator.center().x();
    int etched = 0;
    for (int y = separator.top(); y < separator.bottom(); ++y)
        etched += IsGrey(shot.pixel(x, y), kShadow) && IsGrey(shot.pixel(x, y + 1), kHighlight);
    EXPECT_EQ(etched, 1);
    // The submenu arrow points right: columns of 7, 5, 3 and 1 pixels.
    const QRect subRow = menu.actionGeometry(sub->menuAction());
    const QImage arrow = shot.copy(subRow.adjusted(subRow.width() - 20, 0, 0, 0)).transformed(QTransform().rotate(90));
    EXPECT_EQ(RowRuns(arrow, arrow.rect(), qRgb(kBtnText, kBtnText, kBtnText)).size(), 4u);

    QTabBar tabs;
    tabs.addTab("Original");
    tabs.addTab("Smudge");
    tabs.resize(tabs.sizeHint());
    shot = Grab(tabs);
    const QRect first = tabs.tabRect(0), second = tabs.tabRect(1);
    EXPECT_TRUE(IsGrey(shot.pixel(first.center().x(), first.top()), kLight));
    EXPECT_TRUE(IsGrey(shot.pixel(second.center().x(), second.top()), kFace));  // two pixels lower
    EXPECT_TRUE(IsGrey(shot.pixel(second.center().x(), second.top() + 2), kLight));

    QToolBar toolbar;
    toolbar.addAction("Open");
    toolbar.addSeparator();
    toolbar.addAction("Save");
    toolbar.resize(240, 30);
    shot = Grab(toolbar);
    EXPECT_TRUE(IsGrey(shot.pixel(230, 15), kFace));
    int lines = 0;
    for (int col = 0; col + 1 < toolbar.width(); ++col)
        lines += IsGrey(shot.pixel(col, 15), kShadow) && IsGrey(shot.pixel(col + 1, 15), kHighlight);
    EXPECT_EQ(lines, 1);  // the separator is one etched line

    QImage tip = ImageOf(QSize(60, 20), 0xFF);
    QPainter p(&tip);
    QStyleOption option;
    option.rect = tip.rect();
    option.palette = QToolTip::palette();
    QApplication::style()->drawPrimitive(QStyle::PE_PanelTipLabel, &option, &p);
    EXPECT_TRUE(IsGrey(tip.pixel(0, 0), kLight));
    EXPECT_TRUE(IsGrey(tip.pixel(30, 10), kFace));
}

TEST(Skin, TheFileDialogIsDarkThroughout) {
    QFileDialog dialog(nullptr, "Save As");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QTemporaryDir folder;  // one sub-folder and one file: the same view everywhere
    ASSERT_TRUE(QDir(folder.path()).mkdir("pictures"));
    QFile(folder.filePath("astronaut.png")).open(QIODevice::WriteOnly);
    dialog.setDirectory(folder.path());
    dialog.resize(620, 420);
    const QImage shot = Grab(dialog);
    const int total = shot.width() * shot.height();
    const int light = Count(shot, shot.rect(), [](QRgb c) { return qGray(c) > 0xE6; });
    const int dark = Count(shot, shot.rect(), [](QRgb c) { return IsGrey(c, kFace) || IsGrey(c, kWindow); });
    EXPECT_LT(light, total / 200);  // a few icon highlights at most
    EXPECT_GT(dark, total * 3 / 4);
    for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
        if (!b->isVisibleTo(&dialog)) continue;
        const QImage face = Grab(*b);
        EXPECT_TRUE(IsGrey(face.pixel(0, 0), b->isEnabled() ? kLight : kDkShadow)) << b->text().toStdString();
        EXPECT_TRUE(IsGrey(face.pixel(3, 3), kFace)) << b->text().toStdString();
    }
    for (QComboBox* c : dialog.findChildren<QComboBox*>()) {
        if (!c->isVisibleTo(&dialog)) continue;
        EXPECT_TRUE(IsGrey(Grab(*c).pixel(0, 0), kShadow));
    }
}
