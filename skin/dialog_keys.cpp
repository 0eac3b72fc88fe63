#include "dialog_keys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>

namespace {

bool Usable(const QWidget* w) { return w->isVisible() && w->isEnabled(); }

bool HasMnemonic(const QString& text, QChar letter) {
    const QString upper = text.toUpper();
    const QChar wanted = letter.toUpper();
    for (qsizetype i = 0; i + 1 < upper.size(); ++i) {
        if (upper[i] != '&') continue;
        if (upper[i + 1] == wanted) return true;
        ++i;  // "&&" is a literal ampersand
    }
    return false;
}

// The widgets from the button's parent outwards, stopping at its window.
template <typename Visit>
QWidget* Outwards(QWidget* from, Visit visit) {
    for (QWidget* w = from->parentWidget(); w; w = w->parentWidget()) {
        if (visit(w)) return w;
        if (w->isWindow()) break;
    }
    return nullptr;
}

void SendMouse(QPushButton* button, QEvent::Type type) {
    const QPointF at(1, 1);
    QMouseEvent e(type, at, button->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &e);
}

bool Escape(QPushButton* focus) {
    QAbstractButton* cancel = nullptr;
    const QWidget* scope = Outwards(focus, [&cancel](QWidget* w) {
        if (qobject_cast<QDialog*>(w)) return true;
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            if (b->property(kControlIdProperty).toInt() == kCancelControlId && b->isVisible()) {
                cancel = b;
                return true;
            }
        return false;
    });
    if (!scope || qobject_cast<const QDialog*>(scope)) return false;  // a dialog cancels itself
    // A disabled Cancel (a job is running) swallows the key.
    if (cancel->isEnabled()) cancel->click();
    return true;
}

QChar LetterOf(const QKeyEvent* e) {
    if (e->key() < Qt::Key_A || e->key() > Qt::Key_Z) return QChar();
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (mods != Qt::NoModifier && mods != Qt::AltModifier) return QChar();
    return QChar('A' + (e->key() - Qt::Key_A));
}

}  // namespace

QAbstractButton* MnemonicButton(QWidget* from, QChar letter) {
    QAbstractButton* found = nullptr;
    Outwards(from, [&](QWidget* w) {
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            if (Usable(b) && HasMnemonic(b->text(), letter)) {
                found = b;
                return true;
            }
        return false;
    });
    return found;
}

bool DialogKeys::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) return false;
    auto* focus = qobject_cast<QWidget*>(watched);
    if (!focus || !focus->hasFocus()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    auto* button = qobject_cast<QPushButton*>(focus);

    // A letter with Alt wherever the focus is; alone only on a push button,
    // so that edits and lists keep their typing.
    QChar letter = LetterOf(key);
    if (!button && !(key->modifiers() & Qt::AltModifier)) letter = QChar();
    QAbstractButton* target = letter.isNull() ? nullptr : MnemonicButton(focus, letter);
    if (type == QEvent::ShortcutOverride) {
        // Claimed before the window's shortcuts, which would only move the
        // focus when two hidden or disabled buttons share the letter.
        if (!target) return false;
        key->accept();
        return true;
    }
    if (type == QEvent::KeyPress && target) {
        target->click();
        return true;
    }
    if (!button) return false;

    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && key->modifiers() == Qt::NoModifier) {
        if (key->isAutoRepeat()) return true;
        if (type == QEvent::KeyPress) SendMouse(button, QEvent::MouseButtonPress);
        else if (button->isDown()) SendMouse(button, QEvent::MouseButtonRelease);
        return true;
    }
    if (type == QEvent::KeyPress && key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier)
        return Escape(button);
    return false;
}
