// What the three method panels share: the Preview box and its rectangle on
// the picture, OK / Cancel / Abort, the progress bar, and the way a job
// ends. Each method adds its own controls, preview and job start.
#pragma once

#include <QEvent>
#include <QWidget>

#include "engine_status.h"
#include "picbuf.h"

class QCheckBox;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class MainWindow;

// The preview rectangle around picture point (cx, cy): at most 300 × 300,
// cut at the picture's edges; its integer form as the view and crop use it.
struct PreviewRect {
    double left = 0, top = 0, right = 0, bottom = 0;
    CBxRect<int> Rounded(int width, int height) const;
};
PreviewRect PreviewRectAround(int cx, int cy, int width, int height);

enum class ViewMouse { Press, Move, Release };

class MethodPanel : public QWidget {
public:
    MethodPanel(MainWindow* window, QWidget* parent);
    // Builds the controls; called once after construction.
    void Initialise();

    // Mouse gestures over the view, in window coordinates; true when the
    // panel used them (the view then does not pan).
    bool HandleViewMouse(ViewMouse kind, QPoint p);
    void AdvanceProgress(int steps);
    bool JobRunning() const { return closing_ && !done_; }
    bool PreviewOn() const;
    const CBxRect<int>* Frame() const { return frameShown_ ? &frame_ : nullptr; }
    QProgressBar* Progress() const { return progress_; }
    QPushButton* AbortButton() const { return abort_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    QCheckBox* PreviewBox() const { return preview_; }

    void Ok();
    void Cancel();
    void Abort();
    void SetPreview(bool on);
    void RecomputePreview();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

    virtual void AddControls(QVBoxLayout* layout) = 0;
    virtual void EnableForJob(bool enabled) = 0;  // the method's controls
    virtual bool PreviewDisabledDuringJob() const { return false; }
    virtual bool ReloadBeforePreview() const { return true; }
    // Runs the method on `crop` (the loaded picture under the rectangle).
    virtual RepaintStatus RunPreview(SBxPicBuf& result, SBxPicBuf& crop, const CBxRect<int>& rect) = 0;
    virtual QEvent::Type StartEvent() const = 0;
    virtual int ProgressRange() const = 0;
    virtual int ProgressStart() const { return 1; }
    virtual void PreviewSwitchedOn() {}
    virtual void AbortPressed() {}
    virtual void JobStarting() {}
    // A slider: its label, value text and stored setting.
    void AddSlider(QVBoxLayout* layout, int textKey, const int minimum, int maximum, int32_t* setting,
                   QString (*format)(int), QWidget** sliderOut = nullptr, QWidget** valueOut = nullptr);

    MainWindow* window_;
    const SBxPicBuf& Loaded() const;
    SBxPicBuf& Displayed();

private:
    void ShowJobControls(bool running);
    void JobDone();
    void JobAborted();
    void Close(bool restore);

    QCheckBox* preview_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton *ok_ = nullptr, *cancel_ = nullptr, *abort_ = nullptr;
    bool closing_ = false, done_ = false, overFrame_ = false, dragging_ = false, frameShown_ = false;
    PreviewRect rect_;
    CBxRect<int> frame_;
    QPoint last_;
};
