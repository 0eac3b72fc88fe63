// The window as host of the method panels: previews, the preview frame,
// jobs and their ends.
#include <QApplication>

#include "docker.h"
#include "main_window.h"
#include "method_panel.h"
#include "picture_view.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void MainWindow::ShowPreview(const SBxPicBuf* patch, int left, int top) {
    if (runner_->Running()) return;  // the job's result will replace the picture
    session_.ShowLoaded();
    if (patch && patch->pixels)
        CBxPicBufAPI::CopyRect(session_.Doc().displayed, *patch, {left, top}, {0, 0}, {patch->width, patch->height});
    view_->Redraw(0);
}

void MainWindow::SetPreviewFrame(const CBxRect<int>* frame) {
    view_->State().previewFrame = frame;
    view_->Redraw(2);
}

CBxPicMap MainWindow::ViewMap() const { return view_->Anchor().Map(); }
double MainWindow::ViewScale() const { return view_->Anchor().Scale(); }

QPoint MainWindow::ViewCentreOnPicture() const {
    double sx, sy;
    ViewMap().MapPointDstToSrc(&sx, &sy, docker_->x() / 2, height() / 2);
    return QPoint(int(std::floor(sx + 0.5)), int(std::floor(sy + 0.5)));
}

void MainWindow::SetViewCursor(Qt::CursorShape shape) { view_->SetShape(shape); }

bool MainWindow::StartJob(JobFunction job, Recipe recipe) {
    if (!currentPanel_ || runner_->Running()) return false;
    edgeMaps_.Cancel();  // the job needs the engine's threads
    if (!runner_->Start(Loaded(), std::move(job))) {
        Tell(102);
        return false;
    }
    jobRecipe_ = std::move(recipe);
    connect(runner_, &JobRunner::Progressed, currentPanel_, &MethodPanel::AdvanceProgress, Qt::UniqueConnection);
    panelOpen_ = false;
    UpdateCommands();
    view_->Redraw(2);
    return true;
}

void MainWindow::AbortJob() { runner_->Abort(); }

bool MainWindow::JobRunning() const { return runner_->Running(); }

// The result, or the unprocessed picture after an abort, is swapped in here,
// on the interface thread, once the worker has ended.
void MainWindow::JobEnded(QEvent* e) {
    const auto* end = dynamic_cast<JobEndEvent*>(e);
    if (!end || !runner_->Running()) return;  // only the runner's own notice counts
    PicBufHolder result = runner_->TakeResult();
    const bool done = end->status == RepaintStatus::Done;
    if (done) {
        session_.AcceptResult(std::move(result), jobRecipe_);
    } else {
        panelOpen_ = true;
        session_.SetUnsaved(false);
        session_.ShowLoaded();
    }
    view_->Redraw(0);
    UpdateCommands();
    if (currentPanel_) {
        QEvent notice(done ? um::kJobDone : um::kJobAborted);
        QApplication::sendEvent(currentPanel_, &notice);
    }
    if (end->status == RepaintStatus::OutOfMemory) Tell(102);
    if (end->status == RepaintStatus::BadInput)
        Tell(110, end->failure.empty() ? QString(RepaintStatusText(end->status)) : Q(end->failure));
    if (closeAfterJob_) close();
}

void MainWindow::PanelClosing(bool keepResult) {
    docker_->DetachPanel(currentPanel_);
    view_->State().previewFrame = nullptr;
    if (!keepResult) session_.ShowLoaded();
    currentPanel_ = nullptr;
    panelOpen_ = false;
    SetCtrlCursor(false);
    UpdateCommands();
    view_->Redraw(0);
    setFocus();
}

void MainWindow::PanelResized() {
    if (!docker_) return;
    docker_->LayoutDocker();
    LayoutDockerArea();
}

void MainWindow::WheelOverPanel(const QPoint& windowPoint, int delta) { view_->Wheel(windowPoint, delta); }
