#include "param_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "ids.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Trackbar keys: line and page moves step by one; Home and End go to the
// ends of the range (see StepSlider::keyPressEvent).
int KeyStep(int key) {
    switch (key) {
        case Qt::Key_Left:
        case Qt::Key_Up:
        case Qt::Key_PageUp: return -1;
        case Qt::Key_Right:
        case Qt::Key_Down:
        case Qt::Key_PageDown: return 1;
        default: return 0;
    }
}

bool IsSliderKey(int key) { return KeyStep(key) != 0 || key == Qt::Key_Home || key == Qt::Key_End; }

// Keys the view takes as zoom shortcuts; a focused slider keeps them from it.
bool IsZoomKey(int key) { return key == Qt::Key_Plus || key == Qt::Key_Minus; }

void Tag(QWidget* w, int id) {
    if (w && id) w->setProperty(kIdProperty, id);
}

}  // namespace

StepSlider::StepSlider() : QSlider(Qt::Horizontal) {
    setSingleStep(1);
    setPageStep(1);
    setTickPosition(QSlider::NoTicks);
    setFocusPolicy(Qt::StrongFocus);
}

bool StepSlider::event(QEvent* e) {
    if (e->type() == QEvent::ShortcutOverride) {
        auto* k = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
        if (mods == Qt::NoModifier && (IsSliderKey(k->key()) || IsZoomKey(k->key()))) {
            e->accept();
            return true;
        }
    }
    return QSlider::event(e);
}

void StepSlider::keyPressEvent(QKeyEvent* e) {
    if (IsZoomKey(e->key())) {
        e->accept();
        return;
    }
    if (!IsSliderKey(e->key())) {
        QSlider::keyPressEvent(e);
        return;
    }
    // Home and End put the slider at its ends, as a trackbar does; the
    // preview follows like after any other step.
    if (e->key() == Qt::Key_Home)
        setValue(minimum());
    else if (e->key() == Qt::Key_End)
        setValue(maximum());
    else
        setValue(value() + KeyStep(e->key()));
    e->accept();
}

QString ValueText(const ParamSpec& spec, int position) {
    return QString::asprintf("%.*f", spec.label.decimals, double(spec.label.Of(position)));
}

ParamControls::ParamControls(const ParamSpec* specs, int count, const ParamGroup* groups, int groupCount,
                             UiSettings& ui, const TextTable& texts, QBoxLayout* layout, QWidget* owner)
    : QObject(owner), specs_(specs), ui_(ui), texts_(texts), widgets_(size_t(count)), locked_(size_t(count), false) {
    std::map<int, QVBoxLayout*> frames;
    auto placeIn = [&](int group) -> QBoxLayout* {
        if (!group) return layout;
        auto it = frames.find(group);
        if (it != frames.end()) return it->second;
        int key = 0;
        for (int g = 0; g < groupCount; ++g)
            if (groups[g].id == group) key = groups[g].textKey;
        auto* box = new QGroupBox(Q(texts_.Text(key)), owner);
        Tag(box, group);
        layout->addWidget(box);
        return frames[group] = new QVBoxLayout(box);
    };
    auto switchesOther = [&](int i) {
        for (int j = 0; j < count; ++j)
            if (specs_[j].enabledBy == i) return true;
        return false;
    };
    for (int i = 0; i < count; ++i) {
        if (switchesOther(i)) continue;  // placed just before the control it switches
        QBoxLayout* target = placeIn(specs_[i].group);
        if (specs_[i].enabledBy >= 0) Build(specs_[i].enabledBy, target, owner);
        Build(i, target, owner);
    }
    SyncDependants();
}

