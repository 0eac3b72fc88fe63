// Keyboard rules for the buttons of dialogs and panels:
// - a letter with Alt (or alone while a push button has the focus) clicks
//   the nearest visible, enabled button whose text has "&" before it;
// and for a push button with the focus:
// - Enter presses it on key down and releases it (clicking) on key up;
// - Escape cancels: outside a QDialog (which cancels by itself) the nearest
//   container with a Cancel button (control number 2) gets it clicked.
#pragma once

#include <QObject>

class QAbstractButton;
class QWidget;

// Widgets carry their control number in this property.
constexpr const char* kControlIdProperty = "quorvaneId";
constexpr int kCancelControlId = 2;

class DialogKeys : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The button whose mnemonic is `letter`, searched from `from`'s parent
// outwards to its window; null when there is none.
QAbstractButton* MnemonicButton(QWidget* from, QChar letter);
