// The window on a screen with more device pixels than window pixels (150 %,
// 200 % display scaling). CTest runs these under QT_SCALE_FACTOR 1.5 and 2 as
// well as at 1.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QPixmap>
#include <cmath>
#include <filesystem>

#include "app_test_util.h"
#include "ids.h"
#include "imagefile.h"
#include "main_window.h"
#include "method_panel.h"

namespace fs = std::filesystem;

namespace {

// No pixel is grey, so none can be taken for the background.
PicBufHolder ColourPattern(int w, int h) {
    PicBufHolder p;
    CBxPicBufAPI::ReinitHeap(p.buf, w, h, 3, 8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* px = p.buf.Row<uint8_t>(y) + 3 * x;
            px[2] = uint8_t(10 + (x * 37 + y * 11) % 120);
            px[1] = uint8_t(px[2] + 61);
            px[0] = uint8_t(200 - (x * 3 + y * 7) % 60);
        }
    return p;
}

class PixelRatio : public ::testing::Test {
protected:
    void SetUp() override {
        paths_ = FreshTestSettings(root_, "quorvane-ratio", "none.ini");
        hooks_.message = [](const MessageRequest&) { return QMessageBox::Yes; };
        window_ = std::make_unique<MainWindow>(paths_, hooks_);
        window_->resize(1000, 700);
        window_->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        window_.reset();
        fs::remove_all(root_);
    }
    std::string Write(const std::string& name, const SBxPicBuf& picture) {
        const std::string path = (root_ / name).string();
        SaveImageFile(&picture, nullptr, path, 0, "", -1);
        return path;
    }
    double Ratio() const { return window_->View()->devicePixelRatioF(); }
    // The view area of the window as the screen shows it, in device pixels.
    QImage Shown() const {
        const QImage all = window_->grab().toImage().convertToFormat(QImage::Format_RGB888);
        const ViewRect a = window_->View()->areas().view;
        const double r = all.devicePixelRatio();
        const QRect device(int(std::ceil(a.left * r)), int(std::ceil(a.top * r)), int((a.right - a.left) * r) - 1,
                           int((a.bottom - a.top) * r) - 1);
        return all.copy(device.intersected(all.rect()));
    }
    QPoint PictureToWindow(double x, double y) const {
        int wx, wy;
        window_->Anchor().Map().MapPointSrcToDst(&wx, &wy, x, y);
        return QPoint(wx, wy);
    }

    fs::path root_;
    SettingsPaths paths_;
    UserInterfaceHooks hooks_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace

// The harness really runs at the scaling CTest asks for, so that the tests
// below cannot pass on a plain screen alone.
TEST_F(PixelRatio, TheWindowHasTheScreensRatio) {
    const QByteArray asked = qgetenv("QT_SCALE_FACTOR");
    EXPECT_DOUBLE_EQ(Ratio(), asked.isEmpty() ? 1.0 : asked.toDouble());
    EXPECT_DOUBLE_EQ(window_->Anchor().ratio, Ratio());
}

// At 100 % the picture covers exactly its own size in screen pixels, each
// one the picture's sample; "Fit" fills the same window area at any ratio.
TEST_F(PixelRatio, HundredPercentIsOneScreenPixelPerPicturePixel) {
    const PicBufHolder picture = ColourPattern(64, 48);
    ASSERT_TRUE(window_->OpenFile(Write("pattern.png", picture.buf)));
    window_->Command(cmd::kZoom100);
    EXPECT_EQ(window_->ZoomBox()->currentText(), "100.0 %");
    const QImage shown = Shown();
    const int grey = window_->View()->BackgroundGrey();
    int left = -1, top = -1, right = -1, bottom = -1;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb c = shown.pixel(x, y);
            if (qRed(c) == grey && qGreen(c) == grey && qBlue(c) == grey) continue;
            if (left < 0 || x < left) left = x;
            if (top < 0) top = y;
            right = std::max(right, x);
            bottom = y;
        }
    ASSERT_GE(left, 0) << "the picture is not shown";
    EXPECT_EQ(right - left + 1, 64);
    EXPECT_EQ(bottom - top + 1, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint8_t* s = picture.buf.Row<uint8_t>(y) + 3 * x;
            const QRgb c = shown.pixel(left + x, top + y);
            ASSERT_TRUE(qRed(c) == s[2] && qGreen(c) == s[1] && qBlue(c) == s[0]) << x << "," << y;
        }

    window_->Command(cmd::kZoomFit);
    const ViewRect fit = window_->View()->areas().fit;
    EXPECT_DOUBLE_EQ(window_->Anchor().Scale(), std::min((fit.right - fit.left) / 64.0, (fit.bottom - fit.top) / 48.0));
}

// Dragging the picture and the preview frame keeps the picture point under
// the mouse under it; the frame is drawn where the mouse finds it.
TEST_F(PixelRatio, TheMouseMovesThePictureAndTheFrameWithIt) {
    const PicBufHolder picture = ColourPattern(700, 500);
    ASSERT_TRUE(window_->OpenFile(Write("big.png", picture.buf)));
    window_->Command(cmd::kZoom100);
    PictureView* view = window_->View();
    const QPoint start = PictureToWindow(200, 150), end = start + QPoint(30, -20);
    double x0, y0, x1, y1;
    window_->Anchor().Map().MapPointDstToSrc(&x0, &y0, start.x(), start.y());
    ViewPress(view, start);
    ViewMove(view, end);
    ViewRelease(view, end);
    window_->Anchor().Map().MapPointDstToSrc(&x1, &y1, end.x(), end.y());
    EXPECT_NEAR(x1, x0, 1e-9);
    EXPECT_NEAR(y1, y0, 1e-9);

    window_->Command(cmd::kRepaintSmudge);
    MethodPanel* panel = window_->CurrentPanel();
    ASSERT_NE(panel, nullptr);
    panel->PreviewBox()->setChecked(true);
    ASSERT_NE(panel->Frame(), nullptr);
    const CBxRect<int> before = *panel->Frame();
    const QPoint inside = PictureToWindow(before.left + 50, before.top + 50);
    ViewPress(view, inside);
    ViewMove(view, inside + QPoint(24, 12));
    ViewRelease(view, inside + QPoint(24, 12));
    QApplication::processEvents();
    const CBxRect<int> after = *panel->Frame();
    EXPECT_NEAR(after.left - before.left, 24 * Ratio(), 1.0);
    EXPECT_NEAR(after.top - before.top, 12 * Ratio(), 1.0);
    EXPECT_EQ(after.Width(), before.Width());

    // The frame's left edge on the screen: its red is the inverse of the
    // picture's (one device pixel for each picture pixel at 100 %).
    const QImage all = window_->grab().toImage().convertToFormat(QImage::Format_RGB888);
    int dx, dy;
    window_->Anchor().DeviceMap().MapPointSrcToDst(&dx, &dy, after.left, after.top);
    const uint8_t* under = window_->Doc().displayed.Row<uint8_t>(after.top + 5) + 3 * after.left;
    EXPECT_EQ(qRed(all.pixel(dx, dy + 5)), uint8_t(~under[2]));
    panel->Cancel();
}
