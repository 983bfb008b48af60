// The real controller and player link against the simulator named by its
// link, as an adapter is named by /dev/serial/by-id: what the operator sees
// when the cable is pulled, when the player falls silent and when the cable
// comes back, and how long an operator message stays readable.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "faults/LiveRig.h"

using namespace morvia;
using namespace morvia::faults;

namespace {

class LinkRecovery : public ::testing::Test {
protected:
    // A rig whose link opens the simulator's symlink; `replugMs` < 0: the
    // line stays gone after a hang-up.
    void bringUp(int replugMs) {
        dvdsim::Options o = fastPlayer();
        o.linkPath = linkDir.file("dvd-player");
        o.replugAfterMs = replugMs;
        rig = std::make_unique<LiveRig>(o, "recovery");
        ASSERT_TRUE(rig->bringUp()) << rig->console.tail();
    }
    void TearDown() override {
        if (rig) rig->shutDown();
        rig.reset();
    }

    long simCount(const std::string& command) const {
        const auto all = rig->simCommands();
        const auto it = all.find(command);
        return it == all.end() ? 0 : it->second;
    }
    std::string status() const { return rig->display.gettext(Field::statusfield); }

    // Pulls the cable while the timecode runs; returns the seconds until the
    // indicator showed red (negative when it did not within 3 s).
    double hangUpAndTimeTheRedIndicator() {
        EXPECT_TRUE(rig->timecodeMoves(3000));
        EXPECT_TRUE(rig->display.indicateOk());
        const auto t0 = RealTime::now();
        rig->sim.hangUp();
        if (!eventually([&] { return !rig->display.indicateOk(); }, std::chrono::seconds(3))) return -1;
        return secondsSince(t0);
    }

    // A click on "Play >" on the action thread, served at once.
    void clickPlay() {
        ASSERT_GE(rig->probeAfter([this] { rig->vcr->play(); }, 5000), 0);
    }

