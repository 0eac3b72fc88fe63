// What the three method panels share: controls built from the method's
// parameter table, the Preview box and its rectangle on the picture,
// OK / Cancel / Abort, the progress bar, and the way a job ends. Each method
// adds its preview, its job and its progress range.
#pragma once

#include <QEvent>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "engine_status.h"
#include "job_runner.h"
#include "metadata.h"
#include "param_controls.h"
#include "picbuf.h"

class QCheckBox;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class PanelHost;

// The preview rectangle around picture point (cx, cy): at most 300 × 300,
// cut at the picture's edges; its integer form as the view and crop use it.
struct PreviewRect {
    double left = 0, top = 0, right = 0, bottom = 0;
    CBxRect<int> Rounded(int width, int height) const;
};
PreviewRect PreviewRectAround(int cx, int cy, int width, int height);

enum class ViewMouse { Press, Move, Release };

// The parameter table a panel is built from.
struct PanelTable {
    const ParamSpec* specs;
    int count;
    const ParamGroup* groups;
    int groupCount;
    std::vector<int> lockedDuringJob;  // indices into specs
    bool previewLockedDuringJob;
};

class MethodPanel : public QWidget {
public:
    MethodPanel(PanelHost& host, const PanelTable& table, int dialogId, QWidget* parent);

    // Mouse gestures over the view, in window coordinates; true when the
    // panel used them (the view then does not pan).
    bool HandleViewMouse(ViewMouse kind, QPoint p);
    void AdvanceProgress(int steps);
    bool JobRunning() const { return closing_ && !done_; }
    bool PreviewOn() const;
    int PreviewsComputed() const { return previews_; }
    const CBxRect<int>* Frame() const { return frameShown_ ? &frame_ : nullptr; }
    QWidget* Control(int id) const;
    ParamControls& Controls() { return *controls_; }
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
    // Puts the keyboard back into the panel when it is no longer there (a
    // job's Abort button went away): on the control last tuned, else the
    // first one that takes it.
    void ReturnFocus();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

    // Runs the method on `crop` (the loaded picture under `rect`).
    virtual RepaintStatus RunPreview(SBxPicBuf& result, const SBxPicBuf& crop, const CBxRect<int>& rect) = 0;
    // The method with the parameters as they are now.
    virtual JobFunction MakeJob() const = 0;
    // The method's name as the command line spells it.
    virtual const char* MethodName() const = 0;
    Recipe MakeRecipe() const;
    virtual int ProgressRange() const = 0;
    virtual int ProgressStart() const { return 1; }
    virtual void PreviewSwitchedOn() {}
    virtual void AbortPressed() {}
    virtual void JobStarting() {}
    // Adds the method's own controls below the table's (the Default button).
    virtual void AddExtras(QVBoxLayout*) {}
    virtual void LockExtras(bool) {}
    // Builds the controls; the constructor of each method calls it.
    void Build();
    void Fit();

    PanelHost& host_;
    const SBxPicBuf& Loaded() const;

private:
    void ShowJobControls(bool running);
    void JobEnded(bool done);
    void Close(bool keepResult);
    void ParameterChanged(bool recompute);

    PanelTable table_;
    ParamControls* controls_ = nullptr;
    QCheckBox* preview_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton *ok_ = nullptr, *cancel_ = nullptr, *abort_ = nullptr;
    bool closing_ = false, done_ = false, overFrame_ = false, dragging_ = false, frameShown_ = false;
    bool computing_ = false, again_ = false;
    int previews_ = 0;
    PreviewRect rect_;
    CBxRect<int> frame_;
    QPoint last_;
    QPointer<QWidget> tuned_;  // the parameter control that last had the focus
};
