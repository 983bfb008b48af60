// Stop requests: which operations a request reaches, and how a wait is cut.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "startup/StopSignal.h"
#include "support/TestSupport.h"

namespace morvia::test {
namespace {

TEST(StopSignal, ARequestReachesOnlyWhatRunsAlreadyUntilItIsLatched) {
    StopSignal s;
    const unsigned before = s.generation();
    EXPECT_FALSE(s.raisedSince(before));
    s.raise();
    EXPECT_TRUE(s.raisedSince(before));
    const unsigned after = s.generation();
    EXPECT_FALSE(s.raisedSince(after)) << "an operation started after the request runs normally";
    EXPECT_TRUE(s.sleep(1, after));
    EXPECT_FALSE(s.sleep(1, before)) << "a wait begun under an older generation returns at once, cut";

    s.latch();
    EXPECT_TRUE(s.raisedSince(after));
    EXPECT_TRUE(s.raisedSince(s.generation())) << "after the latch nothing long starts any more";
    EXPECT_FALSE(s.sleep(600000, s.generation()));
}

TEST(StopSignal, ARequestCutsALongWaitAtOnce) {
    StopSignal s;
    const unsigned g = s.generation();
    std::promise<void> started;
    auto waiting = std::async(std::launch::async, [&] {
        started.set_value();
        return s.sleep(600000, g);  // ten minutes: only a cut ends it in time
    });
    started.get_future().wait();
    s.raise();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(waiting.get());
}

// With a test sleeper the wait is recorded, and a request that arrives while
// the sleeper "sleeps" still counts as a cut.
TEST(StopSignal, TestSleeperRecordsTheWaitAndSeesARequestMadeDuringIt) {
    auto rec = std::make_shared<Recorder>();
    StopSignal s;
    Utils::setClock(std::make_shared<TriggerSleeper>(rec, 600000, [&s] { s.raise(); }));
    const bool finished = s.sleep(5000, s.generation());
    const bool cut = !s.sleep(600000, s.generation());
    Utils::setClock(nullptr);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(cut);
    EXPECT_EQ(rec->events(), (Journal{"W:5000", "W:600000"}));
}

}  // namespace
}  // namespace morvia::test
