// The controller on the real player link, against the player simulator on a
// pseudo-terminal, in real time: the start-up dialogue, a cue, a review and
// the timecode polls, checked against the emulated player's own state.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dvdsim/Simulator.h"
#include "player/LocalVCR.h"
#include "player/PlayerSystem.h"
#include "player/VcrTestSupport.h"
#include "serial/PtyPeer.h"
#include "startup/Quenta.h"
#include "support/Eventually.h"
#include "support/TestSupport.h"

using namespace morvia;
using morvia::test::eventually;

namespace {

using Clock = std::chrono::steady_clock;

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(LinkIntegration, StartsCuesReviewsAndPollsAgainstThePlayer) {
    morvia::test::SettingsGuard settings;
    morvia::test::ConsoleCapture console;
    morvia::test::ScopedExitThrows exits;
    auto rec = std::make_shared<morvia::test::Recorder>();
    morvia::test::RecordingDisplay display(rec);

    dvdsim::Options options;
    options.spinupMs = 1000;
    dvdsim::Simulator sim(options);
    sim.start();
    settings.set(&Settings::comport1, sim.slavePath());
    settings.set(&Settings::starttitle, 2);
    settings.set(&Settings::startingtitle, "2");
    settings.set(&Settings::OSString, "00:00:00:00");
    settings.set(&Settings::useclipboard, false);
    settings.set(&Settings::mcs, false);

    // Torn down before the display and the simulator.
    PlayerSystem live;
    ASSERT_TRUE(live.build(sim.slavePath(), display));
    LocalVCR& vcr = *live.controller();

    // Start-up with real waits: spin-up, mode checks, start title, play.
    const auto t0 = Clock::now();
    vcr.startup();
    const double startupSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_GT(startupSeconds, 12.0);  // 5 s + at least one check + 1 s + 6 s
    EXPECT_LT(startupSeconds, 40.0);
    const auto lines = console.lines();
    EXPECT_TRUE(contains(lines, "Starting at Title 2"));
    EXPECT_TRUE(contains(lines, "DVD-V7400 On " + sim.slavePath() + " Ready"));
    EXPECT_FALSE(contains(lines, "Please Turn Unit ON"));
    ASSERT_TRUE(eventually([&] { return sim.mode() == dvdsim::Mode::Play; }, std::chrono::seconds(3)))
        << "player mode " << static_cast<int>(sim.mode());
    // The title command goes out (newest first from the link's store, so the
    // pause queued with it follows it on the line).
    ASSERT_TRUE(eventually([&] { return contains(sim.commandTexts(), "PL\r"); }, std::chrono::seconds(3)));
    const auto sent = sim.commandTexts();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), "SA\r");
    for (const char* c : {"?P\r", "ST\r", "TI02SEPL\r", "?F\r", "PL\r"}) EXPECT_TRUE(contains(sent, c)) << c;
    EXPECT_EQ(sim.title(), 2) << "the player plays the start title";

    // The polls move the displayed timecode with the player, about 30 frames a second.
    auto shown = [&] { return static_cast<long>(rec->only("TC:").size()); };
    ASSERT_TRUE(eventually([&] { return vcr.getTCString() != "00:00:00:00"; }, std::chrono::seconds(3)));
    const int f1 = LocalVCR::TCFrames(vcr.getTCString());
    const long n1 = shown();
    const auto p1 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const int f2 = LocalVCR::TCFrames(vcr.getTCString());
    const long n2 = shown();
    const double dt = std::chrono::duration<double>(Clock::now() - p1).count();
    const double fps = (f2 - f1) / dt;
    EXPECT_GT(fps, 20.0);
    EXPECT_LT(fps, 40.0);
    EXPECT_GT((n2 - n1) / dt, 5.0) << "timecode updates per second (the cycle allows about 14)";
    EXPECT_LT((n2 - n1) / dt, 20.0);
    EXPECT_LE(std::abs(LocalVCR::TCFrames(display.gettext(Field::tcfield)) - sim.frame()), 15);

    // A cue lands the player on exactly the in point, and the display follows.
    display.set(Field::cuefield, "00:00:20:00");
    display.set(Field::endfield, "00:00:21:00");
    vcr.cuein();
    EXPECT_TRUE(
        eventually([&] { return sim.mode() == dvdsim::Mode::Still && sim.frame() == 600; }, std::chrono::seconds(3)))
        << "mode " << static_cast<int>(sim.mode()) << " frame " << sim.frame();
    EXPECT_TRUE(eventually([&] { return vcr.getTCString() == "00:00:20:00"; }, std::chrono::seconds(3)))
        << vcr.getTCString();
    EXPECT_EQ(display.gettext(Field::statusfield), "Cued");

    // A review plays from the in point and stops on exactly the out point.
    sim.clearLog();
    vcr.review();
    EXPECT_TRUE(eventually([&] { return sim.mode() == dvdsim::Mode::Still; }, std::chrono::seconds(2)));
    EXPECT_EQ(sim.frame(), 630);
    EXPECT_EQ(display.gettext(Field::statusfield), "Review completed - Pause");
    const auto review = sim.commandTexts();
    for (const char* c : {"FR0000630SM\r", "FR0000630SMPL\r", "PL\r", "ST\r"}) EXPECT_TRUE(contains(review, c)) << c;
    EXPECT_TRUE(eventually([&] { return vcr.getTCString() == "00:00:21:00"; }, std::chrono::seconds(3)))
        << vcr.getTCString();
}

}  // namespace
