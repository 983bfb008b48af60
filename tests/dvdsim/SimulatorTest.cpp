// Conformance of the simulator over its pseudo-terminal, driven as the controller drives a player.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "dvdsim/PtyClient.h"
#include "dvdsim/Simulator.h"
#include "support/Eventually.h"

namespace dvdsim {
namespace {

using std::chrono::milliseconds;
using test::PtyClient;

double msBetween(Time a, Time b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

using morvia::test::eventually;

Options fast() {
    Options o;
    o.spinupMs = 400;
    o.searchMs = 500;
    o.seed = 7;
    return o;
}

struct Line {
    explicit Line(Options o = fast()) : sim(std::move(o)) {
        sim.start();
        client = std::make_unique<PtyClient>(sim.slavePath());
    }
    // Spins the player up and waits for the "R" of "SA".
    void spinUp() {
        client->send("SA\r");
        ASSERT_EQ(client->read(milliseconds(5000)).bytes, "R\r");
    }
    Simulator sim;
    std::unique_ptr<PtyClient> client;
};

TEST(DvdsimSimulator, StartUpDialogue) {
    Line l;
    EXPECT_EQ(l.sim.mode(), Mode::Park);
    EXPECT_EQ(l.client->ask("?P"), "P01\r");
    EXPECT_EQ(l.client->ask("?F"), "E04\r");
    const auto sent = l.client->send("SA\r");
    EXPECT_EQ(l.client->ask("?P"), "P02\r");  // answered while spinning; the "R" comes later
    const auto r = l.client->read(milliseconds(5000));
    ASSERT_EQ(r.bytes, "R\r");
    EXPECT_GE(msBetween(sent, r.times[0]), 400.0);
    EXPECT_EQ(l.client->ask("?P"), "P06\r");
    EXPECT_EQ(l.client->ask("?A"), "0101\r");
    EXPECT_EQ(l.sim.mode(), Mode::Pause);
    EXPECT_EQ(l.sim.frame(), 0);
}

TEST(DvdsimSimulator, PlayAdvancesThirtyFramesPerSecond) {
    Line l;
    l.spinUp();
    EXPECT_EQ(l.client->ask("PL"), "R\r");
    const auto c1 = l.client->send("?F\r");
    const int f1 = std::stoi(l.client->read(milliseconds(3000)).bytes);
    std::this_thread::sleep_for(milliseconds(2000));
    const auto c2 = l.client->send("?F\r");
    const int f2 = std::stoi(l.client->read(milliseconds(3000)).bytes);
    // Against the simulator's own arrival times of the two queries: exact up to one frame.
    const auto cmds = l.sim.commands();
    ASSERT_GE(cmds.size(), 4u);
    const double simSeconds = msBetween(cmds[cmds.size() - 2].at, cmds.back().at) / 1000.0;
    EXPECT_NEAR((f2 - f1) / simSeconds, 30.0, 1.5);
    // Against the client's clock, with room for scheduling delays.
    EXPECT_NEAR((f2 - f1) / (msBetween(c1, c2) / 1000.0), 30.0, 6.0);
    EXPECT_EQ(l.client->ask("?P"), "P04\r");
}

TEST(DvdsimSimulator, FrameSearchAndStopMarkerLandOnTheFrame) {
    // A search long enough for the questions asked during it on a slow build.
    Options o = fast();
    o.searchMs = 3000;
    Line l(std::move(o));
    l.spinUp();
    EXPECT_EQ(l.client->ask("PL"), "R\r");
    std::this_thread::sleep_for(milliseconds(100));
    l.client->send("FR0001650SE\r");
    EXPECT_EQ(l.client->ask("?P"), "P07\r");
    const std::string during = l.client->ask("?F");
    EXPECT_NE(during, "0001650\r");
    EXPECT_LT(std::stoi(during), 100);  // the frame searched from
    EXPECT_EQ(l.client->ask("?F"), during);
    EXPECT_EQ(l.client->read(milliseconds(6000)).bytes, "R\r");
    EXPECT_EQ(l.client->ask("?F"), "0001650\r");
    EXPECT_EQ(l.client->ask("?P"), "P05\r");

    EXPECT_EQ(l.client->ask("FR0001700SMPL"), "R\r");
    EXPECT_EQ(l.sim.stopMarker(), 1700);
    ASSERT_TRUE(eventually([&] { return l.sim.mode() == Mode::Still; }));
    EXPECT_EQ(l.client->ask("?F"), "0001700\r");
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(l.client->ask("?F"), "0001700\r");
    EXPECT_EQ(l.client->ask("?P"), "P05\r");
    EXPECT_FALSE(l.sim.stopMarker());
}

TEST(DvdsimSimulator, TitleAndChapterSearchesAndInfo) {
    Line l;
    l.spinUp();
    l.client->send("TI02SEPL\r");
    EXPECT_EQ(l.client->read(milliseconds(3000)).bytes, "R\r");
    EXPECT_EQ(l.client->ask("?A"), "0201\r");
    EXPECT_EQ(l.client->ask("?P"), "P04\r");
    l.client->send("CH12SE\r");
    EXPECT_EQ(l.client->read(milliseconds(3000)).bytes, "R\r");
    EXPECT_EQ(l.client->ask("?A"), "0212\r");
    EXPECT_EQ(l.client->ask("?F"), "0019800\r");
    EXPECT_EQ(l.client->ask("TI04SEPL"), "E12\r");
    EXPECT_EQ(l.client->ask("CH13SE"), "E12\r");
    EXPECT_EQ(l.client->ask("FR0021600SE"), "E12\r");
    EXPECT_EQ(l.client->ask("?A"), "0212\r");
    EXPECT_EQ(l.client->ask("?P"), "P05\r");
    l.client->send("TM000SE\r");
    EXPECT_EQ(l.client->read(milliseconds(3000)).bytes, "R\r");
    EXPECT_EQ(l.client->ask("?F"), "0000000\r");
    EXPECT_EQ(l.sim.title(), 2);
    EXPECT_EQ(l.sim.chapter(), 1);
}

TEST(DvdsimSimulator, ErrorReplies) {
    Line l;
    EXPECT_EQ(l.client->ask("PL"), "E04\r");  // parked
    EXPECT_EQ(l.client->ask("OP"), "R\r");
    EXPECT_EQ(l.client->ask("?P"), "P00\r");
    EXPECT_EQ(l.client->ask("PL"), "E04\r");  // tray open
    EXPECT_EQ(l.client->ask("CO"), "R\r");
    EXPECT_EQ(l.client->ask("?P"), "P01\r");
    EXPECT_EQ(l.client->ask("XX"), "E04\r");
    EXPECT_EQ(l.client->ask("12PL"), "E06\r");
    EXPECT_EQ(l.client->ask(""), "R\r");
    EXPECT_EQ(l.client->ask(std::string(70, 'A')), "E00\r");      // no CR within 64 bytes
    EXPECT_EQ(l.client->read(milliseconds(3000)).bytes, "E04\r");  // the 6 bytes left over + CR
    l.spinUp();
    EXPECT_EQ(l.client->ask("FR9999999SE"), "E12\r");
    EXPECT_EQ(l.sim.frame(), 0);
}

TEST(DvdsimSimulator, RepliesArePacedAtTheLineRate) {
    Line l;
    l.spinUp();
    l.sim.clearLog();
    const auto sent = l.client->send("?F\r");
    const auto r = l.client->read(milliseconds(3000));
    ASSERT_EQ(r.bytes.size(), 8u);
    // Client side, lower bounds only (a late reader only adds): the latency, then seven byte gaps
    // of 10 bit times at 4800 bit/s, 14.6 ms from the first byte to the last.
    EXPECT_GE(msBetween(sent, r.times.front()), 5.0 - 0.5);
    EXPECT_GE(msBetween(sent, r.times.back()), 5.0 + 14.5);

    // Two replies queued at once follow each other at the same pace.
    l.client->send("?P\r?P\r");
    EXPECT_EQ(l.client->read(milliseconds(3000), 8).bytes, "P06\rP06\r");
    std::vector<LogEntry> replies;
    for (const auto& e : l.sim.log()) {
        if (e.kind == LogEntry::Kind::Reply) replies.push_back(e);
    }
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_GE(msBetween(replies[0].at, replies[0].end), 14.5);  // as written to the line
    EXPECT_GE(msBetween(replies[1].at, replies[1].end), 6.2);
    // The pace is kept on the line's own schedule: a byte written late may be
    // followed sooner (never closer than half a byte time), so the second
    // reply starts at least four byte times after the first one began.
    EXPECT_GE(msBetween(replies[1].end, replies[2].at), 1.0);
    EXPECT_GE(msBetween(replies[1].at, replies[2].at), 4 * 2.083 - 0.1);
}

TEST(DvdsimSimulator, LogRecordsCommandsRepliesAndTimes) {
    std::mutex mu;
    std::vector<std::string> seen;
    Options o = fast();
    char dir[] = "/tmp/dvdsim-log-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    o.logPath = std::string(dir) + "/sim.log";
    o.onLog = [&](const LogEntry& e) {
        std::lock_guard g(mu);
        if (e.kind != LogEntry::Kind::Event) seen.push_back(readable(e.bytes));
    };
    Line l(o);
    const auto before = Clock::now();
    EXPECT_EQ(l.client->ask("?P"), "P01\r");
    EXPECT_EQ(l.client->ask("\x01X"), "E04\r");
    const auto after = Clock::now();
    EXPECT_EQ(l.sim.commandTexts(), (std::vector<std::string>{"?P\r", "\x01X\r"}));
    const auto cmds = l.sim.commands();
    EXPECT_LE(before, cmds[0].at);
    EXPECT_LE(cmds[0].at, cmds[1].at);
    EXPECT_LE(cmds[1].at, after);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard g(mu);
        return seen.size() == 4;
    }));
    {
        std::lock_guard g(mu);
        EXPECT_EQ(seen, (std::vector<std::string>{"?P\\r", "P01\\r", "\\x01X\\r", "E04\\r"}));
    }
    l.sim.stop();
    std::ifstream in(o.logPath);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find(" cmd ?P\\r\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find(" rep P01\\r +"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find(" cmd \\x01X\\r\n"), std::string::npos) << text.str();
    l.sim.clearLog();
    EXPECT_TRUE(l.sim.log().empty());
    std::remove(o.logPath.c_str());
    ::rmdir(dir);
}

TEST(DvdsimSimulator, SilentAndErrorReplyFaults) {
    Line l;
    l.sim.setSilent(true);
    EXPECT_EQ(l.client->ask("OP", milliseconds(300)), "");
    EXPECT_EQ(l.sim.mode(), Mode::TrayOpen);  // obeyed, not answered
    l.sim.setSilent(false);
    EXPECT_EQ(l.client->ask("?P"), "P00\r");
    l.sim.setErrorReplies(true);
    EXPECT_EQ(l.client->ask("?P"), "E04\r");
    EXPECT_EQ(l.client->ask("CO"), "E04\r");
    EXPECT_EQ(l.sim.mode(), Mode::TrayOpen);  // nothing obeyed
    l.sim.setErrorReplies(false);
    EXPECT_EQ(l.client->ask("CO"), "R\r");
}

TEST(DvdsimSimulator, UnitOffNeverLeavesPark) {
    Options o = fast();
    o.faults.unitOff = true;
    Line l(o);
    EXPECT_EQ(l.client->ask("SA"), "R\r");
    std::this_thread::sleep_for(milliseconds(600));
    EXPECT_EQ(l.client->ask("?P"), "P01\r");
    EXPECT_EQ(l.client->ask("PL"), "E04\r");
    l.sim.setUnitOff(false);
    l.spinUp();
    EXPECT_EQ(l.client->ask("?P"), "P06\r");
    l.sim.setUnitOff(true);  // live: drops to park
    EXPECT_EQ(l.client->ask("?P"), "P01\r");
}

TEST(DvdsimSimulator, GarbageAndLateReplies) {
    Line l;
    l.sim.setGarbageRate(1.0);
    l.client->send("?P\r");
    const auto r = l.client->read(milliseconds(3000), 4);
    ASSERT_EQ(r.bytes.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_NE(r.bytes[i], "P01\r"[i]);
    l.sim.setGarbageRate(0.5);
    int changed = 0;
    for (int i = 0; i < 25; ++i) {
        l.client->send("?P\r");
        const auto g = l.client->read(milliseconds(3000), 4);
        for (std::size_t k = 0; k < g.bytes.size(); ++k) changed += g.bytes[k] != "P01\r"[k];
    }
    EXPECT_GT(changed, 25);  // of 100 bytes, about 50
    EXPECT_LT(changed, 75);
    l.sim.setGarbageRate(0.0);
    std::this_thread::sleep_for(milliseconds(100));
    (void)l.client->read(milliseconds(100), 1000);  // drop what is left

    l.sim.setLateMs(150);
    const auto sent = l.client->send("?P\r");
    const auto late = l.client->read(milliseconds(3000));
    EXPECT_EQ(late.bytes, "P01\r");
    EXPECT_GE(msBetween(sent, late.times[0]), 150.0);
}

TEST(DvdsimSimulator, HangUpClosesTheLine) {
    Line l;
    EXPECT_EQ(l.client->ask("?P"), "P01\r");
    l.sim.hangUp();
    const auto r = l.client->read(milliseconds(3000));
    EXPECT_TRUE(r.hangup);
    EXPECT_TRUE(l.sim.hungUp());

    Options o = fast();
    o.hangupAfterMs = 300;
    Line timed(o);
    EXPECT_EQ(timed.client->ask("?P"), "P01\r");
    EXPECT_FALSE(timed.sim.hungUp());
    EXPECT_TRUE(timed.client->read(milliseconds(5000)).hangup);
    EXPECT_TRUE(timed.sim.hungUp());
    timed.sim.stop();
    timed.sim.stop();  // idempotent
}

TEST(DvdsimSimulator, ReplugOpensAFreshLineBehindTheLinkAndKeepsThePlayer) {
    char dir[] = "/tmp/dvdsim-replug-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    Options o = fast();
    o.linkPath = std::string(dir) + "/player";
    o.replugAfterMs = 2000;
    Line l(o);
    l.spinUp();
    const std::string before = l.sim.slavePath();
    l.sim.hangUp();
    ASSERT_TRUE(eventually([&] { return l.sim.hungUp(); }, milliseconds(900)));
    // The link goes with the line, a moment after it (a slow build widens
    // the moment); the replug is two seconds away.
    struct stat st {};
    eventually([&] { return ::lstat(o.linkPath.c_str(), &st) != 0; }, milliseconds(900));
    EXPECT_NE(::lstat(o.linkPath.c_str(), &st), 0) << "the link goes with the line";
    EXPECT_TRUE(l.client->read(milliseconds(3000)).hangup);

    eventually([&] { return !l.sim.hungUp(); }, std::chrono::seconds(5));
    ASSERT_FALSE(l.sim.hungUp());
    EXPECT_EQ(l.sim.replugs(), 1);
    EXPECT_NE(l.sim.slavePath(), before);
    char target[256] = {};
    ASSERT_GT(::readlink(o.linkPath.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), l.sim.slavePath());
    {
        PtyClient again(o.linkPath);
        EXPECT_EQ(again.ask("?P"), "P06\r") << "the player kept its state over the replug";
    }
    l.sim.hangUp();  // every hang-up is followed by a replug
    eventually([&] { return l.sim.replugs() >= 2; }, std::chrono::seconds(5));
    EXPECT_EQ(l.sim.replugs(), 2);
    l.sim.stop();
    EXPECT_NE(::lstat(o.linkPath.c_str(), &st), 0);
    ::rmdir(dir);
}

using DvdsimSimulatorDeathTest = ::testing::Test;

// A log callback runs on the simulator's own thread; a stop from there would
// wait for that thread to end and ends the process with a message instead.
TEST(DvdsimSimulatorDeathTest, AStopFromTheLogCallbackEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            std::atomic<Simulator*> self{nullptr};
            Options o = fast();
            o.onLog = [&self](const LogEntry&) {
                if (Simulator* s = self.load()) s->stop();
            };
            Simulator sim(o);
            self = &sim;
            sim.start();  // its "line open" event reaches the callback
            std::this_thread::sleep_for(std::chrono::minutes(1));
        },
        "dvdsim: stopped from its own thread");
}

}  // namespace
}  // namespace dvdsim
