// The real controller and player link against a player that misbehaves:
// silent, switched off, answering errors or garbage, answering late, or
// gone in the middle of a review or of polling. In every case the
// controller's threads keep running without spinning, the action thread
// serves the next job as soon as the running operation ends, the EDL saved
// before the fault is untouched, and (where the line comes back) the
// timecode moves again.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "faults/LiveRig.h"

using namespace morvia;
using namespace morvia::faults;

namespace {

class LineFaults : public ::testing::Test {
protected:
    void SetUp() override {
        rig = std::make_unique<LiveRig>(fastPlayer(), "faults");
        ASSERT_TRUE(rig->bringUp()) << rig->console.tail();
    }
    void TearDown() override {
        if (!rig) return;
        const double s = rig->shutDown();
        EXPECT_LT(s, 5.0) << "tearing the controller down took too long";
        EXPECT_TRUE(rig->edlIntact());
        rig.reset();
    }

    // The link thread runs and the polling thread keeps ticking.
    ::testing::AssertionResult threadsAlive() {
        if (!rig->sop->running()) return ::testing::AssertionFailure() << "link thread not running";
        TCThread* t = rig->vcr->gettcthread();
        if (!t || !t->isrunning()) return ::testing::AssertionFailure() << "no polling thread";
        const long before = t->ticks();
        if (!eventually([&] { return t->ticks() >= before + 3; }, std::chrono::seconds(3)))
            return ::testing::AssertionFailure() << "polling thread stopped ticking";
        return ::testing::AssertionSuccess();
    }

    // The whole process stays near idle while the line misbehaves.
    void expectIdle(const char* what) {
        const double share = processCpuShareOver(2000);
        std::printf("[ cpu      ] %s: %.2f %% of a core\n", what, share * 100);
        EXPECT_LT(share, idleCpuLimit()) << what;
    }

    // `op` on the action thread ends within `opLimit` seconds and the next
    // job is served within a second of its end.
    void expectServedAfter(std::function<void()> op, double opLimit, const char* what) {
        double opSeconds = -1;
        const double gap = rig->probeAfter(std::move(op), 60000, &opSeconds);
        ASSERT_GE(gap, 0) << what << ": the action thread did not come back";
        EXPECT_LT(gap, 1.0) << what;
        EXPECT_LT(opSeconds, opLimit) << what;
    }

    // With the line answering again the timecode follows the playing player.
    void expectRecovers() {
        rig->vcr->play();
        EXPECT_TRUE(eventually([&] { return rig->sim.mode() == dvdsim::Mode::Play; }, std::chrono::seconds(5)));
        EXPECT_TRUE(rig->timecodeMoves(5000)) << rig->vcr->getTCString();
        EXPECT_TRUE(eventually([&] { return rig->display.indicateOk(); }, std::chrono::seconds(3)));
    }

