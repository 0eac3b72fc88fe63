#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "color_scheme.h"
#include "dialogs.h"
#include "docker.h"
#include "ids.h"
#include "imagefile.h"
#include "job_params.h"
#include "method_panels.h"
#include "original.h"
#include "redraw.h"
#include "smudge.h"
#include "toolbar_icons.h"
#include "view_widget.h"

namespace {

constexpr int kZoomBoxWidth = 95;
constexpr int kMaxPath = 1023;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A placeholder the size of a method panel, to give the docker its width.
constexpr int kPanelWidth = 290, kPanelHeight = 430;

}  // namespace

MainWindow::MainWindow(SettingsPaths paths, UserInterfaceHooks hooks, QWidget* parent)
    : QMainWindow(parent), paths_(std::move(paths)), hooks_(std::move(hooks)) {
    if (!hooks_.message) hooks_.message = ShowMessageBox(this);
    if (!hooks_.openDialog) hooks_.openDialog = RunOpenDialog(this);
    if (!hooks_.saveDialog) hooks_.saveDialog = RunSaveDialog(this);
    if (!hooks_.optionsDialog) hooks_.optionsDialog = RunOptionsDialog(this);

    setWindowTitle("Quorvane");
    setWindowIcon(ProgramIcon());
    setAcceptDrops(true);

    // Texts in English first, then in the language of the settings.
    LoadSettings(settings_, paths_);
    LoadTexts(texts_, paths_.localisationFile, settings_.currentLanguage);
    if (settings_.crashFlag)
        Ask({Q(texts_.Text(2)), Q(texts_.Text(3)), QMessageBox::Information, QMessageBox::Ok});

    status_ = new QLabel(Q(texts_.Text(1)));
    statusBar()->addWidget(status_, 1);
    statusBar()->setSizeGripEnabled(true);

    InitDocument(doc_, SkinGrey(kColorAppWorkspace));
    viewWidget_ = new ViewWidget(this);
    setCentralWidget(viewWidget_);
    BuildToolbar();
    BuildShortcuts();
    for (int id : {cmd::kSaveAs, cmd::kRepaintOriginal, cmd::kRepaintSmudge, cmd::kRepaintRedraw}) SetEnabled(id, false);

    docker_ = new Docker(this);
    QWidget sizing;
    sizing.resize(kPanelWidth, kPanelHeight);
    docker_->AttachPanel(&sizing);
    docker_->LayoutDocker();
    docker_->DetachPanel(&sizing);
    sizing.setParent(nullptr);
    docker_->show();
    zoomBox_->setEnabled(false);
    resize(1100, 760);
}

MainWindow::~MainWindow() {
    // A running job stops at its next check and is waited for before the
    // pictures it uses go away.
    abort_.store(true);
    if (jobThread_.joinable()) jobThread_.join();
    CBxPicBufAPI::DoneHeap(jobCopy_);
    Shutdown();
    ReleaseViewCopies(view_);
    ReleaseDocument(doc_);
}

// ---- toolbar, menu, shortcuts ------------------------------------------------

void MainWindow::AddCommandButton(int id, const char* image, int tooltipKey) {
    QAction* a = toolbar_->addAction(ToolbarIcon(image), QString());
    a->setProperty(kIdProperty, id);
    if (tooltipKey) a->setToolTip(Q(texts_.Text(tooltipKey)));
    connect(a, &QAction::triggered, this, [this, id] { Command(id); });
    actions_[id] = a;
}

