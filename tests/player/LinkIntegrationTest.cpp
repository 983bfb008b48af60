// The controller on the real player link, against the player simulator on a
// pseudo-terminal: the start-up dialogue, a cue, a review and the timecode
// polls, checked against the emulated player's own state. The start-up
// dialogue's waits are recorded and last only until the player has settled;
// the rest runs in real time, with no assertion on a real-time window (the
// link's cycle rate is asserted on stepped time in SerOutPortTest).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
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
#include "startup/Utils.h"
#include "support/CountingLink.h"
#include "support/Eventually.h"
#include "support/TestSupport.h"

using namespace morvia;
using morvia::test::eventually;

namespace {

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

// The program clock for the start-up dialogue: records each of the
// controller's delays and lets it last only until `settled` holds, so that
// what follows a delay sees the player as it would after the whole delay.
class SettlingClock : public morvia::test::DelayClock {
public:
    explicit SettlingClock(std::function<bool()> settled) : settled_(std::move(settled)) {}
    int delayedMs() const { return delayedMs_.load(); }

protected:
    void delayed(int ms) override {
        delayedMs_.fetch_add(ms);
        // A player that keeps changing holds the delay for its whole length.
        eventually(settled_, std::chrono::milliseconds(ms));
    }

private:
    std::function<bool()> settled_;
    std::atomic<int> delayedMs_{0};
};

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

    // Torn down before the display and the simulator, the counting front
    // link after the controller that queues through it.
    std::unique_ptr<morvia::test::CountingLink> front;
    PlayerSystem live;
    ASSERT_TRUE(live.openPort(sim.slavePath()));
    live.setwait(PlayerSystem::kCycleWaitMs);
    front = std::make_unique<morvia::test::CountingLink>(*live.port());
    LocalVCR& vcr = live.buildController(display, 0, front.get());

    // The player has settled once every command the controller queued has
    // reached it and been answered, the link has had ample time to read the
    // last answer to one (its reply wait is 30 ms), nothing is on the line,
    // and the player is neither spinning up nor searching. Timecode polls
    // ("?F") go on meanwhile once polling runs.
    const auto settled = [&] {
        long queued = 0;
        for (const auto& [command, n] : front->queued()) queued += n;
        long commands = 0, replies = 0, polls = 0;
        bool lastWasPoll = false;
        dvdsim::Time answered{};
        for (const auto& e : sim.log()) {
            if (e.kind == dvdsim::LogEntry::Kind::Command) {
                ++commands;
                lastWasPoll = e.bytes == "?F\r";
                polls += lastWasPoll;
            }
            if (e.kind == dvdsim::LogEntry::Kind::Reply) {
                ++replies;
                if (!lastWasPoll) answered = e.end;
            }
        }
        const dvdsim::Mode mode = sim.mode();
        return live.port()->waitIdle(0) && commands - polls >= queued && replies == commands &&
               dvdsim::Clock::now() - answered >= std::chrono::milliseconds(250) &&
               mode != dvdsim::Mode::SettingUp && mode != dvdsim::Mode::Searching;
    };

