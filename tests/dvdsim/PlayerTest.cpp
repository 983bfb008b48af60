// The player engine driven with exact instants: speeds, boundaries, markers and searches.
#include <gtest/gtest.h>

#include "dvdsim/Player.h"

namespace dvdsim {
namespace {

using std::chrono::milliseconds;

class DvdsimEngine : public ::testing::Test {
protected:
    // 2 titles x 3 chapters x 100 frames; spin-up 1 s, search 300 ms.
    Player p{DiscLayout{2, 3, 100}, PlayerTiming{milliseconds(1000), milliseconds(300)}};
    Time t0 = Clock::now();
    Time at(int ms) const { return t0 + milliseconds(ms); }

    // Sends a command at `ms` and returns its immediate reply ("-" when it replies later).
    std::string cmd(std::string_view line, int ms) { return p.command(line, at(ms)).value_or("-"); }
    void finishJobs(int ms) {
        while (p.pendingDue() && *p.pendingDue() <= at(ms)) p.completeDue(at(ms));
    }
    void spunUp() {
        ASSERT_EQ(cmd("SA", 0), "-");
        ASSERT_EQ(p.completeDue(at(1000)), "R\r");
    }
};

TEST_F(DvdsimEngine, SpinUpAndModesWhileNotReady) {
    EXPECT_EQ(cmd("?P", 0), "P01\r");
    EXPECT_EQ(cmd("PL", 0), "E04\r");
    EXPECT_EQ(cmd("SA", 0), "-");
    EXPECT_EQ(cmd("?P", 10), "P02\r");
    EXPECT_EQ(cmd("SA", 10), "E04\r");
    EXPECT_EQ(cmd("PL", 10), "E04\r");
    EXPECT_FALSE(p.completeDue(at(999)));
    EXPECT_EQ(p.mode(at(1000)), Mode::Pause);  // observers see the finished spin-up at once
    EXPECT_EQ(p.completeDue(at(1005)), "R\r");
    EXPECT_EQ(cmd("?A", 1005), "0101\r");
    EXPECT_EQ(cmd("SA", 1010), "R\r");  // already running
    EXPECT_EQ(cmd("RJ", 1020), "R\r");
    EXPECT_EQ(cmd("?P", 1020), "P01\r");
    EXPECT_EQ(cmd("OP", 1030), "R\r");
    EXPECT_EQ(cmd("?P", 1030), "P00\r");
    EXPECT_EQ(cmd("?F", 1030), "E04\r");
    EXPECT_EQ(cmd("RJ", 1030), "E04\r");
    EXPECT_EQ(cmd("SA", 1040), "-");  // closes the tray and spins up
    EXPECT_EQ(p.completeDue(at(2040)), "R\r");
    p.setUnitOff(true, at(2100));
    EXPECT_EQ(p.mode(at(2100)), Mode::Park);
    EXPECT_EQ(cmd("SA", 2200), "R\r");
    EXPECT_FALSE(p.pendingDue());
    EXPECT_EQ(p.mode(at(9000)), Mode::Park);
}

TEST_F(DvdsimEngine, SpeedsOfEveryTransportMode) {
    spunUp();
    EXPECT_EQ(cmd("PL", 1000), "R\r");
    EXPECT_EQ(p.frame(at(2000)), 30);  // 30 frames/s
    EXPECT_EQ(cmd("NF", 2000), "R\r");
    EXPECT_EQ(p.mode(at(2000)), Mode::Scanning);
    EXPECT_EQ(p.frame(at(2100)), 60);  // 300 frames/s
    EXPECT_EQ(cmd("NS", 2100), "R\r");
    EXPECT_EQ(p.mode(at(2100)), Mode::Play);  // back to the mode before the scan
    EXPECT_EQ(cmd("NR", 2100), "R\r");
    EXPECT_EQ(p.frame(at(2150)), 45);
    EXPECT_EQ(p.frame(at(2400)), 0);  // reverse stops on the first frame, in still
    EXPECT_EQ(p.mode(at(2400)), Mode::Still);
    EXPECT_EQ(cmd("15SPMF", 3000), "R\r");  // a quarter of normal: 7.5 frames/s
    EXPECT_EQ(p.mode(at(3000)), Mode::MultiSpeed);
    EXPECT_EQ(p.frame(at(5000)), 15);
    EXPECT_EQ(cmd("MR", 5000), "R\r");  // same speed, reverse
    EXPECT_EQ(p.frame(at(6000)), 8);
    EXPECT_EQ(cmd("SF", 6000), "R\r");
    EXPECT_EQ(p.mode(at(6000)), Mode::Still);
    EXPECT_EQ(p.frame(at(7000)), 9);
    EXPECT_EQ(cmd("SR", 7000), "R\r");
    EXPECT_EQ(cmd("SR", 7000), "R\r");
    EXPECT_EQ(cmd("?F", 7000), "0000007\r");
    EXPECT_EQ(cmd("PA", 7000), "R\r");
    EXPECT_EQ(cmd("?P", 7000), "P06\r");
    EXPECT_EQ(cmd("0SPMF", 7000), "E06\r");
    EXPECT_EQ(cmd("1000SP", 7000), "E06\r");
}

TEST_F(DvdsimEngine, TitleEndsAndDiscEnd) {
    spunUp();
    EXPECT_EQ(cmd("FR0000290SE", 1000), "-");
    finishJobs(1300);
    EXPECT_EQ(cmd("PL", 1300), "R\r");
    // 10 frames to the title's end, then on into title 2.
    EXPECT_EQ(p.title(at(1300 + 333)), 1);
    EXPECT_EQ(p.frame(at(1300 + 1000)), 20);
    EXPECT_EQ(p.title(at(1300 + 1000)), 2);
    EXPECT_EQ(cmd("?A", 1300 + 4000), "0202\r");  // frame 110: chapter 2
    // Title 2 (the last) ends at 300 frames: still on frame 299.
    EXPECT_EQ(p.frame(at(1300 + 60000)), 299);
    EXPECT_EQ(p.mode(at(1300 + 60000)), Mode::Still);
    EXPECT_EQ(cmd("?A", 1300 + 60000), "0203\r");
}

TEST_F(DvdsimEngine, StopMarkerStopsOnExactlyItsFrame) {
    spunUp();
    EXPECT_EQ(cmd("FR0000050SMPL", 1000), "R\r");
    EXPECT_EQ(p.stopMarker(at(1000)), 50);
    EXPECT_EQ(p.frame(at(1000 + 1666)), 49);
    EXPECT_EQ(p.frame(at(1000 + 1667)), 50);
    EXPECT_EQ(p.mode(at(1000 + 1667)), Mode::Still);
    EXPECT_EQ(p.frame(at(9000)), 50);  // however late anyone looks
    EXPECT_FALSE(p.stopMarker(at(9000)));
    // A marker behind the start is not reached; a later search back makes it count.
    EXPECT_EQ(cmd("FR0000020SM", 9000), "R\r");
    EXPECT_EQ(cmd("PL", 9000), "R\r");
    EXPECT_EQ(p.frame(at(10000)), 80);
    EXPECT_EQ(cmd("FR0000010SEPL", 10000), "-");
    finishJobs(10300);
    EXPECT_EQ(p.frame(at(20000)), 20);
    EXPECT_EQ(cmd("FR0000300SM", 20000), "E12\r");
    EXPECT_EQ(cmd("TI01SM", 20000), "E04\r");
}

TEST_F(DvdsimEngine, SearchesHoldTheOldFrameThenLand) {
    spunUp();
    EXPECT_EQ(cmd("PL", 1000), "R\r");
    EXPECT_EQ(cmd("FR0000200SE", 2000), "-");
    EXPECT_EQ(cmd("?P", 2100), "P07\r");
    EXPECT_EQ(cmd("?F", 2200), "0000030\r");  // the frame searched from
    EXPECT_EQ(p.completeDue(at(2300)), "R\r");
    EXPECT_EQ(cmd("?F", 2300), "0000200\r");
    EXPECT_EQ(cmd("?P", 2300), "P05\r");
    // A search abandoned by another command gets no reply and lands nowhere.
    EXPECT_EQ(cmd("TI02SEPL", 3000), "-");
    EXPECT_EQ(cmd("PL", 3100), "R\r");
    EXPECT_FALSE(p.pendingDue());
    EXPECT_EQ(cmd("?A", 3100), "0103\r");
    EXPECT_EQ(cmd("ST", 3150), "R\r");
    // A still or end-of-scan during a search (a controller's burst arriving newest first) is
    // acknowledged and the search still lands, with the rest of its line.
    EXPECT_EQ(cmd("TI02SEPL", 3200), "-");
    EXPECT_EQ(cmd("ST", 3260), "R\r");
    EXPECT_EQ(cmd("NS", 3320), "R\r");
    EXPECT_EQ(p.completeDue(at(3500)), "R\r");
    EXPECT_EQ(p.mode(at(3500)), Mode::Play);
    EXPECT_EQ(cmd("?A", 3500), "0201\r");
    EXPECT_EQ(cmd("ST", 3600), "R\r");
    EXPECT_EQ(cmd("TI01SEPL", 3700), "-");
    finishJobs(4000);
    // The rest of the line runs after the search.
    EXPECT_EQ(cmd("TI02SEPL", 4000), "-");
    EXPECT_EQ(p.completeDue(at(4300)), "R\r");
    EXPECT_EQ(p.mode(at(4300)), Mode::Play);
    EXPECT_EQ(cmd("CH03SE", 5000), "-");
    finishJobs(5300);
    EXPECT_EQ(cmd("?A", 5300), "0203\r");
    EXPECT_EQ(cmd("?F", 5300), "0000200\r");
    EXPECT_EQ(cmd("TM00003SE", 6000), "-");  // 3 seconds: frame 90
    finishJobs(6300);
    EXPECT_EQ(cmd("?F", 6300), "0000090\r");
    EXPECT_EQ(cmd("TM000SE", 7000), "-");
    finishJobs(7300);
    EXPECT_EQ(cmd("?F", 7300), "0000000\r");
    // Targets off the disc change nothing.
    EXPECT_EQ(cmd("TI03SEPL", 8000), "E12\r");
    EXPECT_EQ(cmd("TI00SE", 8000), "E12\r");
    EXPECT_EQ(cmd("CH04SE", 8000), "E12\r");
    EXPECT_EQ(cmd("FR0000300SE", 8000), "E12\r");
    EXPECT_EQ(cmd("TM00060SE", 8000), "E06\r");
    EXPECT_EQ(cmd("FR00000001SE", 8000), "E06\r");
    EXPECT_EQ(cmd("FRSE", 8000), "E06\r");
    EXPECT_EQ(cmd("?A", 8000), "0201\r");
    EXPECT_EQ(p.mode(at(8000)), Mode::Still);
}

TEST_F(DvdsimEngine, CommandSyntax) {
    spunUp();
    EXPECT_EQ(cmd("", 1000), "R\r");
    EXPECT_EQ(cmd("CL", 1000), "R\r");
    EXPECT_EQ(cmd("XX", 1000), "E04\r");
    EXPECT_EQ(cmd("pl", 1000), "E04\r");
    EXPECT_EQ(cmd("P", 1000), "E04\r");
    EXPECT_EQ(cmd("12PL", 1000), "E06\r");
    EXPECT_EQ(cmd("12", 1000), "E06\r");
    EXPECT_EQ(cmd("PL?F", 1000), "E04\r");
    EXPECT_EQ(cmd("PLXX", 1000), "E04\r");  // the whole line is refused: no play
    EXPECT_EQ(p.mode(at(1000)), Mode::Pause);
    EXPECT_EQ(cmd("?R", 1000), "01\r");
    EXPECT_EQ(cmd("?C", 1000), "01\r");
}

}  // namespace
}  // namespace dvdsim
