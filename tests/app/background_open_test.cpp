// Opening reads the file off the interface thread: the window goes on while a
// decoder is slow or hangs, a close cancels the read, and a decoder that
// crashes only costs the file it was reading.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <filesystem>

#include "app_test_util.h"
#include "ids.h"
#include "imagefile.h"
#include "main_window.h"

namespace fs = std::filesystem;

namespace {

class BackgroundOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        paths_ = FreshTestSettings(root_, "quorvane-open", "Quorvane_loc.ini");
        hooks_.message = [this](const MessageRequest& r) {
            messages_.push_back(r.text.toStdString());
            return QMessageBox::Ok;
        };
        window_ = std::make_unique<MainWindow>(paths_, hooks_);
        window_->resize(900, 600);
        window_->show();
        QApplication::processEvents();
        PicBufHolder p;
        CBxPicBufAPI::ReinitHeap(p.buf, 40, 30, 3, 8);
        CBxPicBufAPI::SetConst(p.buf, 90);
        picture_ = (root_ / "photo.png").string();
        SaveImageFile(&p.buf, nullptr, picture_, 0, "", -1);
    }
    void TearDown() override {
        unsetenv("QUORVANE_DECODE_TEST_FAULT");
        window_.reset();
        fs::remove_all(root_);
    }

    fs::path root_;
    SettingsPaths paths_;
    UserInterfaceHooks hooks_;
    std::vector<std::string> messages_;
    std::unique_ptr<MainWindow> window_;
    std::string picture_;
};

}  // namespace

TEST_F(BackgroundOpenTest, TheWindowGoesOnWhileAFileIsReadAndACloseCancelsTheRead) {
    setenv("QUORVANE_DECODE_TEST_FAULT", "hang", 1);
    bool ticked = false, openOffered = true;
    QTimer::singleShot(300, [&] {
        ticked = true;  // the interface thread is free while the decoder hangs
        openOffered = window_->IsCommandEnabled(cmd::kOpen);
        window_->close();
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(window_->OpenFile(picture_));
    EXPECT_TRUE(ticked);
    EXPECT_FALSE(openOffered) << "a second open was offered while one was under way";
    EXPECT_LT(clock.elapsed(), 2000) << "the close did not cancel the read";
    EXPECT_TRUE(messages_.empty()) << "a cancelled read is not a damaged file";
    EXPECT_EQ(window_->Doc().loaded.pixels, nullptr);
    EXPECT_TRUE(WaitFor([&] { return !window_->isVisible(); })) << "the close asked for did not follow";
}

TEST_F(BackgroundOpenTest, ACrashingDecoderRefusesTheFileAndTheWindowStaysUsable) {
    setenv("QUORVANE_DECODE_TEST_FAULT", "crash", 1);
    EXPECT_FALSE(window_->OpenFile(picture_));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find(picture_), std::string::npos) << messages_[0];
    EXPECT_EQ(window_->Doc().loaded.pixels, nullptr);
    unsetenv("QUORVANE_DECODE_TEST_FAULT");
    EXPECT_TRUE(window_->OpenFile(picture_));
    EXPECT_EQ(window_->Doc().loaded.width, 40);
    EXPECT_TRUE(window_->IsCommandEnabled(cmd::kOpen));
}
