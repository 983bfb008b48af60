// The main window's keyboard: every shortcut against the click on its
// button, fields that keep their keys, Escape, Space's toggle, held keys,
// the logger key and the tooltips.
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "ActionsFixture.h"
#include "startup/Quenta.h"

namespace morvia::test {
namespace {

class Keyboard : public Actions {
protected:
    void SetUp() override {
        Actions::SetUp();
        gui->show();
        gui->activateWindow();
        settle();
    }
    // The same starting point for every comparison: paused, title and
    // chapter 1, nothing recorded.
    void reset() {
        actions->post([this] {
            vcr->pause();
            vcr->setcurtitle(1);
            vcr->setcurchapter(1);
        });
        settle();
        rec->clear();
    }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier, int repeats = 0) {
        tapKey(gui.get(), k, mods, repeats);
        settle();
    }
    QPushButton* button(const char* name) { return widget<QPushButton>(name); }
};

TEST_F(Keyboard, EachKeyDoesWhatItsButtonDoes) {
    struct Row {
        int key;
        Qt::KeyboardModifiers mods;
        const char* button;
    };
    const Row rows[] = {
        {Qt::Key_L, Qt::NoModifier, "bplay"},
        {Qt::Key_K, Qt::NoModifier, "bpause"},
        {Qt::Key_J, Qt::NoModifier, "brew"},
        {Qt::Key_Right, Qt::NoModifier, "bjogf"},
        {Qt::Key_Left, Qt::NoModifier, "bjogr"},
        {Qt::Key_Right, Qt::KeypadModifier, "bjogf"},
        {Qt::Key_I, Qt::NoModifier, "bsetcue"},
        {Qt::Key_O, Qt::NoModifier, "bsetreview"},
        {Qt::Key_I, Qt::ShiftModifier, "bcuein"},
        {Qt::Key_O, Qt::ShiftModifier, "bcueout"},
        {Qt::Key_R, Qt::NoModifier, "breview"},
        {Qt::Key_S, Qt::NoModifier, "bstop"},
        {Qt::Key_PageUp, Qt::NoModifier, "bnexttitle"},
        {Qt::Key_PageDown, Qt::NoModifier, "bprevtitle"},
        {Qt::Key_PageUp, Qt::ControlModifier, "bnextchapter"},
        {Qt::Key_PageDown, Qt::ControlModifier, "bprevchapter"},
    };
    gui->ShowTC("00:00:04:00");  // so that Set In / Set Out and the cues have points to work on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.button);
        QPushButton* b = button(r.button);
        ASSERT_NE(b, nullptr);
        reset();
        b->click();
        settle();
        const Journal clicked = rec->events();
        reset();
        key(r.key, r.mods);
        const Journal typed = rec->events();
        // Status text first, then the very same calls, waits and commands.
        ASSERT_FALSE(typed.empty());
        EXPECT_EQ(typed.front(), "S:" + b->property("actionCommand").toString().toStdString());
        EXPECT_EQ(typed, clicked);
    }
    // Keys that are no shortcut, or a shortcut's key with other modifiers, do nothing.
    reset();
    for (auto [k, mods] : {std::pair{Qt::Key_X, Qt::KeyboardModifiers(Qt::NoModifier)},
                           std::pair{Qt::Key_L, Qt::KeyboardModifiers(Qt::AltModifier)},
                           std::pair{Qt::Key_S, Qt::KeyboardModifiers(Qt::ControlModifier)},
                           std::pair{Qt::Key_PageUp, Qt::KeyboardModifiers(Qt::ShiftModifier)}})
        key(k, mods);
    EXPECT_TRUE(rec->events().empty());

    // Verbose echoes a key's command as it does a click's.
    settings.set(&Settings::verbose, true);  // put back by the fixture's guard
    key(Qt::Key_J);
    EXPECT_EQ(console.lines().back(), "Rewind");
}

TEST_F(Keyboard, PlayAndSpaceFollowTheStatusCode) {
    reset();
    key(Qt::Key_Space);  // paused: play
    key(Qt::Key_Space);  // playing: pause
    key(Qt::Key_Right);  // jogging is not paused: Space pauses
    key(Qt::Key_Space);
    key(Qt::Key_K);  // K always pauses
    key(Qt::Key_K);
    key(Qt::Key_L);  // paused: play
    key(Qt::Key_L);  // playing: forward scan
    key(Qt::Key_L);  // scanning: play again
    EXPECT_EQ(statuses(), (Journal{"Play", "Pause", "Jogf", "Pause", "Pause", "Pause", "Play", "Forward", "Play"}));
    EXPECT_EQ(queued(), (Journal{"PL\r", "ST\r", "SF\r", "ST\r", "ST\r", "ST\r", "PL\r", "NF\r", "PL\r"}));

    // Two presses queued behind a long action: the second sees the state the
    // first one left, as it would had they come one by one.
    reset();
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    actions->post([gate] { gate.wait(); });
    tapKey(gui.get(), Qt::Key_L);
    tapKey(gui.get(), Qt::Key_L);
    tapKey(gui.get(), Qt::Key_Space);
    release.set_value();
    settle();
    EXPECT_EQ(statuses(), (Journal{"Play", "Forward", "Pause"}));
}