    std::unique_ptr<LiveRig> rig;
};

TEST_F(LineFaults, SilentPlayer) {
    rig->sim.setSilent(true);
    rig->display.set(Field::cuefield, "00:00:30:00");
    // The cue waits its fixed times (2.5 s) and does not hang on the silence;
    // the player obeyed without answering.
    expectServedAfter([&] { rig->vcr->cuein(); }, 10, "cue on a silent line");
    EXPECT_TRUE(eventually([&] { return rig->sim.frame() == 900; }, std::chrono::seconds(3))) << rig->sim.frame();
    EXPECT_TRUE(threadsAlive());
    expectIdle("silent player");
    EXPECT_TRUE(looksLikeTimecode(rig->vcr->getTCString())) << rig->vcr->getTCString();

    rig->sim.setSilent(false);
    expectRecovers();
}

TEST_F(LineFaults, UnitSwitchedOff) {
    rig->sim.setUnitOff(true);
    // Frame queries now fail: the timecode indicator goes off and stays off.
    EXPECT_TRUE(eventually([&] { return !rig->display.indicateOk(); }, std::chrono::seconds(3)));
    expectServedAfter([&] { rig->vcr->play(); }, 1, "play with the unit off");
    EXPECT_EQ(rig->sim.mode(), dvdsim::Mode::Park);
    EXPECT_TRUE(threadsAlive());
    expectIdle("unit off");
    EXPECT_FALSE(rig->display.indicateOk());

    // Switched on again, it needs spinning up before it plays.
    rig->sim.setUnitOff(false);
    rig->vcr->CommandB0(LocalVCR::bsstart);
    ASSERT_TRUE(eventually([&] { return rig->sim.mode() == dvdsim::Mode::Pause; }, std::chrono::seconds(5)));
    expectRecovers();
}

TEST_F(LineFaults, ErrorReplies) {
    rig->sim.setErrorReplies(true);
    EXPECT_TRUE(eventually([&] { return !rig->display.indicateOk(); }, std::chrono::seconds(3)));
    // Error replies are not decoded: the timecode stands still, or shows the
    // in point when a reply split by a late byte read as no frame reply.
    const std::string frozen = rig->vcr->getTCString();
    rig->display.set(Field::cuefield, "00:00:30:00");
    expectServedAfter([&] { rig->vcr->cuein(); }, 10, "cue against error replies");
    const std::string tc = rig->vcr->getTCString();
    EXPECT_TRUE(tc == frozen || tc == "00:00:30:00") << tc << " (was " << frozen << ")";
    EXPECT_TRUE(threadsAlive());
    expectIdle("error replies");

    rig->sim.setErrorReplies(false);
    expectRecovers();
}

TEST_F(LineFaults, GarbageReplies) {
    rig->sim.setGarbageRate(0.5);
    // Whatever arrives, the displayed timecode stays a timecode.
    int bad = 0;
    for (int i = 0; i < 40; ++i) {
        bad += !looksLikeTimecode(rig->vcr->getTCString());
        bad += !looksLikeTimecode(rig->display.gettext(Field::tcfield));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(bad, 0);
    rig->display.set(Field::cuefield, "00:00:30:00");
    expectServedAfter([&] { rig->vcr->cuein(); }, 10, "cue against garbage replies");
    // Commands still reach the player intact: only replies are garbled.
    EXPECT_TRUE(eventually([&] { return rig->sim.frame() == 900; }, std::chrono::seconds(3))) << rig->sim.frame();
    EXPECT_TRUE(threadsAlive());
    rig->sim.setGarbageRate(1.0);
    expectIdle("garbage replies");

    rig->sim.setGarbageRate(0);
    expectRecovers();
}

TEST_F(LineFaults, LateReplies) {
    rig->sim.setLateMs(150);
    // Each reply is found by the next exchange: the timecode still moves,
    // one poll behind.
    EXPECT_TRUE(rig->timecodeMoves(5000));
    EXPECT_LE(std::abs(LocalVCR::TCFrames(rig->vcr->getTCString()) - rig->sim.frame()), 45);
    rig->display.set(Field::cuefield, "00:00:30:00");
    expectServedAfter([&] { rig->vcr->cuein(); }, 10, "cue with late replies");
    EXPECT_TRUE(eventually([&] { return rig->sim.frame() == 900; }, std::chrono::seconds(3))) << rig->sim.frame();
    EXPECT_TRUE(threadsAlive());
    expectIdle("late replies");

    rig->sim.setLateMs(0);
    expectRecovers();
}

TEST_F(LineFaults, HangUpDuringReview) {
    rig->display.set(Field::cuefield, "00:00:30:00");
    rig->display.set(Field::endfield, "00:00:32:00");
    rig->vcr->cuein();
    ASSERT_TRUE(eventually([&] { return rig->vcr->getTCString() == "00:00:30:00"; }, std::chrono::seconds(3)));

    // The review (1 s + 4 x 200 ms + 60 frames x 35 ms) loses its line once
    // the player plays the segment.
    std::thread unplug([&] {
        eventually([&] { return rig->sim.mode() == dvdsim::Mode::Play; }, std::chrono::seconds(20));
        rig->sim.hangUp();
    });
    expectServedAfter([&] { rig->vcr->review(); }, 10, "review that loses its line");
    unplug.join();
    EXPECT_TRUE(rig->sim.hungUp());
    EXPECT_TRUE(eventually([&] { return rig->console.writeFailures() > 0; }, std::chrono::seconds(3)))
        << rig->console.tail();
    EXPECT_TRUE(threadsAlive());
    expectIdle("line gone after a review");
    expectServedAfter([&] { rig->vcr->play(); }, 1, "play on a dead line");
}

TEST_F(LineFaults, HangUpDuringPolling) {
    rig->sim.hangUp();
    EXPECT_TRUE(eventually([&] { return rig->console.writeFailures() > 0; }, std::chrono::seconds(3)))
        << rig->console.tail();
    EXPECT_TRUE(threadsAlive());
    expectIdle("line gone while polling");
    expectServedAfter([&] { rig->vcr->play(); }, 1, "play on a dead line");
    EXPECT_TRUE(looksLikeTimecode(rig->vcr->getTCString()));
}

}  // namespace
