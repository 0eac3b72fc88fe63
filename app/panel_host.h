// What a method panel may ask of the window it is docked in. The panels
// know nothing else of the window.
#pragma once

#include <Qt>

#include "job_runner.h"
#include "metadata.h"
#include "picbuf.h"
#include "settings.h"
#include "text_table.h"

class QPoint;

class PanelHost {
public:
    virtual ~PanelHost() = default;

    virtual const SBxPicBuf& Loaded() const = 0;
    virtual const TextTable& Texts() const = 0;
    virtual UiSettings& Ui() = 0;

    // Shows the loaded picture with `patch` pasted at (left, top); without a
    // patch, the loaded picture alone. Refused while a job runs.
    virtual void ShowPreview(const SBxPicBuf* patch, int left, int top) = 0;
    // The frame drawn over the picture (nothing: none); redraws the view.
    virtual void SetPreviewFrame(const CBxRect<int>* frame) = 0;
    virtual CBxPicMap ViewMap() const = 0;
    // Window pixels per picture pixel: how far the mouse moves over a picture pixel.
    virtual double ViewScale() const = 0;
    // The picture point at the centre of the view area, rounded.
    virtual QPoint ViewCentreOnPicture() const = 0;
    virtual void SetViewCursor(Qt::CursorShape shape) = 0;

    // Starts `job` on a snapshot of the loaded picture; false when refused.
    // `recipe` says how the result is made; a save writes it into the file.
    virtual bool StartJob(JobFunction job, Recipe recipe = {}) = 0;
    virtual void AbortJob() = 0;
    virtual bool JobRunning() const = 0;

    // The panel goes away: the displayed picture keeps the result or goes
    // back to the loaded picture.
    virtual void PanelClosing(bool keepResult) = 0;
    // The panel changed its size.
    virtual void PanelResized() = 0;
    virtual void WheelOverPanel(const QPoint& windowPoint, int delta) = 0;
    // Hands over Redraw's edge map of the loaded picture for `details` when it
    // was built in the background; false when there is none to take.
    virtual bool TakeEdgeMap(float /*details*/, PicBufHolder& /*map*/) { return false; }
};
