// The keyboard rules of dialog and panel buttons.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "dialog_keys.h"

namespace {

// A panel as the program docks it: not a dialog, with OK, Cancel (control 2)
// and Default, and an edit.
struct Panel {
    QWidget window;
    QPushButton* ok = new QPushButton("&OK");
    QPushButton* cancel = new QPushButton("&Cancel");
    QPushButton* defaults = new QPushButton("&Default");
    QLineEdit* edit = new QLineEdit;
    int okClicks = 0, cancelClicks = 0, defaultClicks = 0;

    Panel() {
        auto* row = new QHBoxLayout(&window);
        for (QWidget* w : {static_cast<QWidget*>(ok), static_cast<QWidget*>(cancel),
                           static_cast<QWidget*>(defaults), static_cast<QWidget*>(edit)})
            row->addWidget(w);
        cancel->setProperty(kControlIdProperty, kCancelControlId);
        QObject::connect(ok, &QPushButton::clicked, [this] { ++okClicks; });
        QObject::connect(cancel, &QPushButton::clicked, [this] { ++cancelClicks; });
        QObject::connect(defaults, &QPushButton::clicked, [this] { ++defaultClicks; });
        window.show();
        window.activateWindow();
        QApplication::processEvents();
    }
};

void Focus(QWidget* w) {
    w->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(w->hasFocus());
}

bool Key(QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    QWidget* to = QApplication::focusWidget();
    if (!to) return false;  // the window that had the focus has closed
    QKeyEvent e(type, key, mods, text);
    QApplication::sendEvent(to, &e);
    return e.isAccepted();
}

void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
    Key(QEvent::KeyPress, key, mods, text);
    Key(QEvent::KeyRelease, key, mods, text);
}

}  // namespace

TEST(DialogKeys, EnterPressesOnKeyDownAndReleasesOnKeyUp) {
    Panel panel;
    Focus(panel.ok);
    Key(QEvent::KeyPress, Qt::Key_Return);
    EXPECT_TRUE(panel.ok->isDown());
    EXPECT_EQ(panel.okClicks, 0);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(panel.ok, &repeat);
    Key(QEvent::KeyRelease, Qt::Key_Return);
    EXPECT_FALSE(panel.ok->isDown());
    EXPECT_EQ(panel.okClicks, 1);
    Press(Qt::Key_Enter, Qt::KeypadModifier);  // the keypad key has its modifier: not ours
    Press(Qt::Key_Enter);
    EXPECT_EQ(panel.okClicks, 2);
    // A key released without its press clicks nothing.
    Key(QEvent::KeyRelease, Qt::Key_Return);
    EXPECT_EQ(panel.okClicks, 2);
}

TEST(DialogKeys, EscapeCancelsThePanelOrTheDialog) {
    Panel panel;
    Focus(panel.defaults);
    Press(Qt::Key_Escape);
    EXPECT_EQ(panel.cancelClicks, 1);
    EXPECT_EQ(panel.defaultClicks, 0);
    // While a job runs Cancel is disabled, and Escape must not close the panel.
    panel.cancel->setEnabled(false);
    Focus(panel.ok);
    Press(Qt::Key_Escape);
    EXPECT_EQ(panel.cancelClicks, 1);

    QDialog dialog;
    auto* row = new QHBoxLayout(&dialog);
    auto* ok = new QPushButton("&OK");
    row->addWidget(ok);
    dialog.show();
    dialog.activateWindow();
    QApplication::processEvents();
    Focus(ok);
    Press(Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(DialogKeys, LettersTriggerTheMnemonicButton) {
    Panel panel;
    Focus(panel.ok);
    Press(Qt::Key_D, Qt::NoModifier, "d");
    EXPECT_EQ(panel.defaultClicks, 1);
    Press(Qt::Key_D, Qt::AltModifier, "d");
    EXPECT_EQ(panel.defaultClicks, 2);
    Press(Qt::Key_X, Qt::NoModifier, "x");
    Press(Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(panel.defaultClicks, 2);
    EXPECT_EQ(panel.okClicks + panel.cancelClicks, 0);

    // Alt+letter is claimed before the window's shortcuts see it.
    QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_D, Qt::AltModifier, "d");
    override.ignore();
    QApplication::sendEvent(panel.ok, &override);
    EXPECT_TRUE(override.isAccepted());

    // Hidden and disabled buttons, and "&&", do not count.
    panel.defaults->setEnabled(false);
    Press(Qt::Key_D);
    panel.defaults->setEnabled(true);
    panel.defaults->hide();
    Press(Qt::Key_D);
    panel.defaults->show();
    panel.defaults->setText("R&&D");
    Press(Qt::Key_D);
    EXPECT_EQ(panel.defaultClicks, 2);
    panel.defaults->setText("&Default");

    // A letter typed into an edit stays there; with Alt it is a mnemonic.
    Focus(panel.edit);
    Press(Qt::Key_D, Qt::NoModifier, "d");
    EXPECT_EQ(panel.defaultClicks, 2);
    EXPECT_EQ(panel.edit->text(), "d");
    Press(Qt::Key_D, Qt::AltModifier, "d");
    EXPECT_EQ(panel.defaultClicks, 3);
    EXPECT_EQ(panel.edit->text(), "d");
}

TEST(DialogKeys, TheNearestButtonWithTheLetterWins) {
    QWidget outer;
    auto* row = new QHBoxLayout(&outer);
    auto* far = new QPushButton("&Abort");
    auto* group = new QWidget;
    auto* inner = new QHBoxLayout(group);
    auto* near = new QPushButton("&Apply");
    auto* focus = new QPushButton("&OK");
    inner->addWidget(near);
    inner->addWidget(focus);
    row->addWidget(far);
    row->addWidget(group);
    outer.show();
    EXPECT_EQ(MnemonicButton(focus, 'a'), near);
    EXPECT_EQ(MnemonicButton(focus, 'O'), focus);
    EXPECT_EQ(MnemonicButton(focus, 'z'), nullptr);
    near->hide();
    EXPECT_EQ(MnemonicButton(focus, 'A'), far);
}