void ParamControls::Build(int i, QBoxLayout* layout, QWidget* owner) {
    const ParamSpec& s = specs_[i];
    Widgets& w = widgets_[size_t(i)];
    const int stored = *ui_.Field(s.settingsKey);
    const int shown = ClampPosition(s, stored);
    switch (s.kind) {
        case ParamKind::CheckBox: {
            auto* box = new QCheckBox(Q(texts_.Text(s.textKey)), owner);
            box->setChecked(stored != 0);
            connect(box, &QCheckBox::toggled, this, [this, i](bool on) {
                Store(i, on ? 1 : 0);
                SyncDependants();
                emit Changed(i, true);
            });
            layout->addWidget(box);
            w.control = box;
            break;
        }
        case ParamKind::Choice: {
            auto* list = new QComboBox(owner);
            for (int k = s.min; k <= s.max; ++k) list->addItem(Q(texts_.Text(s.firstChoiceKey + k - s.min)));
            list->setCurrentIndex(shown - s.min);
            connect(list, QOverload<int>::of(&QComboBox::activated), this, [this, i](int index) {
                Store(i, specs_[i].min + index);
                emit Changed(i, true);
            });
            layout->addWidget(list);
            w.control = list;
            break;
        }
        case ParamKind::Slider: {
            if (s.enabledBy < 0) {
                w.caption = new QLabel(Q(texts_.Text(s.textKey)), owner);
                w.caption->setWordWrap(true);
                Tag(w.caption, s.ids.caption);
                layout->addWidget(w.caption);
            }
            auto* slider = new StepSlider;
            slider->setRange(s.min, s.max);
            slider->setValue(shown);
            w.value = new QLabel(ValueText(s, shown), owner);
            w.value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            const QFontMetrics fm(w.value->font());
            w.value->setMinimumWidth(
                std::max(fm.horizontalAdvance(ValueText(s, s.max)), fm.horizontalAdvance(ValueText(s, s.min))) + 4);
            Tag(w.value, s.ids.value);
            auto* row = new QHBoxLayout;
            row->addWidget(slider, 1);
            row->addWidget(w.value);
            layout->addLayout(row);
            connect(slider, &QSlider::valueChanged, this, [this, i, slider](int v) {
                Store(i, v);
                widgets_[size_t(i)].value->setText(ValueText(specs_[i], v));
                emit Changed(i, !slider->isSliderDown());
            });
            connect(slider, &QSlider::sliderReleased, this, [this, i] { emit Changed(i, true); });
            w.control = slider;
            break;
        }
    }
    Tag(w.control, s.ids.control);
}

void ParamControls::Store(int i, int position) { *ui_.Field(specs_[i].settingsKey) = position; }

void ParamControls::Show(int i, int position) {
    QWidget* c = widgets_[size_t(i)].control;
    const QSignalBlocker quiet(c);
    switch (specs_[i].kind) {
        case ParamKind::CheckBox: static_cast<QCheckBox*>(c)->setChecked(position != 0); break;
        case ParamKind::Choice: static_cast<QComboBox*>(c)->setCurrentIndex(position - specs_[i].min); break;
        case ParamKind::Slider:
            static_cast<QSlider*>(c)->setValue(position);
            widgets_[size_t(i)].value->setText(ValueText(specs_[i], position));
            break;
    }
}

void ParamControls::SetPositions(const std::vector<int>& positions) {
    for (int i = 0; i < Count() && i < int(positions.size()); ++i) {
        const int p = ClampPosition(specs_[i], positions[size_t(i)]);
        Show(i, p);
        Store(i, p);
    }
    SyncDependants();
}

void ParamControls::SyncDependants() {
    for (int i = 0; i < Count(); ++i) {
        const int by = specs_[i].enabledBy;
        const bool on = !locked_[size_t(i)] &&
                        (by < 0 || static_cast<QCheckBox*>(widgets_[size_t(by)].control)->isChecked());
        widgets_[size_t(i)].control->setEnabled(on);
        if (widgets_[size_t(i)].value) widgets_[size_t(i)].value->setEnabled(on);
    }
}

void ParamControls::SetLocked(const std::vector<int>& indices, bool locked) {
    for (int i : indices) locked_[size_t(i)] = locked;
    SyncDependants();
}
