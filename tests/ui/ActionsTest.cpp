// The main window's listeners driving a real controller over a recording
// link, with the fake sleeper: buttons, fields, shuttle, logger button,
// script button and close.
#include <QMouseEvent>
#include <QScrollBar>
#include <QWindow>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>

#include "ActionsFixture.h"
#include "loggerwindow/LoggerWindow.h"
#include "player/LocalVCR.h"
#include "player/VcrTestSupport.h"
#include "startup/Quenta.h"
#include "support/QtKeys.h"
#include "support/TestSupport.h"

namespace morvia::test {
namespace {

TEST_F(Actions, EveryCommandShowsItselfThenMakesItsCall) {
    // Command, and a command that its call queues for the player ("" for a
    // call that sends nothing), in an order where each row's state follows
    // from the rows before it.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"Stop", "PA\r"},
        {"Play", "PL\r"},
        {"Pause", "ST\r"},
        {"Forward", "NF\r"},
        {"Rewind", "NR\r"},
        {"Slow2", "30SPMF\r"},
        {"Slow4", "15SPMF\r"},
        {"Sbyon", "ST\r"},
        {"Sbyoff", "PA\r"},
        {"Jogf", "SF\r"},
        {"Jogr", "SR\r"},
        {"NextTitle", "TI02SEPL\r"},
        {"PrevTitle", "TI01SEPL\r"},
        {"NextChapter", "CH02SEPL\r"},
        {"PrevChapter", "CH01SEPL\r"},
        {"CueIn", "FR0000000SE\r"},
        {"CueOut", "FR0000300SE\r"},
        {"Cueplay", "FR0000000SE\r"},
        {"Review", "FR0000300SMPL\r"},
        {"Repeat", "FR0000300SM\r"},
        {"SetCue", ""},
        {"SetRev", ""},
        {"Connect", ""},
    };
    std::vector<std::string> seen;
    for (const auto& [command, sent] : rows) {
        SCOPED_TRACE(command);
        rec->clear();
        press(command);
        seen.push_back(command);
        const Journal s = statuses();
        ASSERT_FALSE(s.empty());
        EXPECT_EQ(s.front(), command);
        if (!sent.empty()) {
            EXPECT_TRUE(contains(queued(), sent));
        }
    }
    // Every button of the table but "Script" was pressed (it has its own test).
    auto all = LocalGUI::actionCommands();
    all.erase(std::remove(all.begin(), all.end(), "Script"), all.end());
    std::sort(all.begin(), all.end());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, all);
}

TEST_F(Actions, CallsMatchTheirButtons) {
    press("Cueplay");
    EXPECT_EQ(queued().back(), "PL\r");  // cue, then play
    rec->clear();
    press("Repeat");  // the stop request comes first and does not cancel this repeat
    const Journal repeatSent = queued();
    EXPECT_EQ(std::count(repeatSent.begin(), repeatSent.end(), std::string("FR0000300SMPL\r")), 4);
    rec->clear();
    press("Connect");
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(statuses(), Journal{"Connect"});

    // Verbose echoes each command on the console (the fixture's guard puts
    // the setting back).
    settings.set(&Settings::verbose, true);
    press("Play");
    EXPECT_EQ(console.lines().back(), "Play");
}

TEST_F(Actions, SetInAndOutTakeTheDisplayedTimecode) {
    // The controller's own timecode stays "00:00:00:01"; the window shows another.
    gui->ShowTC("00:00:05:00");
    press("SetRev");
    EXPECT_EQ(gui->gettext(Field::endfield), "00:00:05:00");
    EXPECT_EQ(statuses().back(), "EDIT POINTS OK");
    EXPECT_EQ(vcr->getreviewfrs(), 150);
    EXPECT_TRUE(vcr->getoutok());
    EXPECT_EQ(field("endfield")->text(), "00:00:05:00");
    const QImage marks = gui->paintLayer();
    EXPECT_EQ(marks.pixel(5, 87), LocalGUI::red);
    EXPECT_EQ(marks.pixel(185, 87), LocalGUI::red);

    gui->ShowTC("00:00:02:00");
    press("SetCue");
    EXPECT_EQ(gui->gettext(Field::cuefield), "00:00:02:00");
    EXPECT_EQ(vcr->getcuefrs(), 60);
    EXPECT_EQ(vcr->getduration(), 90);

    // An out point before the in point is refused and its mark goes.
    gui->ShowTC("00:00:01:00");
    press("SetRev");
    EXPECT_TRUE(contains(statuses(), "OUTPOINT NOT VALID"));
    EXPECT_EQ(gui->gettext(Field::endfield), "00:00:00:00");
    EXPECT_EQ(field("endfield")->palette().color(QPalette::Base), QColor(128, 128, 128));
    EXPECT_EQ(gui->paintLayer().pixel(185, 87), LocalGUI::backgroundcol);
    EXPECT_EQ(gui->paintLayer().pixel(5, 87), LocalGUI::red);
}