    // Start-up: spin-up, mode checks, start title, play, on the settling clock.
    auto startupClock = std::make_shared<SettlingClock>(settled);
    {
        struct RealClockAfter {
            ~RealClockAfter() { Utils::setClock(nullptr); }
        } realClockAfter;
        Utils::setClock(startupClock);
        vcr.startup();
    }
    const double startupSeconds = startupClock->delayedMs() / 1000.0;
    EXPECT_GT(startupSeconds, 12.0);  // 5 s + at least one check + 1 s + 6 s
    EXPECT_LT(startupSeconds, 40.0);
    const auto lines = console.lines();
    EXPECT_TRUE(contains(lines, "Starting at Title 2"));
    EXPECT_TRUE(contains(lines, "DVD-V7400 On " + sim.slavePath() + " Ready"));
    EXPECT_FALSE(contains(lines, "Please Turn Unit ON"));
    ASSERT_TRUE(eventually([&] { return sim.mode() == dvdsim::Mode::Play; }, std::chrono::seconds(20)))
        << "player mode " << static_cast<int>(sim.mode());
    // The title command goes out (newest first from the link's store, so the
    // pause queued with it follows it on the line).
    ASSERT_TRUE(eventually([&] { return contains(sim.commandTexts(), "PL\r"); }, std::chrono::seconds(20)));
    const auto sent = sim.commandTexts();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), "SA\r");
    for (const char* c : {"?P\r", "ST\r", "TI02SEPL\r", "?F\r", "PL\r"}) EXPECT_TRUE(contains(sent, c)) << c;
    EXPECT_EQ(sim.title(), 2) << "the player plays the start title";

    // The polls move the displayed timecode with the player, about 30 frames a second.
    auto shown = [&] { return static_cast<long>(rec->only("TC:").size()); };
    ASSERT_TRUE(eventually([&] { return vcr.getTCString() != "00:00:00:00"; }, std::chrono::seconds(20)));
    // Over twenty updates, measured in the player's own time (its frames at
    // 30 a second), however slowly a loaded machine runs the polls.
    const int f1 = LocalVCR::TCFrames(vcr.getTCString());
    const int s1 = sim.frame();
    const long n1 = shown();
    ASSERT_TRUE(eventually([&] { return shown() >= n1 + 20; }, std::chrono::seconds(20)));
    const int f2 = LocalVCR::TCFrames(vcr.getTCString());
    const int s2 = sim.frame();
    const long n2 = shown();
    const double dt = (s2 - s1) / 30.0;
    ASSERT_GT(dt, 0.0);
    const double fps = (f2 - f1) / dt;
    EXPECT_GT(fps, 20.0);
    EXPECT_LT(fps, 40.0);
    EXPECT_LT((n2 - n1) / dt, 20.0) << "timecode updates per second (the cycle allows about 14)";
    // The display shows the player's frame: the second update from now was
    // polled after `before` was read.
    const int before = sim.frame();
    const long n3 = shown();
    ASSERT_TRUE(eventually([&] { return shown() >= n3 + 2; }, std::chrono::seconds(20)));
    const int displayed = LocalVCR::TCFrames(display.gettext(Field::tcfield));
    const int after = sim.frame();
    EXPECT_GE(displayed, before - 15);
    EXPECT_LE(displayed, after + 15);

    // A cue lands the player on exactly the in point, and the display follows.
    display.set(Field::cuefield, "00:00:20:00");
    display.set(Field::endfield, "00:00:21:00");
    vcr.cuein();
    EXPECT_TRUE(
        eventually([&] { return sim.mode() == dvdsim::Mode::Still && sim.frame() == 600; }, std::chrono::seconds(20)))
        << "mode " << static_cast<int>(sim.mode()) << " frame " << sim.frame();
    EXPECT_TRUE(eventually([&] { return vcr.getTCString() == "00:00:20:00"; }, std::chrono::seconds(20)))
        << vcr.getTCString();
    EXPECT_EQ(display.gettext(Field::statusfield), "Cued");

    // A review plays from the in point and stops on exactly the out point.
    sim.clearLog();
    vcr.review();
    EXPECT_TRUE(eventually([&] { return sim.mode() == dvdsim::Mode::Still; }, std::chrono::seconds(20)));
    EXPECT_EQ(sim.frame(), 630);
    EXPECT_EQ(display.gettext(Field::statusfield), "Review completed - Pause");
    const auto review = sim.commandTexts();
    for (const char* c : {"FR0000630SM\r", "FR0000630SMPL\r", "PL\r", "ST\r"}) EXPECT_TRUE(contains(review, c)) << c;
    EXPECT_TRUE(eventually([&] { return vcr.getTCString() == "00:00:21:00"; }, std::chrono::seconds(20)))
        << vcr.getTCString();
}

}  // namespace
