// Shared set-up of the window tests: the QApplication made by UiMain.cpp, a
// main window with its action thread, and helpers that act like an operator
// (click, type, Enter) and wait for the action thread.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <memory>
#include <string>

#include "window/ActionQueue.h"
#include "support/QtKeys.h"
#include "window/GuiQueue.h"
#include "ui/LocalGUI.h"

namespace morvia::test {

// The application object made by the tests' main() (UiMain.cpp).
inline QApplication& qtApp() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr) throw std::logic_error("the window tests need the QApplication of UiMain.cpp");
    return *app;
}

// Types text into a field as key presses, then optionally presses Enter.
inline void typeInto(QLineEdit* field, const QString& text, bool enter = true) {
    field->setFocus();
    field->selectAll();
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(field, &press);
    }
    if (text.isEmpty()) {
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(field, &del);
    }
    if (enter) {
        QKeyEvent ret(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(field, &ret);
    }
}

// A main window on its own action thread, without a controller.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        qtApp();
        actions = std::make_unique<ActionQueue>();
        actions->start();
        gui = std::make_unique<LocalGUI>(*actions);
    }
    void TearDown() override {
        actions->drain();
        gui->applyPending();
        actions->stop();
        gui.reset();
        actions.reset();
    }
    // Waits until the action thread is idle, then applies the window updates.
    void settle() {
        actions->drain();
        gui->applyPending();
        QApplication::processEvents();
    }
    // As settle(), for actions that wait for the Qt thread themselves: the
    // event loop keeps running while the action thread works.
    void settleSpinning() {
        while (!actions->idle()) {
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        gui->applyPending();
        QApplication::processEvents();
    }
    template <class W = QWidget>
    W* widget(const char* name) {
        return qobject_cast<W*>(gui->component(QString::fromUtf8(name)));
    }
    QLineEdit* field(const char* name) { return widget<QLineEdit>(name); }

    std::unique_ptr<ActionQueue> actions;
    std::unique_ptr<LocalGUI> gui;
};

}  // namespace morvia::test