TEST_F(Keyboard, TypingInAFieldTriggersNothingAndEscapeGivesTheKeysBack) {
    // The window holds the focus from the start.
    EXPECT_EQ(gui->focusWidget(), gui.get());
    EXPECT_EQ(QApplication::focusWidget(), gui.get());
    for (auto [name, which] :
         {std::pair{"cuefield", Field::cuefield}, std::pair{"titlefield", Field::titlefield},
          std::pair{"endfield", Field::endfield}, std::pair{"chapterfield", Field::chapterfield}}) {
        SCOPED_TRACE(name);
        QLineEdit* f = field(name);
        f->setFocus();
        f->selectAll();
        reset();
        // Letters of shortcuts, Space, arrows, page keys and the logger key.
        for (int k : {Qt::Key_L, Qt::Key_K, Qt::Key_Space, Qt::Key_J, Qt::Key_S, Qt::Key_R, Qt::Key_Left, Qt::Key_Right,
                      Qt::Key_PageUp, Qt::Key_PageDown})
            key(k);
        key(Qt::Key_I, Qt::ShiftModifier);
        key(Qt::Key_PageUp, Qt::ControlModifier);
        key(Qt::Key_L, Qt::ControlModifier);
        EXPECT_EQ(f->text().left(7), "lk jsrI") << f->text().toStdString();
        EXPECT_EQ(gui->gettext(which), f->text().toStdString());
        EXPECT_TRUE(rec->events().empty());
        EXPECT_TRUE(button("blogger")->isEnabled());

        key(Qt::Key_Escape);
        EXPECT_EQ(gui->focusWidget(), gui.get());
        key(Qt::Key_K);
        EXPECT_EQ(statuses(), Journal{"Pause"});
    }
    // A read-only field with the focus does not keep the keys.
    field("tcfield")->setFocus();
    reset();
    key(Qt::Key_Right);
    EXPECT_EQ(statuses(), Journal{"Jogf"});
}

TEST_F(Keyboard, HeldKeysRepeatOnlyTheJogs) {
    reset();
    key(Qt::Key_L, Qt::NoModifier, 5);
    key(Qt::Key_R, Qt::NoModifier, 3);
    const Journal s = statuses();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.front(), "Play");
    EXPECT_EQ(std::count(s.begin(), s.end(), std::string("Review")), 1);
    EXPECT_EQ(std::count(s.begin(), s.end(), std::string("Forward")), 0);
    reset();
    key(Qt::Key_Right, Qt::NoModifier, 3);
    key(Qt::Key_Left, Qt::NoModifier, 1);
    EXPECT_EQ(queued(), (Journal{"SF\r", "SF\r", "SF\r", "SF\r", "SR\r", "SR\r"}));
}

TEST_F(Keyboard, SpaceNeverPressesAFocusedButton) {
    // Should a button ever hold the focus, Space stays the shortcut: the
    // button is not pressed again.
    QPushButton* review = button("breview");
    review->setFocusPolicy(Qt::StrongFocus);
    review->setFocus();
    ASSERT_EQ(gui->focusWidget(), review);
    reset();
    key(Qt::Key_Space);
    EXPECT_EQ(statuses(), Journal{"Play"});
    EXPECT_EQ(queued(), Journal{"PL\r"});
}

TEST_F(Keyboard, LoggerKeyWorksOnlyWhileTheButtonIsEnabled) {
    useFakeLoggers();
    key(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(loggersMade(), 1);
    EXPECT_FALSE(button("blogger")->isEnabled());
    key(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(loggersMade(), 1);
    vcr->loggerClosing();
    settle();
    key(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(loggersMade(), 2);
    EXPECT_TRUE(statuses().empty());  // the logger button is not a command button
}

TEST_F(Keyboard, PlacedButtonsNameTheirKeys) {
    EXPECT_EQ(button("bplay")->toolTip(), "Keys: L, Space while paused");
    EXPECT_EQ(button("bfwd")->toolTip(), "Key: L while playing");
    EXPECT_EQ(button("bnextchapter")->toolTip(), "Key: Ctrl+PgUp");
    EXPECT_EQ(button("blogger")->toolTip(), "Key: Ctrl+L");
    // Every button on screen has its key named, except Script, which has no key.
    for (auto* b : gui->findChildren<QPushButton*>()) {
        if (!b->isVisible()) continue;
        EXPECT_EQ(b->toolTip().isEmpty(), b->objectName() == "bscript") << b->objectName().toStdString();
    }
}

}  // namespace
}  // namespace morvia::test