TEST_F(Actions, TypedPointsTitlesAndChapters) {
    typeInto(field("cuefield"), "00:00:03:00");
    settle();
    EXPECT_EQ(vcr->getCueString(), "00:00:03:00");
    EXPECT_EQ(vcr->getcuefrs(), 90);
    EXPECT_EQ(statuses().back(), "EDIT POINTS OK");
    typeInto(field("endfield"), "00:00:04:00");
    settle();
    EXPECT_EQ(vcr->getEndString(), "00:00:04:00");
    EXPECT_EQ(vcr->getduration(), 30);

    rec->clear();
    typeInto(field("titlefield"), "12");
    settle();
    EXPECT_EQ(vcr->getcurtitle(), 12);
    EXPECT_TRUE(contains(queued(), "TI12SEPL\r"));
    // Not a title number: nothing is sent and the title stays.
    for (const char* bad : {"x", "0", "100", "-3", "1 ", ""}) {
        SCOPED_TRACE(bad);
        rec->clear();
        typeInto(field("titlefield"), bad);
        settle();
        EXPECT_TRUE(queued().empty());
        EXPECT_EQ(vcr->getcurtitle(), 12);
    }
    rec->clear();
    typeInto(field("chapterfield"), "5");
    settle();
    EXPECT_EQ(vcr->getcurchapter(), 5);
    EXPECT_TRUE(contains(queued(), "CH05SEPL\r"));
    rec->clear();
    typeInto(field("chapterfield"), "c");
    settle();
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(vcr->getcurchapter(), 5);
}

