// The controls of a method panel, built from the method's parameter table:
// captions, sliders with value labels, check boxes and the colour list, each
// bound to its stored setting. Values the program sets never count as user
// changes.
#pragma once

#include <QObject>
#include <QLabel>
#include <QSlider>
#include <map>
#include <vector>

#include "param_spec.h"
#include "settings.h"
#include "text_table.h"

class QBoxLayout;

class QWidget;

// A slider that steps by exactly one position on arrow and page keys, goes
// to its ends on Home and End, and keeps those keys from the window's
// shortcuts while it has the focus.
class StepSlider : public QSlider {
public:
    StepSlider();

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
};

// The text a slider's value label shows at a position.
QString ValueText(const ParamSpec& spec, int position);

class ParamControls : public QObject {
    Q_OBJECT
public:
    // Adds the controls of `specs` (frames from `groups`) to `layout`.
    ParamControls(const ParamSpec* specs, int count, const ParamGroup* groups, int groupCount, UiSettings& ui,
                  const TextTable& texts, QBoxLayout* layout, QWidget* owner);

    // Puts every control at `positions` and stores them, without reporting
    // a change per control.
    void SetPositions(const std::vector<int>& positions);
    // Locks or frees the controls of `indices` (a job locks them); a free
    // control is enabled while the check box that switches it is checked.
    void SetLocked(const std::vector<int>& indices, bool locked);
    QWidget* Control(int index) const { return widgets_[size_t(index)].control; }
    QWidget* ValueLabelOf(int index) const { return widgets_[size_t(index)].value; }
    int Count() const { return int(widgets_.size()); }

signals:
    // The user changed parameter `index`; `recompute` is false while a
    // thumb is being dragged.
    void Changed(int index, bool recompute);

private:
    struct Widgets {
        QWidget* control = nullptr;
        QLabel* caption = nullptr;
        QLabel* value = nullptr;
    };
    void Build(int index, QBoxLayout* layout, QWidget* owner);
    void Store(int index, int position);
    void SyncDependants();
    void Show(int index, int position);

    const ParamSpec* specs_;
    UiSettings& ui_;
    const TextTable& texts_;
    std::vector<Widgets> widgets_;
    std::vector<bool> locked_;
};