    test::TempDir linkDir{"recovery-link"};
    std::unique_ptr<LiveRig> rig;
};

// A red indicator follows the first failed poll: well within the second of
// silence after which a player that is still connected counts as gone.
constexpr double kRedWithin = 0.8;

TEST_F(LinkRecovery, PulledCableShowsRedHoldsTheTimecodeAndPrintsOnce) {
    bringUp(-1);
    const long linesBefore = rig->console.count();
    const double red = hangUpAndTimeTheRedIndicator();
    ASSERT_GE(red, 0) << "the indicator never showed the dead line";
    EXPECT_LE(red, kRedWithin);

    // The display keeps the player's last timecode; nothing invents one.
    const std::string held = rig->vcr->getTCString();
    const long shown = rig->display.tcShown();
    EXPECT_TRUE(eventually([&] { return status() == "No DVD Detected"; }, std::chrono::milliseconds(1500))) << status();
    // Ten more polls fail on the dead line (a second or so of them).
    const long indications = rig->display.indications();
    ASSERT_TRUE(eventually([&] { return rig->display.indications() >= indications + 10; }, std::chrono::seconds(20)));
    EXPECT_EQ(rig->vcr->getTCString(), held);
    EXPECT_EQ(rig->display.gettext(Field::tcfield), held);
    EXPECT_EQ(rig->display.tcShown(), shown) << "a dead line's polls were decoded";
    EXPECT_FALSE(rig->display.indicateOk());

    clickPlay();
    EXPECT_TRUE(rig->sop->lineDown());
    EXPECT_EQ(rig->sop->pending(), 0) << "a command for a dead line is not kept";
    // The outage is two lines so far; that it stays two however long it
    // lasts is SerOutPort.AnOutageIsTwoLinesHoweverLongItLastsAndItsEndOne,
    // on a stepped clock.
    EXPECT_LE(rig->console.count() - linesBefore, 3) << rig->console.tail();
    EXPECT_EQ(rig->console.writeFailures(), 1);
}

TEST_F(LinkRecovery, ReplugReopensTheLinkAndDropsWhatWasClickedMeanwhile) {
    bringUp(2000);
    const double red = hangUpAndTimeTheRedIndicator();
    ASSERT_GE(red, 0);
    EXPECT_LE(red, kRedWithin);
    ASSERT_TRUE(eventually([&] { return rig->sop->lineDown(); }, std::chrono::seconds(3)));

    const long playsBefore = simCount("PL\r");
    clickPlay();  // while unplugged
    ASSERT_TRUE(eventually([&] { return rig->sim.replugs() == 1; }, std::chrono::seconds(5)));
    const auto back = RealTime::now();
    const long pollsBefore = simCount("?F\r");
    ASSERT_TRUE(eventually([&] { return !rig->sop->lineDown(); }, std::chrono::seconds(3))) << rig->console.tail();
    ASSERT_TRUE(eventually([&] { return simCount("?F\r") > pollsBefore; }, std::chrono::seconds(3)));
    EXPECT_LE(secondsSince(back), 3.0);
    EXPECT_NE(rig->console.tail().find("Serial Port " + linkDir.file("dvd-player") + " Opened OK"), std::string::npos)
        << rig->console.tail();
    EXPECT_TRUE(eventually([&] { return rig->display.indicateOk(); }, std::chrono::seconds(3)));
    EXPECT_TRUE(eventually([&] { return status() != "No DVD Detected"; }, std::chrono::seconds(3)));

    // Five more polls answered: a command left in the store would have gone
    // out before them.
    const long polls = simCount("?F\r");
    ASSERT_TRUE(eventually([&] { return simCount("?F\r") >= polls + 5; }, std::chrono::seconds(20)));
    EXPECT_EQ(simCount("PL\r"), playsBefore) << "the click made while unplugged came out after the replug";
    rig->vcr->pause();
    ASSERT_TRUE(eventually([&] { return rig->sim.mode() == dvdsim::Mode::Still; }, std::chrono::seconds(3)));
    clickPlay();
    EXPECT_TRUE(eventually([&] { return rig->sim.mode() == dvdsim::Mode::Play; }, std::chrono::seconds(3)));
    // The simulator counts a command a moment after it has acted on it.
    eventually([&] { return simCount("PL\r") >= playsBefore + 1; }, std::chrono::seconds(3));
    EXPECT_EQ(simCount("PL\r"), playsBefore + 1);
    EXPECT_TRUE(rig->timecodeMoves(3000));
    EXPECT_NE(rig->console.tail().find("working again after "), std::string::npos) << rig->console.tail();
}

TEST_F(LinkRecovery, SilentPlayerShowsNoDvdDetectedUntilItAnswersAgain) {
    bringUp(-1);
    ASSERT_TRUE(rig->display.indicateOk());
    const auto t0 = RealTime::now();
    rig->sim.setSilent(true);
    ASSERT_TRUE(eventually([&] { return !rig->display.indicateOk() && status() == "No DVD Detected"; },
                           std::chrono::seconds(3)))
        << status();
    EXPECT_LE(secondsSince(t0), 2.5);
    EXPECT_EQ(rig->console.writeFailures(), 0) << "silence is not a write failure";

    rig->sim.setSilent(false);
    EXPECT_TRUE(
        eventually([&] { return rig->display.indicateOk() && status() != "No DVD Detected"; }, std::chrono::seconds(3)))
        << status();
}

TEST_F(LinkRecovery, OperatorMessageStaysTwoSecondsWhileTheTimecodeRuns) {
    bringUp(-1);
    const long refreshes = rig->display.refreshes();
    const std::string tc = rig->vcr->getTCString();
    const auto t0 = RealTime::now();
    rig->vcr->ShowStat("Cued");
    ASSERT_TRUE(eventually([&] { return status() != "Cued"; }, std::chrono::seconds(6)))
        << "the periodic status never came back";
    const double shown = secondsSince(t0);
    EXPECT_GE(shown, LocalVCR::kStatusHoldMs / 1000.0);
    EXPECT_EQ(status(), "Play ");
    EXPECT_GE(rig->display.refreshes(), refreshes + 4) << "the highlights stopped following the player meanwhile";
    EXPECT_NE(rig->vcr->getTCString(), tc) << "the timecode stopped meanwhile";
}

}  // namespace
