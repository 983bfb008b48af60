// Key strokes for the window tests, delivered the way the keyboard does:
// to the widget that has the focus in the window.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace morvia::test {

// Presses and releases `key` on the focus widget of `window` (the window
// itself when none has the focus). `repeats` more presses marked as
// auto-repeat come before the release, as while the key is held.
inline void tapKey(QWidget* window, int key, Qt::KeyboardModifiers mods = Qt::NoModifier, int repeats = 0) {
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QString text;
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde && !(mods & Qt::ControlModifier)) {
        text = QString(QChar(key));
        if (!(mods & Qt::ShiftModifier)) text = text.toLower();
    }
    for (int i = 0; i <= repeats; ++i) {
        QKeyEvent press(QEvent::KeyPress, key, mods, text, i > 0);
        QApplication::sendEvent(target, &press);
    }
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(target, &release);
}

}  // namespace morvia::test
