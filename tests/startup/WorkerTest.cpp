// The one thread type: its stop reaches a sleeping or waiting body at once,
// running() follows the body, and the thread rules end the process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "startup/Worker.h"

namespace morvia::test {
namespace {

using namespace std::chrono_literals;

TEST(Worker, AStopCutsALongSleepAndAWaitAndRunningFollowsTheBody) {
    std::promise<void> asleep;
    std::atomic<bool> sleptToTheEnd{true};
    Worker sleeper("sleeper");
    EXPECT_FALSE(sleeper.running());
    sleeper.start([&](std::stop_token) {
        asleep.set_value();
        sleptToTheEnd = sleeper.sleepFor(10min);  // only a stop ends it in time
    });
    asleep.get_future().wait();
    EXPECT_TRUE(sleeper.running());
    sleeper.stop();
    EXPECT_FALSE(sleptToTheEnd.load());
    EXPECT_FALSE(sleeper.running());
    sleeper.stop();  // a second stop does nothing

    std::mutex m;
    std::condition_variable_any cv;
    bool ready = false;
    std::promise<bool> result;
    Worker waiter("waiter");
    waiter.start([&](std::stop_token) {
        std::unique_lock<std::mutex> lock(m);
        result.set_value(waiter.waitFor(cv, lock, [&] { return ready; }));
    });
    waiter.requestStop();  // before or during the wait: either way it returns
    EXPECT_FALSE(result.get_future().get());
    waiter.stop();

    // The body sees its own worker from its first line, even when the new
    // thread runs before start() has returned.
    for (int i = 0; i < 200; ++i) {
        Worker w("early");
        std::atomic<bool> onOwn{false};
        w.start([&](std::stop_token) { onOwn = w.onThread(); });
        w.stop();
        ASSERT_TRUE(onOwn.load()) << "start " << i;
    }

    Worker quick("quick");
    quick.start([](std::stop_token) {});
    while (quick.running()) std::this_thread::yield();
    EXPECT_FALSE(quick.stopRequested());
}

TEST(Worker, ABodyThatSeesNoStopEndsOnItsOwnAndAWorkerNeverStartedIsHarmless) {
    std::atomic<int> turns{0};
    {
        Worker w("counter");
        w.start([&](std::stop_token) {
            for (int i = 0; i < 3; ++i) ++turns;
        });
    }  // the destructor asks for a stop this body ignores, and joins
    EXPECT_EQ(turns.load(), 3);
    Worker never("never");
    never.requestStop();
    never.stop();
    EXPECT_FALSE(never.running());
}

using WorkerDeathTest = ::testing::Test;

TEST(Worker, TheBodyKnowsItsOwnThreadFromItsFirstLine) {
    // Before the start-up ordering the body could run before start() had
    // stored the thread, so its very first onThread() answered false.
    for (int i = 0; i < 200; ++i) {
        std::atomic<bool> own{false};
        Worker w("own");
        w.start([&](std::stop_token) { own = w.onThread(); });
        w.stop();
        ASSERT_TRUE(own.load()) << "round " << i;
        EXPECT_FALSE(w.onThread());
    }
}

TEST(WorkerDeathTest, StoppingFromItsOwnThreadOrStartingTwiceEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Worker w("selfstop");
            std::promise<void> done;
            w.start([&](std::stop_token) {
                w.stop();
                done.set_value();
            });
            done.get_future().wait();
        },
        "selfstop: stopped from its own thread");
    EXPECT_DEATH(
        {
            Worker w("twice");
            w.start([](std::stop_token) {});
            w.start([](std::stop_token) {});
        },
        "twice: started twice");
    EXPECT_DEATH(
        {
            Worker w("elsewhere");
            w.requireOnThread("the link's state belongs to the link thread");
        },
        "elsewhere: the link's state belongs to the link thread");
}

}  // namespace
}  // namespace morvia::test