void MainWindow::BuildToolbar() {
    toolbar_ = new QToolBar(this);
    toolbar_->setProperty(kIdProperty, ctl::kToolbar);
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar_->setIconSize(QSize(kToolbarIconSize, kToolbarIconSize));
    toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, toolbar_);

    AddCommandButton(cmd::kOpen, "IDP_FOLDER", 23);
    AddCommandButton(cmd::kSaveAs, "IDP_SAVE", 24);
    toolbar_->addSeparator();
    AddCommandButton(cmd::kRepaintOriginal, "IDP_PAINT", 55);
    AddCommandButton(cmd::kRepaintSmudge, "IDP_SMUDGE", 56);
    AddCommandButton(cmd::kRepaintRedraw, "IDP_DRAW", 60);
    for (int i = 0; i < 2; ++i) {
        QAction* blank = toolbar_->addAction(QString());
        blank->setProperty(kIdProperty, cmd::kBlank);
        blank->setEnabled(false);
    }
    QWidget* spacer = new QWidget(toolbar_);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    QAction* spacerAction = toolbar_->addWidget(spacer);
    spacerAction->setProperty(kIdProperty, cmd::kSpacer);
    spacerAction->setEnabled(false);
    AddCommandButton(cmd::kZoomIn, "IDP_ZOOMIN", 25);
    AddCommandButton(cmd::kZoomOut, "IDP_ZOOMOUT", 26);
    AddCommandButton(cmd::kZoom100, "IDP_ZOOM100", 28);
    AddCommandButton(cmd::kZoomFit, "IDP_ZOOMFIT", 27);

    zoomBox_ = new QComboBox(toolbar_);
    zoomBox_->setEditable(true);
    zoomBox_->setInsertPolicy(QComboBox::NoInsert);
    zoomBox_->setFixedWidth(kZoomBoxWidth - 10);
    zoomBox_->setToolTip(Q(texts_.Text(29)));
    zoomBox_->setProperty(kIdProperty, cmd::kZoomBox);
    // A Windows font height of 16 is the cell height: about 12 pixels of em.
    QFont font("Tahoma");
    font.setPixelSize(12);
    font.setWeight(QFont::DemiBold);
    font.setStyleHint(QFont::SansSerif);
    zoomBox_->setFont(font);
    for (const char* t : kZoomEntryTexts) zoomBox_->addItem(t);
    zoomBox_->setCurrentIndex(3);
    zoomBox_->installEventFilter(this);
    connect(zoomBox_, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        anchor_.zoom = ZoomOfEntry(index);
        ShowZoom();
        setFocus();
        dragStart_ = QPoint();
        Redraw();
    });
    connect(zoomBox_->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { QApplication::postEvent(this, new QEvent(um::kZoomText)); });
    QWidget* holder = new QWidget(toolbar_);
    holder->setFixedWidth(kZoomBoxWidth);
    zoomBox_->setParent(holder);
    zoomBox_->move(5, 4);
    QAction* zoomAction = toolbar_->addWidget(holder);
    zoomAction->setProperty(kIdProperty, cmd::kZoomBox);
    actions_[cmd::kZoomBox] = zoomAction;

    AddCommandButton(cmd::kMenu, "IDP_PICKER", 0);
    QAction* menu = actions_[cmd::kMenu];
    menu->setText("Menu");
    if (auto* button = qobject_cast<QToolButton*>(toolbar_->widgetForAction(menu)))
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

void MainWindow::BuildShortcuts() {
    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_O), cmd::kOpen},
        {QKeySequence(Qt::CTRL | Qt::Key_S), cmd::kSaveAs},
        {QKeySequence(Qt::Key_Left), cmd::kPanLeft},
        {QKeySequence(Qt::Key_Right), cmd::kPanRight},
        {QKeySequence(Qt::Key_Up), cmd::kPanUp},
        {QKeySequence(Qt::Key_Down), cmd::kPanDown},
        {QKeySequence(Qt::Key_Plus), cmd::kZoomIn},
        {QKeySequence(Qt::KeypadModifier | Qt::Key_Plus), cmd::kZoomIn},
        {QKeySequence(Qt::Key_Minus), cmd::kZoomOut},
        {QKeySequence(Qt::KeypadModifier | Qt::Key_Minus), cmd::kZoomOut},
        {QKeySequence(Qt::ALT | Qt::Key_Slash), cmd::kAbout},
        {QKeySequence(Qt::ALT | Qt::Key_Question), cmd::kAbout},
        {QKeySequence(Qt::Key_F1), cmd::kHelpF1},
    };
    for (const auto& [key, id] : keys) {
        auto* s = new QShortcut(key, this);
        s->setContext(Qt::WindowShortcut);
        s->setProperty(kIdProperty, id);
        connect(s, &QShortcut::activated, this, [this, id = id] { Command(id); });
    }
}

