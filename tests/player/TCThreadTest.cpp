#include <chrono>
#include <thread>

#include "player/TCThread.h"
#include "player/VcrTestSupport.h"
#include "support/Eventually.h"

namespace morvia::test {
namespace {

using namespace std::chrono_literals;

long count(const Recorder& r, const std::string& e) {
    const auto ev = r.events();
    return std::count(ev.begin(), ev.end(), e);
}

class TCThreadTest : public VcrTest {
protected:
    RecordingLink portLink{rec, true};
};

TEST_F(TCThreadTest, PollsEveryTickAndRefreshesStatusEveryTenth) {
    auto& v = make(&portLink);
    TCThread tc(v);
    EXPECT_EQ(tc.getsleeptime(), 33);
    tc.setsleeptime(1);
    tc.start();
    ASSERT_TRUE(eventually([&] { return tc.ticks() >= 25; }));
    tc.stopme();
    tc.join();
    const long ticks = tc.ticks();
    EXPECT_EQ(count(*rec, "D"), ticks);
    // Status on ticks 0, 10, 20, ...: the first one right after the first sleep.
    EXPECT_EQ(count(*rec, "CLR"), (ticks + 9) / 10);
    EXPECT_EQ(rec->events().at(1), "CLR");
}

TEST_F(TCThreadTest, PauseStopsPollsButNotStatusRefreshes) {
    auto& v = make(&portLink);
    TCThread tc(v);
    tc.setsleeptime(1);
    tc.setpause();
    tc.start();
    ASSERT_TRUE(eventually([&] { return tc.ticks() >= 25; }));
    EXPECT_EQ(count(*rec, "D"), 0);
    EXPECT_GE(count(*rec, "CLR"), 3);

    tc.setgo();
    const long before = count(*rec, "D");
    ASSERT_TRUE(eventually([&] { return count(*rec, "D") > before + 3; }));
}

TEST_F(TCThreadTest, StopmeEndsASleepingTickAtOnce) {
    auto& v = make(&portLink);
    TCThread tc(v);
    tc.setsleeptime(60000);
    tc.start();
    std::this_thread::sleep_for(20ms);
    const auto t0 = std::chrono::steady_clock::now();
    tc.stopme();
    tc.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s);  // not the minute of the tick
    EXPECT_FALSE(tc.isrunning());
    EXPECT_EQ(tc.ticks(), 0);        // the interrupted tick neither polled
    EXPECT_EQ(count(*rec, "D"), 0);  // nor counted
    tc.start();                      // never restarted
    tc.join();
    EXPECT_EQ(tc.ticks(), 0);
}

TEST_F(TCThreadTest, AfterStopmeAtMostOneMoreRequest) {
    auto& v = make(&portLink);
    TCThread tc(v);
    tc.setsleeptime(1);
    tc.start();
    ASSERT_TRUE(eventually([&] { return tc.ticks() >= 5; }));
    tc.stopme();
    const long atStop = count(*rec, "D");
    tc.join();
    EXPECT_LE(count(*rec, "D"), atStop + 1);
    std::this_thread::sleep_for(20ms);
    EXPECT_LE(count(*rec, "D"), atStop + 1);
}

TEST_F(TCThreadTest, WindowCloseStopsPollingAndLetsTheStopsReachThePlayer) {
    struct IdleLink : RecordingLink {
        using RecordingLink::RecordingLink;
        bool waitIdle(int ms) override {
            rec->add("IDLE:" + std::to_string(ms));
            return true;
        }
        std::shared_ptr<Recorder> rec;
    };
    IdleLink idle(rec, true);
    idle.rec = rec;
    auto& v = make(&idle);
    v.GetTC();
    TCThread* tc = v.gettcthread();
    ASSERT_NE(tc, nullptr);
    tc->setsleeptime(1);
    ASSERT_TRUE(eventually([&] { return tc->ticks() >= 3; }));
    v.windowClosing();
    EXPECT_FALSE(tc->isrunning());
    const auto closing = pick(*rec, {"Q:", "W:", "IDLE:"});
    // Nothing waits for what was queued before: it is dropped at once, and
    // the two stops alone go out.
    EXPECT_EQ(closing, (Journal{"Q:PA\r", "W:500", "Q:PA\r", "IDLE:1000"}));
    const long polls = count(*rec, "D");
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(count(*rec, "D"), polls);
    v.GetTC();  // never restarted
    EXPECT_EQ(v.gettcthread(), tc);
    EXPECT_FALSE(tc->isrunning());
}

// A tick whose work joins the polling thread (the window closing from a
// status refresh): the loop ends after that tick, and the owner's join
// still waits for it before the object goes.
TEST_F(TCThreadTest, JoinFromItsOwnTickEndsTheLoopAndTheOwnerStillJoins) {
    struct SelfJoiningLink : RecordingLink {
        using RecordingLink::RecordingLink;
        void setd() override {
            RecordingLink::setd();
            if (TCThread* t = tc.load()) t->join();
        }
        std::atomic<TCThread*> tc{nullptr};
    };
    SelfJoiningLink selfJoining(rec, true);
    auto& v = make(&selfJoining);
    auto tc = std::make_unique<TCThread>(v);
    selfJoining.tc.store(tc.get());
    tc->setsleeptime(1);
    tc->start();
    ASSERT_TRUE(eventually([&] { return !tc->isrunning(); }));
    tc.reset();  // joins; the tick under way finishes first
    EXPECT_EQ(count(*rec, "D"), 1);
    EXPECT_EQ(count(*rec, "CLR"), 1) << "the tick that asked for the join finished its work";
}

}  // namespace
}  // namespace morvia::test