TEST_F(Actions, NumbersWithLeadingZerosAndAClickOnTheChapterMinusEdge) {
    typeInto(field("titlefield"), "0000000012");
    settle();
    EXPECT_EQ(vcr->getcurtitle(), 12);
    EXPECT_TRUE(contains(queued(), "TI12SEPL\r"));
    typeInto(field("chapterfield"), "000000000000000005");
    settle();
    EXPECT_EQ(vcr->getcurchapter(), 5);

    // A click at x 209 in row 6, as the window system delivers it: the left
    // edge of the chapter "-" button, under the end of the "Chapter" label.
    gui->show();
    settle();
    rec->clear();
    QWindow* win = gui->windowHandle();
    ASSERT_NE(win, nullptr);
    const QPointF at(209, 215);
    QMouseEvent press(QEvent::MouseButtonPress, at, win->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(win, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, win->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(win, &release);
    settle();
    EXPECT_EQ(vcr->getcurchapter(), 4);
    EXPECT_TRUE(contains(queued(), "CH04SEPL\r"));
}

TEST_F(Actions, ShuttleBarMapsItsValueToSpeeds) {
    auto* vsb = widget<QScrollBar>("vsb");
    vsb->setValue(47);  // shutrev(2): pause
    settle();
    EXPECT_EQ(gui->vsbval(), 47);
    vsb->setValue(48);  // shutfwd(0): pause
    settle();
    EXPECT_EQ(queued(), (Journal{"ST\r", "ST\r"}));
    rec->clear();
    vsb->setValue(58);  // shutfwd(20)
    vsb->setValue(95);  // shutfwd(94): scan forward
    vsb->setValue(0);   // shutrev(96): scan reverse
    settle();
    EXPECT_EQ(queued(), (Journal{"20SPMF\r", "NF\r", "NR\r"}));
    EXPECT_EQ(gui->vsbval(), 0);
}

TEST_F(Actions, ActionsWaitForTheRunningOneAndRunInOrder) {
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    actions->post([gate] { gate.wait(); });  // a long operation
    gui->press("Play");
    gui->press("Pause");
    // The window still takes display updates meanwhile.
    gui->ShowTC("00:00:07:00");
    gui->applyPending();
    EXPECT_EQ(field("tcfield")->text(), "00:00:07:00");
    EXPECT_TRUE(queued().empty());
    release.set_value();
    settle();
    EXPECT_EQ(queued(), (Journal{"PL\r", "ST\r"}));
}

TEST_F(Actions, LoggerButtonOpensOneWindowAtATime) {
    useFakeLoggers();
    auto* blogger = widget<QPushButton>("blogger");
    blogger->click();
    settle();
    EXPECT_EQ(loggersMade(), 1);
    EXPECT_FALSE(blogger->isEnabled());
    EXPECT_EQ(blogger->palette().color(QPalette::Button), QColor(64, 64, 64));
    // A press queued before the button went grey opens nothing more.
    actions->post([this] { gui->loggerPressed(); });
    settle();
    EXPECT_EQ(loggersMade(), 1);

    vcr->loggerClosing();
    settle();
    EXPECT_TRUE(blogger->isEnabled());
    EXPECT_EQ(blogger->palette().color(QPalette::Button), QColor(192, 192, 192));
    blogger->click();
    settle();
    EXPECT_EQ(loggersMade(), 2);
}

TEST_F(Actions, LoggerButtonOpensTheLoggerWindow) {
    LocalVCR::StartHooks hooks;
    hooks.makeLogger = [this] {
        return makeLoggerWindow(*vcr, *gui, gui->guiQueue(),
                                [this](std::function<void()> job) { actions->post(std::move(job)); });
    };
    vcr->setStartHooks(hooks);
    auto loggers = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) n += w->isVisible() && w->windowTitle() == "DVD Logger";
        return n;
    };
    auto* blogger = widget<QPushButton>("blogger");
    blogger->click();
    settleSpinning();
    ASSERT_NE(vcr->getloggergui(), nullptr);
    EXPECT_EQ(loggers(), 1);
    EXPECT_FALSE(blogger->isEnabled());

    // Closing it through its frame gives the button back.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == "DVD Logger") w->close();
    settleSpinning();
    EXPECT_EQ(vcr->getloggergui(), nullptr);
    EXPECT_TRUE(blogger->isEnabled());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(loggers(), 0);
}

TEST_F(Actions, ScriptButtonReportsABadNumberAndTheWindowGoesOn) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("morvia-ui-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "Script.txt") << "Play\nWait\nPause\n";
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    press("Script");
    fs::current_path(old);
    fs::remove_all(dir);

    EXPECT_EQ(queued(), Journal{"PL\r"});  // the line after the bad one never ran
    const Journal s = statuses();
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(s.front(), "Script");
    EXPECT_NE(s.back().find("Wait"), std::string::npos) << s.back();
    EXPECT_EQ(s.back(), "Script stopped: bad number in \"Wait\"");
    const auto lines = console.lines();
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), "Script ended") != lines.end());
    EXPECT_FALSE(contains(rec->events(), "ERROR:"));

    rec->clear();
    press("Pause");
    EXPECT_EQ(queued(), Journal{"ST\r"});

    // A point that is not a timecode stops the run the same way, before the
    // Review that would act on the old points.
    fs::create_directories(dir);
    std::ofstream(dir / "Script.txt") << "TC100:0x:00:00\nReview\n";
    fs::current_path(dir);
    rec->clear();
    press("Script");
    fs::current_path(old);
    fs::remove_all(dir);
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(statuses().back(), "Script stopped: bad timecode in \"TC100:0x:00:00\"");
}

TEST_F(Actions, CloseRunsAfterPendingActionsThenStopsAndExits) {
    ScopedExitThrows noExit;
    gui->show();
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    actions->post([gate] { gate.wait(); });
    gui->press("Play");
    gui->close();
    gui->close();                   // a second close request adds nothing
    EXPECT_TRUE(gui->isVisible());  // the window stays until the process ends
    release.set_value();
    settle();
    // The Play runs, but after the close request only the close's two stops
    // reach the link.
    EXPECT_EQ(pick(*rec, {"Q:", "W:", "EXIT:"}), (Journal{"Q:PA\r", "W:500", "Q:PA\r", "EXIT:0"}));
}