QAction* MainWindow::CommandAction(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

bool MainWindow::IsCommandEnabled(int id) const {
    const QAction* a = CommandAction(id);
    return a && a->isEnabled();
}

void MainWindow::SetEnabled(int id, bool on) {
    if (QAction* a = CommandAction(id)) a->setEnabled(on);
}

std::unique_ptr<QMenu> MainWindow::BuildAppMenu() {
    auto menu = std::make_unique<QMenu>();
    const bool picture = IsCommandEnabled(cmd::kSaveAs);
    auto item = [&](QMenu* m, int id, const QString& text, bool greyable) {
        QAction* a = m->addAction(text);
        a->setProperty(kIdProperty, id);
        if (greyable) a->setEnabled(picture);
        connect(a, &QAction::triggered, this, [this, id] { Command(id); });
    };
    QMenu* file = menu->addMenu(Q(texts_.Text(4)));
    item(file, cmd::kOpen, Q(texts_.Text(7)) + "\tCtrl+O", false);
    item(file, cmd::kSaveAs, Q(texts_.Text(8)) + "\tCtrl+S", true);
    item(file, cmd::kClose, Q(texts_.Text(9)), true);
    file->addSeparator();
    item(file, cmd::kOptions, Q(texts_.Text(10)), false);
    file->addSeparator();
    item(file, cmd::kExit, Q(texts_.Text(11)), false);
    QMenu* repaint = menu->addMenu(Q(texts_.Text(5)));
    item(repaint, cmd::kRepaintOriginal, Q(texts_.Text(55)), true);
    item(repaint, cmd::kRepaintSmudge, Q(texts_.Text(56)), true);
    item(repaint, cmd::kRepaintRedraw, Q(texts_.Text(60)), true);
    QMenu* help = menu->addMenu(Q(texts_.Text(6)));
    item(help, cmd::kAbout, Q(texts_.Text(20)), false);
    return menu;
}

void MainWindow::ShowMenu() {
    std::unique_ptr<QMenu> menu = BuildAppMenu();
    QWidget* button = toolbar_->widgetForAction(CommandAction(cmd::kMenu));
    const QPoint at = button ? button->mapToGlobal(QPoint(0, button->height())) : mapToGlobal(QPoint(0, 0));
    menu->exec(at);
}

// ---- commands ------------------------------------------------------------------

void MainWindow::Command(int id, int lParam) {
    // Nothing may replace or read the pictures a running job writes.
    const bool touchesPictures = id == cmd::kOpen || id == cmd::kSaveAs || id == cmd::kClose ||
                                 id == cmd::kRepaintOriginal || id == cmd::kRepaintSmudge ||
                                 id == cmd::kRepaintRedraw || id == cmd::kExit;
    if (touchesPictures && JobRunning()) return;
    // An open method panel works on the current pictures: no other picture
    // comes in under it.
    if (id == cmd::kOpen && CurrentPanel()) return;
    switch (id) {
        case cmd::kOpen:
            if (!UnsavedPrompt()) return;
            if (auto path = hooks_.openDialog(Q(texts_.Text(55))))
                if (LoadIntoDocument(*path)) PictureOpened(*path, false);
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
        case cmd::kZoomIn:
        case cmd::kZoomOut:
            if (!doc_.loaded.pixels) return;
            anchor_.zoom *= id == cmd::kZoomIn ? kZoomStepIn : kZoomStepOut;
            ShowZoom();
            setFocus();
            Redraw();
            return;
        case cmd::kZoom100:
            if (!doc_.loaded.pixels) return;
            last_ = dragStart_ = QPoint();
            Zoom100(anchor_, FitArea());
            ShowZoom();
            setFocus();
            Redraw();
            return;
        case cmd::kZoomFit: FitAndShow(lParam != 99); return;
        case cmd::kPanLeft: anchor_.dstX -= 50; Redraw(); return;
        case cmd::kPanRight: anchor_.dstX += 50; Redraw(); return;
        case cmd::kPanUp: anchor_.dstY -= 50; Redraw(); return;
        case cmd::kPanDown: anchor_.dstY += 50; Redraw(); return;
        case cmd::kMenu: ShowMenu(); return;
        default: return;  // F1 and the blank buttons have no handler
    }
}

QMessageBox::StandardButton MainWindow::Ask(const MessageRequest& r) { return hooks_.message(r); }

void MainWindow::ShowFormatMessage() { Ask({Q(texts_.Text(41)), QString(), QMessageBox::NoIcon, QMessageBox::Ok}); }

bool MainWindow::UnsavedPrompt() {
    if (!resultUnsaved_) return true;
    return Ask({Q(texts_.Text(21)), Q(texts_.Text(3)), QMessageBox::Information,
                QMessageBox::Yes | QMessageBox::No}) == QMessageBox::Yes;
}

bool MainWindow::LoadIntoDocument(const std::string& path) {
    if (path.empty() || path.size() > kMaxPath) {
        ShowFormatMessage();
        return false;
    }
    LoadResult r = LoadImageFile(path);
    if (!r.ok || !IsEightBitPicture(r.image.picture.buf)) {
        ShowFormatMessage();
        return false;
    }
    CBxPicBufAPI::DoneHeap(doc_.loaded);
    doc_.loaded = r.image.picture.buf;
    CBxPicBufAPI::Init(r.image.picture.buf);
    CBxPicBufAPI::DoneHeap(doc_.alpha);
    doc_.alpha = r.image.alpha.buf;
    CBxPicBufAPI::Init(r.image.alpha.buf);
    currentImagePath_ = path;
    return true;
}

void MainWindow::UpdateTitle(const std::string& path) { setWindowTitle("Quorvane - " + Q(path)); }

void MainWindow::PictureOpened(const std::string& path, bool dropped) {
    sourcePath_ = path;
    UpdateTitle(path);
    SetStatus(22);
    CBxPicBufAPI::ReinitHeap(doc_.displayed, doc_.loaded);
    CBxPicBufAPI::Copy(doc_.displayed, doc_.loaded);
    dragging_ = false;
    if (dropped) {
        Command(cmd::kZoomFit, 99);
        Render(kSlotLoaded, doc_.loaded, 0, true);
        Render(kSlotDisplayed, doc_.displayed, 0, true);
    } else {
        FitAndShow(false);
        Render(kSlotDisplayed, doc_.displayed, 0, true);
        Render(kSlotLoaded, doc_.loaded, 0, false);
    }
    viewWidget_->update();
    for (int id : {cmd::kSaveAs, cmd::kRepaintOriginal, cmd::kRepaintSmudge, cmd::kRepaintRedraw}) SetEnabled(id, true);
    zoomBox_->setEnabled(true);
    resultUnsaved_ = false;
}

bool MainWindow::OpenFile(const std::string& path) {
    if (panelOpen_ || currentPanel_ || JobRunning() || !UnsavedPrompt()) return false;
    if (!LoadIntoDocument(path)) return false;
    PictureOpened(path, true);
    return true;
}

void MainWindow::DropFiles(const QStringList& paths) {
    if (paths.isEmpty()) return;
    OpenFile(paths.front().toStdString());
}

void MainWindow::CloseSteps() {
    SetStatus(1);
    SetEnabled(cmd::kOpen, true);
    for (int id : {cmd::kSaveAs, cmd::kRepaintOriginal, cmd::kRepaintSmudge, cmd::kRepaintRedraw}) SetEnabled(id, false);
    ClearPictures(doc_);
    ReleaseViewCopies(view_);
    view_.resampling = kBilinear;
    Render(kSlotNone, doc_.displayed, 0, true);
    viewWidget_->update();
    zoomBox_->setEnabled(false);
    resultUnsaved_ = false;
}

void MainWindow::RepaintCommand(int id) {
    if (!UnsavedPrompt()) return;
    const int bits = doc_.loaded.bits;
    const bool supported = id == cmd::kRepaintOriginal ? bits == 8 : (bits == 8 || bits == 16);
    if (!doc_.loaded.pixels || !supported) {
        ShowFormatMessage();
        return;
    }
    if (currentPanel_) return;  // one panel at a time
    MethodPanel* panel = id == cmd::kRepaintOriginal ? static_cast<MethodPanel*>(new OriginalPanel(this, docker_))
                         : id == cmd::kRepaintSmudge ? static_cast<MethodPanel*>(new SmudgePanel(this, docker_))
                                                     : static_cast<MethodPanel*>(new RedrawPanel(this, docker_));
    panel->Initialise();
    OpenMethodPanel(panel);
}

MethodPanel* MainWindow::CurrentPanel() const { return dynamic_cast<MethodPanel*>(currentPanel_); }

void MainWindow::SetViewCursor(Qt::CursorShape shape) { viewWidget_->setCursor(shape); }

namespace {

// Progress of a job: steps go to the panel's bar on the interface thread.
class JobProgress : public RepaintProgress {
public:
    JobProgress(MethodPanel* panel, const std::atomic<bool>& abort) : panel_(panel), abort_(abort) {}
    void Step(int n) override {
        QMetaObject::invokeMethod(panel_, [panel = panel_, n] { panel->AdvanceProgress(n); }, Qt::QueuedConnection);
    }
    bool AbortRequested() const override { return abort_.load(std::memory_order_relaxed); }

private:
    MethodPanel* panel_;
    const std::atomic<bool>& abort_;
};

}  // namespace

void MainWindow::StartJob(QEvent::Type start) {
    MethodPanel* panel = CurrentPanel();
    if (!panel || JobRunning()) return;
    if (!CBxPicBufAPI::ReinitHeap(jobCopy_, doc_.loaded) || !CBxPicBufAPI::Copy(jobCopy_, doc_.loaded)) {
        jobFailed_.store(true);
        QApplication::postEvent(panel, new QEvent(um::kJobAborted));
        return;
    }
    jobFailed_.store(false);
    // The job works on a snapshot of the parameters and on the job copy;
    // the interface touches neither the copy nor the displayed picture
    // until the job has ended.
    std::function<RepaintStatus(RepaintProgress&)> run;
    if (start == um::kStartOriginal) {
        const OriginalParams p = OriginalParamsFrom(settings_.ui);
        run = [this, p](RepaintProgress& pr) { return RepaintOriginal(doc_.displayed, jobCopy_, p, pr); };
    } else if (start == um::kStartSmudge) {
        const SmudgeParams p = SmudgeParamsFrom(settings_.ui);
        run = [this, p](RepaintProgress& pr) { return RepaintSmudge(doc_.displayed, jobCopy_, p, pr); };
    } else {
        const RedrawParams p = RedrawParamsFrom(settings_.ui);
        run = [this, p](RepaintProgress& pr) { return RunRedraw(doc_.displayed, jobCopy_, p, pr); };
    }
    jobThread_ = std::thread([this, panel, run] {
        JobProgress progress(panel, abort_);
        const RepaintStatus status = run(progress);
        if (status == RepaintStatus::Done && !abort_.load()) {
            QApplication::postEvent(this, new QEvent(um::kViewReload));
            QApplication::postEvent(panel, new QEvent(um::kJobDone));
        } else {
            jobFailed_.store(status != RepaintStatus::Done && status != RepaintStatus::Aborted);
            QApplication::postEvent(panel, new QEvent(um::kJobAborted));
        }
    });
}

void MainWindow::FinishJob(bool aborted) {
    if (jobThread_.joinable()) jobThread_.join();
    if (!aborted) {
        resultUnsaved_ = true;
        return;
    }
    panelOpen_ = true;
    resultUnsaved_ = false;
    if (jobCopy_.pixels) CBxPicBufAPI::Copy(doc_.displayed, jobCopy_);
    Render(kSlotDisplayed, doc_.displayed, 0, false);
    if (jobFailed_.exchange(false)) Ask({Q(texts_.Text(102)), Q(texts_.Text(3)), QMessageBox::Warning, QMessageBox::Ok});
}

void MainWindow::OpenMethodPanel(QWidget* panel) {
    currentPanel_ = panel;
    panelOpen_ = true;
    docker_->AttachPanel(panel);
    docker_->LayoutDocker();
    panel->show();
    for (int id : {cmd::kOpen, cmd::kSaveAs, cmd::kRepaintOriginal, cmd::kRepaintSmudge, cmd::kRepaintRedraw,
                   cmd::kMenu})
        SetEnabled(id, false);
    update();
}

void MainWindow::CloseMethodPanel(QWidget* panel) {
    docker_->DetachPanel(panel);
    view_.previewFrame = nullptr;
    if (currentPanel_ == panel) currentPanel_ = nullptr;
    panelOpen_ = false;
    SetEnabled(cmd::kOpen, true);
    SetEnabled(cmd::kMenu, true);
    const bool picture = doc_.displayed.pixels != nullptr;
    for (int id : {cmd::kSaveAs, cmd::kRepaintOriginal, cmd::kRepaintSmudge, cmd::kRepaintRedraw})
        SetEnabled(id, picture);
}

void MainWindow::About() {
    Ask({"Quorvane, Version 1.1\n\nRepaints photographs with the Original, Smudge and Redraw methods.\n"
         "Pictures are read and written with FreeImage; Smudge and Redraw use CImg.",
         Q(texts_.Text(42)), QMessageBox::Information, QMessageBox::Ok});
}

void MainWindow::SetStatus(int textKey) { status_->setText(Q(texts_.Text(textKey))); }

QString MainWindow::StatusText() const { return status_->text(); }

// ---- Save As and Options -----------------------------------------------------------

void MainWindow::SaveAs() {
    if (!doc_.displayed.pixels) return;
    const int bits = doc_.displayed.bits;
    const SaveDialogRequest request = MakeSaveDialogRequest(currentImagePath_, bits);
    const int stored = ReadJpegQuality(paths_);
    const std::optional<SaveChoice> choice =
        hooks_.saveDialog(request, Q(texts_.Text(56)), Q(texts_.Text(48)), InitialJpegQuality(stored));
    if (!choice) return;
    const SaveTarget target = ResolveSaveTarget(choice->name, choice->entry, bits);
    if (target.path != choice->name && QFileInfo::exists(Q(target.path)) &&
        Ask({QString("%1 already exists.\nDo you want to replace it?").arg(Q(target.path)), Q(texts_.Text(56)),
             QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No}) != QMessageBox::Yes)
        return;
    try {
        const SaveStatus saved = SaveImageFile(&doc_.displayed, &doc_.alpha, target.path, choice->quality,
                                               sourcePath_, FreeImageFormatOf(target.formatIndex));
        WriteJpegQuality(paths_, uint32_t(choice->quality));
        UpdateTitle(target.path);
        resultUnsaved_ = false;
        if (saved == SaveStatus::SavedWithoutMetadata)
            Ask({Q(texts_.Text(101)), Q(texts_.Text(3)), QMessageBox::Warning, QMessageBox::Ok});
    } catch (const ImageWriteError& e) {
        Ask({Q(texts_.Text(100)) + "\n" + QString::fromLocal8Bit(e.what()), QString(), QMessageBox::Warning,
             QMessageBox::Ok});
    } catch (const std::runtime_error&) {
        ShowFormatMessage();
    }
    update();
}

void MainWindow::Options() {
    const int before = settings_.currentLanguage;
    LoadSettings(settings_, paths_);
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

// ---- view ----------------------------------------------------------------------------

int MainWindow::BackgroundGrey() const {
    const int scheme = CurrentColorScheme().number;
    return scheme == 2 || scheme == 3 ? 48 : 190;
}

ViewRect MainWindow::FitArea() const {
    return {0, toolbar_->height() + 2, docker_->x(), height() - 20};
}

ViewRect MainWindow::ClickArea() const {
    return {0, toolbar_->height() + 2, docker_->x(), height() - statusBar()->height()};
}

ViewRect MainWindow::ViewArea() const {
    const int right = docker_->isVisible() ? width() - docker_->width() : width();
    return {0, toolbar_->height() + 3, right, height() - statusBar()->height()};
}

void MainWindow::Render(int slot, const SBxPicBuf& picture, int reuse, bool draw) {
    RenderView(view_, doc_, anchor_, picture, reuse, slot, draw, doc_.alpha, width(), height(), BackgroundGrey());
}

void MainWindow::Redraw(int reuse) {
    Render(kSlotDisplayed, doc_.displayed, reuse, true);
    viewWidget_->update();
}

void MainWindow::ShowZoom() { zoomBox_->setEditText(Q(ZoomText(anchor_.zoom))); }

void MainWindow::FitAndShow(bool redraw) {
    if (!FitToView(anchor_, doc_.loaded, FitArea())) return;
    last_ = dragStart_ = QPoint();
    dragging_ = false;
    ShowZoom();
    setFocus();
    if (redraw) Redraw();
}

void MainWindow::TypedZoom() {
    const std::optional<double> zoom = ParseTypedZoom(zoomBox_->currentText().toStdString());
    if (zoom) {
        anchor_.zoom = *zoom;
        dragStart_ = QPoint();
    }
    ShowZoom();
    setFocus();
    if (zoom) Redraw();
}

void MainWindow::MousePress(Qt::MouseButton button, QPoint p, Qt::KeyboardModifiers mods) {
    if (button == Qt::RightButton) {
        if (doc_.loaded.pixels) {
            Render(kSlotLoaded, doc_.loaded, 1, true);
            viewWidget_->update();
        }
        return;
    }
    if (button != Qt::LeftButton) return;
    if ((mods & Qt::ControlModifier) && panelOpen_) return;
    if (MethodPanel* panel = CurrentPanel(); panel && panel->HandleViewMouse(ViewMouse::Press, p)) return;
    last_ = p;
    const ViewRect c = ClickArea();
    if (p.x() >= c.left && p.x() <= c.right && p.y() >= c.top && p.y() <= c.bottom) {
        dragging_ = true;
        dragStart_ = last_ = p;
    }
}

void MainWindow::MouseMove(QPoint p, Qt::MouseButtons buttons) {
    last_ = p;
    if (MethodPanel* panel = CurrentPanel(); panel && panel->HandleViewMouse(ViewMouse::Move, p)) return;
    if (!(buttons & Qt::LeftButton) || !dragging_) return;
    anchor_.srcX += (dragStart_.x() - p.x()) / anchor_.zoom;
    anchor_.srcY += (dragStart_.y() - p.y()) / anchor_.zoom;
    Redraw();
    dragStart_ = p;
}

void MainWindow::MouseRelease(Qt::MouseButton button) {
    if (button == Qt::RightButton) {
        if (doc_.displayed.pixels) Redraw();
        return;
    }
    dragging_ = false;
    if (MethodPanel* panel = CurrentPanel()) panel->HandleViewMouse(ViewMouse::Release, last_);
}

void MainWindow::MouseDoubleClick() { FitAndShow(true); }

void MainWindow::MouseLeave() { dragging_ = false; }

void MainWindow::Wheel(QPoint p, int delta) {
    if (!doc_.loaded.pixels || dragging_ || delta == 0) return;
    int x = 0, y = 0;
    WheelZoom(anchor_, p.x(), p.y(), delta > 0 ? 1 : -1, doc_.displayed, doc_.loaded, &x, &y);
    last_ = QPoint(x, y);
    ShowZoom();
    setFocus();
    Redraw();
}

// ---- events ----------------------------------------------------------------------------

bool MainWindow::event(QEvent* e) {
    switch (int(e->type())) {
        case um::kViewReload: Redraw(0); return true;
        case um::kViewRefresh: Redraw(1); return true;
        case um::kViewRedraw: Redraw(2); return true;
        case um::kJobDone: FinishJob(false); return true;
        case um::kJobAborted: FinishJob(true); return true;
        case um::kStartOriginal:
        case um::kStartSmudge:
        case um::kStartRedraw: StartJob(e->type()); return true;
        case um::kZoomText: TypedZoom(); return true;
        default: return QMainWindow::event(e);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    if (watched == zoomBox_ && e->type() == QEvent::Wheel) {
        setFocus();
        return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

void MainWindow::LayoutDockerArea() {
    const int top = toolbar_->height() - 1;
    docker_->setGeometry(width() - docker_->width(), top, docker_->width(),
                         height() - toolbar_->height() - statusBar()->height() + 1);
    docker_->raise();
}

void MainWindow::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    LayoutDockerArea();
    Redraw();
}

void MainWindow::keyPressEvent(QKeyEvent* e) {
    if (panelOpen_ && (e->modifiers() & Qt::ControlModifier)) setCursor(Qt::CrossCursor);
    QMainWindow::keyPressEvent(e);
}

void MainWindow::keyReleaseEvent(QKeyEvent* e) {
    if (panelOpen_ && !(e->modifiers() & Qt::ControlModifier)) setCursor(Qt::ArrowCursor);
    QMainWindow::keyReleaseEvent(e);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls() && !panelOpen_) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
    QStringList paths;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    e->acceptProposedAction();
    DropFiles(paths);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (JobRunning() || !UnsavedPrompt()) {
        e->ignore();
        return;
    }
    Shutdown();
    e->accept();
}

void MainWindow::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    SaveSettings(settings_, paths_);
}
