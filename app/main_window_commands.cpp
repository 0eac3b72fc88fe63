// The window's commands: open, close, save, options, about, the method
// panels, zoom and pan.
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QToolBar>

#include "docker.h"
#include "ids.h"
#include "main_window.h"
#include "method_panels.h"
#include "picture_view.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

void MainWindow::Command(int id, int lParam) {
    // The command table disables what may not run now; a shortcut or a
    // stale menu item does not get past it.
    if (QAction* a = commands_->Action(id); a && !a->isEnabled()) return;
    switch (id) {
        case cmd::kOpen:
            if (!UnsavedPrompt()) return;
            if (auto path = hooks_.openDialog(Q(texts_.Text(103))))
                if (Load(*path)) PictureOpened();
            return;
        case cmd::kSaveAs: SaveAs(); return;
        case cmd::kClose:
            if (UnsavedPrompt()) CloseSteps();
            return;
        case cmd::kOptions: Options(); return;
        case cmd::kExit: close(); return;
        case cmd::kAbout: About(); return;
        case cmd::kRepaintOriginal:
        case cmd::kRepaintSmudge:
        case cmd::kRepaintRedraw: RepaintCommand(id); return;
        case cmd::kZoomIn: view_->ZoomBy(kZoomStepIn); return;
        case cmd::kZoomOut: view_->ZoomBy(kZoomStepOut); return;
        case cmd::kZoom100: view_->ZoomTo100(); return;
        case cmd::kZoomFit: view_->FitAndShow(lParam != 99); return;
        case cmd::kPanLeft: view_->Pan(-50, 0); return;
        case cmd::kPanRight: view_->Pan(50, 0); return;
        case cmd::kPanUp: view_->Pan(0, -50); return;
        case cmd::kPanDown: view_->Pan(0, 50); return;
        case cmd::kMenu: ShowMenu(); return;
        default: return;  // F1 and the blank buttons have no handler
    }
}

// The file is read on a worker thread while the window goes on painting; the
// commands wait meanwhile, and closing the window cancels the read.
bool MainWindow::Load(const std::string& path) {
    if (loading_) return false;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const OpenFailure failure = session_.Open(path, [this](const std::string& p) {
        loading_ = true;
        UpdateCommands();
        LoadResult r = loader_.Run(p);
        loading_ = false;
        UpdateCommands();
        return r;
    });
    QApplication::restoreOverrideCursor();
    if (closeAfterLoad_) {
        closeAfterLoad_ = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return false;
    }
    switch (failure) {
        case OpenFailure::None: return true;
        case OpenFailure::Missing: Tell(106, Q(path)); return false;
        case OpenFailure::Damaged: Tell(107, Q(path)); return false;
        case OpenFailure::TooLarge: Tell(108, Q(path)); return false;
        case OpenFailure::Unsupported: Tell(41); return false;
        case OpenFailure::Cancelled: return false;
    }
    return false;
}

void MainWindow::PictureOpened() {
    // Redraw's first preview needs the edge map of the whole picture:
    // built now, while the user looks at the picture, it is ready by then.
    edgeMaps_.Start(Loaded(), RedrawParamsFrom(Ui()));
    UpdateTitle();
    status_->setText(Q(texts_.Text(22)));
    view_->FitAndShow(false);
    view_->ReloadLoaded();
    view_->Redraw(0);
    UpdateCommands();
}

bool MainWindow::OpenFile(const std::string& path) {
    if (panelOpen_ || currentPanel_ || runner_->Running() || loading_ || !UnsavedPrompt()) return false;
    if (!Load(path)) return false;
    PictureOpened();
    return true;
}

void MainWindow::CloseSteps() {
    status_->setText(Q(texts_.Text(1)));
    edgeMaps_.Cancel();
    session_.Close();
    view_->Clear();
    UpdateTitle();
    UpdateCommands();
}

void MainWindow::RepaintCommand(int id) {
    if (!UnsavedPrompt() || currentPanel_) return;
    if (!IsRepaintablePicture(Loaded())) {
        Tell(41);
        return;
    }
    MethodPanel* panel = id == cmd::kRepaintOriginal ? static_cast<MethodPanel*>(new OriginalPanel(*this, docker_))
                         : id == cmd::kRepaintSmudge ? static_cast<MethodPanel*>(new SmudgePanel(*this, docker_))
                                                     : static_cast<MethodPanel*>(new RedrawPanel(*this, docker_));
    currentPanel_ = panel;
    panelOpen_ = true;
    docker_->AttachPanel(panel);
    docker_->LayoutDocker();
    LayoutDockerArea();
    panel->show();
    UpdateCommands();
    view_->Redraw();
}

void MainWindow::ShowMenu() {
    std::unique_ptr<QMenu> menu = commands_->BuildMenu();
    QWidget* button = toolbar_->widgetForAction(commands_->Action(cmd::kMenu));
    const QPoint at = button ? button->mapToGlobal(QPoint(0, button->height())) : mapToGlobal(QPoint(0, 0));
    menu->exec(at);
}

void MainWindow::About() {
    Ask({"Quorvane, Version 1.1\n\nRepaints photographs with the Original, Smudge and Redraw methods.\n"
         "Pictures are read and written with FreeImage; Smudge and Redraw use CImg.",
         Q(texts_.Text(42)), QMessageBox::Information, QMessageBox::Ok});
}

void MainWindow::SaveAs() {
    const Document& doc = session_.Doc();
    if (!doc.displayed.pixels) return;
    const SaveDialogRequest request = MakeSaveDialogRequest(session_.CurrentImagePath(), doc.displayed.bits);
    const QString title = Q(texts_.Text(104));
    const std::optional<SaveChoice> choice =
        hooks_.saveDialog(request, title, Q(texts_.Text(48)), InitialJpegQuality(ReadJpegQuality(paths_)));
    if (!choice) return;
    const SaveTarget target = ResolveSaveTarget(choice->name, choice->entry);
    if (target.path != choice->name && QFileInfo::exists(Q(target.path)) &&
        Ask({QString("%1 already exists.\nDo you want to replace it?").arg(Q(target.path)), title,
             QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No}) != QMessageBox::Yes)
        return;
    try {
        const SaveStatus saved = session_.Save(target.path, choice->quality, FreeImageFormatOf(target.formatIndex));
        WriteJpegQuality(paths_, uint32_t(choice->quality));
        UpdateTitle();
        if (saved == SaveStatus::SavedWithoutMetadata) Tell(101);
        if (saved == SaveStatus::FormatHoldsNoMetadata && session_.FirstBmpNotice()) Tell(111);
    } catch (const ImageWriteError& e) {
        Ask({Q(texts_.Text(100)) + "\n" + QString::fromLocal8Bit(e.what()), QString(), QMessageBox::Warning,
             QMessageBox::Ok});
    } catch (const std::runtime_error&) {
        Tell(41);
    }
    update();
}

// The file's values replace only those the user has not changed since they
// were read; nothing set in a panel is lost.
void MainWindow::Options() {
    const int before = settings_.currentLanguage;
    ReloadSettings(settings_, paths_);
    const std::optional<int> chosen = hooks_.optionsDialog(settings_, texts_);
    if (!chosen) return;
    settings_.currentLanguage = *chosen;
    StoreCurrentLanguage(paths_, *chosen);
    TextTable fresh;
    LoadTexts(fresh, paths_.localisationFile, *chosen);
    texts_.Set(47, fresh.Text(47));
    texts_.Set(38, fresh.Text(38));
    if (*chosen != before) Ask({Q(texts_.Text(47)), Q(texts_.Text(38)), QMessageBox::Information, QMessageBox::Ok});
}
