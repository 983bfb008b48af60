// Keyboard shortcuts of one window that leave typing alone.
//
// A bound key acts only while the window's keyboard focus is not in an
// editable text field, so typing a timecode, a number or a name never
// triggers one; Escape in such a field gives the focus back to the window.
// The keys are taken before the focused widget sees them, so a shortcut never
// also reaches a focused button (Space would press it again) or a read-only
// field (the arrow keys would only move its cursor); the release of a bound
// key is swallowed with it. A held key runs its action again at each
// auto-repeat only when its binding asks for that.
//
// Qt thread only. The object is a child of its window; watch() covers the
// window and the widgets it has at that moment.
#pragma once

#include <QEvent>
#include <QKeyCombination>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QThread>
#include <QWidget>

#include <functional>
#include <utility>
#include <vector>

#include "startup/Require.h"
#include "window/QtThread.h"

namespace morvia {

class WindowKeys : public QObject {
public:
    explicit WindowKeys(QWidget* window) : QObject(window), window_(window) {}

    // `run` is called on the Qt thread for each press of the key with exactly
    // these modifiers (Shift, Ctrl, Alt, Meta; the keypad flag is ignored).
    void bind(int key, Qt::KeyboardModifiers modifiers, bool repeats, std::function<void()> run) {
        bindings_.push_back({key, modifiers, repeats, std::move(run)});
    }

    // Starts taking keys and gives the window the focus, so that its
    // shortcuts work as soon as it is shown.
    void watch() {
        requireQtThread("WindowKeys", "a window's keys are taken on its Qt thread only");
        window_->setFocusPolicy(Qt::StrongFocus);
        window_->installEventFilter(this);
        for (QWidget* w : window_->findChildren<QWidget*>()) w->installEventFilter(this);
        window_->setFocus(Qt::OtherFocusReason);
    }

    // True while the window's focus is in a field the operator can type into.
    bool typing() const { return editable(window_->focusWidget()); }

    // The key as the operator reads it: "L", "Shift+I", "Ctrl+PgUp", "Space".
    static QString name(int key, Qt::KeyboardModifiers modifiers) {
        return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(key))).toString(QKeySequence::NativeText);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
        const auto* ke = static_cast<const QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = ke->modifiers() & kModifierMask;
        if (typing() || editable(watched)) {
            if (type == QEvent::KeyPress && ke->key() == Qt::Key_Escape && mods == Qt::NoModifier) {
                window_->setFocus(Qt::ShortcutFocusReason);
                return true;
            }
            return false;
        }
        for (const Binding& b : bindings_) {
            if (b.key != ke->key() || b.modifiers != mods) continue;
            if (type == QEvent::KeyPress && (b.repeats || !ke->isAutoRepeat())) b.run();
            return true;
        }
        return false;
    }

private:
    struct Binding {
        int key;
        Qt::KeyboardModifiers modifiers;
        bool repeats;
        std::function<void()> run;
    };

    static constexpr Qt::KeyboardModifiers kModifierMask{Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier |
                                                         Qt::MetaModifier};

    static bool editable(const QObject* o) {
        const auto* field = qobject_cast<const QLineEdit*>(o);
        return field != nullptr && !field->isReadOnly() && field->isEnabled();
    }

    QWidget* window_;
    std::vector<Binding> bindings_;
};

}  // namespace morvia