// Holds the action thread inside the first pass's play wait (10.5 s for the
// window's starting points) until the test, as the operator on the Qt
// thread, has acted.
class HeldInPass {
public:
    explicit HeldInPass(std::shared_ptr<Recorder> rec) {
        // Shared with the sleeper, which may outlive this object.
        Utils::setClock(std::make_shared<TriggerSleeper>(rec, 10500, [s = state_] {
            s->playing.set_value();
            s->acted.wait();
        }));
    }
    ~HeldInPass() { release(); }
    bool waitPlaying() { return playing_.wait_for(std::chrono::seconds(30)) == std::future_status::ready; }
    void release() {
        if (!state_->released.exchange(true)) state_->done.set_value();
    }

private:
    struct State {
        std::promise<void> playing;
        std::promise<void> done;
        std::shared_future<void> acted = done.get_future().share();
        std::atomic<bool> released{false};
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::future<void> playing_ = state_->playing.get_future();
};

TEST_F(Actions, StopEndsARunningRepeatAfterItsPassAndALaterRepeatRunsWhole) {
    Quenta::setrepeatval(3);
    {
        HeldInPass held(rec);
        gui->press("Repeat");
        ASSERT_TRUE(held.waitPlaying());
        gui->press("Stop");
        held.release();
        settle();
    }
    Journal q = queued();
    EXPECT_EQ(std::count(q.begin(), q.end(), std::string("PL\r")), 1);
    ASSERT_GE(q.size(), 2u);
    EXPECT_EQ(Journal(q.end() - 2, q.end()), (Journal{"ST\r", "PA\r"})) << "the pass ends, then the Stop's own command";

    Utils::setClock(std::make_shared<FakeSleeper>(rec));
    rec->clear();
    press("Repeat");
    q = queued();
    EXPECT_EQ(std::count(q.begin(), q.end(), std::string("PL\r")), 3);
}

TEST_F(Actions, StopKeyEndsARunningRepeatLikeTheClick) {
    gui->show();
    gui->activateWindow();
    Quenta::setrepeatval(3);
    {
        HeldInPass held(rec);
        gui->press("Repeat");
        ASSERT_TRUE(held.waitPlaying());
        tapKey(gui.get(), Qt::Key_S);
        held.release();
        settle();
    }
    const Journal q = queued();
    EXPECT_EQ(std::count(q.begin(), q.end(), std::string("PL\r")), 1) << "the key's stop request ends the repeat";
    ASSERT_GE(q.size(), 2u);
    EXPECT_EQ(Journal(q.end() - 2, q.end()), (Journal{"ST\r", "PA\r"}));
}

TEST_F(Actions, CloseDuringALongRepeatEndsThePassWhereItIsThenStops) {
    ScopedExitThrows noExit;
    gui->show();
    Quenta::setrepeatval(1000);
    {
        HeldInPass held(rec);
        gui->press("Repeat");
        ASSERT_TRUE(held.waitPlaying());
        gui->close();
        held.release();
        settle();
    }
    const Journal j = pick(*rec, {"Q:", "EXIT:"});
    EXPECT_EQ(std::count(j.begin(), j.end(), std::string("Q:PL\r")), 1);
    ASSERT_GE(j.size(), 4u);
    // The pass's closing pause would only follow the stops: it is not sent.
    EXPECT_EQ(Journal(j.end() - 4, j.end()), (Journal{"Q:PL\r", "Q:PA\r", "Q:PA\r", "EXIT:0"}));
}

TEST_F(Actions, ActionsBeforeTheControllerAreIgnored) {
    gui->setController(nullptr);
    press("Play");
    typeInto(field("titlefield"), "3");
    settle();
    EXPECT_TRUE(queued().empty());
    EXPECT_TRUE(statuses().empty());
    ScopedExitThrows noExit;
    gui->close();
    settle();
    EXPECT_EQ(pick(*rec, {"Q:", "EXIT:"}), Journal{"EXIT:0"});
}

}  // namespace
}  // namespace morvia::test
