#include "command_table.h"

#include <QAction>
#include <QComboBox>
#include <QFont>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

#include "ids.h"
#include "image_view.h"
#include "toolbar_icons.h"

namespace {

constexpr int kZoomBoxWidth = 95;

QString Q(const std::string& s) { return QString::fromStdString(s); }

struct Entry {
    int id;
    unsigned rules;
    std::initializer_list<QKeySequence> keys;
};

const unsigned kPictureCommand = kNeedsPicture | kLockedByPanel | kLockedByJob;

// Keys of the toolbar's and the view's commands.
const Entry kEntries[] = {
    {cmd::kOpen, kLockedByPanel | kLockedByJob, {QKeySequence(Qt::CTRL | Qt::Key_O)}},
    {cmd::kSaveAs, kPictureCommand, {QKeySequence(Qt::CTRL | Qt::Key_S)}},
    {cmd::kClose, kPictureCommand, {}},
    {cmd::kRepaintOriginal, kPictureCommand, {}},
    {cmd::kRepaintSmudge, kPictureCommand, {}},
    {cmd::kRepaintRedraw, kPictureCommand, {}},
    {cmd::kZoomIn, 0, {QKeySequence(Qt::Key_Plus), QKeySequence(Qt::KeypadModifier | Qt::Key_Plus)}},
    {cmd::kZoomOut, 0, {QKeySequence(Qt::Key_Minus), QKeySequence(Qt::KeypadModifier | Qt::Key_Minus)}},
    {cmd::kZoom100, 0, {}},
    {cmd::kZoomFit, 0, {}},
    {cmd::kZoomBox, kNeedsPicture, {}},
    {cmd::kMenu, kLockedByPanel, {}},
    {cmd::kPanLeft, 0, {QKeySequence(Qt::Key_Left)}},
    {cmd::kPanRight, 0, {QKeySequence(Qt::Key_Right)}},
    {cmd::kPanUp, 0, {QKeySequence(Qt::Key_Up)}},
    {cmd::kPanDown, 0, {QKeySequence(Qt::Key_Down)}},
    {cmd::kAbout, 0, {QKeySequence(Qt::ALT | Qt::Key_Slash), QKeySequence(Qt::ALT | Qt::Key_Question)}},
    {cmd::kHelpF1, 0, {QKeySequence(Qt::Key_F1)}},
};

}  // namespace

CommandTable::CommandTable(QWidget* window, const TextTable& texts, std::function<void(int)> run)
    : QObject(window), window_(window), texts_(texts), run_(std::move(run)) {
    for (const Entry& e : kEntries) {
        QAction* a = Make(e.id, e.rules);
        a->setShortcuts(QList<QKeySequence>(e.keys));
        a->setShortcutContext(Qt::WindowShortcut);
        window_->addAction(a);
    }
}

QAction* CommandTable::Make(int id, unsigned rules) {
    auto* a = new QAction(window_);
    a->setProperty(kIdProperty, id);
    connect(a, &QAction::triggered, this, [this, id] { run_(id); });
    actions_[id] = a;
    rules_[id] = rules;
    return a;
}

QComboBox* CommandTable::BuildToolbar(QToolBar* toolbar) {
    auto button = [&](int id, const char* image, int tooltipKey) {
        QAction* a = Action(id);
        a->setIcon(ToolbarIcon(image));
        if (tooltipKey) a->setToolTip(Q(texts_.Text(tooltipKey)));
        toolbar->addAction(a);
    };
    button(cmd::kOpen, "IDP_FOLDER", 23);
    button(cmd::kSaveAs, "IDP_SAVE", 24);
    toolbar->addSeparator();
    button(cmd::kRepaintOriginal, "IDP_PAINT", 55);
    button(cmd::kRepaintSmudge, "IDP_SMUDGE", 56);
    button(cmd::kRepaintRedraw, "IDP_DRAW", 60);
    for (int i = 0; i < 2; ++i) {
        QAction* blank = toolbar->addAction(QString());
        blank->setProperty(kIdProperty, cmd::kBlank);
        blank->setEnabled(false);
    }
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    QAction* spacerAction = toolbar->addWidget(spacer);
    spacerAction->setProperty(kIdProperty, cmd::kSpacer);
    spacerAction->setEnabled(false);
    button(cmd::kZoomIn, "IDP_ZOOMIN", 25);
    button(cmd::kZoomOut, "IDP_ZOOMOUT", 26);
    button(cmd::kZoom100, "IDP_ZOOM100", 28);
    button(cmd::kZoomFit, "IDP_ZOOMFIT", 27);

    auto* holder = new QWidget(toolbar);
    auto* zoomBox = new QComboBox(holder);
    zoomBox->setEditable(true);
    zoomBox->setInsertPolicy(QComboBox::NoInsert);
    zoomBox->setCompleter(nullptr);  // "5" is five percent, not "50.0 %"
    zoomBox->setToolTip(Q(texts_.Text(29)));
    zoomBox->setProperty(kIdProperty, cmd::kZoomBox);
    // A Windows font height of 16 is the cell height: about 12 pixels of em.
    QFont font("Tahoma");
    font.setPixelSize(12);
    font.setWeight(QFont::DemiBold);
    font.setStyleHint(QFont::SansSerif);
    zoomBox->setFont(font);
    for (const char* t : kZoomEntryTexts) zoomBox->addItem(t);
    zoomBox->setCurrentIndex(3);
    // Wide enough for the longest zoom the buttons reach ("10000.0 %").
    const int textWidth = QFontMetrics(font).horizontalAdvance("10000.0 %") + 36;
    zoomBox->setFixedWidth(std::max(kZoomBoxWidth - 10, textWidth));
    holder->setFixedWidth(zoomBox->width() + 10);
    zoomBox->move(5, 4);
    QAction* zoomAction = toolbar->addWidget(holder);
    zoomAction->setProperty(kIdProperty, cmd::kZoomBox);
    connect(Action(cmd::kZoomBox), &QAction::changed, zoomBox,
            [this, zoomBox] { zoomBox->setEnabled(Action(cmd::kZoomBox)->isEnabled()); });

    button(cmd::kMenu, "IDP_PICKER", 0);
    QAction* menu = Action(cmd::kMenu);
    menu->setText(Q(texts_.Text(105)));
    if (auto* b = qobject_cast<QToolButton*>(toolbar->widgetForAction(menu)))
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return zoomBox;
}

std::unique_ptr<QMenu> CommandTable::BuildMenu() const {
    auto menu = std::make_unique<QMenu>();
    const bool picture = Enabled(cmd::kSaveAs);
    auto item = [&](QMenu* m, int id, const QString& text, bool greyable) {
        QAction* a = m->addAction(text);
        a->setProperty(kIdProperty, id);
        if (greyable) a->setEnabled(picture);
        connect(a, &QAction::triggered, this, [this, id] { run_(id); });
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

void CommandTable::Apply(const CommandState& s) {
    for (const auto& [id, rules] : rules_) {
        const bool on = !((rules & kNeedsPicture) && !s.picture) && !((rules & kLockedByPanel) && s.panelOpen) &&
                        !((rules & kLockedByJob) && s.jobRunning);
        actions_[id]->setEnabled(on);
    }
}

QAction* CommandTable::Action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

bool CommandTable::Enabled(int id) const {
    const QAction* a = Action(id);
    return a && a->isEnabled();
}
