// The main window on the real controller and player link, against the
// player simulator: the same operator steps, once clicked and once typed,
// reach the player as the same commands.
#include <gtest/gtest.h>

#if __has_include("dvdsim/Simulator.h")

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "UiSupport.h"
#include "faults/LiveRig.h"
#include "ui/App.h"

namespace morvia::test {
namespace {

struct Step {
    const char* button;
    int key;
    const char* shownTC;  // put in the timecode field before the step; null: left as it is
};

// Play, pause, rewind, one jog, in and out points from the shown timecode,
// then a review of that one-second segment.
const Step kSteps[] = {
    {"bplay", Qt::Key_L, nullptr},     {"bpause", Qt::Key_K, nullptr},        {"brew", Qt::Key_J, nullptr},
    {"bjogf", Qt::Key_Right, nullptr}, {"bsetcue", Qt::Key_I, "00:00:01:00"}, {"bsetreview", Qt::Key_O, "00:00:02:00"},
    {"breview", Qt::Key_R, nullptr},
};

using StepLog = std::vector<std::vector<std::string>>;

// Runs the steps on a freshly spun-up simulated player, by clicks or by
// keys. Returns, per step, the commands the player received (sorted: the
// link sends the newest waiting command first, so commands queued together
// may cross on the line whoever queued them).
StepLog operate(bool byKeys) {
    SettingsGuard restore;
    Settings settings;
    settings.OSString = "00:00:00:00";
    settings.useclipboard = false;
    ConsoleCapture quiet;
    dvdsim::Simulator sim(faults::fastPlayer());
    sim.start();
    // The program without its start-up dialogue: the player is spun up here.
    App app(settings);
    LocalGUI& gui = *app.window();
    ActionQueue& actions = app.actions();
    app.openPort(sim.slavePath());
    LocalVCR* vcr = &app.buildController();
    SerOutPort* sop = app.port();
    gui.show();
    gui.activateWindow();
    app.startLink();

    StepLog log;
    vcr->CommandB0(LocalVCR::bsstart);
    const bool up = faults::eventually([&] { return sim.mode() == dvdsim::Mode::Pause; }, std::chrono::seconds(20));
    EXPECT_TRUE(up) << "the simulated player did not spin up";
    if (up) {
        sim.clearLog();
        for (const Step& s : kSteps) {
            if (s.shownTC) gui.ShowTC(s.shownTC);
            gui.applyPending();
            if (byKeys) {
                tapKey(&gui, s.key);
            } else {
                qobject_cast<QPushButton*>(gui.component(QString::fromUtf8(s.button)))->click();
            }
            actions.drain();
            EXPECT_TRUE(sop->waitIdle(20000)) << s.button;
            // The line keeps its order: once a query queued now has reached
            // the player, so has everything the step sent.
            sop->queue(LocalVCR::bsstatus);
            EXPECT_TRUE(faults::eventually(
                [&] {
                    const auto got = sim.commandTexts();
                    return std::find(got.begin(), got.end(), LocalVCR::bsstatus) != got.end();
                },
                std::chrono::seconds(20)))
                << s.button;
            auto received = sim.commandTexts();
            sim.clearLog();
            received.erase(std::remove(received.begin(), received.end(), LocalVCR::bsstatus), received.end());
            std::sort(received.begin(), received.end());
            log.push_back(received);
        }
    }
    app.stop();  // the action thread, then the link thread before the controller goes
    sim.stop();
    return log;
}

TEST(KeysOnPlayer, KeysSendWhatClicksSend) {
    const StepLog clicked = operate(false);
    const StepLog typed = operate(true);
    ASSERT_EQ(clicked.size(), std::size(kSteps));
    EXPECT_EQ(typed, clicked);

    // What the player saw: the transport commands, nothing for the two
    // points, and the review up to frame 60 (the player is taken to be at
    // the in point already: no cue).
    using L = std::vector<std::string>;
    EXPECT_EQ(clicked[0], L{"PL\r"});
    EXPECT_EQ(clicked[1], L{"ST\r"});
    EXPECT_EQ(clicked[2], L{"NR\r"});
    EXPECT_EQ(clicked[3], L{"SF\r"});
    EXPECT_TRUE(clicked[4].empty());
    EXPECT_TRUE(clicked[5].empty());
    const L& review = clicked[6];
    for (const char* c : {"FR0000060SM\r", "FR0000060SMPL\r", "PL\r", "ST\r"})
        EXPECT_NE(std::find(review.begin(), review.end(), c), review.end()) << c;
}

}  // namespace
}  // namespace morvia::test

#else

TEST(KeysOnPlayer, NeedsThePlayerSimulator) {
    GTEST_SKIP() << "the player simulator library is not built in this configuration";
}

#endif
